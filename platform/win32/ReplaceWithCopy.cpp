// The safe replace of a library: a checked copy of the new one is written beside the old one,
// flushed, and renamed onto it, waiting out other programs' brief holds on the files.
#include "platform/win32/ReplaceWithCopy.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/CopyAdvice.h"
#include "platform/Failure.h"
#include "platform/LibraryImage.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32Error.h"

namespace win32 {

namespace {

constexpr std::size_t kCopyBufferSize = 64 * 1024;
// The only libraries this exe installs are those its own machine loads: regsvr32 from the
// system folder it starts has that machine too (a 32-bit one under WOW64).
#ifdef _WIN64
constexpr std::uint16_t kOwnMachine = platform::kMachineAmd64;
constexpr const wchar_t* kOwnMachineBits = L"64-bit";
#else
constexpr std::uint16_t kOwnMachine = platform::kMachineI386;
constexpr const wchar_t* kOwnMachineBits = L"32-bit";
#endif
// How long a copy waits out other programs' holds on its files in all, and its pauses.
constexpr DWORD kHoldPatienceMs = 3000;
constexpr DWORD kFirstHoldPauseMs = 50;
constexpr DWORD kLongestHoldPauseMs = 500;

// The last part of a path: the name of the file it names.
std::wstring FileName(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// Throws the failure of a step of the copy, with the advice that Windows' answer earns.
[[noreturn]] void ThrowCopyFailure(const std::wstring& action, const char* function,
                                   const platform::CopyFailure& failure) {
    throw platform::Failure(action, function, failure.error, platform::CopyAdvice(failure));
}

// Other programs hold a file that has just changed for a moment: a virus scanner examines an
// executable file when it is closed (the new copy, most likely, just before its rename), and
// search indexers and backup tools open new files too. Meanwhile opening or renaming the file
// fails with a sharing violation, and replacing it with access denied. A copy waits such holds
// out, trying again after pauses that grow from 50 ms to 500 ms, 3 s in all at the most: it
// runs on the window's thread, and Windows calls a window that has taken no messages for 5 s
// "Not Responding".
class HoldPatience {
public:
    HoldPatience() : start_(::GetTickCount()) {}

    // After a failed try: whether to try again, once a pause is over. Only a hold (held) is
    // waited out, and only while the patience lasts out the pause.
    bool WaitedAfter(bool held) {
        if (!held || ::GetTickCount() - start_ + pause_ > kHoldPatienceMs) {
            return false;
        }
        ::Sleep(pause_);
        pause_ = std::min(pause_ * 2, kLongestHoldPauseMs);
        return true;
    }

private:
    DWORD start_;  // GetTickCount wraps after 49.7 days; the unsigned difference does not mind
    DWORD pause_ = kFirstHoldPauseMs;
};

// A file that is deleted again unless Keep() is called, on every way out of a scope.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) {
            ::DeleteFileW(path_.c_str());
        }
    }
    const std::wstring& Path() const { return path_; }
    void Keep() { path_.clear(); }

private:
    std::wstring path_;
};

// The name of the temporary copy that this process makes of a file before it replaces it.
std::wstring TemporaryCopyPath(const std::wstring& path, DWORD processId) {
    return path + L"." + std::to_wstring(processId) + L".tmp";
}

// The process that made a temporary copy of the file called name, read from the copy's name
// ("dx8vb.dll.1234.tmp" for "dx8vb.dll"); nothing for any other file name.
std::optional<DWORD> TemporaryCopyOwner(const std::wstring& fileName, const std::wstring& name) {
    const std::wstring prefix = name + L".", suffix = L".tmp";
    if (fileName.size() <= prefix.size() + suffix.size() ||
        fileName.compare(0, prefix.size(), prefix) != 0 ||
        fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return std::nullopt;
    }
    const std::wstring digits =
        fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
    if (digits.size() > 10 || digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return std::nullopt;
    }
    unsigned long long processId = 0;
    for (const wchar_t digit : digits) {
        processId = processId * 10 + static_cast<unsigned>(digit - L'0');
    }
    if (processId > MAXDWORD) {
        return std::nullopt;
    }
    return static_cast<DWORD>(processId);
}

