// Presses Install as a user would, and checks what follows: the failure report or the success.
#include "Probe.h"

#include <cstdio>
#include <utility>

namespace {

// What a successful Install leaves, once Install is done: a new check of it goes here.
void CheckSuccess(const Installer& installer, const InstallOptions& options,
                  const std::wstring& runningCopy) {
    ::Sleep(500);  // whatever a failure would show has had its time by now
    const HWND box = installer.FindTopLevel(L"", L"#32770");
    CHECK(box == nullptr, L"no message box" + (box ? L": " + MessageBoxText(box) : L""));
    CHECK(::IsWindowVisible(installer.window) && installer.ExitCode() == STILL_ACTIVE,
          L"the window stays open");
    CHECK(TextOf(installer.label) == options.expectLabel,
          L"the label reads " + TextOf(installer.label));
    if (!runningCopy.empty()) {
        CHECK(::DeleteFileW(runningCopy.c_str()) != 0,
              L"Install left " + runningCopy + L", the copy of an installer that still runs");
    }
    if (!options.shot.empty()) {
        SaveScreenshot(installer, box != nullptr ? box : installer.window,
                       options.shot.substr(0, options.shot.size() - 4) + L"-after.bmp");
    }
    // A regsvr32 slowed by a busy machine would otherwise register what the next test installs.
    CHECK(WaitFor([&] { return ChildrenOf(installer.process.dwProcessId).empty(); }),
          L"what Install started has ended");
}

}  // namespace

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
    if (installer.checkBox == nullptr)
        return;
    const HWND window = installer.window, command1 = installer.command1, label = installer.label,
               checkBox = installer.checkBox;
    const std::wstring labelBefore = TextOf(label);
    std::wprintf(L"label: %ls\n", labelBefore.c_str());
    if (!CHECK(WaitFor([&] { return installer.Focus() == command1; }),
               L"the focus is on Install") ||
        !CHECK(BringToFront(window), L"the window is in front")) {
        return;
    }
    if (!options.shot.empty()) {
        SaveScreenshot(installer, window, options.shot);
    }

    const long long sizeBefore = FileSize(options.waitFor);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (!options.hold.empty() && !holdPatched) {
        held = ::CreateFileW(options.hold.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        CHECK(held != INVALID_HANDLE_VALUE, L"holding " + options.hold + L" open");
    }
    if (options.force) {
        PressKey(VK_TAB);
        PressKey(VK_SPACE);
        CHECK(WaitFor([&] { return ::SendMessageW(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }),
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
        CHECK(WaitFor([&] { return (box = installer.FindTopLevel(L"", L"#32770")) != nullptr; }),
              L"a message box reports the failure");
        const ULONGLONG reportMs = ::GetTickCount64() - clicked;
        if (options.reportWithinMs != INFINITE) {
            CHECK(reportMs <= options.reportWithinMs,
                  L"it came " + std::to_wstring(reportMs) + L" ms after the click");
        }
        if (box != nullptr) {
            const std::wstring text = MessageBoxText(box);
            std::wprintf(L"message box:\n%ls", text.c_str());
            // A program the installer started before it failed still runs now, or has done its
            // work (regsvr32 has registered the library).
            const std::wstring started = ChildrenOf(installer.process.dwProcessId);
            CHECK(started.empty(), L"the installer started no program" +
                                       (started.empty() ? L"" : L": it started " + started));
            CHECK(TextOf(box) == kTitle, L"the message box is titled " + std::wstring(kTitle));
            CHECK(::GetWindow(box, GW_OWNER) == window, L"the message box belongs to the window");
            if (!options.expectLabel.empty()) {
                CHECK(TextOf(label) == options.expectLabel, L"the label reads " + TextOf(label));
            }
            for (const std::wstring& expected : options.expectFailure) {
                CHECK(text.find(expected) != std::wstring::npos, L"the message names " + expected);
            }
            for (const std::wstring& unexpected : options.failureWithout) {
                CHECK(text.find(unexpected) == std::wstring::npos,
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
        CHECK(exited && installer.ExitCode() == 1, L"dismissing it ends the program with 1 (" +
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
            CHECK(answered && !running.empty(),
                  L"the window answers while " + running + L" registers the library");
            ::SetEvent(registrationGate);
        }
        // A failure report ends the wait: nothing more will come.
        WaitFor([&] {
            return FileSize(options.waitFor) != sizeBefore ||
                   installer.FindTopLevel(L"", L"#32770") != nullptr;
        });
        CHECK(FileSize(options.waitFor) != sizeBefore, L"Install made " + options.waitFor);
        for (int click = 2; click <= options.clicks; ++click) {
            ::Sleep(500);  // what the last Install started has written what it writes
            const long long size = FileSize(options.waitFor);
            BringToFront(window);
            PressKey(VK_RETURN);
            CHECK(WaitFor([&] { return FileSize(options.waitFor) != size; }),
                  L"Install pressed again, " + std::to_wstring(click) + L" times in all");
        }
        CheckSuccess(installer, options, runningCopy);
        if (options.keepOpen) {
            std::wprintf(L"The window stays open until you close it.\n");
            std::fflush(stdout);
            installer.Exited(INFINITE);
        } else {
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        }
        const bool exited = installer.Exited();
        CHECK(exited && installer.ExitCode() == 0,
              L"the program ends with 0 when its window closes");
    }
    if (held != INVALID_HANDLE_VALUE) {
        ::CloseHandle(held);
    }
    if (registrationGate != nullptr) {
        ::CloseHandle(registrationGate);
    }
}
