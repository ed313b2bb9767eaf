// modOSDetect over scripted kernel32 answers.
#include "osdetect/modOSDetect.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"

namespace {

using modOSDetect::RewriteToSysWow64;
using platform::Text;

TEST(RewriteToSysWow64, ReplacesEveryExactCaseSensitiveMatch) {
    const struct {
        Text text;
        Text expected;
    } cases[] = {
        {L"C:\\Windows\\system32", L"C:\\Windows\\SYSWOW64"},
        {L"C:\\WINDOWS\\SYSTEM32", L"C:\\WINDOWS\\SYSTEM32"},
        {L"C:\\Windows\\System32", L"C:\\Windows\\System32"},
        {L"D:\\system32\\old\\system32", L"D:\\SYSWOW64\\old\\SYSWOW64"},
        {L"system32system32", L"SYSWOW64SYSWOW64"},
        {L"system3system32", L"system3SYSWOW64"},
        {L"C:\\Windows\\system3", L"C:\\Windows\\system3"},
        {L"system32", L"SYSWOW64"},
        {L"", L""},
        {L"\\", L"\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RewriteToSysWow64(c.text), c.expected) << fake::Narrow(c.text);
    }
}

struct TargetFolderCase {
    const char* name;
    std::string systemDirectory;
    bool queryFails;
    bool hasIsWow64Process;
    std::int32_t wow64Flag;
    Text expected;
};

TEST(GetTargetFolder, FollowsTheSystemFolderAndTheWow64Answer) {
    const TargetFolderCase cases[] = {
        {"32-bit Windows", "C:\\WINDOWS\\system32", false, true, 0, L"C:\\WINDOWS\\system32\\"},
        {"WOW64", "C:\\Windows\\system32", false, true, 1, L"C:\\Windows\\SYSWOW64\\"},
        {"WOW64, upper case", "C:\\WINDOWS\\SYSTEM32", false, true, 1, L"C:\\WINDOWS\\SYSTEM32\\"},
        {"WOW64, flag 7", "C:\\Windows\\system32", false, true, 7, L"C:\\Windows\\SYSWOW64\\"},
        {"WOW64, flag -1", "C:\\Windows\\system32", false, true, -1, L"C:\\Windows\\SYSWOW64\\"},
        {"no IsWow64Process", "C:\\Windows\\system32", false, false, 1, L"C:\\Windows\\system32\\"},
        {"failed query", "C:\\Windows\\system32", true, true, 0, L"\\"},
        {"failed query, WOW64", "C:\\Windows\\system32", true, true, 1, L"\\"},
        {"non-ASCII folder", "C:\\Win\xe9\\system32", false, true, 1, L"C:\\Win\u00e9\\SYSWOW64\\"},
    };
    for (const TargetFolderCase& c : cases) {
        fake::EventLog log;
        fake::FakePlatform platform(log);
        platform.systemDirectory = c.systemDirectory;
        platform.systemDirectoryQueryFails = c.queryFails;
        platform.hasIsWow64Process = c.hasIsWow64Process;
        platform.wow64Flag = c.wow64Flag;
        EXPECT_EQ(modOSDetect::GetTargetFolder(platform), c.expected) << c.name;
        EXPECT_EQ(platform.systemDirectorySizes, std::vector<std::uint32_t>{255}) << c.name;
    }
}

TEST(GetTargetFolder, AsksAgainWithTheReportedSizeWhenTheBufferIsTooSmall) {
    for (const std::size_t length : {254u, 255u, 256u, 300u}) {
        fake::EventLog log;
        fake::FakePlatform platform(log);
        platform.systemDirectory = "C:\\" + std::string(length - 12, 'x') + "\\system32";
        ASSERT_EQ(platform.systemDirectory.size(), length);
        const Text expected = platform.FromAnsiCodePage(platform.systemDirectory) + L"\\";
        EXPECT_EQ(modOSDetect::GetTargetFolder(platform), expected) << length;
        if (length < 255) {
            EXPECT_EQ(platform.systemDirectorySizes, std::vector<std::uint32_t>{255});
        } else {
            const std::vector<std::uint32_t> sizes = {255, static_cast<std::uint32_t>(length + 1)};
            EXPECT_EQ(platform.systemDirectorySizes, sizes) << length;
        }
    }
}

TEST(GetTargetFolder, AsksWindowsAfreshOnEveryCall) {
    fake::EventLog log;
    fake::FakePlatform platform(log);
    platform.wow64Flag = 1;
    EXPECT_EQ(modOSDetect::GetTargetFolder(platform), L"C:\\Windows\\SYSWOW64\\");
    EXPECT_EQ(modOSDetect::GetTargetFolder(platform), L"C:\\Windows\\SYSWOW64\\");
    platform.systemDirectory = "D:\\WINNT\\system32";
    platform.wow64Flag = 0;
    EXPECT_EQ(modOSDetect::GetTargetFolder(platform), L"D:\\WINNT\\system32\\");
    EXPECT_EQ(platform.systemDirectorySizes.size(), 3u);
    EXPECT_EQ(platform.isWow64ProcessCalls, 3);
}

TEST(DetectWow64, LooksUpIsWow64ProcessInKernel32AndLetsTheFlagDecide) {
    const struct {
        bool hasIsWow64Process;
        std::int32_t flag;
        std::int32_t callResult;
        bool expected;
        int expectedCalls;
    } cases[] = {
        {true, 0, 1, false, 1}, {true, 1, 1, true, 1},
        {true, 2, 1, true, 1},  {true, 1, 0, true, 1},    // the call's own result is not looked at
        {true, 0, 0, false, 1}, {false, 1, 1, false, 0},  // missing: never called
    };
    for (const auto& c : cases) {
        fake::EventLog log;
        fake::FakePlatform platform(log);
        platform.hasIsWow64Process = c.hasIsWow64Process;
        platform.wow64Flag = c.flag;
        platform.isWow64ProcessResult = c.callResult;
        EXPECT_EQ(modOSDetect::DetectWow64(platform), c.expected) << c.flag << " " << c.callResult;
        EXPECT_EQ(platform.isWow64ProcessCalls, c.expectedCalls);
        EXPECT_EQ(platform.moduleNames, std::vector<std::string>{"kernel32"});
        EXPECT_EQ(platform.procNames, std::vector<std::string>{"IsWow64Process"});
    }
}

}  // namespace
