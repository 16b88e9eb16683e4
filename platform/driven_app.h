#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// Everything the tool assumes about the imaging application it drives, in one place: where that
// application exports its images, how it marks a finished export, and the keys it expects, with
// the order, the wait flags and the pauses it needs to keep up.
namespace ordovan::driven_app {

inline constexpr std::wstring_view kWatchFolder = L"C:\\Programme\\Ordovan\\Temp\\PACS";
inline constexpr std::wstring_view kLockFileName = L"LOCK.LCK";
inline constexpr std::wstring_view kImagePattern = L"*.dcm";

// One row of a key sequence: a key string, whether to wait until the application has processed
// it, and the pause after it. A row without keys is a plain pause.
struct KeyStep {
    std::wstring_view keys;
    bool wait;
    std::int16_t delayMs;

    constexpr bool IsPause() const { return keys.empty(); }
};

constexpr KeyStep Pause(std::int16_t lengthMs) {
    return {L"", false, lengthMs};
}

// Time the user has after Start to put the keyboard focus on the imaging application.
inline constexpr std::int16_t kPauseBeforeOpeningMs = 4000;

// Typed after Start: opens the first patient's export.
inline constexpr std::array kOpeningSequence{
    KeyStep{L"{F2}", true, 1000},     KeyStep{L"{TAB}", true, 2000},
    KeyStep{L"{ENTER}", true, 3000},  Pause(6000),
    KeyStep{L"{HOME}", false, 1000},  KeyStep{L"+{END}", false, 1000},
    KeyStep{L"{ENTER}", false, 1000},
};

// Typed before the image subfolders are deleted: makes the application let go of its files.
inline constexpr std::array kPreDeletionKeys{
    KeyStep{L"%{F}", true, 1000},
    KeyStep{L"{A}", true, 2000},
};

// Typed after the deletion: opens the next patient's export.
inline constexpr std::array kNextPatientSequence{
    KeyStep{L"{F2}", true, 1000},
    KeyStep{L"{TAB}", true, 1000},
    KeyStep{L"{DOWN}", true, 2000},
    KeyStep{L"{ENTER}", true, 3000},
    Pause(6000),
    KeyStep{L"{HOME}", true, 1000},
    KeyStep{L"+{END}", true, 1000},
    KeyStep{L"{ENTER}", true, 1000},
};

}  // namespace ordovan::driven_app