// Whether a process other than this one runs under the id. One that cannot be opened to be
// watched (another user's, say) counts as running: there is no telling.
bool IsAnotherRunningProcess(DWORD processId) {
    if (processId == ::GetCurrentProcessId()) {
        return false;
    }
    const UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process.IsValid()) {
        return ::GetLastError() != ERROR_INVALID_PARAMETER;  // no process has that id
    }
    return ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

// An installer that was ended between its copy and the replace (from Task Manager, by a crash,
// by a power cut) leaves its temporary copy behind. The copies of processes that have ended go;
// one whose process still runs stays, as it may be another installer's, still being written;
// every other file stays too.
void RemoveLeftoverCopies(const std::wstring& path) {
    const std::size_t nameStart = path.find_last_of(L'\\') + 1;
    const std::wstring folder = path.substr(0, nameStart), name = path.substr(nameStart);
    WIN32_FIND_DATAW found;
    const UniqueFind search(::FindFirstFileW((path + L".*.tmp").c_str(), &found));
    if (!search.IsValid()) {
        return;
    }
    do {
        const std::optional<DWORD> owner = TemporaryCopyOwner(found.cFileName, name);
        if (owner && !IsAnotherRunningProcess(*owner)) {
            // Older installers' copies may still carry the source's read-only attribute, which
            // DeleteFile refuses. A copy that cannot go does no harm where it is.
            const std::wstring leftover = folder + found.cFileName;
            ::SetFileAttributesW(leftover.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(leftover.c_str());
        }
    } while (::FindNextFileW(search.Get(), &found));
}

// The file to copy, open for reading and sharing only reading, so that no other program writes
// to it while it is checked and copied. Waits out another program's hold on it.
UniqueFile OpenSource(const std::wstring& source, const std::wstring& target,
                      const std::wstring& action, HoldPatience& patience) {
    for (;;) {
        UniqueFile input(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (input.IsValid()) {
            return input;
        }
        const DWORD error = ::GetLastError();
        if (!patience.WaitedAfter(error == ERROR_SHARING_VIOLATION)) {
            ThrowCopyFailure(action, "CreateFileW",
                             {platform::CopyStep::OpenSource, error, target});
        }
    }
}

// Refuses a file that is not a library for this exe's machine: Windows would refuse to load it
// only when regsvr32 tried, once it had replaced a working library. The headers are read through
// the handle the copy reads from, rewound for it: the bytes checked are the bytes copied.
void CheckIsLibrary(HANDLE input, const std::wstring& name, const std::wstring& action) {
    BY_HANDLE_FILE_INFORMATION file;
    if (!::GetFileInformationByHandle(input, &file)) {
        ThrowLastError(action, "GetFileInformationByHandle");
    }
    const std::uint64_t size = std::uint64_t{file.nFileSizeHigh} << 32 | file.nFileSizeLow;
    // Linkers put a library's headers, its section table among them, in its first few KiB.
    // A read may return fewer bytes than asked for before the file ends (from a network share,
    // say): the reads go on until the buffer is full or the file has ended.
    std::vector<unsigned char> start(kCopyBufferSize);
    std::size_t length = 0;
    for (DWORD read = 0; length < start.size(); length += read) {
        if (!::ReadFile(input, start.data() + length, static_cast<DWORD>(start.size() - length),
                        &read, nullptr)) {
            ThrowLastError(action, "ReadFile");
        }
        if (read == 0) {
            break;
        }
    }
    if (!platform::IsWindowsLibrary(start.data(), length, size, kOwnMachine)) {
        throw platform::Failure(action, {}, 0,
                                L"The " + name + L" to install is not a " + kOwnMachineBits +
                                    L" Windows library. A damaged download, or a web page saved "
                                    L"under its name, is the usual cause. Nothing was installed.");
    }
    if (::SetFilePointer(input, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        ThrowLastError(action, "SetFilePointer");
    }
}

// Writes the bytes of input into a new file at copy, keeping the source's last-write time as a
// copy does, and waits until they are on the disk. Only the bytes: the new file takes the
// attributes and the security of a new file in its folder, where CopyFile would bring the
// source's attributes (hidden, system) and its alternate data streams (a download's mark of
// the web) along.
void WriteCopy(HANDLE input, const std::wstring& copy, const std::wstring& target,
               const std::wstring& action) {
    const UniqueFile output(::CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.IsValid()) {
        ThrowCopyFailure(action, "CreateFileW",
                         {platform::CopyStep::CreateCopy, ::GetLastError(), target});
    }
    std::vector<char> buffer(kCopyBufferSize);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            ThrowLastError(action, "ReadFile");
        }
        if (read == 0) {
            break;
        }
        // A synchronous write to a disk file writes every byte or fails.
        DWORD written = 0;
        if (!::WriteFile(output.Get(), buffer.data(), read, &written, nullptr)) {
            ThrowLastError(action, "WriteFile");
        }
    }
    FILETIME lastWrite;
    if (!::GetFileTime(input, nullptr, nullptr, &lastWrite)) {
        ThrowLastError(action, "GetFileTime");
    }
    if (!::SetFileTime(output.Get(), nullptr, nullptr, &lastWrite)) {
        ThrowLastError(action, "SetFileTime");
    }
    // MOVEFILE_WRITE_THROUGH flushes only a move that Windows carries out as a copy, to another
    // volume. Within a folder the rename alone could reach the disk before the data it names,
    // and a power cut then would leave a library of zeros in place of the old one.
    if (!::FlushFileBuffers(output.Get())) {
        ThrowLastError(action, "FlushFileBuffers");
    }
}

// Opens path for delete access, sharing everything, and closes it again: 0 when it opened, else
// the error that stopped it.
DWORD DeleteOpenError(const std::wstring& path) {
    const UniqueFile file(::CreateFileW(path.c_str(), DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    return file.IsValid() ? 0 : ::GetLastError();
}

// Renames copy onto target in one step, waiting out the holds that keep it from doing so.
void RenameOnto(const std::wstring& copy, const std::wstring& target, const std::wstring& action,
                HoldPatience& patience) {
    for (;;) {
        if (::MoveFileExW(copy.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return;
        }
        const DWORD error = ::GetLastError();
        // A rename fails with a sharing violation while another program holds its source
        // without sharing delete, and with access denied while a program has its target open
        // or loaded, and while a virus scanner examines the new files of the folder, most often
        // when nothing of the target's name is there yet (npm's graceful-fs retries exactly
        // that). Those holds are waited out. A lack of rights to replace the target fails with
        // access denied too, and no wait changes it: then opening the target for delete access
        // fails with access denied as well, where a hold lets it open (see CopyAdvice).
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
        const DWORD libraryOpenError = held ? DeleteOpenError(target) : 0;
        const bool forbidden =
            error == ERROR_ACCESS_DENIED && libraryOpenError == ERROR_ACCESS_DENIED;
        if (patience.WaitedAfter(held && !forbidden)) {
            continue;
        }
        ThrowCopyFailure(
            action, "MoveFileExW",
            {platform::CopyStep::Replace, error, target, DeleteOpenError(copy), libraryOpenError});
    }
}

}  // namespace

void ReplaceWithCopy(const std::wstring& source, const std::wstring& target,
                     const std::wstring& action) {
    // Windows refuses to replace a read-only file, but not every file system behind a path
    // does (Wine running as root, for one); a read-only target is never written. Nor can a
    // folder of the library's name be replaced: no wait for a hold changes either.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        throw platform::Failure(action + (folder ? L"\nThe destination is a folder."
                                                 : L"\nThe destination is read-only."),
                                {}, ERROR_ACCESS_DENIED);
    }
    HoldPatience patience;  // one for the whole copy
    const UniqueFile input = OpenSource(source, target, action, patience);
    CheckIsLibrary(input.Get(), FileName(source), action);
    // The bytes go to a file of their own in the target's folder first; a rename on the same
    // volume then puts them in place in one step, so the old file is never half-written.
    RemoveLeftoverCopies(target);
    TemporaryFile copy(TemporaryCopyPath(target, ::GetCurrentProcessId()));
    WriteCopy(input.Get(), copy.Path(), target, action);
    RenameOnto(copy.Path(), target, action, patience);
    copy.Keep();
}

}  // namespace win32
