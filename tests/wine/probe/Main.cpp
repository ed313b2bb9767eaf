// velkra_probe's entry point: its modes, and install's options in one table for parser and usage.
#include "Probe.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

namespace {

// Sets the option's field from its value: a switch turns it on, a repeatable one adds a value.
template <auto member>
void Set(InstallOptions& options, const std::wstring& value) {
    auto& field = options.*member;
    using Field = std::remove_reference_t<decltype(field)>;
    if constexpr (std::is_same_v<Field, bool>)
        field = true;
    else if constexpr (std::is_same_v<Field, int>)
        field = std::stoi(value);
    else if constexpr (std::is_same_v<Field, DWORD>)
        field = std::stoul(value);
    else if constexpr (std::is_same_v<Field, std::wstring>)
        field = value;
    else
        field.push_back(value);
}

// An option of install: its name, its value's (none for a switch), how it sets the options, and
// what it does, each line of it a line of the usage.
struct Option {
    const wchar_t* name;
    const wchar_t* value;
    void (*set)(InstallOptions& options, const std::wstring& value);
    const wchar_t* help;
};

const Option kOptions[] = {
    {L"--force", nullptr, Set<&InstallOptions::force>,
     L"checks the box first (Tab, Space) and presses Install with Enter"},
    {L"--hold", L"FILE", Set<&InstallOptions::hold>,
     L"holds FILE open, sharing nothing, while Install runs; FILE new-copy\n"
     L"is the installer's new copy of the library, held from just before\n"
     L"its rename, and FILE folder the target folder, whose renames are\n"
     L"denied, both by installer_patches.dll, which the probe loads into the\n"
     L"installer for this, and for an installer it starts by a \\\\ path"},
    {L"--deny", L"WHAT", Set<&InstallOptions::deny>,
     L"Windows denies the installer creating its copy (WHAT copy), or\n"
     L"replacing the library (replace), through installer_patches.dll"},
    {L"--release-after", L"MS", Set<&InstallOptions::releaseAfterMs>,
     L"lets go of the held FILE MS milliseconds after the click (after\n"
     L"the rename's start, for new-copy and folder)"},
    {L"--block-registration", nullptr, Set<&InstallOptions::blockRegistration>,
     L"success: regsvr32 registers the library only once the window has\n"
     L"answered a message while regsvr32 runs"},
    {L"--running-copy", L"FILE", Set<&InstallOptions::runningCopy>,
     L"success: FILE.<the probe's id>.tmp, the copy of an installer that\n"
     L"still runs, is left where it is"},
    {L"--wait-for", L"FILE", Set<&InstallOptions::waitFor>,
     L"success: Install is done once FILE appears or changes in size"},
    {L"--clicks", L"N", Set<&InstallOptions::clicks>,
     L"success: presses Install N times in all, the later ones with Enter"},
    {L"--expect-label", L"TEXT", Set<&InstallOptions::expectLabel>,
     L"the label reads TEXT after Install; on success the window stays open"},
    {L"--expect-failure", L"T", Set<&InstallOptions::expectFailure>,
     L"failure: a message box names T (repeatable), the installer has\n"
     L"started no program; the program ends"},
    {L"--expect-failure-without", L"T", Set<&InstallOptions::failureWithout>,
     L"failure: the message box does not name T"},
    {L"--report-within", L"MS", Set<&InstallOptions::reportWithinMs>,
     L"failure: the message box comes within MS milliseconds of the click"},
    {L"--shot", L"FILE.bmp", Set<&InstallOptions::shot>,
     L"a picture of the window before Install and of what follows\n"
     L"(FILE-after.bmp); repeatable only once"},
    {L"--keep-open", nullptr, Set<&InstallOptions::keepOpen>,
     L"leaves the window to the user and waits for it to close"},
    {L"--attach", nullptr, Set<&InstallOptions::attach>,
     L"works on an installer started by someone else"},
};

// Prints the modes' lines and the table's as the usage, to stderr; the exit code for that.
int Usage() {
    std::fputws(
        L"usage:\n"
        L"  velkra_probe window  <installer.exe> <dpi> <expected label>\n"
        L"                       checks the window as laid out, and again at 1.5 times dpi\n"
        L"  velkra_probe desktop holds the session's desktop open until the session ends\n"
        L"  velkra_probe install (<installer.exe> | --attach) [options]\n"
        L"                       presses Install as a user would, and checks what follows\n",
        stderr);
    for (const Option& option : kOptions) {
        const std::wstring name =
            option.name + (option.value == nullptr ? L"" : L" " + std::wstring(option.value));
        std::wstring help = option.help;
        for (size_t end = help.find(L'\n'); end != std::wstring::npos;
             end = help.find(L'\n', end + 1)) {
            help.insert(end + 1, 25, L' ');  // under the first line
        }
        std::fwprintf(stderr, L"    %-20ls %ls\n", name.c_str(), help.c_str());
    }
    std::fputws(
        L"Prints \"ok: ...\" and \"FAIL: file:line: ...\" lines and a closing count; exits 1 "
        L"when anything failed.\n",
        stderr);
    return 2;
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
        CheckInstall(options);
        return Finish();
    }
    return Usage();
}
