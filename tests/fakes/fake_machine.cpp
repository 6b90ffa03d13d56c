#include "fakes/fake_machine.h"

#include "common/constants.h"
#include "windows/autostart.h"
#include "windows/install_dir.h"
#include "windows/win_command_line.h"

namespace korba {

namespace {

CommandOutput exited(std::uint32_t code, std::string out = "", std::string err = "") {
    return CommandOutput{code, std::move(out), std::move(err)};
}

CommandOutput sc_failed(std::uint32_t code, const std::string& what, const std::string& text) {
    return exited(code, "[SC] " + what + " FAILED " + std::to_string(code) + ":\r\n\r\n" + text + "\r\n");
}

// The next queued error, or 0 when none is left.
std::uint32_t next_error(std::deque<std::uint32_t>& errors) {
    if (errors.empty()) return 0;
    const std::uint32_t error = errors.front();
    errors.pop_front();
    return error;
}

CommandOutput no_such_service() {
    return sc_failed(1060, "OpenService", "The specified service does not exist as an installed service.");
}

}  // namespace

FakeMachine::FakeMachine() {
    set_process_runner(this);
    set_file_system(this);
    set_registry(this);
    set_service_pause([](std::chrono::milliseconds) {});
}

FakeMachine::~FakeMachine() {
    set_process_runner(nullptr);
    set_file_system(nullptr);
    set_registry(nullptr);
    set_service_pause(nullptr);
}

void FakeMachine::run_from_downloads() {
    running_program_path = DOWNLOADED;
    files[DOWNLOADED] = THIS_BUILD;
}

void FakeMachine::install_folder_with(const std::string& security) { install_folder = {true, true, false, security}; }

void FakeMachine::install_earlier(ServiceState state, FileFacts build) {
    install_folder_with(PROTECTED);
    files[INSTALL_EXE] = build;
    service = state;
    service_args = {"create", "KORBAVizoza", "start=",
                    "auto",   "binPath=",    "\"C:\\KORBA\\korba-vizoza.exe\" --service --no-console"};
}

std::vector<std::string> FakeMachine::commands() const {
    std::vector<std::string> lines;
    for (const std::string& entry : log)
        if (entry.starts_with('"')) lines.push_back(entry);
    return lines;
}

Result<CommandOutput> FakeMachine::run(const std::string& program, const std::vector<CommandArg>& args) {
    const std::string line = render_command_line(program, args);
    log.push_back(line);
    if (missing_programs.contains(program)) return fail("program not found");
    const std::vector<std::string> argv = split_command_line(line);
    if (program == "sc") return sc(argv);
    if (program == "reg") return reg(argv);
    if (program == "net") return exited(admin ? 0 : 2);
    if (program == "powershell") return prompt_result;
    return fail("program not found");
}

CommandOutput FakeMachine::sc(const std::vector<std::string>& argv) {
    const std::string verb = argv.size() > 1 ? argv[1] : "";
    if (verb == "query") {
        if (service == ServiceState::Absent) return no_such_service();
        return exited(0, service == ServiceState::Running ? "STATE              : 4  RUNNING\r\n"
                                                          : "STATE              : 1  STOPPED\r\n");
    }
    if (!admin) return sc_failed(5, "OpenSCManager", "Access is denied.");
    if (const auto failure = sc_failures.find(verb); failure != sc_failures.end()) return failure->second;
    if (verb == "create") {
        if (service != ServiceState::Absent)
            return sc_failed(1073, "CreateService", "The specified service already exists.");
        service = ServiceState::Stopped;
        service_args.assign(argv.begin() + 1, argv.end());
        return exited(0, "[SC] CreateService SUCCESS\r\n");
    }
    if (service == ServiceState::Absent) return no_such_service();
    if (verb == "stop") {
        if (service != ServiceState::Running)
            return sc_failed(1062, "ControlService", "The service has not been started.");
        service = ServiceState::Stopped;
        return exited(0);
    }
    if (verb == "start") {
        if (!service_ends_at_once) service = ServiceState::Running;
        return exited(0);
    }
    if (verb == "delete") {
        service = ServiceState::Absent;
        service_args.clear();
        return exited(0, "[SC] DeleteService SUCCESS\r\n");
    }
    return exited(0, "[SC] ChangeServiceConfig2 SUCCESS\r\n");  // description, failure
}

std::optional<std::string> FakeMachine::run_value() const {
    const auto key = registry.find(RUN_KEY);
    if (key == registry.end()) return std::nullopt;
    const auto value = key->second.find(SERVICE_NAME);
    if (value == key->second.end()) return std::nullopt;
    return value->second;
}

// reg query KEY [/v NAME], reg add KEY /v NAME /t REG_SZ /d DATA /f, reg delete KEY [/v NAME] /f.
CommandOutput FakeMachine::reg(const std::vector<std::string>& argv) {
    const CommandOutput not_found =
        exited(1, "", "ERROR: The system was unable to find the specified registry key or value.");
    const std::string verb = argv.size() > 1 ? argv[1] : "";
    const std::string key = argv.size() > 2 ? argv[2] : "";
    const bool named = argv.size() > 4 && argv[3] == "/v";
    const std::string name = named ? argv[4] : "";
    if (verb == "add" && named && argv.size() > 8) {
        registry[key][name] = argv[8];
        return exited(0, "The operation completed successfully.\r\n");
    }
    const auto found = registry.find(key);
    if (found == registry.end() || (named && !found->second.contains(name))) return not_found;
    if (verb == "delete") {
        if (named)
            found->second.erase(name);
        else
            registry.erase(found);
        return exited(0, "The operation completed successfully.\r\n");
    }
    std::string listing = "\r\n" + key + "\r\n";
    for (const auto& [value_name, data] : found->second)
        if (!named || value_name == name) listing += "    " + value_name + "    REG_SZ    " + data + "\r\n";
    return exited(0, listing + "\r\n");
}

FolderFacts FakeMachine::folder_facts(const std::string& path) {
    log.push_back("inspect " + path);
    return path == INSTALL_DIR ? install_folder : FolderFacts{};
}

std::uint32_t FakeMachine::create_protected_folder(const std::string& path, const std::string& sddl) {
    log.push_back("create " + path + " " + sddl);
    if (folder_error) return folder_error;
    if (path != INSTALL_DIR || install_folder.exists) return ALREADY_EXISTS_ERROR;
    install_folder_with(PROTECTED);
    return 0;
}

// A folder set aside takes its files along.
std::uint32_t FakeMachine::rename_aside(const std::string& from, const std::string& to) {
    log.push_back("rename " + from + " -> " + to);
    if (rename_error) return rename_error;
    if (taken_names.contains(to)) return ALREADY_EXISTS_ERROR;
    taken_names.insert(to);
    install_folder = {};
    const std::string inside = from + "\\";
    for (auto file = files.begin(); file != files.end();) {
        if (!file->first.starts_with(inside)) {
            ++file;
            continue;
        }
        files[to + "\\" + file->first.substr(inside.size())] = file->second;
        file = files.erase(file);
    }
    return 0;
}

namespace {
// The running program's file as the fake holds it: copied as the file of its path.
class FakeProgramFile : public ProgramFile {
public:
    explicit FakeProgramFile(FakeMachine& machine) : machine_(machine) {}
    std::uint32_t copy_to(const std::string& to) override {
        const std::string from = machine_.running_program_path;
        machine_.log.push_back("copy " + from + " -> " + to);
        std::uint32_t error = next_error(machine_.copy_errors);
        if (error == 0 && !machine_.files.contains(from)) error = 2;
        if (error == 0 && to.starts_with(std::string(INSTALL_DIR) + "\\") && !machine_.install_folder.exists) error = 3;
        if (error == 0) machine_.files[to] = machine_.files[from];
        return error;
    }

private:
    FakeMachine& machine_;
};
}  // namespace

Result<std::unique_ptr<ProgramFile>> FakeMachine::open_running_program() {
    if (program_not_held) return fail(*program_not_held);
    return std::unique_ptr<ProgramFile>(std::make_unique<FakeProgramFile>(*this));
}

std::uint32_t FakeMachine::replace_file(const std::string& from, const std::string& to) {
    log.push_back("replace " + from + " -> " + to);
    std::uint32_t error = next_error(replace_errors);
    if (error == 0 && !files.contains(from)) error = 2;
    if (error) return error;
    files[to] = files[from];
    files.erase(from);
    return 0;
}

std::uint32_t FakeMachine::remove_file(const std::string& path) {
    log.push_back("remove " + path);
    return files.erase(path) ? 0 : 2;
}

std::optional<FileFacts> FakeMachine::file_facts(const std::string& path) {
    const auto found = files.find(path);
    if (found == files.end()) return std::nullopt;
    return found->second;
}

bool FakeMachine::can_open_for_writing(const std::string& path) {
    log.push_back("probe " + path);
    if (busy_probes == 0) return true;
    --busy_probes;
    return false;
}

std::uint32_t FakeMachine::protect_folder(const std::string& path, const std::string& sddl) {
    log.push_back("protect " + path + " " + sddl);
    return protect_error;
}

std::optional<std::string> FakeMachine::read_text(const std::string& key, const std::string& value) {
    const auto found = registry.find("HKLM\\" + key);
    if (found == registry.end() || !found->second.contains(value)) return std::nullopt;
    return found->second.at(value);
}

// Values in name order, which the registry functions need not keep either.
Result<std::vector<RegistryValue>> FakeMachine::list_values(const std::string& key) {
    if (const auto error = unreadable_keys.find(key); error != unreadable_keys.end()) return fail(error->second);
    std::vector<RegistryValue> values;
    if (const auto found = registry.find("HKLM\\" + key); found != registry.end())
        for (const auto& [name, data] : found->second) values.push_back({name, data});
    return values;
}

void FakeMachine::pause(std::chrono::milliseconds duration) {
    log.push_back("pause " + std::to_string(duration.count()) + " ms");
}

}  // namespace korba
