#include "platform/win32/image_copy.h"

#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <vector>

#include "platform/win32/file_read.h"
#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"

namespace ordovan::win32 {

namespace {

// Windows calls a window "not responding" once it has not looked at its queue for 5 seconds. The
// window's own waits look every 100 ms; a copy does the same, and between looks it copies at
// full speed.
constexpr ULONGLONG kHeartbeatPeriodMs = 100;
// Bytes read per step when a taken name is compared with the image: small enough for the heap's
// ordinary blocks (a megabyte each came from fresh pages, zeroed, at every comparison).
constexpr DWORD kCompareChunkBytes = 64 * 1024;
// A copy takes its source's attributes. Windows refuses to replace a read-only or hidden file,
// so a copy left so would make every later image of its name fail.
constexpr DWORD kNotPlain = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// The number the second image of a name gets: "IMG001 (2).dcm".
constexpr int kFirstNumber = 2;

// The file's index on its volume (FILE_INTERNAL_INFORMATION), the number GetFileInformationByHandle
// reports too. That call also looks up the volume's serial number, which Wine does slowly: 1.2 ms
// a call here, against 0.1 ms for opening the file. The volume is the folder's, checked once.
struct InternalInformation {
    LARGE_INTEGER IndexNumber;
};
constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);

std::uint64_t Combine(DWORD high, DWORD low) {
    return (std::uint64_t{high} << 32) | low;
}

// Readers (a virus scanner) may share it; no writer can change it while it is copied, so what its
// handle says is what the copy holds.
UniqueFile OpenSource(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        ThrowLastError();
    return file;
}

std::wstring NumberedName(const std::wstring& name, int number) {
    const std::size_t dot = name.find_last_of(L'.');
    const std::size_t stemEnd = dot == std::wstring::npos ? name.size() : dot;
    return name.substr(0, stemEnd) + L" (" + std::to_wstring(number) + L")" + name.substr(stemEnd);
}

UniqueFile OpenToCompare(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        ThrowLastError();
    return file;
}

// A step at a time, beating between steps: two large images on a network share take long.
bool SameBytes(const std::wstring& copy, const std::wstring& existing, Heartbeat& heartbeat) {
    const UniqueFile ours = OpenToCompare(copy);
    const UniqueFile theirs = OpenToCompare(existing);
    std::vector<char> ourBytes(kCompareChunkBytes);
    std::vector<char> theirBytes(kCompareChunkBytes);
    for (;;) {
        heartbeat.Beat();
        const std::size_t read = ReadUpTo(ours.get(), ourBytes.data(), ourBytes.size());
        if (ReadUpTo(theirs.get(), theirBytes.data(), theirBytes.size()) != read ||
            !std::equal(ourBytes.begin(), ourBytes.begin() + static_cast<std::ptrdiff_t>(read),
                        theirBytes.begin())) {
            return false;
        }
        if (read < ourBytes.size())
            return true;
    }
}

// The file holding a taken name: its attributes, and whether it holds the copy's bytes. Sizes
// first; the bytes are read only when the sizes agree.
struct Holder {
    DWORD attributes;
    bool sameBytes;
};

Holder LookAt(const std::wstring& path, const std::wstring& copy, std::uint64_t size,
              Heartbeat& heartbeat) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        ThrowLastError();
    const bool file = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return {data.dwFileAttributes, file && Combine(data.nFileSizeHigh, data.nFileSizeLow) == size &&
                                       SameBytes(copy, path, heartbeat)};
}

// A C++ exception must not pass through the system's copy loop: it is kept here, the copy is
// cancelled (the system then deletes what it wrote), and it goes on afterwards.
struct Progress {
    Heartbeat& heartbeat;
    std::exception_ptr thrown;
};

DWORD CALLBACK OnProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD,
                          HANDLE, HANDLE, LPVOID data) {
    auto& progress = *static_cast<Progress*>(data);
    try {
        progress.heartbeat.Beat();
        return PROGRESS_CONTINUE;
    } catch (...) {
        progress.thrown = std::current_exception();
        return PROGRESS_CANCEL;
    }
}

void SetAttributes(const std::wstring& path, DWORD attributes) {
    const DWORD plain = attributes & ~kNotPlain;
    if (!::SetFileAttributesW(path.c_str(), plain == 0 ? FILE_ATTRIBUTE_NORMAL : plain))
        ThrowLastError();
}

// A copy cut off by a power cut or a crash may have taken the source's read-only attribute with
// it. Answers false when the file cannot be removed (or is not there).
bool RemoveFile(const std::wstring& path) {
    if (::DeleteFileW(path.c_str()))
        return true;
    return ::GetLastError() == ERROR_ACCESS_DENIED &&
           ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL) && ::DeleteFileW(path.c_str());
}

// One image's copy under its unfinished name. Whatever ends the copy before the copy has its
// name (a failure, or the window closing from the heartbeat), the file goes with it.
class UnfinishedCopy {
  public:
    explicit UnfinishedCopy(std::wstring path) : path_(std::move(path)) {}
    ~UnfinishedCopy() {
        if (!named_)
            RemoveFile(path_);
    }
    UnfinishedCopy(const UnfinishedCopy&) = delete;
    UnfinishedCopy& operator=(const UnfinishedCopy&) = delete;

    const std::wstring& Path() const { return path_; }

