// Failures from Windows calls, and the message box that reports a failure to the user.
#include "platform/win32/Win32Error.h"

#include <exception>
#include <new>

#include "platform/Failure.h"

namespace win32 {

void ThrowLastError(const std::wstring& action, const char* function) {
    const DWORD errorCode = ::GetLastError();
    throw platform::Failure(action, function, errorCode);
}

namespace {

// The system's own text for a Windows error code, without the closing line break.
std::wstring SystemMessage(DWORD errorCode) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, errorCode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring message = length != 0 ? std::wstring(buffer, length) : std::wstring();
    ::LocalFree(buffer);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return message.empty() ? L"Windows error " + std::to_wstring(errorCode) + L"." : message;
}

// What the program was doing, what Windows said, what that means here, and the call that failed.
std::wstring Describe(const platform::Failure& failure) {
    std::wstring text = failure.Action();
    if (failure.ErrorCode() != 0) {
        text += L"\n\n" + SystemMessage(failure.ErrorCode());
    }
    if (!failure.Advice().empty()) {
        text += L"\n\n" + failure.Advice();
    }
    // "(call, error n)", "(error n)" for a failure the program found, "(call)" for a call that
    // sets no error code.
    const std::string& function = failure.Function();
    std::wstring where(function.begin(), function.end());
    if (failure.ErrorCode() != 0) {
        where += (where.empty() ? L"error " : L", error ") + std::to_wstring(failure.ErrorCode());
    }
    if (!where.empty()) {
        text += L"\n\n(" + where + L")";
    }
    return text;
}

std::wstring DescribeCurrentException() {
    try {
        throw;
    } catch (const platform::Failure& failure) {
        return Describe(failure);
    } catch (const std::bad_alloc&) {
        return L"The installer ran out of memory.";
    } catch (const std::exception& exception) {
        const std::string what = exception.what();
        return L"The installer stopped on an unexpected error: " +
               std::wstring(what.begin(), what.end());
    } catch (...) {
        return L"The installer stopped on an unexpected error.";
    }
}

}  // namespace

void ReportUnhandledError(HWND owner, const wchar_t* title) {
    const std::wstring text = DescribeCurrentException() + L"\n\nThe installer will now close.";
    ::MessageBoxW(owner, text.c_str(), title, MB_OK | MB_ICONERROR);
}

}  // namespace win32
