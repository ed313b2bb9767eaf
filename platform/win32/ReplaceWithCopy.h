// The safe replace of a library by a copy of another, on the real Windows API.
#pragma once

#include <string>

namespace win32 {

// Copies the Windows library at source over target, both full paths in the "\\?\" form: the
// old target stays as it was until the new one is complete and on the disk, and survives any
// failure unchanged. Throws platform::Failure with action, the failed call and its advice.
void ReplaceWithCopy(const std::wstring& source, const std::wstring& target,
                     const std::wstring& action);

}  // namespace win32
