// Planted beside the installer under the names of programs and DLLs that Windows might pick up
// from there (regsvr32.exe, version.dll, ...): running or loading it appends its own path to
// the file named by VELKRA_TEST_PLANTED. Tests only; never shipped.
#include <windows.h>

namespace {

void Confess(HMODULE module) {
    wchar_t recordPath[MAX_PATH * 4] = {};
    wchar_t path[MAX_PATH * 4] = {};
    if (::GetEnvironmentVariableW(L"VELKRA_TEST_PLANTED", recordPath, MAX_PATH * 4) == 0) {
        return;
    }
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH * 4);
    path[length] = L'\n';
    const HANDLE file = ::CreateFileW(recordPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, path, (length + 1) * sizeof(wchar_t), &written, nullptr);
        ::CloseHandle(file);
    }
}

}  // namespace

#ifdef PLANTED_PROGRAM
int wmain() {
    Confess(nullptr);
    return 0;
}
#else
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        Confess(instance);
    }
    return TRUE;
}
#endif
