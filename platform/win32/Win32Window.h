// The one top-level window: built from a form's description, laid out in twips at the DPI of
// its monitor, with a form's handlers behind it.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Handles.h"

namespace win32 {

// Registers the Common Controls 6 classes that the manifest has Windows draw every control with,
// where Windows does not load them itself. Call before the first window, after LimitDllSearch.
void LoadCommonControls();

class Win32Window : public platform::Window {
public:
    explicit Win32Window(platform::Form& form) : form_(form) {}
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;
    ~Win32Window() override;

    // Creates the window, runs the form's load handler, shows the window and runs its messages
    // until it closes. Returns the program's exit code: 0, or 1 after a reported failure.
    int Run(HINSTANCE instance, int showCommand);

    platform::Text Caption(platform::ControlId control) const override;
    void SetCaption(platform::ControlId control, const platform::Text& caption) override;
    int Value(platform::ControlId control) const override;

private:
    struct Control {
        platform::ControlDescription description;
        HWND window;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    void OnCommand(WPARAM wParam);
    void OnActivate(WPARAM wParam);
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void EndAfterFailure();

    void ApplyDpi(UINT dpi);
    void SizeToClientArea(UINT dpi);
    void FitLabelToText(const Control& control);
    const Control& Find(platform::ControlId id) const;
    HWND DefaultButton() const;

    platform::Form& form_;
    HWND window_ = nullptr;
    std::vector<Control> controls_;
    UniqueFont font_;
    HWND lastFocus_ = nullptr;
    int exitCode_ = 0;
};

}  // namespace win32
