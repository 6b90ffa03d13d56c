#include "windows/file_system.h"

#include <atomic>
#include <thread>

#include "windows/autostart.h"

namespace korba {

namespace {

class SystemFileSystem : public FileSystem {
public:
    std::string running_program() override { return current_exe_path(); }
    FolderFacts folder_facts(const std::string& path) override { return folder_facts_on_disk(path); }
    std::uint32_t create_protected_folder(const std::string& path, const std::string& sddl) override {
        return create_protected_folder_on_disk(path, sddl);
    }
    std::uint32_t rename_aside(const std::string& from, const std::string& to) override {
        return rename_aside_on_disk(from, to);
    }
    Result<std::unique_ptr<ProgramFile>> open_running_program() override { return open_running_program_on_disk(); }
    std::uint32_t replace_file(const std::string& from, const std::string& to) override {
        return replace_file_on_disk(from, to);
    }
    std::uint32_t remove_file(const std::string& path) override { return remove_file_on_disk(path); }
    std::optional<FileFacts> file_facts(const std::string& path) override { return file_facts_on_disk(path); }
    bool can_open_for_writing(const std::string& path) override { return probe_write_access(path); }
    std::uint32_t protect_folder(const std::string& path, const std::string& sddl) override {
        return protect_folder_on_disk(path, sddl);
    }
    void pause(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
    LocalTime local_time() override { return local_time_now(); }
};

SystemFileSystem system_file_system;
std::atomic<FileSystem*> current_file_system{&system_file_system};

}  // namespace

FileSystem& file_system() { return *current_file_system.load(); }

void set_file_system(FileSystem* replacement) {
    current_file_system.store(replacement ? replacement : &system_file_system);
}

}  // namespace korba
