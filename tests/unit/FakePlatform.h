// A platform and a window that answer from a script, record what they are asked, and fail any
// named operation on request.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace fake {

using platform::Text;

// What the fakes were asked, in order, as one log shared by the platform and the window.
using EventLog = std::vector<std::string>;

inline std::string Narrow(const Text& text) {
    return std::string(text.begin(), text.end());
}

class FakePlatform : public platform::Platform {
public:
    explicit FakePlatform(EventLog& log) : log_(log) {}

    // The script.
    std::string systemDirectory = "C:\\Windows\\system32";
    bool systemDirectoryQueryFails = false;
    bool hasIsWow64Process = true;
    std::int32_t wow64Flag = 0;
    std::int32_t isWow64ProcessResult = 1;
    Text programFolder = L"C:\\Tools";
    std::set<std::string> failing;  // operations that throw

    // What was asked.
    std::vector<std::uint32_t> systemDirectorySizes;
    std::vector<std::string> moduleNames;
    std::vector<std::string> procNames;
    int isWow64ProcessCalls = 0;

    // Behaves as Windows does: the length without the NUL, 0 on failure, or the size needed
    // (NUL included) when the buffer is too small, which is then left as it was.
    std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) override {
        systemDirectorySizes.push_back(size);
        if (systemDirectoryQueryFails) {
            return 0;
        }
        const auto length = static_cast<std::uint32_t>(systemDirectory.size());
        if (length >= size) {
            return length + 1;
        }
        std::memcpy(buffer, systemDirectory.c_str(), length + 1);
        return length;
    }
    platform::ModuleHandle GetModuleHandleA(const char* moduleName) override {
        moduleNames.push_back(moduleName);
        return std::string(moduleName) == "kernel32" ? &kernel32_ : nullptr;
    }
    platform::ProcAddress GetProcAddress(platform::ModuleHandle module,
                                         const char* procName) override {
        procNames.push_back(procName);
        if (module == &kernel32_ && hasIsWow64Process &&
            std::string(procName) == "IsWow64Process") {
            return &IsWow64ProcessEntry;
        }
        return nullptr;
    }
    platform::ProcessHandle GetCurrentProcess() override { return &currentProcess_; }
    std::int32_t IsWow64Process(platform::ProcAddress entry, platform::ProcessHandle process,
                                std::int32_t* flag) override {
        ++isWow64ProcessCalls;
        // Only the entry point GetProcAddress handed out, for this process, and a cleared flag.
        if (entry != &IsWow64ProcessEntry || process != &currentProcess_ || *flag != 0) {
            throw std::logic_error("IsWow64Process called wrongly");
        }
        *flag = wow64Flag;
        return isWow64ProcessResult;
    }
    // Latin-1 stands in for the ANSI code page.
    Text FromAnsiCodePage(const std::string& ansi) override {
        Text text;
        for (const char c : ansi) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(c));
        }
        return text;
    }

    Text GetProgramFolder() override {
        Record("GetProgramFolder", "");
        return programFolder;
    }
    void CopyFileReplacing(const Text& source, const Text& destination) override {
        Record("CopyFileReplacing", Narrow(source) + " -> " + Narrow(destination));
    }
    void StartCommandLine(const Text& commandLine, int windowStyle) override {
        Record("StartCommandLine", Narrow(commandLine) + " /" + std::to_string(windowStyle));
    }

private:
    static void IsWow64ProcessEntry() {}

    void Record(const std::string& operation, const std::string& arguments) {
        if (failing.count(operation) != 0) {
            log_.push_back(operation + " failed");
            throw platform::Failure(L"Could not " + Text(operation.begin(), operation.end()),
                                    operation, 2);
        }
        log_.push_back(arguments.empty() ? operation : operation + " " + arguments);
    }

    EventLog& log_;
    int kernel32_ = 0;
    int currentProcess_ = 0;
};

class FakeWindow : public platform::Window {
public:
    FakeWindow(EventLog& log, const platform::FormDescription& form) : log_(log) {
        for (const platform::ControlDescription& control : form.controls) {
            captions_[control.id] = control.text;
            values_[control.id] = 0;
        }
    }

    Text Caption(platform::ControlId control) const override { return captions_.at(control); }
    void SetCaption(platform::ControlId control, const Text& caption) override {
        log_.push_back("SetCaption " + Narrow(caption));
        captions_.at(control) = caption;
    }
    int Value(platform::ControlId control) const override { return values_.at(control); }
    void SetValue(platform::ControlId control, int value) { values_.at(control) = value; }

private:
    EventLog& log_;
    std::map<platform::ControlId, Text> captions_;
    std::map<platform::ControlId, int> values_;
};

}  // namespace fake
