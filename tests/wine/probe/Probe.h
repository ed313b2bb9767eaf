// What the parts of velkra_probe share: the checks and waits, and driving the installer from
// outside, through the same Windows API a user's input and a screen reader go through.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../../../platform/win32/RuntimeBinding.h"

// Generous: under an emulated processor a first start takes many seconds.
constexpr DWORD kPatienceMs = 60000;
constexpr wchar_t kTitle[] = L"Velkra Installer", kWindowClass[] = L"VelkraInstallerWindow";

inline int passed = 0;
inline int failed = 0;
// The older Windows that the installer runs as, that VELKRA_TEST_AS names ("Windows 7", "Windows
// XP", "Windows 2000"): installer_patches.dll takes away the functions it lacks. "" for today's.
inline const std::wstring kAs = _wgetenv(L"VELKRA_TEST_AS") ? _wgetenv(L"VELKRA_TEST_AS") : L"";

// Prints "ok: what" or "FAIL: file:line: what", counts it, and returns condition.
#define CHECK(condition, what) Check((condition), (what), __FILE__, __LINE__)
inline bool Check(bool condition, const std::wstring& what, const char* file, int line) {
    (condition ? passed : failed) += 1;
    // The build names a source from the top of the tree, as ./tests/wine/...
    const std::string path = std::strncmp(file, "./", 2) == 0 ? file + 2 : file;
    const std::wstring where =
        condition ? L""
                  : std::wstring(path.begin(), path.end()) + L":" + std::to_wstring(line) + L": ";
    std::wprintf(L"%ls: %ls%ls%ls\n", condition ? L"ok" : L"FAIL", where.c_str(), what.c_str(),
                 kAs.empty() ? L"" : (L" (as " + kAs + L")").c_str());
    std::fflush(stdout);
    return condition;
}

// Whether condition comes true within timeoutMs.
inline bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = kPatienceMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() > deadline) {
            return false;
        }
        ::Sleep(100);  // ten looks a second: each costs milliseconds under the VM's emulation
    }
    return true;
}

// Prints the count of checks; the exit code, 1 when anything failed.
inline int Finish() {
    std::wprintf(L"%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

inline std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

inline std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

// Children in Z order, which is the tab order.
inline std::vector<HWND> Children(HWND window) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

inline RECT RectInParent(HWND control) {
    RECT rect;
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The installer, started as Explorer would start it, in its own folder.
struct Installer {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;
    // Its controls in tab order, the Z order of a window's children; null unless there are three.
    HWND command1 = nullptr, label = nullptr, checkBox = nullptr;

    // Starts the installer at path, or with attach, waits for one started by someone else. It
    // has installer_patches.dll from its first instruction when started by a path that Wine names
    // otherwise, or when the environment asks anything of the DLL.
    Installer(const std::wstring& path, bool attach) {
        bool patched = false;
        if (attach) {
            // By class too, here and below: the installer's message boxes bear the same title.
            WaitFor([&] { return (window = ::FindWindowW(kWindowClass, kTitle)) != nullptr; });
            process.dwThreadId = ::GetWindowThreadProcessId(window, &process.dwProcessId);
            process.hProcess =
                ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                              FALSE, process.dwProcessId);
        } else {
            // Under Wine, a program that finds the desktop without its window starts explorer.exe
            // to make one: the probe, then, and not the installer, whose children are counted.
            ::GetDesktopWindow();
            STARTUPINFOW startup = {};
            startup.cb = sizeof(startup);
            std::wstring commandLine = L"\"" + path + L"\"";
            const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
            patched = path.rfind(L"\\\\", 0) == 0 || !kAs.empty();
            for (const wchar_t* asked :
                 {L"VELKRA_TEST_SHORT_READS", L"VELKRA_TEST_DENY", L"VELKRA_TEST_HOLD_NEW_COPY",
                  L"VELKRA_TEST_HOLD_FOLDER"}) {
                patched = patched || ::GetEnvironmentVariableW(asked, nullptr, 0) != 0;
            }
            if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                  patched ? CREATE_SUSPENDED : 0, nullptr, folder.c_str(), &startup,
                                  &process)) {
                CHECK(false,
                      L"start " + path + L" (error " + std::to_wstring(::GetLastError()) + L")");
            } else if (patched) {
                QueuePatches();
                ::ResumeThread(process.hThread);
            }
        }
        WaitFor([&] { return (window = FindTopLevel(kTitle, kWindowClass)) || Exited(0); });
        CHECK(window != nullptr,
              L"the window \"" + std::wstring(kTitle) + L"\" opens" +
                  (window || !Exited(0) ? L"" : L": it ended with " + std::to_wstring(ExitCode())));
        const std::vector<HWND> controls = Children(window);
        if (window != nullptr && CHECK(controls.size() == 3, L"three controls, found " +
                                                                 std::to_wstring(controls.size())))
            command1 = controls[0], label = controls[1], checkBox = controls[2];
        if (patched)
            CHECK(Said(L"installer_patches.dll"), L"installer_patches.dll is in the installer");
        // Windows 2000 lacks SetDllDirectoryW; 7 and XP lack only SetDefaultDllDirectories.
        if (!kAs.empty())
            CHECK(Said(L"SetDllDirectoryW(\"\")") == (kAs != L"Windows 2000"),
                  kAs == L"Windows 2000" ? L"the DLL search is Windows' own"
                                         : L"SetDllDirectoryW(\"\") takes the current folder out");
        if (!kAs.empty())
            CHECK(Said(L"LoadLibraryW(\"comctl32.dll\")") == (kAs != L"Windows 2000"),
                  kAs == L"Windows 2000" ? L"it loads no comctl32, to which nothing redirects"
                                         : L"it loads Common Controls 6 itself");
    }

    // Has the suspended installer load installer_patches.dll, which lies beside the probe, before
    // its first instruction: Windows runs the APCs queued to a new process's first thread once
    // its DLLs are loaded and before its entry point. kernel32 lies at the same address in every
    // process, and LoadLibraryW takes its one argument as an APC does.
    void QueuePatches() const {
        std::wstring path(32768, L'\0');
        path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
        path = path.substr(0, path.find_last_of(L'\\') + 1) + L"installer_patches.dll";
        const SIZE_T bytes = (path.size() + 1) * sizeof(wchar_t);
        void* remote = ::VirtualAllocEx(process.hProcess, nullptr, bytes, MEM_COMMIT | MEM_RESERVE,
                                        PAGE_READWRITE);
        ::WriteProcessMemory(process.hProcess, remote, path.c_str(), bytes, nullptr);
        ::QueueUserAPC(win32::BindFunction<VOID WINAPI(ULONG_PTR)>(L"kernel32", "LoadLibraryW"),
                       process.hThread, reinterpret_cast<ULONG_PTR>(remote));
    }

    // Whether installer_patches.dll has said that what happened in the installer.
    bool Said(const std::wstring& what) const {
        const HANDLE event = ::OpenEventW(
            SYNCHRONIZE, FALSE, (std::to_wstring(process.dwProcessId) + L" " + what).c_str());
        ::CloseHandle(event);
        return event != nullptr;
    }

    ~Installer() {
        if (process.hProcess != nullptr) {
            if (::WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(process.hProcess, 99);
            }
            ::CloseHandle(process.hProcess);
        }
        if (process.hThread != nullptr) {
            ::CloseHandle(process.hThread);
        }
    }

    // A visible top-level window of the installer's process with this title (or class).
    HWND FindTopLevel(const std::wstring& title, const std::wstring& className) const {
        for (const HWND window : Children(::GetDesktopWindow())) {
            DWORD processId = 0;
            ::GetWindowThreadProcessId(window, &processId);
            if (processId == process.dwProcessId && ::IsWindowVisible(window) &&
                (title.empty() || TextOf(window) == title) &&
                (className.empty() || ClassOf(window) == className)) {
                return window;
            }
        }
        return nullptr;
    }

    HWND Focus() const {
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        return ::GetGUIThreadInfo(process.dwThreadId, &info) ? info.hwndFocus : nullptr;
    }

    bool Exited(DWORD timeoutMs = kPatienceMs) const {
        return ::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    }

    DWORD ExitCode() const {
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(process.hProcess, &code);
        return code;
    }
};

