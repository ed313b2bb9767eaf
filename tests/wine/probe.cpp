// velkra_probe: drives and inspects a running Velkra Installer from outside, through the same
// Windows API a user's input and a screen reader go through.
//
//   velkra_probe window  <installer.exe> <dpi> <expected label>
//   velkra_probe desktop holds the session's desktop open until the session ends
//   velkra_probe install (<installer.exe> | --attach) [options]   presses Install as a user would
//     --force              checks the box first (Tab, Space) and presses Install with Enter
//     --hold FILE          holds FILE open, sharing nothing, while Install runs; FILE new-copy
//                          is the installer's new copy of the library, held from just before
//                          its rename, and FILE folder the target folder, whose renames are
//                          denied, both by installer_patches.dll, which the probe loads into the
//                          installer for this, and for an installer it starts by a \\ path
//     --deny WHAT          Windows denies the installer creating its copy (WHAT copy), or
//                          replacing the library (replace), through installer_patches.dll
//     --release-after MS   lets go of the held FILE MS milliseconds after the click (after
//                          the rename's start, for new-copy and folder)
//     --block-registration success: regsvr32 registers the library only once the window has
//                          answered a message while regsvr32 runs
//     --running-copy FILE  success: FILE.<the probe's id>.tmp, the copy of an installer that
//                          still runs, is left where it is
//     --wait-for FILE      success: Install is done once FILE appears or changes in size
//     --clicks N           success: presses Install N times in all, the later ones with Enter
//     --expect-label TEXT  the label reads TEXT after Install; on success the window stays open
//     --expect-failure T   failure: a message box names T (repeatable), the installer has
//                          started no program; the program ends
//     --expect-failure-without T  failure: the message box does not name T
//     --report-within MS   failure: the message box comes within MS milliseconds of the click
//     --shot FILE.bmp      a picture of the window before Install and of what follows
//                          (FILE-after.bmp); repeatable only once
//     --keep-open          leaves the window to the user and waits for it to close
//     --attach             works on an installer started by someone else
//
// Prints "ok: ..." and "FAIL: ..." lines and a closing count; exits 1 when anything failed.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kTitle[] = L"Velkra Installer";
// Generous: under an emulated processor a first start takes many seconds.
constexpr DWORD kPatienceMs = 60000;

int passed = 0;
int failed = 0;

bool Check(bool condition, const std::wstring& what) {
    (condition ? passed : failed) += 1;
    std::wprintf(L"%ls: %ls\n", condition ? L"ok" : L"FAIL", what.c_str());
    std::fflush(stdout);
    return condition;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = kPatienceMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() > deadline) {
            return false;
        }
        ::Sleep(100);  // ten looks a second: each costs milliseconds under the VM's emulation
    }
    return true;
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

std::wstring Describe(const RECT& r) {
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L" " +
           std::to_wstring(r.right - r.left) + L"x" + std::to_wstring(r.bottom - r.top);
}

RECT RectInParent(HWND control) {
    RECT rect;
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The installer, started as Explorer would start it, in its own folder.
struct Installer {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;

    // Starts the installer at path, or with attach, waits for one started by someone else.
    Installer(const std::wstring& path, bool attach) {
        if (attach) {
            WaitFor([&] { return (window = ::FindWindowW(nullptr, kTitle)) != nullptr; });
            process.dwThreadId = ::GetWindowThreadProcessId(window, &process.dwProcessId);
            process.hProcess =
                ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                              FALSE, process.dwProcessId);
        } else {
            Start(path);
        }
        WaitFor([&] {
            return (window = FindTopLevel(kTitle, L"")) != nullptr && ::IsWindowVisible(window);
        });
        Check(window != nullptr, L"the window \"Velkra Installer\" opens");
    }

    void Start(const std::wstring& path) {
        // Under Wine, a program that finds the desktop without its window starts explorer.exe
        // to make one: the probe, then, and not the installer, whose children are counted.
        ::GetDesktopWindow();
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        std::wstring commandLine = L"\"" + path + L"\"";
        const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
        if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder.c_str(), &startup, &process)) {
            Check(false, L"start " + path + L" (error " + std::to_wstring(::GetLastError()) + L")");
        }
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
    HWND FindTopLevel(const std::wstring& title, const std::wstring& className) const;

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

