// The installer's window on Win32: class, controls, layout at the monitor's DPI, dialog-style
// keyboard navigation, and the boundary where a failing handler is reported.
#include "platform/win32/Win32Window.h"

#include <commctrl.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "platform/win32/RuntimeBinding.h"
#include "platform/win32/Win32Error.h"

namespace win32 {

namespace {

using platform::ControlKind;

constexpr wchar_t kClassName[] = L"VelkraInstallerWindow";
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kWindowExStyle = 0;
constexpr int kIconResource = 1;
// The dialog font: "MS Shell Dlg 2" is Tahoma on every Windows since 2000.
constexpr wchar_t kFontFace[] = L"MS Shell Dlg 2";
constexpr int kFontPoints = 8;
constexpr int kPointsPerInch = 72;
// Newer than the Windows 2000 headers the installer is built against: the message comes with
// Windows 8.1's per-monitor DPI, and 96 is the DPI every Windows lays out for by default.
constexpr UINT kWmDpiChanged = 0x02E0;
constexpr UINT kDefaultDpi = 96;

// The DPI of the window's monitor (Windows 10 1607 and later); before that, the system DPI.
UINT WindowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT WINAPI(HWND);
    static const auto getDpiForWindow =
        BindFunction<GetDpiForWindowFunction>(L"user32", "GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) {
            return dpi;
        }
    }
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

// The window rectangle around a client area, with the frame drawn for the given DPI.
RECT WindowRectForClientArea(int width, int height, UINT dpi) {
    using AdjustWindowRectExForDpiFunction = BOOL WINAPI(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi =
        BindFunction<AdjustWindowRectExForDpiFunction>(L"user32", "AdjustWindowRectExForDpi");
    RECT rect = {0, 0, width, height};
    if (adjustForDpi != nullptr) {
        adjustForDpi(&rect, kWindowStyle, FALSE, kWindowExStyle, dpi);
    } else {
        ::AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
    }
    return rect;
}

const wchar_t* WindowClassOf(ControlKind kind) {
    return kind == ControlKind::Label ? L"STATIC" : L"BUTTON";
}

DWORD StyleOf(const platform::ControlDescription& control) {
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    switch (control.kind) {
        case ControlKind::Label:
            // One line that never wraps; paths may hold '&', which is no mnemonic here.
            return kChild | SS_LEFTNOWORDWRAP | SS_NOPREFIX;
        case ControlKind::CheckBox:
            return kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
        case ControlKind::PushButton:
            return kChild | WS_TABSTOP | (control.defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    }
    return kChild;
}

}  // namespace

void LoadCommonControls() {
    // Windows 2000 has no side-by-side assemblies, and so no activation contexts: it ignores the
    // manifest, and its user32 draws the controls with classes of its own.
    if (BindFunction<BOOL WINAPI(HANDLE*)>(L"kernel32", "GetCurrentActCtx") == nullptr) {
        return;
    }
    // From XP on, the manifest's activation context redirects "Button" and "Static", in the
    // window and in a message box alike, to classes of Common Controls 6. From Vista on user32
    // loads the DLL when it first needs one; XP's does not, and the control is not made. The bare
    // name is resolved through the activation context to the system's assembly, ahead of the
    // DLL search, so a comctl32.dll beside the installer is never taken. It stays loaded.
    const HMODULE commonControls = ::LoadLibraryW(L"comctl32.dll");
    if (commonControls == nullptr) {
        ThrowLastError(L"Could not create the installer's window.", "LoadLibraryW");
    }
    // Newer than the Windows 2000 headers: Common Controls 6's Button, Static and the other
    // standard classes.
    constexpr DWORD kIccStandardClasses = 0x00004000;
    const INITCOMMONCONTROLSEX classes = {sizeof(classes), kIccStandardClasses};
    // It answers FALSE on XP before SP2, whose Common Controls 6 registers them as it loads.
    const auto initCommonControlsEx = BindFunction<BOOL WINAPI(const INITCOMMONCONTROLSEX*)>(
        commonControls, "InitCommonControlsEx");
    if (initCommonControlsEx != nullptr) {
        initCommonControlsEx(&classes);
    }
}

Win32Window::~Win32Window() {
    if (window_ != nullptr) {
        // Detached first: a window torn down by a failure must not post WM_QUIT, which would
        // close the message box that reports the failure.
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
}

int Win32Window::Run(HINSTANCE instance, int showCommand) {
    const platform::FormDescription& description = form_.Description();

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
    windowClass.hIconSm = static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                     ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExW(&windowClass) == 0) {
        ThrowLastError(L"Could not create the installer's window.", "RegisterClassExW");
    }
    // Windows picks the first position; the size follows once the DPI is known.
    if (::CreateWindowExW(kWindowExStyle, kClassName, description.title, kWindowStyle,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                          nullptr, instance, this) == nullptr) {
        ThrowLastError(L"Could not create the installer's window.", "CreateWindowExW");
    }

    // Created in tab order: a window's tab order is the Z order of its children.
    for (const platform::ControlDescription& control : platform::InTabOrder(description)) {
        const HWND child = ::CreateWindowExW(
            0, WindowClassOf(control.kind), control.text, StyleOf(control), 0, 0, 0, 0, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
        if (child == nullptr) {
            ThrowLastError(L"Could not create the installer's window.", "CreateWindowExW");
        }
        controls_.push_back({control, child});
    }
    const UINT dpi = WindowDpi(window_);
    ApplyDpi(dpi);
    SizeToClientArea(dpi);

    form_.Load(*this);

    ::ShowWindow(window_, showCommand);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab, Enter, Space and the arrows work as in a dialog box.
        if (window_ == nullptr || !::IsDialogMessageW(window_, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return exitCode_;
}

platform::Text Win32Window::Caption(platform::ControlId id) const {
    const HWND control = Find(id).window;
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

void Win32Window::SetCaption(platform::ControlId id, const platform::Text& caption) {
    const Control& control = Find(id);
    if (!::SetWindowTextW(control.window, caption.c_str())) {
        const DWORD error = ::GetLastError();
        throw platform::Failure(L"Could not show \"" + caption + L"\" in the installer's window.",
                                "SetWindowTextW", error);
    }
    if (control.description.autoSize) {
        FitLabelToText(control);
    }
}

int Win32Window::Value(platform::ControlId id) const {
    return ::SendMessageW(Find(id).window, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

LRESULT CALLBACK Win32Window::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    // No exception may unwind into Windows: a failing handler is reported here and ends the
    // program.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        ReportUnhandledError(::IsWindowVisible(window) ? window : nullptr,
                             self->form_.Description().title);
        self->EndAfterFailure();
        return 0;
    }
}

LRESULT Win32Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(wParam);
            return 0;
        case WM_ACTIVATE:
            OnActivate(wParam);
            return 0;
        case kWmDpiChanged:
            OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case DM_GETDEFID: {
            // IsDialogMessage asks for the default button when Enter is pressed.
            const HWND button = DefaultButton();
            return button != nullptr ? MAKELRESULT(::GetDlgCtrlID(button), DC_HASDEFID) : 0;
        }
        case WM_DESTROY:
            ::PostQuitMessage(exitCode_);
            return 0;
        case WM_NCDESTROY: {
            const HWND window = std::exchange(window_, nullptr);
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        default:
            return ::DefWindowProcW(window_, message, wParam, lParam);
    }
}

void Win32Window::OnCommand(WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) {
        return;
    }
    for (const Control& control : controls_) {
        if (control.description.id == LOWORD(wParam) &&
            control.description.kind == ControlKind::PushButton) {
            form_.Click(control.description.id, *this);
            return;
        }
    }
}

void Win32Window::OnActivate(WPARAM wParam) {
    // As a dialog does: the focus leaves with the window and comes back to the same control,
    // and at first to the first control in tab order.
    if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(window_, focus)) {
            lastFocus_ = focus;
        }
        return;
    }
    HWND focus = lastFocus_;
    if (focus == nullptr) {
        focus = ::GetNextDlgTabItem(window_, nullptr, FALSE);
    }
    if (focus != nullptr) {
        ::SetFocus(focus);
    }
}

void Win32Window::OnDpiChanged(UINT dpi, const RECT& suggested) {
    ::SetWindowPos(window_, nullptr, suggested.left, suggested.top,
                   suggested.right - suggested.left, suggested.bottom - suggested.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyDpi(dpi);
}

void Win32Window::EndAfterFailure() {
    exitCode_ = 1;
    if (window_ != nullptr) {
        ::DestroyWindow(window_);
    }
}

void Win32Window::ApplyDpi(UINT dpi) {
    UniqueFont font(::CreateFontW(-::MulDiv(kFontPoints, static_cast<int>(dpi), kPointsPerInch), 0,
                                  0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, kFontFace));
    // GDI sets no error code when it fails.
    if (!font.IsValid()) {
        throw platform::Failure(L"Could not create the font of the installer's window.",
                                "CreateFontW");
    }
    for (const Control& control : controls_) {
        ::SendMessageW(control.window, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
        const platform::PixelRect rect =
            platform::TwipsToPixels(control.description.rect, static_cast<int>(dpi));
        ::SetWindowPos(control.window, nullptr, rect.left, rect.top, rect.width, rect.height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // Every control holds the new font now, so the old one can go.
    font_ = std::move(font);
    for (const Control& control : controls_) {
        if (control.description.autoSize) {
            FitLabelToText(control);
        }
    }
}

void Win32Window::SizeToClientArea(UINT dpi) {
    const platform::FormDescription& description = form_.Description();
    const RECT rect = WindowRectForClientArea(
        platform::TwipsToPixels(description.clientWidth, static_cast<int>(dpi)),
        platform::TwipsToPixels(description.clientHeight, static_cast<int>(dpi)), dpi);
    ::SetWindowPos(window_, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::FitLabelToText(const Control& control) {
    const std::wstring text = Caption(control.description.id);
    const WindowDcWithFont dc(control.window, font_.Get());
    SIZE extent = {};
    TEXTMETRICW metrics = {};
    // None of the three sets an error code when it fails.
    const char* failed = nullptr;
    if (dc.Get() == nullptr) {
        failed = "GetDC";
    } else if (!::GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()),
                                        &extent)) {
        failed = "GetTextExtentPoint32W";
    } else if (!::GetTextMetricsW(dc.Get(), &metrics)) {
        failed = "GetTextMetricsW";
    }
    if (failed != nullptr) {
        throw platform::Failure(L"Could not measure \"" + text + L"\" in the installer's window.",
                                failed);
    }
    ::SetWindowPos(control.window, nullptr, 0, 0, extent.cx, metrics.tmHeight,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

const Win32Window::Control& Win32Window::Find(platform::ControlId id) const {
    for (const Control& control : controls_) {
        if (control.description.id == id) {
            return control;
        }
    }
    throw std::logic_error("the window has no control " + std::to_string(id));
}

HWND Win32Window::DefaultButton() const {
    for (const Control& control : controls_) {
        if (control.description.defaultButton) {
            return control.window;
        }
    }
    return nullptr;
}

}  // namespace win32
