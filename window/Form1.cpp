// Form1: the window's description as data, and its two handlers.
#include "window/Form1.h"

#include "osdetect/modOSDetect.h"

using platform::ControlKind;
using platform::Text;

namespace {

constexpr int kCheckBoxChecked = 1;
constexpr int kShowNormal = 1;  // SW_SHOWNORMAL: a normal, activated window
constexpr const wchar_t* kLibraryName = L"dx8vb.dll";
constexpr const wchar_t* kRegistrationCommand = L"regsvr32.exe dx8vb.dll";

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// "C:\..." or "\\server\share\...", ending in a backslash. Anything else (the lone backslash a
// failed system-folder query leaves, a relative path) would resolve against the current drive
// or folder.
bool IsFullFolderPath(const Text& folder) {
    if (folder.empty() || folder.back() != L'\\') {
        return false;
    }
    if (folder.size() >= 3 && IsAsciiLetter(folder[0]) && folder[1] == L':' && folder[2] == L'\\') {
        return true;
    }
    if (folder.compare(0, 2, L"\\\\") != 0) {
        return false;
    }
    const std::size_t serverEnd = folder.find(L'\\', 2);
    if (serverEnd == Text::npos || serverEnd == 2) {
        return false;
    }
    const std::size_t shareEnd = folder.find(L'\\', serverEnd + 1);
    return shareEnd != Text::npos && shareEnd > serverEnd + 1;
}

}  // namespace

const platform::FormDescription& Form1::Description() const {
    // Twips: at 96 DPI, 15 twips make one pixel.
    static const platform::FormDescription kForm1 = {
        L"Velkra Installer",
        4545,
        1335,
        {
            // id, kind, text, {left, top, width, height}, tab index, auto-size, default
            {kLblStatus, ControlKind::Label, L"Label1", {120, 120, 480, 195}, 1, true, false},
            {kChkForce,
             ControlKind::CheckBox,
             L"Force 64 bit Install (If path above shows system32)",
             {120, 360, 4215, 255},
             2,
             false,
             false},
            {kCommand1, ControlKind::PushButton, L"Install", {120, 720, 4335, 495}, 0, false, true},
        },
    };
    return kForm1;
}

void Form1::Click(platform::ControlId control, platform::Window& window) {
    if (control == kCommand1) {
        Command1_Click(window);
    }
}

void Form1::Form_Load(platform::Window& window) {
    window.SetCaption(kLblStatus, modOSDetect::GetTargetFolder(platform_));
}

void Form1::Command1_Click(platform::Window& window) {
    if (window.Value(kChkForce) == kCheckBoxChecked) {
        window.SetCaption(kLblStatus, modOSDetect::RewriteToSysWow64(window.Caption(kLblStatus)));
    }
    const Text programFolder = platform_.GetProgramFolder();
    const Text target = window.Caption(kLblStatus);
    if (!IsFullFolderPath(target)) {
        throw platform::Failure(
            L"The system folder could not be determined, so there is no "
            L"folder to install dx8vb.dll into: \"" +
            target + L"\" is not a full folder path.");
    }
    const Text destination = target + kLibraryName;
    const Text source = programFolder + L"\\" + kLibraryName;
    platform_.CopyFileReplacing(source, destination);
    // regsvr32 finds the library by its bare name: the system folder is its own folder.
    platform_.StartCommandLine(kRegistrationCommand, kShowNormal);
}

namespace platform {

// The start object: the platform creates it and runs its window.
std::unique_ptr<Form> CreateStartForm(Platform& platform) {
    return std::make_unique<Form1>(platform);
}

}  // namespace platform
