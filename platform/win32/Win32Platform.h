// The platform operations on the real Windows API.
#pragma once

#include "platform/Platform.h"

namespace win32 {

class Win32Platform : public platform::Platform {
public:
    std::uint32_t GetSystemDirectoryA(char* buffer, std::uint32_t size) override;
    platform::ModuleHandle GetModuleHandleA(const char* moduleName) override;
    platform::ProcAddress GetProcAddress(platform::ModuleHandle module,
                                         const char* procName) override;
    platform::ProcessHandle GetCurrentProcess() override;
    std::int32_t IsWow64Process(platform::ProcAddress isWow64Process,
                                platform::ProcessHandle process, std::int32_t* wow64Flag) override;
    platform::Text FromAnsiCodePage(const std::string& ansi) override;

    platform::Text GetProgramFolder() override;
    void CopyFileReplacing(const platform::Text& source,
                           const platform::Text& destination) override;
    void StartCommandLine(const platform::Text& commandLine, int windowStyle) override;
};

// Limits where this process loads DLLs from as far as this Windows can, so that a DLL planted
// beside the installer (in a downloads folder, say) does not run with its administrator rights.
void LimitDllSearch();

}  // namespace win32
