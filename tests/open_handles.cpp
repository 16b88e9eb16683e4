#include "tests/open_handles.h"

#include <windows.h>

#include <cstdint>

namespace ordovan::test {

namespace {

// Handle values are multiples of four, and Wine hands out the lowest free one first, so every
// open handle lies below the first long run of free values.
constexpr std::uintptr_t kHandleStep = 4;
constexpr std::size_t kFreeRunThatEndsTheTable = 1024;

std::size_t CountByProbing() {
    std::size_t count = 0;
    std::size_t freeRun = 0;
    for (std::uintptr_t value = kHandleStep; freeRun < kFreeRunThatEndsTheTable;
         value += kHandleStep) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            freeRun = 0;
        } else {
            ++freeRun;
        }
    }
    return count;
}

}  // namespace

std::size_t OpenHandleCount() {
    DWORD count = 0;
    // Wine answers 0 here; a running process always holds some handles.
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0)
        return count;
    return CountByProbing();
}

}  // namespace ordovan::test
