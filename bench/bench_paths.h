#pragma once

#include <string_view>

#include "platform/driven_app.h"

// Where the bench works: the tool's own watch folder (the procedures know no other) and a target
// and work folder of the bench's own on drive C.
namespace ordovan::bench {

inline constexpr std::wstring_view kWatchFolder = driven_app::kWatchFolder;
inline constexpr std::wstring_view kTargetFolder = L"C:\\OrdovanBench\\Ziel";
inline constexpr std::wstring_view kSessionFolder = L"C:\\OrdovanBench\\Sitzung";

}  // namespace ordovan::bench
