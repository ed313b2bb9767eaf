// Tests only, never shipped: velkra_probe loads this DLL into an installer before its first
// instruction, where it patches the installer's imports to make Windows behaviour happen that
// Wine does not:
// - GetProcAddress: with VELKRA_TEST_AS set to "Windows 7", "Windows XP" or "Windows 2000", it
//   finds none of the functions that Windows lacks (ERROR_PROC_NOT_FOUND). SetDllDirectoryW it
//   hands out saying each call: Wine's loader takes an empty DLL directory for none, where
//   Windows stops searching the current folder, so the call is what a test can see.
// - LoadLibraryW: the installer's calls are said. As Windows XP, user32's, through which Wine's
//   loads the DLL of a class that the manifest redirects, fail for comctl32 while the installer
//   has not loaded it: XP's user32 loads no such DLL.
// - ReadFile: with VELKRA_TEST_SHORT_READS set to N, reads return 1 byte and at most N by turns,
//   fewer than asked for before the file ends, as a network share or a file-system filter may.
// - MoveFileExW: with VELKRA_TEST_HOLD_NEW_COPY set, the first call opens its source, sharing
//   nothing but reading, just before the rename, as a virus scanner examines a new executable
//   file the moment it is closed; Wine gives no other program that moment. The variable's value
//   is how many milliseconds the hold lasts; "throughout", as long as the installer. With
//   VELKRA_TEST_HOLD_FOLDER set, it fails with access denied for as many milliseconds after the
//   first call, as a virus scanner examining the folder's new files makes it fail on Windows;
//   Wine denies a rename only over a file that is open.
// - CreateFileW and MoveFileExW: with VELKRA_TEST_DENY set to copy, creating a new file fails with
//   access denied, as it does for a limited user in the system folder; set to replace, every open
//   for delete access and every rename does, as where the library's permissions forbid replacing
//   it. Wine running as root is denied neither.
// - GetModuleFileNameW: Windows names the exe by the path it was started by ("\\server\share\...",
//   "\\.\C:\..."), which Wine 8 turns into forms of its own ("UNC\server\share\...", "C:\...").
//   The probe starts the installer by that path, the first word of its command line, quoted.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <utility>

namespace {

decltype(::MoveFileExW)* realMoveFileExW = nullptr;
decltype(::GetModuleFileNameW)* realGetModuleFileNameW = nullptr;
decltype(::CreateFileW)* realCreateFileW = nullptr;
decltype(::GetProcAddress)* realGetProcAddress = nullptr;
decltype(::ReadFile)* realReadFile = nullptr;
decltype(::LoadLibraryW)* realLoadLibraryW = nullptr;
HANDLE held = INVALID_HANDLE_VALUE;

// The functions each older Windows lacks, newest first: each lacks those named beside it and
// those above.
const std::pair<const wchar_t*, const char*> kLacking[] = {
    {L"Windows 7", "GetDpiForWindow"},          {L"Windows 7", "AdjustWindowRectExForDpi"},
    {L"Windows 7", "SetDefaultDllDirectories"}, {L"Windows XP", "SetSearchPathMode"},
    {L"Windows 2000", "SetDllDirectoryW"},      {L"Windows 2000", "IsWow64Process"},
    {L"Windows 2000", "GetCurrentActCtx"}};

DWORD WINAPI ReleaseAfter(LPVOID milliseconds) {
    ::Sleep(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(milliseconds)));
    ::CloseHandle(held);
    return 0;
}

// The value of the environment variable called name; "" without it.
std::wstring Variable(const wchar_t* name) {
    wchar_t value[32] = {};
    ::GetEnvironmentVariableW(name, value, 32);
    return value;
}

// The number that the variable called name holds, INFINITE for "throughout"; 0 without it.
DWORD Number(const wchar_t* name) {
    const std::wstring value = Variable(name);
    return value == L"throughout" ? INFINITE : std::wcstoul(value.c_str(), nullptr, 10);
}

// Whether VELKRA_TEST_DENY asks to deny what.
bool Denied(const wchar_t* what) {
    return Variable(L"VELKRA_TEST_DENY") == what;
}

