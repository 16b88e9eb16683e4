#include "tests/open_handles.h"

#include <windows.h>
#include <winternl.h>

#include <cstdint>

namespace ordovan::test {

namespace {

// Handle values are multiples of four, and Wine hands out the lowest free one first, so every
// open handle lies below the first long run of free values.
constexpr std::uintptr_t kHandleStep = 4;
constexpr std::size_t kFreeRunThatEndsTheTable = 1024;
constexpr ULONG kObjectInformationBytes = 4096;

// Calls `found` for every value that is an open handle of this process.
template <typename Found>
void ProbeHandleValues(Found found) {
    std::size_t freeRun = 0;
    for (std::uintptr_t value = kHandleStep; freeRun < kFreeRunThatEndsTheTable;
         value += kHandleStep) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            found(value);
            freeRun = 0;
        } else {
            ++freeRun;
        }
    }
}

// The UNICODE_STRING that both answers of NtQueryObject begin with.
std::wstring QueriedText(HANDLE handle, OBJECT_INFORMATION_CLASS what) {
    alignas(UNICODE_STRING) unsigned char buffer[kObjectInformationBytes];
    ULONG length = 0;
    if (!NT_SUCCESS(::NtQueryObject(handle, what, buffer, sizeof buffer, &length)))
        return {};
    const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer);
    return text->Buffer ? std::wstring(text->Buffer, text->Length / sizeof(wchar_t))
                        : std::wstring();
}

// A disk file by its path; other objects by the name the object manager keeps. A pipe's name is
// not asked for: on Windows that query is reported to block while another thread waits on it.
std::wstring NameOf(HANDLE handle, const std::wstring& type) {
    if (type != L"File")
        return QueriedText(handle, ObjectNameInformation);
    if (::GetFileType(handle) != FILE_TYPE_DISK)
        return {};
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = ::GetFinalPathNameByHandleW(handle, path, MAX_PATH * 4, 0);
    return length > 0 && length < MAX_PATH * 4 ? std::wstring(path, length) : std::wstring();
}

}  // namespace

std::size_t OpenHandleCount() {
    DWORD count = 0;
    // Wine answers 0 here; a running process always holds some handles.
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0)
        return count;
    std::size_t probed = 0;
    ProbeHandleValues([&probed](std::uintptr_t) { ++probed; });
    return probed;
}

std::vector<OpenHandle> OpenHandles() {
    std::vector<OpenHandle> handles;
    ProbeHandleValues([&handles](std::uintptr_t value) {
        const auto handle = reinterpret_cast<HANDLE>(value);
        const std::wstring type = QueriedText(handle, ObjectTypeInformation);
        handles.push_back({value, type, NameOf(handle, type)});
    });
    return handles;
}

}  // namespace ordovan::test
