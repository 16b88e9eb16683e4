#include "platform/win32/image_copy.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"

namespace ordovan::win32 {

namespace {

// Windows calls a window "not responding" once it has not looked at its queue for 5 seconds. The
// window's own waits look every 100 ms; a copy does the same, and between looks it copies at
// full speed.
constexpr ULONGLONG kHeartbeatPeriodMs = 100;
// Bytes read per step when a taken name is compared with the image.
constexpr DWORD kCompareChunkBytes = 1024 * 1024;
// A copy takes its source's attributes. Windows refuses to replace a read-only or hidden file,
// so a copy left so would make every later image of its name fail.
constexpr DWORD kNotPlain = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// The number the second image of a name gets: "IMG001 (2).dcm".
constexpr int kFirstNumber = 2;

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

// Fills the buffer unless the file ends first; answers how many bytes came.
std::size_t ReadFull(HANDLE file, std::vector<char>& buffer) {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer.data() + filled, static_cast<DWORD>(buffer.size() - filled),
                        &read, nullptr)) {
            ThrowLastError();
        }
        if (read == 0)
            break;
        filled += read;
    }
    return filled;
}

bool SameBytes(HANDLE source, const std::wstring& existing) {
    const UniqueFile other(::CreateFileW(
        existing.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!other)
        ThrowLastError();
    if (!::SetFilePointerEx(source, LARGE_INTEGER{}, nullptr, FILE_BEGIN))
        ThrowLastError();
    std::vector<char> ours(kCompareChunkBytes);
    std::vector<char> theirs(kCompareChunkBytes);
    for (;;) {
        const std::size_t read = ReadFull(source, ours);
        if (ReadFull(other.get(), theirs) != read ||
            !std::equal(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(read),
                        theirs.begin())) {
            return false;
        }
        if (read < ours.size())
            return true;
    }
}

// The file holding a taken name: its attributes, and whether it holds the image's bytes. Sizes
// first; the bytes are read only when the sizes agree.
struct Holder {
    DWORD attributes;
    bool sameBytes;
};

Holder LookAt(const std::wstring& path, HANDLE source, std::uint64_t size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        ThrowLastError();
    const bool file = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return {data.dwFileAttributes, file && Combine(data.nFileSizeHigh, data.nFileSizeLow) == size &&
                                       SameBytes(source, path)};
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

// Answers false when `failIfTaken` and the name is taken.
bool CopyTo(const std::wstring& source, const std::wstring& target, bool failIfTaken,
            Heartbeat& heartbeat) {
    Progress progress{heartbeat, nullptr};
    if (::CopyFileExW(source.c_str(), target.c_str(), OnProgress, &progress, nullptr,
                      failIfTaken ? COPY_FILE_FAIL_IF_EXISTS : 0)) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (progress.thrown)
        std::rethrow_exception(progress.thrown);
    if (failIfTaken && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS))
        return false;
    ::SetLastError(error);
    ThrowLastError();
}

void SetAttributes(const std::wstring& path, DWORD attributes) {
    const DWORD plain = attributes & ~kNotPlain;
    if (!::SetFileAttributesW(path.c_str(), plain == 0 ? FILE_ATTRIBUTE_NORMAL : plain))
        ThrowLastError();
}

// The same image is there already (an earlier try of this tick, or an earlier run): it is
// replaced. Windows refuses to replace a read-only file where Wine replaces it, so the refusal is
// made here; this tool's own copies are never read-only. A hidden or system one is an earlier
// copy of a hidden export and is made plain first, or Windows would refuse it as well.
void ReplaceSame(const std::wstring& source, const std::wstring& target, DWORD attributes,
                 Heartbeat& heartbeat) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        throw ErrorFailure(ERROR_ACCESS_DENIED);
    if ((attributes & kNotPlain) != 0)
        SetAttributes(target, attributes);
    CopyTo(source, target, false, heartbeat);
}

// One image on its way to a name in the destination.
struct TakenName {
    const std::wstring& source;
    HANDLE held;
    std::uint64_t size;
    bool overwrite;
    Heartbeat& heartbeat;

    // Answers false, having written nothing, when the name holds another image.
    bool CopyUnder(const std::wstring& target) const {
        // A free name costs this one call; the destination is never listed.
        if (CopyTo(source, target, true, heartbeat))
            return true;
        if (!overwrite)
            throw ErrorFailure(ERROR_FILE_EXISTS);
        const Holder holder = LookAt(target, held, size);
        if (!holder.sameBytes)
            return false;
        ReplaceSame(source, target, holder.attributes, heartbeat);
        return true;
    }
};

}  // namespace

BY_HANDLE_FILE_INFORMATION InformationOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file, &information))
        ThrowLastError();
    return information;
}

FileIdentity IdentityFrom(const BY_HANDLE_FILE_INFORMATION& information) {
    return {information.dwVolumeSerialNumber,
            Combine(information.nFileIndexHigh, information.nFileIndexLow),
            Combine(information.nFileSizeHigh, information.nFileSizeLow),
            Combine(information.ftLastWriteTime.dwHighDateTime,
                    information.ftLastWriteTime.dwLowDateTime)};
}

void Heartbeat::Beat() {
    const ULONGLONG now = ::GetTickCount64();
    if (lastMs_ != 0 && now - lastMs_ < kHeartbeatPeriodMs)
        return;
    lastMs_ = now;
    if (beat_)
        beat_();
}

CopiedImage CopyImage(const std::wstring& sourceFolder, const std::wstring& name,
                      const std::wstring& destinationFolder, bool overwrite, Heartbeat& heartbeat) {
    heartbeat.Beat();
    const std::wstring source = sourceFolder + name;
    const UniqueFile held = OpenSource(source);
    const BY_HANDLE_FILE_INFORMATION information = InformationOf(held.get());
    CopiedImage copied{name, name, IdentityFrom(information)};
    const TakenName taken{source, held.get(), copied.source.size, overwrite, heartbeat};
    for (int number = kFirstNumber; !taken.CopyUnder(destinationFolder + copied.copyName);
         ++number) {
        copied.copyName = NumberedName(name, number);
    }
    if ((information.dwFileAttributes & kNotPlain) != 0)
        SetAttributes(destinationFolder + copied.copyName, information.dwFileAttributes);
    return copied;
}

}  // namespace ordovan::win32
