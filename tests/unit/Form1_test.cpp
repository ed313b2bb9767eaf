// Form1's handlers against the fake platform and window.
#include "window/Form1.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"

namespace {

using platform::Text;

class Form1Test : public ::testing::Test {
protected:
    fake::EventLog log;
    fake::FakePlatform platform{log};
    Form1 form{platform};
    fake::FakeWindow window{log, form.Description()};
};

TEST_F(Form1Test, LoadShowsTheTargetFolderInPlaceOfLabel1) {
    const struct {
        std::string systemDirectory;
        bool queryFails;
        std::int32_t wow64Flag;
        Text expected;
    } cases[] = {
        {"C:\\Windows\\system32", false, 1, L"C:\\Windows\\SYSWOW64\\"},
        {"C:\\WINDOWS\\system32", false, 0, L"C:\\WINDOWS\\system32\\"},
        {"C:\\Windows\\system32", true, 1, L"\\"},
    };
    for (const auto& c : cases) {
        fake::FakeWindow freshWindow(log, form.Description());
        ASSERT_EQ(freshWindow.Caption(Form1::kLblStatus), L"Label1");
        platform.systemDirectory = c.systemDirectory;
        platform.systemDirectoryQueryFails = c.queryFails;
        platform.wow64Flag = c.wow64Flag;
        form.Load(freshWindow);
        EXPECT_EQ(freshWindow.Caption(Form1::kLblStatus), c.expected);
        EXPECT_EQ(freshWindow.Value(Form1::kChkForce), 0);
    }
    // Loading only reads the system: nothing copied, nothing started.
    for (const std::string& event : log) {
        EXPECT_EQ(event.rfind("SetCaption ", 0), 0u) << event;
    }
}

}  // namespace

namespace {

// Install with the label and the box as given: what it did, and the label afterwards.
struct InstallCase {
    Text label;
    int checked;
    Text labelAfter;
    std::string copy;
};

TEST_F(Form1Test, InstallCopiesIntoTheFolderTheLabelShowsAndRegisters) {
    const InstallCase cases[] = {
        {L"C:\\WINDOWS\\system32\\", 0, L"C:\\WINDOWS\\system32\\",
         "C:\\Tools\\dx8vb.dll -> C:\\WINDOWS\\system32\\dx8vb.dll"},
        {L"C:\\Windows\\system32\\", 1, L"C:\\Windows\\SYSWOW64\\",
         "C:\\Tools\\dx8vb.dll -> C:\\Windows\\SYSWOW64\\dx8vb.dll"},
        {L"C:\\Windows\\SYSWOW64\\", 1, L"C:\\Windows\\SYSWOW64\\",
         "C:\\Tools\\dx8vb.dll -> C:\\Windows\\SYSWOW64\\dx8vb.dll"},
        {L"C:\\WINDOWS\\SYSTEM32\\", 1, L"C:\\WINDOWS\\SYSTEM32\\",
         "C:\\Tools\\dx8vb.dll -> C:\\WINDOWS\\SYSTEM32\\dx8vb.dll"},
        {L"\\\\server\\share\\system32\\", 1, L"\\\\server\\share\\SYSWOW64\\",
         "C:\\Tools\\dx8vb.dll -> \\\\server\\share\\SYSWOW64\\dx8vb.dll"},
    };
    for (const InstallCase& c : cases) {
        log.clear();
        window.SetCaption(Form1::kLblStatus, c.label);
        window.SetValue(Form1::kChkForce, c.checked);
        log.clear();
        form.Click(Form1::kCommand1, window);
        EXPECT_EQ(window.Caption(Form1::kLblStatus), c.labelAfter);
        EXPECT_EQ(window.Value(Form1::kChkForce), c.checked) << "the box keeps its state";
        std::vector<std::string> expected;
        if (c.checked == 1) {
            expected.push_back("SetCaption " + fake::Narrow(c.labelAfter));
        }
        expected.insert(expected.end(), {"GetProgramFolder", "CopyFileReplacing " + c.copy,
                                         "StartCommandLine regsvr32.exe dx8vb.dll /1"});
        EXPECT_EQ(log, expected) << fake::Narrow(c.label);
    }
}

TEST_F(Form1Test, SourceIsTheProgramFolderJoinedAsItIs) {
    for (const Text& folder : {Text(L"D:\\Downloads\\Velkra Ünïcødé"), Text(L"\\\\nas\\tools")}) {
        log.clear();
        platform.programFolder = folder;
        window.SetCaption(Form1::kLblStatus, L"C:\\Windows\\system32\\");
        form.Click(Form1::kCommand1, window);
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log[2], "CopyFileReplacing " + fake::Narrow(folder) +
                              "\\dx8vb.dll -> C:\\Windows\\system32\\dx8vb.dll");
    }
}

