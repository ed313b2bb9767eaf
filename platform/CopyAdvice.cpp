// The advice for each failure of a copy that a person can put right.
#include "platform/CopyAdvice.h"

#include <algorithm>

namespace platform {

namespace {

// The last part of a path, and the part before it: the names of the file and of its folder.
std::wstring LastPart(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

std::wstring FolderName(const std::wstring& path) {
    const std::size_t nameStart = path.find_last_of(L'\\');
    return nameStart == std::wstring::npos ? std::wstring() : LastPart(path.substr(0, nameStart));
}

// Only ASCII letters are folded: the names compared are ASCII, and the C library's towupper is
// not in Windows 2000's msvcrt.
bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](wchar_t x, wchar_t y) { return upper(x) == upper(y); });
}

}  // namespace

std::wstring CopyAdvice(const CopyFailure& failure) {
    const std::wstring name = LastPart(failure.destination);
    switch (failure.step) {
        case CopyStep::OpenSource:
            // Explorer runs an exe from inside a zip file by unpacking that exe alone to a
            // temporary folder, where nothing lies beside it.
            if (failure.error == kErrorFileNotFound) {
                return name +
                       L" must lie in the same folder as the installer. If the two came in a "
                       L"zip file, extract the whole zip file first, then run the installer "
                       L"from the extracted folder.";
            }
            break;
        case CopyStep::CreateCopy:
            // Only 64-bit Windows has a SYSWOW64 folder; the label shows it unforced only there.
            if (failure.error == kErrorPathNotFound &&
                EqualIgnoringCase(FolderName(failure.destination), L"SYSWOW64")) {
                return L"This is 32-bit Windows, which has no SYSWOW64 folder: system32 is the "
                       L"right folder here. Run the installer again without ticking \"Force 64 "
                       L"bit Install\".";
            }
            // A limited user on Windows 2000 or XP, where the manifest asks for no rights.
            if (failure.error == kErrorAccessDenied) {
                return L"Only an administrator can install into the system folder. Run the "
                       L"installer again as an administrator.";
            }
            break;
        case CopyStep::Replace:
            // A rename fails with access denied while any program has its target open or loaded,
            // and while a virus scanner examines the folder's new files. Opening the target for
            // delete access with all sharing still succeeds then (the loader shares delete), or
            // fails with a sharing violation while a program holds it without sharing delete; only
            // a lack of rights makes that open fail with access denied. An open of the new copy
            // fails with a sharing violation only while another program holds it; the next install
            // removes it.
            if (failure.error != kErrorAccessDenied && failure.error != kErrorSharingViolation) {
                break;
            }
            if (failure.copyOpenError == kErrorSharingViolation) {
                return L"Another program (a virus scanner, say) still holds the new copy of " +
                       name + L". Run the installer again to finish the install.";
            }
            if (failure.error == kErrorAccessDenied &&
                failure.libraryOpenError == kErrorAccessDenied) {
                return L"Windows does not allow the " + name +
                       L" already there to be replaced: its permissions forbid it. An "
                       L"administrator can allow it in the file's Properties, on the Security "
                       L"tab; then run the installer again.";
            }
            if (failure.libraryOpenError == 0 ||
                failure.libraryOpenError == kErrorSharingViolation) {
                return L"The " + name +
                       L" already there is probably in use by a running program. Close that "
                       L"program, then run the installer again to finish the install.";
            }
            return L"Another program (a virus scanner, say) keeps the system folder from changing. "
                   L"Run the installer again in a moment to finish the install.";
    }
    return {};
}

}  // namespace platform