// Children in Z order, which is the tab order.
std::vector<HWND> Children(HWND window) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

HWND Installer::FindTopLevel(const std::wstring& title, const std::wstring& className) const {
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

void PressKey(WORD key, bool shift = false) {
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
bool BringToFront(HWND window) {
    ::SetForegroundWindow(window);
    return WaitFor([&] { return ::GetForegroundWindow() == window; }, 5000);
}

// The window's font as the installer should make it: 8-point MS Shell Dlg 2 at this DPI. GDI
// objects belong to their process, so the probe makes its own to measure with.
struct DialogFont {
    HFONT font;
    explicit DialogFont(int dpi)
        : font(::CreateFontW(-::MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Shell Dlg 2")) {}
    ~DialogFont() { ::DeleteObject(font); }

    SIZE Extent(const std::wstring& text, TEXTMETRICW* metrics = nullptr,
                std::wstring* face = nullptr) const {
        SIZE size = {};
        const HDC dc = ::GetDC(nullptr);
        const HGDIOBJ old = ::SelectObject(dc, font);
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        if (metrics != nullptr)
            ::GetTextMetricsW(dc, metrics);
        if (face != nullptr) {
            // The face actually used, after Windows' font substitution.
            std::vector<char> buffer(::GetOutlineTextMetricsW(dc, 0, nullptr));
            auto* outline = reinterpret_cast<OUTLINETEXTMETRICW*>(buffer.data());
            if (!buffer.empty() &&
                ::GetOutlineTextMetricsW(dc, static_cast<UINT>(buffer.size()), outline)) {
                *face = reinterpret_cast<const wchar_t*>(
                    buffer.data() + reinterpret_cast<size_t>(outline->otmpFamilyName));
            }
        }
        ::SelectObject(dc, old);
        ::ReleaseDC(nullptr, dc);
        return size;
    }
};

int CheckBoxWidth(int dpi) {
    using GetSystemMetricsForDpiFunction = int WINAPI(int, UINT);
    const auto forDpi =
        reinterpret_cast<GetSystemMetricsForDpiFunction*>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(::GetModuleHandleW(L"user32"), "GetSystemMetricsForDpi")));
    return forDpi != nullptr ? forDpi(SM_CXMENUCHECK, static_cast<UINT>(dpi))
                             : ::MulDiv(::GetSystemMetrics(SM_CXMENUCHECK), dpi, 96);
}

RECT TwipsRect(int left, int top, int width, int height, int dpi) {
    const int l = ::MulDiv(left, dpi, 1440), t = ::MulDiv(top, dpi, 1440);
    return {l, t, l + ::MulDiv(width, dpi, 1440), t + ::MulDiv(height, dpi, 1440)};
}

bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Moved to a monitor of another DPI, the window takes the size Windows suggests and lays its
// controls out again, with a font for that DPI.
void CheckDpiChange(const Installer& installer, int dpi) {
    const HWND window = installer.window;
    const std::vector<HWND> children = Children(window);
    RECT suggested;
    ::GetWindowRect(window, &suggested);
    suggested.right += 40;
    suggested.bottom += 20;
    // The message carries a pointer, so the rectangle goes into the installer's memory.
    void* remote = ::VirtualAllocEx(installer.process.hProcess, nullptr, sizeof(suggested),
                                    MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ::WriteProcessMemory(installer.process.hProcess, remote, &suggested, sizeof(suggested),
                         nullptr);
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
    ::VirtualFreeEx(installer.process.hProcess, remote, 0, MEM_RELEASE);

    RECT now;
    ::GetWindowRect(window, &now);
    Check(now == suggested, L"at " + std::to_wstring(dpi) +
                                L" DPI the window takes the suggested " + Describe(suggested));
    Check(RectInParent(children[0]) == TwipsRect(120, 720, 4335, 495, dpi),
          L"Install moves to " + Describe(RectInParent(children[0])));
    Check(RectInParent(children[2]) == TwipsRect(120, 360, 4215, 255, dpi),
          L"the check box moves to " + Describe(RectInParent(children[2])));
    TEXTMETRICW metrics = {};
    const SIZE text = DialogFont(dpi).Extent(TextOf(children[1]), &metrics);
    const RECT labelAt = TwipsRect(120, 120, 0, 0, dpi);
    Check(RectInParent(children[1]) == RECT{labelAt.left, labelAt.top, labelAt.left + text.cx,
                                            labelAt.top + metrics.tmHeight},
          L"the label fits its text in the new font: " + Describe(RectInParent(children[1])));
}

// The window as laid out: texts, styles, rectangles at this DPI, font, focus and tab order.
void CheckWindow(const std::wstring& installerPath, int dpi, const std::wstring& expectedLabel) {
    Installer installer(installerPath, false);
    if (installer.window == nullptr)
        return;
    const HWND window = installer.window;

    RECT client;
    ::GetClientRect(window, &client);
    Check(client == TwipsRect(0, 0, 4545, 1335, dpi), L"client area " + Describe(client));
    const LONG style = ::GetWindowLongW(window, GWL_STYLE);
    Check((style & WS_THICKFRAME) && (style & WS_SYSMENU) && (style & WS_MINIMIZEBOX),
          L"a sizable frame with a system menu");

    const std::vector<HWND> children = Children(window);
    Check(children.size() == 3, L"three controls, found " + std::to_wstring(children.size()));
    if (children.size() != 3)
        return;
    const HWND command1 = children[0], label = children[1], checkBox = children[2];

    Check(ClassOf(command1) == L"Button" && TextOf(command1) == L"Install",
          L"first in tab order: Install");
    const LONG buttonStyle = ::GetWindowLongW(command1, GWL_STYLE);
    Check((buttonStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON && (buttonStyle & WS_TABSTOP),
          L"Install is the default push button and a tab stop");
    Check(RectInParent(command1) == TwipsRect(120, 720, 4335, 495, dpi),
          L"Install at " + Describe(RectInParent(command1)));

    Check(ClassOf(label) == L"Static" && TextOf(label) == expectedLabel,
          L"the label shows \"" + TextOf(label) + L"\"");
    const LONG labelStyle = ::GetWindowLongW(label, GWL_STYLE);
    Check((labelStyle & SS_TYPEMASK) == SS_LEFTNOWORDWRAP && (labelStyle & SS_NOPREFIX) &&
              !(labelStyle & WS_TABSTOP),
          L"the label is one line, takes '&' literally and takes no focus");
    const DialogFont font(dpi);
    TEXTMETRICW metrics = {};
    std::wstring face;
    const SIZE labelText = font.Extent(TextOf(label), &metrics, &face);
    const RECT labelAt = TwipsRect(120, 120, 0, 0, dpi);
    Check(RectInParent(label) == RECT{labelAt.left, labelAt.top, labelAt.left + labelText.cx,
                                      labelAt.top + metrics.tmHeight},
          L"the label fits its text: " + Describe(RectInParent(label)));

    Check(face == L"Tahoma", L"MS Shell Dlg 2 is drawn in " + face);

    Check(ClassOf(checkBox) == L"Button" &&
              TextOf(checkBox) == L"Force 64 bit Install (If path above shows system32)",
          L"the check box caption");
    const LONG checkStyle = ::GetWindowLongW(checkBox, GWL_STYLE);
    Check((checkStyle & BS_TYPEMASK) == BS_AUTOCHECKBOX && (checkStyle & WS_TABSTOP) &&
              ::SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_UNCHECKED,
          L"an unchecked automatic check box and a tab stop");
    const RECT checkRect = RectInParent(checkBox);
    Check(checkRect == TwipsRect(120, 360, 4215, 255, dpi),
          L"the check box at " + Describe(checkRect));
    // The box, the gap Windows leaves after it, then the caption: all within the control.
    const int box = CheckBoxWidth(dpi);
    const SIZE caption = font.Extent(TextOf(checkBox));
    const int needed = box + ::MulDiv(4, dpi, 96) + caption.cx;
    Check(needed <= checkRect.right - checkRect.left,
          L"the check box caption fits: " + std::to_wstring(needed) + L" of " +
              std::to_wstring(checkRect.right - checkRect.left) + L" pixels");
    Check(caption.cy <= checkRect.bottom - checkRect.top, L"the caption's height fits");

    Check(WaitFor([&] { return installer.Focus() == command1; }), L"the focus starts on Install");
    if (BringToFront(window)) {
        PressKey(VK_TAB);
        Check(WaitFor([&] { return installer.Focus() == checkBox; }),
              L"Tab moves to the check box");
        PressKey(VK_TAB);
        Check(WaitFor([&] { return installer.Focus() == command1; }), L"Tab moves back to Install");
        PressKey(VK_TAB, true);
        Check(WaitFor([&] { return installer.Focus() == checkBox; }),
              L"Shift+Tab moves to the check box");
        PressKey(VK_SPACE);
        Check(WaitFor([&] { return ::SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }),
              L"Space checks the box");
        Check(TextOf(label) == expectedLabel, L"checking the box leaves the label alone");
        // Away to another window and back: the focus comes back to the control that had it.
        const HWND elsewhere =
            ::CreateWindowExW(0, L"STATIC", L"elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                              nullptr, nullptr, nullptr, nullptr);
        Check(BringToFront(elsewhere) && BringToFront(window) &&
                  WaitFor([&] { return installer.Focus() == checkBox; }),
              L"switched away and back, the focus is on the check box again");
        ::DestroyWindow(elsewhere);
    } else {
        Check(false, L"the window comes to the foreground");
    }

    CheckDpiChange(installer, dpi * 3 / 2);

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    const bool exited = installer.Exited();
    Check(exited && installer.ExitCode() == 0, L"closing the window ends the program with 0 (" +
                                                   std::to_wstring(installer.ExitCode()) + L")");
}

// Whether the installer has drawn the window and its controls and the pixels are on the screen:
// none of them has an update region left (BeginPaint empties it, and GetUpdateRect reads it
// from any process), and the installer's thread waits for input. Under Wine a program draws
// into a surface in its own memory and hands it to the X server when its thread goes idle to
// wait for input, which is when Wine sets the event WaitForInputIdle waits on (and it resets
// the event when the thread wakes).
bool Painted(const Installer& installer, HWND window) {
    for (const HWND part : Children(window)) {
        if (::GetUpdateRect(part, nullptr, FALSE)) {
            return false;
        }
    }
    return !::GetUpdateRect(window, nullptr, FALSE) &&
           ::WaitForInputIdle(installer.process.hProcess, 0) == 0;
}

// A window with its frame, as a 24-bit BMP file, once it has painted.
void SaveScreenshot(const Installer& installer, HWND window, const std::wstring& path) {
    Check(WaitFor([&] { return Painted(installer, window); }),
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
long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// The names of the running processes that a process started.
std::wstring ChildrenOf(DWORD processId) {
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

// Loads the DLL called name that lies beside the probe into the installer, on a thread of the
// installer's own; whether it loaded. kernel32 lies at the same address in every process, and
// the DLL's fixed base keeps the handle that the thread's exit code truncates from 0.
bool LoadIntoInstaller(const Installer& installer, const std::wstring& name) {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    path = path.substr(0, path.find_last_of(L'\\') + 1) + name;
    const HANDLE process = installer.process.hProcess;
    const SIZE_T bytes = (path.size() + 1) * sizeof(wchar_t);
    void* remote =
        ::VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ::WriteProcessMemory(process, remote, path.c_str(), bytes, nullptr);
    const auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "LoadLibraryW")));
    const HANDLE thread =
        ::CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr);
    DWORD loaded = 0;
    if (thread != nullptr) {
        ::WaitForSingleObject(thread, kPatienceMs);
        ::GetExitCodeThread(thread, &loaded);
        ::CloseHandle(thread);
    }
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return loaded != 0;
}

// All the texts of a message box: its title, its message, its button.
std::wstring MessageBoxText(HWND box) {
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

// Presses Install as a user would, and checks what follows.
void CheckInstall(const InstallOptions& options) {
    // What the probe sets here reaches installer_patches.dll through the installer's
    // environment.
    const bool holdPatched = options.hold == L"new-copy" || options.hold == L"folder";
    if (holdPatched) {
        ::SetEnvironmentVariableW(
            options.hold == L"folder" ? L"VELKRA_TEST_HOLD_FOLDER" : L"VELKRA_TEST_HOLD_NEW_COPY",
            options.releaseAfterMs == INFINITE ? L"throughout"
                                               : std::to_wstring(options.releaseAfterMs).c_str());
    }
    if (!options.deny.empty()) {
        ::SetEnvironmentVariableW(L"VELKRA_TEST_DENY", options.deny.c_str());
    }
    // The stand-in registers the library once this event is set, when there is one.
    const HANDLE registrationGate =
        options.blockRegistration
            ? ::CreateEventW(nullptr, TRUE, FALSE, L"VelkraTestRegistrationGate")
            : nullptr;
    std::wstring runningCopy;
    if (!options.runningCopy.empty()) {
        runningCopy =
            options.runningCopy + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
        ::CloseHandle(
            ::CreateFileW(runningCopy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    }
    Installer installer(options.installer, options.attach);
    if (installer.window == nullptr)
        return;
    const HWND window = installer.window;
    const std::vector<HWND> children = Children(window);
    if (children.size() != 3) {
        Check(false, L"three controls");
        return;
    }
    const HWND command1 = children[0], label = children[1], checkBox = children[2];
    const std::wstring labelBefore = TextOf(label);
    std::wprintf(L"label: %ls\n", labelBefore.c_str());
    if (!Check(WaitFor([&] { return installer.Focus() == command1; }),
               L"the focus is on Install") ||
        !Check(BringToFront(window), L"the window is in front")) {
        return;
    }
    if (!options.shot.empty()) {
        SaveScreenshot(installer, window, options.shot);
    }

    const long long sizeBefore = FileSize(options.waitFor);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (holdPatched || !options.deny.empty() || options.installer.rfind(L"\\\\", 0) == 0) {
        Check(LoadIntoInstaller(installer, L"installer_patches.dll"),
              L"installer_patches.dll is loaded into the installer");
    }
    if (!options.hold.empty() && !holdPatched) {
        held = ::CreateFileW(options.hold.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        Check(held != INVALID_HANDLE_VALUE, L"holding " + options.hold + L" open");
    }
    if (options.force) {
        PressKey(VK_TAB);
        PressKey(VK_SPACE);
        Check(WaitFor([&] { return ::SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }),
              L"the box is checked");
        PressKey(VK_RETURN);  // Enter presses the default button wherever the focus is
    } else {
        PressKey(VK_SPACE);
    }
    const ULONGLONG clicked = ::GetTickCount64();
    if (held != INVALID_HANDLE_VALUE && options.releaseAfterMs != INFINITE) {
        ::Sleep(options.releaseAfterMs);
        ::CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
    }

    if (!options.expectFailure.empty()) {
        HWND box = nullptr;
        Check(WaitFor([&] { return (box = installer.FindTopLevel(L"", L"#32770")) != nullptr; }),
              L"a message box reports the failure");
        const ULONGLONG reportMs = ::GetTickCount64() - clicked;
        if (options.reportWithinMs != INFINITE) {
            Check(reportMs <= options.reportWithinMs,
                  L"it came " + std::to_wstring(reportMs) + L" ms after the click");
        }
        if (box != nullptr) {
            const std::wstring text = MessageBoxText(box);
            std::wprintf(L"message box:\n%ls", text.c_str());
            // A program the installer started before it failed still runs now, or has done its
            // work (regsvr32 has registered the library).
            const std::wstring started = ChildrenOf(installer.process.dwProcessId);
            Check(started.empty(), L"the installer started no program" +
                                       (started.empty() ? L"" : L": it started " + started));
            Check(TextOf(box) == L"Velkra Installer",
                  L"the message box is titled Velkra Installer");
            Check(::GetWindow(box, GW_OWNER) == window, L"the message box belongs to the window");
            if (!options.expectLabel.empty()) {
                Check(TextOf(label) == options.expectLabel, L"the label reads " + TextOf(label));
            }
            for (const std::wstring& expected : options.expectFailure) {
                Check(text.find(expected) != std::wstring::npos, L"the message names " + expected);
            }
            for (const std::wstring& unexpected : options.failureWithout) {
                Check(text.find(unexpected) == std::wstring::npos,
                      L"the message does not name " + unexpected);
            }
            if (!options.shot.empty()) {
                SaveScreenshot(installer, box,
                               options.shot.substr(0, options.shot.size() - 4) + L"-after.bmp");
            }
            BringToFront(box);
            PressKey(VK_RETURN);
        }
        const bool exited = installer.Exited();
        Check(exited && installer.ExitCode() == 1, L"dismissing it ends the program with 1 (" +
                                                       std::to_wstring(installer.ExitCode()) +
                                                       L")");
    } else {
        if (registrationGate != nullptr) {
            // Nothing waits for regsvr32: the window answers while it runs.
            WaitFor([&] { return !ChildrenOf(installer.process.dwProcessId).empty(); });
            DWORD_PTR result = 0;
            const bool answered =
                ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result) != 0;
            const std::wstring running = ChildrenOf(installer.process.dwProcessId);
            Check(answered && !running.empty(),
                  L"the window answers while " + running + L" registers the library");
            ::SetEvent(registrationGate);
        }
        // A failure report ends the wait: nothing more will come.
        WaitFor([&] {
            return FileSize(options.waitFor) != sizeBefore ||
                   installer.FindTopLevel(L"", L"#32770") != nullptr;
        });
        Check(FileSize(options.waitFor) != sizeBefore, L"Install made " + options.waitFor);
        for (int click = 2; click <= options.clicks; ++click) {
            ::Sleep(500);  // what the last Install started has written what it writes
            const long long size = FileSize(options.waitFor);
            BringToFront(window);
            PressKey(VK_RETURN);
            Check(WaitFor([&] { return FileSize(options.waitFor) != size; }),
                  L"Install pressed again, " + std::to_wstring(click) + L" times in all");
        }
        // Whatever a failure would show has had its time by now.
        ::Sleep(500);
        const HWND box = installer.FindTopLevel(L"", L"#32770");
        Check(box == nullptr, L"no message box" + (box ? L": " + MessageBoxText(box) : L""));
        Check(::IsWindowVisible(window) && installer.ExitCode() == STILL_ACTIVE,
              L"the window stays open");
        Check(TextOf(label) == options.expectLabel, L"the label reads " + TextOf(label));
        if (!runningCopy.empty()) {
            Check(::DeleteFileW(runningCopy.c_str()) != 0,
                  L"Install left " + runningCopy + L", the copy of an installer that still runs");
        }
        if (!options.shot.empty()) {
            SaveScreenshot(installer, box != nullptr ? box : window,
                           options.shot.substr(0, options.shot.size() - 4) + L"-after.bmp");
        }
        // A regsvr32 slowed by a busy machine would otherwise register what the next test
        // installs.
        Check(WaitFor([&] { return ChildrenOf(installer.process.dwProcessId).empty(); }),
              L"what Install started has ended");
        if (options.keepOpen) {
            std::wprintf(L"The window stays open until you close it.\n");
            std::fflush(stdout);
            installer.Exited(INFINITE);
        } else {
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        }
        const bool exited = installer.Exited();
        Check(exited && installer.ExitCode() == 0,
              L"the program ends with 0 when its window closes");
    }
    if (held != INVALID_HANDLE_VALUE) {
        ::CloseHandle(held);
    }
    if (registrationGate != nullptr) {
        ::CloseHandle(registrationGate);
    }
}

int Finish() {
    std::wprintf(L"%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Coordinates as the per-monitor aware installer has them, not scaled for an unaware caller.
    using SetProcessDpiAwarenessContextFunction = BOOL WINAPI(HANDLE);
    const auto setAwareness =
        reinterpret_cast<SetProcessDpiAwarenessContextFunction*>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(::GetModuleHandleW(L"user32"), "SetProcessDpiAwarenessContext")));
    if (setAwareness == nullptr || !setAwareness(reinterpret_cast<HANDLE>(-4))) {
        ::SetProcessDPIAware();
    }
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == L"desktop") {
        // Wine closes a desktop, and ends its explorer.exe, a second after its last program
        // ends, and the next program to show a window starts explorer.exe anew: seconds, under
        // emulation. On Windows the shell keeps it open throughout.
        ::GetDesktopWindow();
        ::Sleep(INFINITE);
    }
    if (args.size() == 4 && args[0] == L"window") {
        CheckWindow(args[1], std::stoi(args[2]), args[3]);
        return Finish();
    }
    if (!args.empty() && args[0] == L"install") {
        InstallOptions options;
        for (size_t i = 1; i < args.size(); ++i) {
            const std::wstring& option = args[i];
            const bool hasValue = i + 1 < args.size();
            if (option == L"--force") {
                options.force = true;
            } else if (option == L"--attach") {
                options.attach = true;
            } else if (option == L"--block-registration") {
                options.blockRegistration = true;
            } else if (option == L"--keep-open") {
                options.keepOpen = true;
            } else if (option == L"--clicks" && hasValue) {
                options.clicks = std::stoi(args[++i]);
            } else if (option == L"--hold" && hasValue) {
                options.hold = args[++i];
            } else if (option == L"--deny" && hasValue) {
                options.deny = args[++i];
            } else if (option == L"--release-after" && hasValue) {
                options.releaseAfterMs = std::stoul(args[++i]);
            } else if (option == L"--report-within" && hasValue) {
                options.reportWithinMs = std::stoul(args[++i]);
            } else if (option == L"--wait-for" && hasValue) {
                options.waitFor = args[++i];
            } else if (option == L"--expect-label" && hasValue) {
                options.expectLabel = args[++i];
            } else if (option == L"--expect-failure" && hasValue) {
                options.expectFailure.push_back(args[++i]);
            } else if (option == L"--expect-failure-without" && hasValue) {
                options.failureWithout.push_back(args[++i]);
            } else if (option == L"--running-copy" && hasValue) {
                options.runningCopy = args[++i];
            } else if (option == L"--shot" && hasValue) {
                options.shot = args[++i];
            } else if (option.rfind(L"--", 0) != 0 && options.installer.empty()) {
                options.installer = option;
            } else {
                std::fwprintf(stderr, L"unknown option %ls\n", option.c_str());
                return 2;
            }
        }
        CheckInstall(options);
        return Finish();
    }
    std::fwprintf(stderr, L"usage: see the top of probe.cpp\n");
    return 2;
}
