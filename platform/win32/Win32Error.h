// Failed Windows calls become platform::Failure where they fail; the failure report shows them.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

// Throws a Failure carrying the action, the function that failed and GetLastError(). Call it
// only right after a call that reported failure and sets the error code, with the action made
// beforehand: building its text allocates memory, which may reset the error.
[[noreturn]] void ThrowLastError(const std::wstring& action, const char* function);

// Shows the failure being handled in a message box, owned by owner when there is one. Call
// only from a catch block: it names whatever was thrown.
void ReportUnhandledError(HWND owner, const wchar_t* title);

}  // namespace win32
