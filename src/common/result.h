// Value-or-message results: every operation that can fail returns one of these
// instead of throwing, and the message travels unchanged to the user.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace korba {

struct Failure {
    std::string message;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<0>(state_); }
    T& value() { return std::get<0>(state_); }
    const std::string& error() const { return std::get<1>(state_).message; }

private:
    std::variant<T, Failure> state_;
};

struct Done {};
using Status = Result<Done>;

inline Status success() { return Done{}; }
inline Failure fail(std::string message) { return Failure{std::move(message)}; }

}  // namespace korba
