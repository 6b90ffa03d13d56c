// A process runner for unit tests: records each call (program and the command line the real
// runner would build) and plays back queued results; with the queue empty a call exits 0 silently.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "windows/command_runner.h"

namespace korba {

struct RecordedCommand {
    std::string program;
    std::string command_line;
};

class FakeProcessRunner : public ProcessRunner {
public:
    // Installs itself as the process runner for its lifetime.
    FakeProcessRunner();
    ~FakeProcessRunner() override;

    static CommandOutput exited(std::uint32_t code, std::string out = "", std::string err = "");

    void will_return(Result<CommandOutput> result);
    void will_fail_to_start(std::string message);
    // The next call throws what std::thread throws when no thread can be started.
    void will_throw_thread_error();
    std::vector<RecordedCommand> calls() const;
    std::vector<std::string> command_lines() const;

    Result<CommandOutput> run(const std::string& program, const std::vector<CommandArg>& args) override;

private:
    mutable std::mutex mutex_;
    std::deque<Result<CommandOutput>> results_;
    bool throw_next_ = false;
    std::vector<RecordedCommand> calls_;
};

}  // namespace korba
