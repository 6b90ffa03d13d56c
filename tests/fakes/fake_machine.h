// A pretend Windows PC for unit tests of the installation: sc, net, reg and powershell answer from
// its state, files live in memory, and every command, file change and pause is logged in order.
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
#include "windows/service_control.h"

namespace korba {

class FakeMachine : public ProcessRunner, public FileSystem {
public:
    static constexpr const char* DOWNLOADED = "C:\\Users\\usuario\\Downloads\\korba-vizoza.exe";
    static constexpr FileFacts THIS_BUILD{700000, 133000000000000000};
    static constexpr FileFacts OTHER_BUILD{690000, 132000000000000000};

    // Installs itself as the process runner and the file system; waits for the service cost nothing.
    FakeMachine();
    ~FakeMachine() override;

    // Runs THIS_BUILD from DOWNLOADED.
    void run_from_downloads();
    // A service made by an earlier install from C:\KORBA, in the given state, with that build there.
    void install_earlier(ServiceState state, FileFacts build);

    // The PC, as a test sets it up and reads it back.
    bool admin = true;
    ServiceState service = ServiceState::Absent;
    std::vector<std::string> service_args;                  // what sc create received, "create" first
    std::map<std::string, CommandOutput> sc_failures;       // by verb: what sc ends with instead
    bool service_ends_at_once = false;                      // sc start succeeds but the service never runs
    std::set<std::string> missing_programs;                 // "sc", "reg", "powershell" ...
    // key -> value name -> data (all REG_SZ), as reg query, add and delete see it
    std::map<std::string, std::map<std::string, std::string>> registry;
    Result<CommandOutput> prompt_result = CommandOutput{};  // what powershell ends with

    std::string running_program_path;
    std::map<std::string, FileFacts> files;
    std::uint32_t folder_error = 0;
    int busy_probes = 0;                    // failed write probes before one succeeds
    std::deque<std::uint32_t> copy_errors;  // one per copy attempt; 0 or missing: the copy works
    std::uint32_t protect_error = 0;

    // Commands as the runner would write them; "mkdir {path}", "probe {path}", "copy {from} -> {to}",
    // "protect {path} {sddl}", "pause {ms} ms" for the rest.
    std::vector<std::string> log;
    std::vector<std::string> commands() const;
    // The autostart value's data.
    std::optional<std::string> run_value() const;

    Result<CommandOutput> run(const std::string& program, const std::vector<CommandArg>& args) override;
    std::string running_program() override { return running_program_path; }
    std::uint32_t create_folders(const std::string& path) override;
    std::uint32_t copy_file(const std::string& from, const std::string& to) override;
    std::optional<FileFacts> file_facts(const std::string& path) override;
    bool can_open_for_writing(const std::string& path) override;
    std::uint32_t protect_folder(const std::string& path, const std::string& sddl) override;
    void pause(std::chrono::milliseconds duration) override;

private:
    CommandOutput sc(const std::vector<std::string>& argv);
    CommandOutput reg(const std::vector<std::string>& argv);
};

}  // namespace korba
