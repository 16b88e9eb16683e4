// file_holder: a second process that holds one file open, for tests of what the tool does when
// another program has a file. Usage:
//   file_holder <path> <none|read|delete> <ready event> <release event> [<hold ms>]
// Opens the file with the given sharing ("none": nobody else may open it; "read": others may
// read it but neither write nor delete it; "delete": others may read and delete it, as a virus
// scanner lets them), signals the ready event, and keeps the file until
// the release event is signalled, at the latest until the hold time or kLongestHoldMs have
// passed, so that a test that died cannot leave it running for good. A hold time lets it go on
// its own, as a virus scanner lets go of a file it has looked at.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string_view>

#include "platform/win32/handles.h"

namespace {

using ordovan::win32::UniqueFile;
using ordovan::win32::UniqueKernelHandle;

constexpr DWORD kLongestHoldMs = 120000;
constexpr int kArgumentCount = 5;
constexpr int kArgumentCountWithHold = 6;
constexpr int kExitReleased = 0;
constexpr int kExitUsage = 1;
constexpr int kExitCannotOpen = 2;
constexpr int kExitNoEvent = 3;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != kArgumentCount && argc != kArgumentCountWithHold)
        return kExitUsage;
    const DWORD hold =
        argc == kArgumentCountWithHold
            ? std::min<DWORD>(std::wcstoul(argv[kArgumentCount], nullptr, 10), kLongestHoldMs)
            : kLongestHoldMs;
    const std::wstring_view sharing = argv[2];
    if (sharing != L"none" && sharing != L"read" && sharing != L"delete")
        return kExitUsage;
    const DWORD share = sharing == L"none"   ? 0
                        : sharing == L"read" ? FILE_SHARE_READ
                                             : FILE_SHARE_READ | FILE_SHARE_DELETE;
    const UniqueKernelHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]));
    const UniqueKernelHandle release(::OpenEventW(SYNCHRONIZE, FALSE, argv[4]));
    if (!ready || !release)
        return kExitNoEvent;
    const UniqueFile file(::CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return kExitCannotOpen;
    ::SetEvent(ready.get());
    ::WaitForSingleObject(release.get(), hold);
    return kExitReleased;
}