inline void PressKey(WORD key, bool shift = false) {
    std::vector<INPUT> inputs;
    auto add = [&](WORD virtualKey, DWORD flags) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtualKey;
        input.ki.dwFlags = flags;
        inputs.push_back(input);
    };
    if (shift)
        add(VK_SHIFT, 0);
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (shift)
        add(VK_SHIFT, KEYEVENTF_KEYUP);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Real input goes to the foreground window, as it would for a user at the keyboard.
inline bool BringToFront(HWND window) {
    ::SetForegroundWindow(window);
    return WaitFor([&] { return ::GetForegroundWindow() == window; }, 5000);
}

// Whether the installer has drawn the window and its controls and the pixels are on the screen:
// none of them has an update region left (BeginPaint empties it, and GetUpdateRect reads it
// from any process), and the installer's thread waits for input. Under Wine a program draws
// into a surface in its own memory and hands it to the X server when its thread goes idle to
// wait for input, which is when Wine sets the event WaitForInputIdle waits on (and it resets
// the event when the thread wakes).
inline bool Painted(const Installer& installer, HWND window) {
    for (const HWND part : Children(window)) {
        if (::GetUpdateRect(part, nullptr, FALSE)) {
            return false;
        }
    }
    return !::GetUpdateRect(window, nullptr, FALSE) &&
           ::WaitForInputIdle(installer.process.hProcess, 0) == 0;
}

// A window with its frame, as a 24-bit BMP file, once it has painted.
inline void SaveScreenshot(const Installer& installer, HWND window, const std::wstring& path) {
    CHECK(WaitFor([&] { return Painted(installer, window); }),
          L"the window has painted before its picture is taken");
    RECT rect;
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::GdiFlush();
    const DWORD imageSize = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + imageSize;
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        std::fwrite(&file, sizeof(file), 1, out);
        std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out);
        std::fwrite(bits, imageSize, 1, out);
        std::fclose(out);
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

// The size of a file, or -1 when there is none.
inline long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// The names of the running processes that a process started.
inline std::wstring ChildrenOf(DWORD processId) {
    std::wstring names;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == processId) {
            names += std::wstring(names.empty() ? L"" : L", ") + entry.szExeFile;
        }
    }
    ::CloseHandle(snapshot);
    return names;
}

// All the texts of a message box: its title, its message, its button.
inline std::wstring MessageBoxText(HWND box) {
    std::wstring text;
    for (const HWND child : Children(box)) {
        text += TextOf(child) + L"\n";
    }
    return text;
}

struct InstallOptions {
    std::wstring installer;
    bool force = false;
    std::wstring hold, deny, waitFor, expectLabel, shot, runningCopy;
    std::vector<std::wstring> expectFailure, failureWithout;
    int clicks = 1;
    DWORD releaseAfterMs = INFINITE, reportWithinMs = INFINITE;
    bool blockRegistration = false;
    bool keepOpen = false;
    bool attach = false;
};

// The window as laid out: texts, styles, rectangles at this DPI, font, focus and tab order.
void CheckWindow(const std::wstring& installerPath, int dpi, const std::wstring& expectedLabel);
// Presses Install as a user would, and checks what follows.
void CheckInstall(const InstallOptions& options);
