// A stand-in for dx8vb.dll, for the tests only and never shipped: registering it appends the
// path it was loaded from, and the bitness of the process that loaded it, to the file named by
// VELKRA_TEST_RECORD.
#include <windows.h>

#include <string>

namespace {

HMODULE self = nullptr;

std::wstring ModulePath(HMODULE module) {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

HRESULT Record(const std::wstring& event) {
    wchar_t recordPath[MAX_PATH * 4] = {};
    if (::GetEnvironmentVariableW(L"VELKRA_TEST_RECORD", recordPath, MAX_PATH * 4) == 0) {
        return E_FAIL;
    }
    // Only a process of the DLL's own bitness can load it.
    const std::wstring line = event + L" " + ModulePath(self) + L" in a " +
                              std::to_wstring(sizeof(void*) * 8) + L"-bit process\r\n";
    std::string utf8(line.size() * 4, '\0');
    utf8.resize(static_cast<size_t>(
        ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(),
                              static_cast<int>(utf8.size()), nullptr, nullptr)));
    const HANDLE file = ::CreateFileW(recordPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return E_FAIL;
    }
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok ? S_OK : E_FAIL;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
    // A registration that takes its time, as one whose message box is still open: while the
    // probe holds this event, regsvr32 runs until the probe sets it.
    const HANDLE gate = ::OpenEventW(SYNCHRONIZE, FALSE, L"VelkraTestRegistrationGate");
    if (gate != nullptr) {
        ::WaitForSingleObject(gate, 60000);
        ::CloseHandle(gate);
    }
    return Record(L"registered");
}
extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
    return Record(L"unregistered");
}
