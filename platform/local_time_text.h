#pragma once

#include <string>

namespace ordovan {

// Today's date in the user's short date format and the time of day in the user's long time format.
std::wstring CurrentDateText();
std::wstring CurrentTimeText();
// The local date and time as file names carry them, in the order they sort by:
// "2026-12-08 14-03-27".
std::wstring CurrentFileNameTimeText();

}  // namespace ordovan
