// A pretend Windows PC for unit tests of the installation: sc, net, reg and powershell answer from
// its state, as do the registry functions; files live in memory, and every command, file change
// and pause is logged in order.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "windows/command_runner.h"
#include "windows/file_system.h"
#include "windows/registry.h"
#include "windows/service_control.h"

namespace korba {

class FakeMachine : public ProcessRunner, public FileSystem, public Registry {
public:
    static constexpr const char* DOWNLOADED = "C:\\Users\\usuario\\Downloads\\korba-vizoza.exe";
    static constexpr FileFacts THIS_BUILD{700000, 133000000000000000};
    static constexpr FileFacts OTHER_BUILD{690000, 132000000000000000};
    // How Windows reports a folder made by this program, and one a user made at the root of C:.
    static constexpr const char* PROTECTED = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    static constexpr const char* USERS_OWN =
        "O:S-1-5-21-1-2-3-1001D:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1301bf;;;AU)";

    // Installs itself as the process runner, the file system and the registry; waits for the service cost nothing.
    FakeMachine();
    ~FakeMachine() override;

    // Runs THIS_BUILD from DOWNLOADED.
    void run_from_downloads();
    // A service made by an earlier install from C:\KORBA, in the given state, with that build there
    // (and the folder as that install left it).
    void install_earlier(ServiceState state, FileFacts build);
    // C:\KORBA exists as a real folder with the given owner and access list.
    void install_folder_with(const std::string& security);

    // The PC, as a test sets it up and reads it back.
    bool admin = true;
    ServiceState service = ServiceState::Absent;
    std::vector<std::string> service_args;                  // what sc create received, "create" first
    std::map<std::string, CommandOutput> sc_failures;       // by verb: what sc ends with instead
    bool service_ends_at_once = false;                      // sc start succeeds but the service never runs
    std::set<std::string> missing_programs;                 // "sc", "reg", "powershell" ...
    // key -> value name -> data (all REG_SZ), as reg query, add and delete see it ("HKLM\\..." for
    // the keys the registry functions read)
    std::map<std::string, std::map<std::string, std::string>> registry;
    std::map<std::string, std::string> unreadable_keys;     // HKLM key -> what reading its values fails with
    Result<CommandOutput> prompt_result = CommandOutput{};  // what powershell ends with

    std::string running_program_path;
    std::map<std::string, FileFacts> files;
    FolderFacts install_folder;             // C:\KORBA; missing at first
    std::set<std::string> taken_names;      // other names in C:\ (a folder set aside earlier)
    std::uint32_t folder_error = 0;         // what creating C:\KORBA ends with
    std::uint32_t rename_error = 0;         // what renaming C:\KORBA ends with
    int busy_probes = 0;                    // failed write probes before one succeeds
    std::deque<std::uint32_t> copy_errors;  // one per copy attempt; 0 or missing: the copy works
    std::optional<std::string> program_not_held;  // why the running program's file cannot be held
    std::deque<std::uint32_t> replace_errors;  // likewise, one per rename over the installed file
    std::uint32_t protect_error = 0;
    LocalTime now{2026, 3, 4, 5, 6, 7};

    // Commands as the runner would write them; "inspect {path}", "create {path} {sddl}",
    // "rename {from} -> {to}", "probe {path}", "copy {from} -> {to}", "replace {from} -> {to}",
    // "remove {path}", "protect {path} {sddl}", "pause {ms} ms" for the rest.
    std::vector<std::string> log;
    std::vector<std::string> commands() const;
    // The autostart value's data.
    std::optional<std::string> run_value() const;

    Result<CommandOutput> run(const std::string& program, const std::vector<CommandArg>& args) override;
    std::string running_program() override { return running_program_path; }
    FolderFacts folder_facts(const std::string& path) override;
    std::uint32_t create_protected_folder(const std::string& path, const std::string& sddl) override;
    std::uint32_t rename_aside(const std::string& from, const std::string& to) override;
    Result<std::unique_ptr<ProgramFile>> open_running_program() override;
    std::uint32_t replace_file(const std::string& from, const std::string& to) override;
    std::uint32_t remove_file(const std::string& path) override;
    std::optional<FileFacts> file_facts(const std::string& path) override;
    bool can_open_for_writing(const std::string& path) override;
    std::uint32_t protect_folder(const std::string& path, const std::string& sddl) override;
    void pause(std::chrono::milliseconds duration) override;
    LocalTime local_time() override { return now; }
    std::optional<std::string> read_text(const std::string& key, const std::string& value) override;
    std::optional<std::uint32_t> read_number(const std::string&, const std::string&) override { return std::nullopt; }
    Result<std::vector<RegistryValue>> list_values(const std::string& key) override;

private:
    CommandOutput sc(const std::vector<std::string>& argv);
    CommandOutput reg(const std::vector<std::string>& argv);
};

}  // namespace korba
