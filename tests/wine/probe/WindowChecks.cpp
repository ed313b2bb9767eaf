// Checks the window as laid out, and laid out again for another DPI.
#include "Probe.h"

namespace {

std::wstring Describe(const RECT& r) {
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L" " +
           std::to_wstring(r.right - r.left) + L"x" + std::to_wstring(r.bottom - r.top);
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
    const auto forDpi =
        win32::BindFunction<int WINAPI(int, UINT)>(L"user32", "GetSystemMetricsForDpi");
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

// Install and the check box where the window's description puts them at this DPI, and the label
// as wide and as high as its text in the font for this DPI.
void CheckPlaces(const Installer& installer, int dpi, const std::wstring& at,
                 const std::wstring& font) {
    CHECK(RectInParent(installer.command1) == TwipsRect(120, 720, 4335, 495, dpi),
          L"Install " + at + L" " + Describe(RectInParent(installer.command1)));
    CHECK(RectInParent(installer.checkBox) == TwipsRect(120, 360, 4215, 255, dpi),
          L"the check box " + at + L" " + Describe(RectInParent(installer.checkBox)));
    TEXTMETRICW metrics = {};
    const SIZE text = DialogFont(dpi).Extent(TextOf(installer.label), &metrics);
    const RECT label = TwipsRect(120, 120, 0, 0, dpi);
    CHECK((RectInParent(installer.label) ==
           RECT{label.left, label.top, label.left + text.cx, label.top + metrics.tmHeight}),
          L"the label fits its text" + font + L": " + Describe(RectInParent(installer.label)));
}

// Moved to a monitor of another DPI, the window takes the size Windows suggests and lays its
// controls out again, with a font for that DPI.
void CheckDpiChange(const Installer& installer, int dpi) {
    const HWND window = installer.window;
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
    CHECK(now == suggested, L"at " + std::to_wstring(dpi) +
                                L" DPI the window takes the suggested " + Describe(suggested));
    CheckPlaces(installer, dpi, L"moves to", L" in the new font");
}

}  // namespace

void CheckWindow(const std::wstring& installerPath, int dpi, const std::wstring& expectedLabel) {
    Installer installer(installerPath, false);
    if (installer.checkBox == nullptr)
        return;
    const HWND window = installer.window, command1 = installer.command1, label = installer.label,
               checkBox = installer.checkBox;

    RECT client;
    ::GetClientRect(window, &client);
    CHECK(client == TwipsRect(0, 0, 4545, 1335, dpi), L"client area " + Describe(client));
    const LONG style = ::GetWindowLongW(window, GWL_STYLE);
    CHECK((style & WS_THICKFRAME) && (style & WS_SYSMENU) && (style & WS_MINIMIZEBOX),
          L"a sizable frame with a system menu");

    CHECK(ClassOf(command1) == L"Button" && TextOf(command1) == L"Install",
          L"first in tab order: Install");
    const LONG buttonStyle = ::GetWindowLongW(command1, GWL_STYLE);
    CHECK((buttonStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON && (buttonStyle & WS_TABSTOP),
          L"Install is the default push button and a tab stop");

    CHECK(ClassOf(label) == L"Static" && TextOf(label) == expectedLabel,
          L"the label shows \"" + TextOf(label) + L"\"");
    const LONG labelStyle = ::GetWindowLongW(label, GWL_STYLE);
    CHECK((labelStyle & SS_TYPEMASK) == SS_LEFTNOWORDWRAP && (labelStyle & SS_NOPREFIX) &&
              !(labelStyle & WS_TABSTOP),
          L"the label is one line, takes '&' literally and takes no focus");
    CheckPlaces(installer, dpi, L"at", L"");
    const DialogFont font(dpi);
    std::wstring face;
    font.Extent(TextOf(label), nullptr, &face);
    CHECK(face == L"Tahoma", L"MS Shell Dlg 2 is drawn in " + face);

    CHECK(ClassOf(checkBox) == L"Button" &&
              TextOf(checkBox) == L"Force 64 bit Install (If path above shows system32)",
          L"the check box's text");
    const LONG checkStyle = ::GetWindowLongW(checkBox, GWL_STYLE);
    CHECK((checkStyle & BS_TYPEMASK) == BS_AUTOCHECKBOX && (checkStyle & WS_TABSTOP) &&
              ::SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_UNCHECKED,
          L"an unchecked automatic check box and a tab stop");
    const RECT checkRect = RectInParent(checkBox);
    // The box, the gap Windows leaves after it, then the text: all within the control.
    const int box = CheckBoxWidth(dpi);
    const SIZE text = font.Extent(TextOf(checkBox));
    const int needed = box + ::MulDiv(4, dpi, 96) + text.cx;
    CHECK(needed <= checkRect.right - checkRect.left,
          L"the check box's text fits: " + std::to_wstring(needed) + L" of " +
              std::to_wstring(checkRect.right - checkRect.left) + L" pixels");
    CHECK(text.cy <= checkRect.bottom - checkRect.top, L"the text's height fits");

    CHECK(WaitFor([&] { return installer.Focus() == command1; }), L"the focus starts on Install");
    if (BringToFront(window)) {
        PressKey(VK_TAB);
        CHECK(WaitFor([&] { return installer.Focus() == checkBox; }),
              L"Tab moves to the check box");
        PressKey(VK_TAB);
        CHECK(WaitFor([&] { return installer.Focus() == command1; }), L"Tab moves back to Install");
        PressKey(VK_TAB, true);
        CHECK(WaitFor([&] { return installer.Focus() == checkBox; }),
              L"Shift+Tab moves to the check box");
        PressKey(VK_SPACE);
        CHECK(WaitFor([&] { return ::SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }),
              L"Space checks the box");
        CHECK(TextOf(label) == expectedLabel, L"checking the box leaves the label alone");
        // Away to another window and back: the focus comes back to the control that had it.
        const HWND elsewhere =
            ::CreateWindowExW(0, L"STATIC", L"elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                              nullptr, nullptr, nullptr, nullptr);
        CHECK(BringToFront(elsewhere) && BringToFront(window) &&
                  WaitFor([&] { return installer.Focus() == checkBox; }),
              L"switched away and back, the focus is on the check box again");
        ::DestroyWindow(elsewhere);
    } else {
        CHECK(false, L"the window comes to the foreground");
    }

    CheckDpiChange(installer, dpi * 3 / 2);

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    const bool exited = installer.Exited();
    CHECK(exited && installer.ExitCode() == 0, L"closing the window ends the program with 0 (" +
                                                   std::to_wstring(installer.ExitCode()) + L")");
}
