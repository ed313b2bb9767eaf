// The program's entry: limits the DLL search, loads the controls, runs the start form's window.
#include <windows.h>

#include <memory>

#include "platform/win32/Win32Error.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Before anything can load a DLL by name.
    win32::LimitDllSearch();

    win32::Win32Platform platform;
    std::unique_ptr<platform::Form> form;
    try {
        win32::LoadCommonControls();
        form = platform::CreateStartForm(platform);
        win32::Win32Window window(*form);
        return window.Run(instance, showCommand);
    } catch (...) {
        // The window is gone (or never came) when a failure gets here: at start or while the
        // form loaded. The report has no owner.
        win32::ReportUnhandledError(nullptr,
                                    form ? form->Description().title : L"Velkra Installer");
        return 1;
    }
}
