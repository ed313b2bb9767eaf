// The platform operations on the real Windows API: kernel32 queries, the program folder, file
// copy, process start.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/ReplaceWithCopy.h"
#include "platform/win32/RuntimeBinding.h"
#include "platform/win32/Win32Error.h"

namespace win32 {

namespace {

// Small on purpose: paths longer than this take the grow-and-retry path.
constexpr DWORD kFirstPathBufferSize = MAX_PATH;

template <typename Function>
Function* BindKernel32(const char* functionName) {
    return BindFunction<Function>(L"kernel32", functionName);
}

// For the functions that answer with the length they wrote, 0 on failure, or, when the buffer
// is too small, the size they need (NUL included): asks until the answer fits.
template <typename Query>
std::wstring GrowingQuery(Query query, const std::wstring& action, const char* function) {
    std::wstring text(kFirstPathBufferSize, L'\0');
    for (;;) {
        const DWORD length = query(text.data(), static_cast<DWORD>(text.size()));
        if (length == 0) {
            ThrowLastError(action, function);
        }
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.assign(length, L'\0');
    }
}

std::wstring SystemFolder() {
    return GrowingQuery(
        [](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); },
        L"Could not find the Windows system folder.", "GetSystemDirectoryW");
}

// The "\\?\" form of a path lifts the 260-character limit of the file functions. It turns off
// Windows' own clean-up of the path, so the path is made full and clean first.
std::wstring ExtendedLengthPath(const std::wstring& path) {
    const std::wstring full = GrowingQuery(
        [&](wchar_t* buffer, DWORD size) {
            return ::GetFullPathNameW(path.c_str(), size, buffer, nullptr);
        },
        L"The path\n" + path + L"\nis not valid.", "GetFullPathNameW");
    // A device path ("\\.\C:\...") is as full as an extended one; read as a share, it would
    // name the share "C:" of a server ".".
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) {
        return L"\\\\?\\" + full.substr(4);
    }
    if (full.compare(0, 2, L"\\\\") == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

}  // namespace

std::uint32_t Win32Platform::GetSystemDirectoryA(char* buffer, std::uint32_t size) {
    static const auto function =
        BindKernel32<decltype(::GetSystemDirectoryA)>("GetSystemDirectoryA");
    return function != nullptr ? function(buffer, size) : 0;
}

platform::ModuleHandle Win32Platform::GetModuleHandleA(const char* moduleName) {
    return ::GetModuleHandleA(moduleName);
}

platform::ProcAddress Win32Platform::GetProcAddress(platform::ModuleHandle module,
                                                    const char* procName) {
    return reinterpret_cast<platform::ProcAddress>(
        ::GetProcAddress(static_cast<HMODULE>(module), procName));
}

platform::ProcessHandle Win32Platform::GetCurrentProcess() {
    static const auto function = BindKernel32<decltype(::GetCurrentProcess)>("GetCurrentProcess");
    return function != nullptr ? function() : nullptr;
}

std::int32_t Win32Platform::IsWow64Process(platform::ProcAddress isWow64Process,
                                           platform::ProcessHandle process,
                                           std::int32_t* wow64Flag) {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    static_assert(sizeof(BOOL) == sizeof(std::int32_t), "BOOL is the 32-bit flag");
    const auto function = reinterpret_cast<IsWow64ProcessFunction>(isWow64Process);
    return function(process, reinterpret_cast<PBOOL>(wow64Flag));
}

platform::Text Win32Platform::FromAnsiCodePage(const std::string& ansi) {
    if (ansi.empty()) {
        return {};
    }
    const int ansiLength = static_cast<int>(ansi.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), ansiLength, text.data(), length);
    return text;
}

platform::Text Win32Platform::GetProgramFolder() {
    std::wstring path(kFirstPathBufferSize, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            ThrowLastError(L"Could not find the folder the installer runs from.",
                           "GetModuleFileNameW");
        }
        // A cut-off path fills the buffer exactly (and, since Vista, sets
        // ERROR_INSUFFICIENT_BUFFER): try again with twice the room.
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.assign(path.size() * 2, L'\0');
    }
    return path.substr(0, path.find_last_of(L'\\'));
}

void Win32Platform::CopyFileReplacing(const platform::Text& source,
                                      const platform::Text& destination) {
    const std::wstring action = L"Could not copy\n" + source + L"\nto\n" + destination;
    ReplaceWithCopy(ExtendedLengthPath(source), ExtendedLengthPath(destination), action);
}

void Win32Platform::StartCommandLine(const platform::Text& commandLine, int windowStyle) {
    const std::wstring programName = commandLine.substr(0, commandLine.find(L' '));
    if (programName.empty() || programName.find_first_of(L"\\/:\"") != std::wstring::npos) {
        throw platform::Failure(L"Could not start\n" + commandLine +
                                L"\nbecause only a program of the Windows system folder may run.");
    }
    // By its full path, never through the program search, which looks in the installer's own
    // folder first. Under WOW64 the file-system redirector turns System32 into SysWOW64, so a
    // 32-bit installer starts the 32-bit tool.
    const std::wstring systemFolder = SystemFolder();
    const std::wstring program = systemFolder + L"\\" + programName;

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle);
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> writableCommandLine(commandLine.begin(), commandLine.end());
    writableCommandLine.push_back(L'\0');
    if (!::CreateProcessW(program.c_str(), writableCommandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, systemFolder.c_str(), &startup, &process)) {
        const DWORD error = ::GetLastError();
        throw platform::Failure(
            L"Could not start\n" + program + L"\nwith the command line\n" + commandLine,
            "CreateProcessW", error);
    }
    // Nothing waits for the tool: both handles go at once.
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
}

void LimitDllSearch() {
    // Each is bound at run time, so that the exe still loads where it is missing.
    // Windows 8 and later; Windows Vista and 7 with KB2533623.
    using SetDefaultDllDirectoriesFunction = BOOL WINAPI(DWORD);
    constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;
    // Windows XP SP1 and later.
    using SetDllDirectoryFunction = BOOL WINAPI(LPCWSTR);
    // Windows 7 and later.
    using SetSearchPathModeFunction = BOOL WINAPI(DWORD);
    constexpr DWORD kSafeSearchModePermanent = 0x00000001 | 0x00008000;

    const auto setDefaultDllDirectories =
        BindKernel32<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
    const auto setDllDirectory = BindKernel32<SetDllDirectoryFunction>("SetDllDirectoryW");
    if (setDefaultDllDirectories != nullptr) {
        setDefaultDllDirectories(kLoadLibrarySearchSystem32);
    } else if (setDllDirectory != nullptr) {
        // Without it, at least take the current folder out of the DLL search.
        setDllDirectory(L"");
    }
    // Windows 2000 and XP before SP1 have neither: there the DLL search stays as it is.

    const auto setSearchPathMode = BindKernel32<SetSearchPathModeFunction>("SetSearchPathMode");
    if (setSearchPathMode != nullptr) {
        setSearchPathMode(kSafeSearchModePermanent);
    }
}

}  // namespace win32
