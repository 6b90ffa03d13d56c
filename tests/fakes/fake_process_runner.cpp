#include "fakes/fake_process_runner.h"

#include <system_error>
#include <utility>

#include "windows/win_command_line.h"

namespace korba {

FakeProcessRunner::FakeProcessRunner() { set_process_runner(this); }
FakeProcessRunner::~FakeProcessRunner() { set_process_runner(nullptr); }

CommandOutput FakeProcessRunner::exited(std::uint32_t code, std::string out, std::string err) {
    return CommandOutput{code, std::move(out), std::move(err)};
}

void FakeProcessRunner::will_return(Result<CommandOutput> result) {
    std::lock_guard<std::mutex> guard(mutex_);
    results_.push_back(std::move(result));
}

void FakeProcessRunner::will_fail_to_start(std::string message) { will_return(fail(std::move(message))); }

void FakeProcessRunner::will_throw_thread_error() {
    std::lock_guard<std::mutex> guard(mutex_);
    throw_next_ = true;
}

std::vector<RecordedCommand> FakeProcessRunner::calls() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_;
}

std::vector<std::string> FakeProcessRunner::command_lines() const {
    std::vector<std::string> lines;
    for (const RecordedCommand& call : calls()) lines.push_back(call.command_line);
    return lines;
}

Result<CommandOutput> FakeProcessRunner::run(const std::string& program, const std::vector<CommandArg>& args) {
    std::lock_guard<std::mutex> guard(mutex_);
    calls_.push_back({program, render_command_line(program, args)});
    if (std::exchange(throw_next_, false))
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    if (results_.empty()) return exited(0);
    Result<CommandOutput> result = std::move(results_.front());
    results_.pop_front();
    return result;
}

}  // namespace korba
