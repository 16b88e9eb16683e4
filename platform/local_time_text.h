#pragma once

#include <string>

namespace ordovan {

// Today's date in the user's short date format and the time of day in the user's long time format.
std::wstring CurrentDateText();
std::wstring CurrentTimeText();

}  // namespace ordovan
