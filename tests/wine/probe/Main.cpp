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
#include "Probe.h"

#include <cstdio>

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
    std::fwprintf(stderr, L"usage: see the top of tests/wine/probe/Main.cpp\n");
    return 2;
}