HANDLE WINAPI DenyingCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE templateFile) {
    if ((disposition == CREATE_NEW && Denied(L"copy")) ||
        (access == DELETE && Denied(L"replace"))) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return realCreateFileW(path, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI HoldingMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    static const DWORD firstCall = ::GetTickCount();
    if (::GetTickCount() - firstCall < Number(L"VELKRA_TEST_HOLD_FOLDER") || Denied(L"replace")) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    static bool first = true;
    const DWORD hold = Number(L"VELKRA_TEST_HOLD_NEW_COPY");
    if (std::exchange(first, false) && hold != 0) {
        held =
            ::CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (hold != INFINITE) {
            ::CloseHandle(::CreateThread(nullptr, 0, ReleaseAfter,
                                         reinterpret_cast<LPVOID>(UINT_PTR{hold}), 0, nullptr));
        }
    }
    return realMoveFileExW(from, to, flags);
}

DWORD WINAPI StartedGetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    const wchar_t* line = ::GetCommandLineW();
    const wchar_t* end = line[0] == L'"' ? std::wcschr(line + 1, L'"') : nullptr;
    if (module != nullptr || end == nullptr || size == 0) {
        return realGetModuleFileNameW(module, buffer, size);
    }
    // As Windows does: cut to the buffer, NUL included, and say so.
    const auto length = static_cast<DWORD>(end - line - 1);
    const DWORD copied = length < size ? length : size - 1;
    std::wmemcpy(buffer, line + 1, copied);
    buffer[copied] = L'\0';
    if (copied < length) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    return length;
}

// Says what happened to the probe, by an event of the installer's named with its process id;
// whether it could.
bool Say(const std::wstring& what) {
    return ::CreateEventW(nullptr, TRUE, FALSE,
                          (std::to_wstring(::GetCurrentProcessId()) + L" " + what).c_str());
}

BOOL WINAPI SaidSetDllDirectoryW(LPCWSTR folder) {
    Say(L"SetDllDirectoryW(\"" + std::wstring(folder) + L"\")");
    return ::SetDllDirectoryW(folder);
}

FARPROC WINAPI OlderGetProcAddress(HMODULE module, LPCSTR name) {
    if (IS_INTRESOURCE(name)) {
        return realGetProcAddress(module, name);
    }
    const std::wstring windows = Variable(L"VELKRA_TEST_AS");
    bool lacking = false;
    for (auto it = std::rbegin(kLacking); it != std::rend(kLacking); ++it) {
        lacking = lacking || windows == it->first;
        if (lacking && std::strcmp(it->second, name) == 0) {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
    }
    if (std::strcmp(name, "SetDllDirectoryW") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SaidSetDllDirectoryW));
    }
    return realGetProcAddress(module, name);
}

HMODULE WINAPI SaidLoadLibraryW(LPCWSTR name) {
    Say(L"LoadLibraryW(\"" + std::wstring(name) + L"\")");
    return realLoadLibraryW(name);
}

HMODULE WINAPI XpLoadLibraryW(LPCWSTR name) {
    if (Variable(L"VELKRA_TEST_AS") == L"Windows XP" && _wcsnicmp(name, L"comctl32", 8) == 0 &&
        ::GetModuleHandleW(name) == nullptr) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return realLoadLibraryW(name);
}

BOOL WINAPI ShortReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read,
                          LPOVERLAPPED overlapped) {
    static bool one = true;
    DWORD most = Number(L"VELKRA_TEST_SHORT_READS");
    if (most != 0 && std::exchange(one, !one)) {
        most = 1;
    }
    return realReadFile(file, buffer, most != 0 && most < size ? most : size, read, overlapped);
}

// Points the import of the function called name, the exe's or module's, at replacement; the
// function it pointed at, or null where it is not imported.
template <typename Function>
Function* PatchImport(const char* name, Function* replacement, HMODULE module = nullptr) {
    auto* const base = reinterpret_cast<BYTE*>(module ? module : ::GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* module =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
        auto* entry = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; entry->u1.AddressOfData != 0; ++entry, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(entry->u1.Ordinal) ||
                std::strcmp(
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + entry->u1.AddressOfData)
                        ->Name,
                    name) != 0) {
                continue;
            }
            DWORD protection = 0;
            ::VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
            auto* const original = reinterpret_cast<Function*>(slot->u1.Function);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            ::VirtualProtect(slot, sizeof(*slot), protection, &protection);
            return original;
        }
    }
    return nullptr;
}

}  // namespace

// Says it has patched every import, or refuses to load.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    realMoveFileExW = PatchImport("MoveFileExW", &HoldingMoveFileExW);
    realGetModuleFileNameW = PatchImport("GetModuleFileNameW", &StartedGetModuleFileNameW);
    realCreateFileW = PatchImport("CreateFileW", &DenyingCreateFileW);
    realGetProcAddress = PatchImport("GetProcAddress", &OlderGetProcAddress);
    realReadFile = PatchImport("ReadFile", &ShortReadFile);
    realLoadLibraryW = PatchImport("LoadLibraryW", &SaidLoadLibraryW);
    return realMoveFileExW != nullptr && realGetModuleFileNameW != nullptr &&
           realCreateFileW != nullptr && realGetProcAddress != nullptr && realReadFile != nullptr &&
           realLoadLibraryW != nullptr &&
           PatchImport("LoadLibraryW", &XpLoadLibraryW, ::GetModuleHandleW(L"user32")) &&
           Say(L"installer_patches.dll");
}
