// modOSDetect: works out the target folder from the system folder and the WOW64 answer.
#include "osdetect/modOSDetect.h"

#include <string>

namespace modOSDetect {

namespace {

constexpr std::uint32_t kQueryBufferSize = 255;

}  // namespace

Text GetTargetFolder(platform::Platform& platform) {
    std::string buffer(kQueryBufferSize, '\0');
    std::uint32_t length =
        platform.GetSystemDirectoryA(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    // An answer as large as the buffer is the size Windows needs, NUL included; the buffer was
    // not written. Ask again with that size (and again, should the folder grow meanwhile).
    while (length >= buffer.size()) {
        buffer.assign(length, '\0');
        length =
            platform.GetSystemDirectoryA(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    }
    Text folder = platform.FromAnsiCodePage(buffer.substr(0, length));
    if (DetectWow64(platform)) {
        folder = RewriteToSysWow64(folder);
    }
    return folder + L"\\";
}

bool DetectWow64(platform::Platform& platform) {
    const platform::ModuleHandle kernel32 = platform.GetModuleHandleA("kernel32");
    const platform::ProcAddress isWow64Process =
        platform.GetProcAddress(kernel32, "IsWow64Process");
    if (isWow64Process == nullptr) {
        return false;
    }
    // The flag alone decides; the call's own result says nothing the flag does not.
    std::int32_t wow64Flag = 0;
    platform.IsWow64Process(isWow64Process, platform.GetCurrentProcess(), &wow64Flag);
    return wow64Flag != 0;
}

Text RewriteToSysWow64(const Text& text) {
    static const Text kFrom = L"system32";
    static const Text kTo = L"SYSWOW64";
    Text result;
    std::size_t start = 0;
    for (std::size_t match = text.find(kFrom); match != Text::npos;
         match = text.find(kFrom, start)) {
        result.append(text, start, match - start).append(kTo);
        start = match + kFrom.size();
    }
    return result.append(text, start, Text::npos);
}

}  // namespace modOSDetect
