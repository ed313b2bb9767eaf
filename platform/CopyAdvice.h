// What a person can do about a failed copy of the library, chosen from what Windows answered:
// plain logic, so that every answer's advice can be tested as a table.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The Windows error codes that the advice tells apart.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorSharingViolation = 32;

// The step of a copy that failed.
enum class CopyStep {
    OpenSource,  // opening the library beside the installer
    CreateCopy,  // creating the new copy in the destination folder
    Replace,     // renaming the new copy onto the destination, once every hold has been waited out
};

struct CopyFailure {
    CopyStep step;
    std::uint32_t error;       // what Windows answered the step
    std::wstring destination;  // the library's path in the destination folder
    // For Replace: what opening the new copy, and the library already there, for delete access
    // and sharing everything answered once the wait was over; 0 where the open succeeded.
    std::uint32_t copyOpenError = 0;
    std::uint32_t libraryOpenError = 0;
};

// The advice for the failure, in a sentence or two; none where Windows' own text says enough.
std::wstring CopyAdvice(const CopyFailure& failure);

}  // namespace platform