TEST_F(Form1Test, ForcingIsForGoodAndEveryClickInstallsAgain) {
    window.SetCaption(Form1::kLblStatus, L"C:\\Windows\\system32\\");
    window.SetValue(Form1::kChkForce, 1);
    form.Click(Form1::kCommand1, window);
    window.SetValue(Form1::kChkForce, 0);
    log.clear();
    form.Click(Form1::kCommand1, window);
    EXPECT_EQ(window.Caption(Form1::kLblStatus), L"C:\\Windows\\SYSWOW64\\");
    const std::vector<std::string> expected = {
        "GetProgramFolder",
        "CopyFileReplacing C:\\Tools\\dx8vb.dll -> C:\\Windows\\SYSWOW64\\dx8vb.dll",
        "StartCommandLine regsvr32.exe dx8vb.dll /1"};
    EXPECT_EQ(log, expected);
}

TEST_F(Form1Test, OtherControlsClickingDoNothing) {
    window.SetCaption(Form1::kLblStatus, L"C:\\Windows\\system32\\");
    window.SetValue(Form1::kChkForce, 1);
    log.clear();
    form.Click(Form1::kChkForce, window);
    form.Click(Form1::kLblStatus, window);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(window.Caption(Form1::kLblStatus), L"C:\\Windows\\system32\\");
}

TEST_F(Form1Test, AFailedStepEndsTheInstallAndKeepsWhatWasDone) {
    const struct {
        std::string failing;
        std::vector<std::string> expected;
    } cases[] = {
        {"GetProgramFolder", {"SetCaption C:\\Windows\\SYSWOW64\\", "GetProgramFolder failed"}},
        {"CopyFileReplacing",
         {"SetCaption C:\\Windows\\SYSWOW64\\", "GetProgramFolder", "CopyFileReplacing failed"}},
        {"StartCommandLine",
         {"SetCaption C:\\Windows\\SYSWOW64\\", "GetProgramFolder",
          "CopyFileReplacing C:\\Tools\\dx8vb.dll -> C:\\Windows\\SYSWOW64\\dx8vb.dll",
          "StartCommandLine failed"}},
    };
    for (const auto& c : cases) {
        window.SetCaption(Form1::kLblStatus, L"C:\\Windows\\system32\\");
        window.SetValue(Form1::kChkForce, 1);
        log.clear();
        platform.failing = {c.failing};
        EXPECT_THROW(form.Click(Form1::kCommand1, window), platform::Failure) << c.failing;
        EXPECT_EQ(log, c.expected) << c.failing;
        EXPECT_EQ(window.Caption(Form1::kLblStatus), L"C:\\Windows\\SYSWOW64\\") << c.failing;
    }
}

TEST_F(Form1Test, RefusesATargetThatIsNotAFullFolderPath) {
    for (const Text& target :
         {Text(L"\\"), Text(L""), Text(L"C:"), Text(L"C:dx\\"), Text(L"system32\\"),
          Text(L"\\Windows\\system32\\"), Text(L"\\\\server\\"), Text(L"\\\\\\share\\"),
          Text(L"C:\\Windows"), Text(L"1:\\Windows\\")}) {
        window.SetCaption(Form1::kLblStatus, target);
        log.clear();
        try {
            form.Click(Form1::kCommand1, window);
            ADD_FAILURE() << "installed into " << fake::Narrow(target);
        } catch (const platform::Failure& failure) {
            EXPECT_NE(failure.Action().find(L"system folder could not be determined"), Text::npos);
            EXPECT_NE(failure.Action().find(L"\"" + target + L"\""), Text::npos);
        }
        for (const std::string& event : log) {
            EXPECT_EQ(event.find("CopyFileReplacing"), std::string::npos) << fake::Narrow(target);
            EXPECT_EQ(event.find("StartCommandLine"), std::string::npos) << fake::Narrow(target);
        }
    }
}

}  // namespace
