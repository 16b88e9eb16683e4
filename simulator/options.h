#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/driven_app.h"

// How one run of the simulated imaging application behaves, from its command line.
namespace ordovan::simulator {

inline constexpr int kDefaultPatients = 1;
inline constexpr int kDefaultSeriesPerPatient = 2;
inline constexpr int kDefaultImagesPerSeries = 3;
// Time between writing a patient's images and marking the export finished.
inline constexpr UINT kDefaultLockDelayMs = 2000;
inline constexpr wchar_t kDefaultTitle[] = L"Ordovan Simulator";

struct Options {
    std::wstring logPath;  // empty: no event log file
    std::wstring watchFolder{driven_app::kWatchFolder};
    int patients = kDefaultPatients;
    int seriesPerPatient = kDefaultSeriesPerPatient;
    int imagesPerSeries = kDefaultImagesPerSeries;
    UINT lockDelayMs = kDefaultLockDelayMs;
    std::wstring referenceFolder;  // empty: images are written to the watch folder only
    std::wstring title{kDefaultTitle};
};

// This process's command line, without the program name.
std::vector<std::wstring> CommandLineArguments();

// Reads "--name value" pairs; throws ordovan::Failure for an unknown name, a missing value or a
// count that is not a non-negative number.
Options ParseOptions(const std::vector<std::wstring>& arguments);

}  // namespace ordovan::simulator
