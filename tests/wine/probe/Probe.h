// What the parts of velkra_probe share: the checks, the installer it drives, its two modes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Generous: under an emulated processor a first start takes many seconds.
constexpr DWORD kPatienceMs = 60000;

// Prints "ok: what" or "FAIL: file:line: what", counts it, and returns condition.
bool Check(bool condition, const std::wstring& what, const char* file, int line);
#define CHECK(condition, what) Check((condition), (what), __FILE__, __LINE__)
// Whether condition comes true within timeoutMs.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = kPatienceMs);
// Prints the count of checks; the exit code, 1 when anything failed.
int Finish();

// The installer, started as Explorer would start it, in its own folder.
struct Installer {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;

    // Starts the installer at path, or with attach, waits for one started by someone else.
    Installer(const std::wstring& path, bool attach);
    ~Installer();
    // A visible top-level window of the installer's process with this title (or class).
    HWND FindTopLevel(const std::wstring& title, const std::wstring& className) const;
    HWND Focus() const;
    bool Exited(DWORD timeoutMs = kPatienceMs) const;
    DWORD ExitCode() const;
};

// Children in Z order, which is the tab order.
std::vector<HWND> Children(HWND window);
std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);
RECT RectInParent(HWND control);
void PressKey(WORD key, bool shift = false);
// Real input goes to the foreground window, as it would for a user at the keyboard.
bool BringToFront(HWND window);
// A window with its frame, as a 24-bit BMP file, once it has painted.
void SaveScreenshot(const Installer& installer, HWND window, const std::wstring& path);
// Loads the DLL called name that lies beside the probe into the installer; whether it loaded.
bool LoadIntoInstaller(const Installer& installer, const std::wstring& name);
// The names of the running processes that a process started.
std::wstring ChildrenOf(DWORD processId);
// The size of a file, or -1 when there is none.
long long FileSize(const std::wstring& path);
// All the texts of a message box: its title, its message, its button.
std::wstring MessageBoxText(HWND box);

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
