#pragma once

#include <windows.h>

namespace ordovan::test {

// Why some runs happen only in the Wine prefix of the cross build: they start CopyOrdovan.exe or
// the simulated imaging application, which use the imaging application's real export folder, and
// they clear fixed folders under C:\. In the prefix that drive is the test's own; on a practice
// PC the export folder holds images not yet copied.
inline constexpr char kWineOnlyReason[] =
    "runs only under Wine: it clears the real export folder C:\\Programme\\Ordovan\\Temp\\PACS "
    "and fixed folders under C:\\, and starts CopyOrdovan.exe, which deletes exports there";

// True in a process that Wine runs: Wine's ntdll exports wine_get_version, Windows' does not.
inline bool RunsUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace ordovan::test
