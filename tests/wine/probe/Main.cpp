// velkra_probe's entry point: its modes, and install's options in one table for parser and usage.
#include "Probe.h"

#include <algorithm>
#include <cstdio>

namespace {

// An option of install: its name, its value's (none for a switch), how it sets the options, and
// what it does, for the usage.
struct Option {
    const wchar_t* name;
    const wchar_t* value;
    void (*set)(InstallOptions& options, const std::wstring& value);
    const wchar_t* help;
};

const Option kOptions[] = {
    {L"--force", nullptr, [](auto& options, auto&) { options.force = true; },
     L"checks the box first (Tab, Space); Enter presses Install"},
    {L"--hold", L"FILE", [](auto& options, auto& value) { options.hold = value; },
     L"holds FILE open sharing nothing; new-copy, folder: installer_patches"},
    {L"--deny", L"WHAT", [](auto& options, auto& value) { options.deny = value; },
     L"Windows denies creating the copy (copy), or replacing (replace)"},
    {L"--release-after", L"MS",
     [](auto& options, auto& value) { options.releaseAfterMs = std::stoul(value); },
     L"lets go of the held FILE MS milliseconds after the click"},
    {L"--block-registration", nullptr,
     [](auto& options, auto&) { options.blockRegistration = true; },
     L"success: regsvr32 registers once the window answers meanwhile"},
    {L"--running-copy", L"FILE", [](auto& options, auto& value) { options.runningCopy = value; },
     L"success: FILE.<the probe's id>.tmp, a running one's copy, stays"},
    {L"--wait-for", L"FILE", [](auto& options, auto& value) { options.waitFor = value; },
     L"success needs it: Install is done once FILE appears or changes in size"},
    {L"--clicks", L"N", [](auto& options, auto& value) { options.clicks = std::stoi(value); },
     L"success: presses Install N times in all, the later ones with Enter"},
    {L"--expect-label", L"TEXT", [](auto& options, auto& value) { options.expectLabel = value; },
     L"success needs it: the label reads TEXT exactly, case too, after Install"},
    {L"--expect-failure", L"T",
     [](auto& options, auto& value) { options.expectFailure.push_back(value); },
     L"failure: a message box names T (repeatable); nothing started"},
    {L"--expect-failure-without", L"T",
     [](auto& options, auto& value) { options.failureWithout.push_back(value); },
     L"failure: the message box does not name T"},
    {L"--report-within", L"MS",
     [](auto& options, auto& value) { options.reportWithinMs = std::stoul(value); },
     L"failure: the message box comes within MS ms of the click"},
    {L"--shot", L"FILE.bmp", [](auto& options, auto& value) { options.shot = value; },
     L"pictures of the window before Install and after (FILE-after.bmp)"},
    {L"--keep-open", nullptr, [](auto& options, auto&) { options.keepOpen = true; },
     L"leaves the window to the user and waits for it to close"},
    {L"--attach", nullptr, [](auto& options, auto&) { options.attach = true; },
     L"works on an installer started by someone else"},
};

// Prints the modes and the table's options as the usage, to stderr; the exit code for that.
int Usage() {
    std::fputws(
        L"usage: velkra_probe window <installer.exe> <dpi> <expected label>   checks the window\n"
        L"       velkra_probe desktop   holds the session's desktop open, and says once it is up\n"
        L"       velkra_probe install (<installer.exe> | --attach) [options]  presses Install\n",
        stderr);
    for (const Option& option : kOptions) {
        const std::wstring value = option.value == nullptr ? L"" : option.value;
        std::fwprintf(stderr, L"    %-26ls %ls\n", (option.name + (L" " + value)).c_str(),
                      option.help);
    }
    std::fputws(
        L"Without --expect-failure, install expects success, and needs --wait-for and "
        L"--expect-label.\n"
        L"Prints \"ok: ...\" and \"FAIL: file:line: ...\" lines and a count; exits 1 "
        L"on a failure.\n",
        stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Coordinates as the per-monitor aware installer has them, not scaled for an unaware caller.
    const auto setAwareness =
        win32::BindFunction<BOOL WINAPI(HANDLE)>(L"user32", "SetProcessDpiAwarenessContext");
    if (setAwareness == nullptr || !setAwareness(reinterpret_cast<HANDLE>(-4))) {
        ::SetProcessDPIAware();
    }
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == L"desktop") {
        // Wine closes a desktop, and ends its explorer.exe, a second after its last program
        // ends, and the next program to show a window starts explorer.exe anew: seconds, under
        // emulation. On Windows the shell keeps it open throughout. Without a display Wine makes
        // a desktop but no other window, and says why on its err channel.
        DWORD explorer = 0;
        if (::GetWindowThreadProcessId(::GetDesktopWindow(), &explorer) == 0 ||
            !::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                               nullptr))
            return 1;
        std::wprintf(L"the desktop is up, explorer.exe is process %lu\n", explorer);
        std::fflush(stdout);
        ::Sleep(INFINITE);
    }
    if (args.size() == 4 && args[0] == L"window") {
        CheckWindow(args[1], std::stoi(args[2]), args[3]);
        return Finish();
    }
    if (!args.empty() && args[0] == L"install") {
        InstallOptions options;
        for (size_t i = 1; i < args.size(); ++i) {
            const Option* option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                                [&](const Option& o) { return args[i] == o.name; });
            if (option != std::end(kOptions) && (option->value == nullptr || i + 1 < args.size())) {
                option->set(options, option->value == nullptr ? L"" : args[++i]);
            } else if (args[i].rfind(L"--", 0) != 0 && options.installer.empty()) {
                options.installer = args[i];
            } else {
                std::fwprintf(stderr, L"unknown option %ls\n", args[i].c_str());
                return Usage();
            }
        }
        // Success has nothing to wait for or compare against without them: the usage says so.
        if (options.expectFailure.empty() &&
            (options.waitFor.empty() || options.expectLabel.empty())) {
            return Usage();
        }
        CheckInstall(options);
        return Finish();
    }
    return Usage();
}
