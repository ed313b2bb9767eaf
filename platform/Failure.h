// The one kind of failure the program raises: what it was doing, on which paths, and the
// Windows error that stopped it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

class Failure : public std::runtime_error {
public:
    // action: a sentence a person can act on, naming the paths, each on a line of its own
    // ("Could not copy\nA\nto\nB"): a message box then breaks a long path only where it must.
    // function and errorCode: the Windows call that failed and its GetLastError(); none for a
    // failure the program detects itself.
    // advice: what the error most likely means here and what the person can do about it; none
    // where Windows' own text says enough.
    explicit Failure(std::wstring action, std::string function = {}, std::uint32_t errorCode = 0,
                     std::wstring advice = {})
        : std::runtime_error(function.empty() ? "failure" : function),
          action_(std::move(action)),
          function_(std::move(function)),
          errorCode_(errorCode),
          advice_(std::move(advice)) {}

    const std::wstring& Action() const { return action_; }
    const std::string& Function() const { return function_; }
    std::uint32_t ErrorCode() const { return errorCode_; }
    const std::wstring& Advice() const { return advice_; }

private:
    std::wstring action_;
    std::string function_;
    std::uint32_t errorCode_;
    std::wstring advice_;
};

}  // namespace platform