    // A free unfinished name costs the one copy call. A taken one is a leftover of a copy of the
    // same image that was cut off: it is removed, and the copy made anew.
    void Fill(const std::wstring& source, CopyCalls& calls, Heartbeat& heartbeat) const {
        if (calls.CopyBytes(source, path_, heartbeat))
            return;
        if (!RemoveFile(path_))
            ThrowLastError();
        if (!calls.CopyBytes(source, path_, heartbeat))
            throw ErrorFailure(ERROR_FILE_EXISTS);
    }

    // On the disk, and as long as the source: only then may it have an image's name.
    void FlushAndCheck(std::uint64_t sourceSize, CopyCalls& calls) const {
        const UniqueFile file(::CreateFileW(path_.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file)
            ThrowLastError();
        calls.Flush(file.get());
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file.get(), &size))
            ThrowLastError();
        if (static_cast<std::uint64_t>(size.QuadPart) != sourceSize)
            throw ErrorFailure(ERROR_WRITE_FAULT);
    }

    void Named() { named_ = true; }

  private:
    std::wstring path_;
    bool named_ = false;
};

// The same image is there already (an earlier try of this tick, or an earlier run): the copy
// takes its place. Windows refuses to replace a read-only file where Wine replaces it, so the
// refusal is made here; this tool's own copies are never read-only. A hidden or system one is an
// earlier copy of a hidden export and is made plain first.
void ReplaceSame(const std::wstring& copy, const std::wstring& target, DWORD attributes,
                 CopyCalls& calls) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        throw ErrorFailure(ERROR_ACCESS_DENIED);
    if ((attributes & kNotPlain) != 0)
        SetAttributes(target, attributes);
    calls.Rename(copy, target, true);
}

// Gives the finished copy the first name that is free or holds its bytes. A taken name is
// compared with the copy itself, the bytes that would take its place.
void Name(UnfinishedCopy& copy, const std::wstring& destinationFolder, bool overwrite,
          CopiedImage& copied, Heartbeat& heartbeat, CopyCalls& calls) {
    for (int number = kFirstNumber;; ++number) {
        const std::wstring target = destinationFolder + copied.copyName;
        // A free name costs this one call; the destination is never listed.
        if (calls.Rename(copy.Path(), target, false))
            break;
        if (!overwrite)
            throw ErrorFailure(ERROR_FILE_EXISTS);
        const Holder holder = LookAt(target, copy.Path(), copied.source.size, heartbeat);
        if (holder.sameBytes) {
            ReplaceSame(copy.Path(), target, holder.attributes, calls);
            copied.alreadyThere = true;
            break;
        }
        copied.copyName = NumberedName(copied.name, number);
    }
    copy.Named();
}

}  // namespace

HandleFacts FactsOf(HANDLE file) {
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
        ThrowLastError();
    }
    InternalInformation internal{};
    IO_STATUS_BLOCK status{};
    const NTSTATUS result = ::NtQueryInformationFile(file, &status, &internal, sizeof internal,
                                                     kFileInternalInformation);
    if (result < 0)
        throw ErrorFailure(::RtlNtStatusToDosError(result));
    return {{static_cast<std::uint64_t>(internal.IndexNumber.QuadPart),
             static_cast<std::uint64_t>(standard.EndOfFile.QuadPart),
             static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart)},
            basic.FileAttributes};
}

void Heartbeat::Beat() {
    const ULONGLONG now = ::GetTickCount64();
    if (lastMs_ != 0 && now - lastMs_ < kHeartbeatPeriodMs)
        return;
    lastMs_ = now;
    if (beat_)
        beat_();
}

bool CopyCalls::CopyBytes(const std::wstring& from, const std::wstring& to, Heartbeat& heartbeat) {
    Progress progress{heartbeat, nullptr};
    if (::CopyFileExW(from.c_str(), to.c_str(), OnProgress, &progress, nullptr,
                      COPY_FILE_FAIL_IF_EXISTS)) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (progress.thrown)
        std::rethrow_exception(progress.thrown);
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
        return false;
    ::SetLastError(error);
    ThrowLastError();
}

void CopyCalls::Flush(HANDLE file) {
    if (!::FlushFileBuffers(file))
        ThrowLastError();
}

bool CopyCalls::Rename(const std::wstring& from, const std::wstring& to, bool replace) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (::MoveFileExW(from.c_str(), to.c_str(), flags))
        return true;
    const DWORD error = ::GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
        return false;
    ::SetLastError(error);
    ThrowLastError();
}

CopiedImage CopyImage(const std::wstring& sourceFolder, const std::wstring& name,
                      const std::wstring& destinationFolder, bool overwrite, Heartbeat& heartbeat,
                      CopyCalls& calls) {
    heartbeat.Beat();
    const std::wstring source = sourceFolder + name;
    const UniqueFile held = OpenSource(source);
    const HandleFacts facts = FactsOf(held.get());
    CopiedImage copied{name, name, facts.identity};
    UnfinishedCopy copy(destinationFolder + name + std::wstring(kUnfinishedSuffix));
    copy.Fill(source, calls, heartbeat);
    // Made plain before it is opened for writing, which a read-only file refuses.
    if ((facts.attributes & kNotPlain) != 0)
        SetAttributes(copy.Path(), facts.attributes);
    copy.FlushAndCheck(copied.source.size, calls);
    Name(copy, destinationFolder, overwrite, copied, heartbeat, calls);
    return copied;
}

}  // namespace ordovan::win32
