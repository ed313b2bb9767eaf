// The advice that each failure of the copy earns, from what Windows answered.
#include "platform/CopyAdvice.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"

namespace {

using platform::CopyStep;

TEST(CopyAdvice, NamesWhatToDoAboutEachFailureAPersonCanPutRight) {
    const std::wstring system32 = L"C:\\Windows\\system32\\dx8vb.dll";
    const std::wstring forced = L"\\\\?\\C:\\WINDOWS\\SYSWOW64\\dx8vb.dll";
    const struct {
        platform::CopyFailure failure;
        std::wstring advice;  // a part of the advice; none expected where empty
    } cases[] = {
        {{CopyStep::OpenSource, 2, system32}, L"extract the whole zip file"},
        {{CopyStep::OpenSource, 5, system32}, L""},
        {{CopyStep::CreateCopy, 3, forced}, L"without ticking \"Force 64 bit Install\""},
        {{CopyStep::CreateCopy, 3, system32}, L""},
        {{CopyStep::CreateCopy, 5, forced}, L"Only an administrator can install"},
        {{CopyStep::Replace, 32, system32, 32, 0}, L"still holds the new copy of dx8vb.dll"},
        {{CopyStep::Replace, 5, system32, 0, 5}, L"does not allow the dx8vb.dll already there"},
        {{CopyStep::Replace, 5, system32, 0, 0}, L"dx8vb.dll already there is probably in use"},
        {{CopyStep::Replace, 5, system32, 0, 32}, L"already there is probably in use"},
        {{CopyStep::Replace, 5, system32, 0, 2}, L"keeps the system folder from changing"},
        {{CopyStep::Replace, 17, system32, 0, 0}, L""},
    };
    for (const auto& c : cases) {
        const std::wstring advice = platform::CopyAdvice(c.failure);
        EXPECT_TRUE(c.advice.empty() ? advice.empty() : advice.find(c.advice) != advice.npos)
            << "error " << c.failure.error << ": " << fake::Narrow(advice);
    }
}

}  // namespace
