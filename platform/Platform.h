// The operating-system services that the window's handlers and modOSDetect call, in the
// program's own words. platform/win32 implements them on Windows; the unit tests fake them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Failure.h"
#include "platform/FormLayout.h"

namespace platform {

using Text = std::wstring;

// Opaque stand-ins for HMODULE, HANDLE and FARPROC.
using ModuleHandle = void*;
using ProcessHandle = void*;
using ProcAddress = void (*)();

class Platform {
public:
    virtual ~Platform() = default;

    // kernel32, bound by name when first called, so that a function this Windows lacks does no
    // harm until then. Like the real functions they report nothing: a failure is in the answer.
    virtual std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) = 0;
    virtual ModuleHandle GetModuleHandleA(const char* moduleName) = 0;
    virtual ProcAddress GetProcAddress(ModuleHandle module, const char* procName) = 0;
    virtual ProcessHandle GetCurrentProcess() = 0;
    // Calls the IsWow64Process entry point that GetProcAddress returned.
    virtual std::int32_t IsWow64Process(ProcAddress isWow64Process, ProcessHandle process,
                                        std::int32_t* wow64Flag) = 0;
    // Converts text in the system's ANSI code page, as the A functions return it.
    virtual Text FromAnsiCodePage(const std::string& ansi) = 0;

    // Services that throw Failure when they cannot do their work.
    // The folder that holds the running executable, without a trailing backslash.
    virtual Text GetProgramFolder() = 0;
    // Copies source over destination; the old destination survives any failure unchanged.
    virtual void CopyFileReplacing(const Text& source, const Text& destination) = 0;
    // Starts the system folder's copy of the program named first on the line, without waiting.
    virtual void StartCommandLine(const Text& commandLine, int windowStyle) = 0;
};

// The controls of the one window, as its handlers see them.
class Window {
public:
    virtual ~Window() = default;
    virtual Text Caption(ControlId control) const = 0;
    virtual void SetCaption(ControlId control, const Text& caption) = 0;
    // 0 unchecked, 1 checked.
    virtual int Value(ControlId control) const = 0;
};

// A window's description and handlers; the platform creates the start form, runs Load before it
// shows the window and Click for every click of a push button.
class Form {
public:
    virtual ~Form() = default;
    virtual const FormDescription& Description() const = 0;
    virtual void Load(Window& window) = 0;
    virtual void Click(ControlId control, Window& window) = 0;
};

// The start object, defined by the program's window; the platform calls it once at start.
std::unique_ptr<Form> CreateStartForm(Platform& platform);

}  // namespace platform
