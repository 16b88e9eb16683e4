#include "window/run_watch.h"

namespace ordovan {

namespace {

constexpr std::int32_t kSecondsPerMinute = 60;

}  // namespace

bool FocusWatch::Changed(std::uint32_t processId) {
    if (processId == 0)
        return false;
    const bool changed = processId_ != 0 && processId_ != processId;
    processId_ = processId;
    return changed;
}

std::wstring ScreenLockNote(std::int32_t seconds) {
    const bool wholeMinutes = seconds % kSecondsPerMinute == 0;
    return L"Bildschirmsperre nach " +
           std::to_wstring(wholeMinutes ? seconds / kSecondsPerMinute : seconds) +
           (wholeMinutes ? L" min" : L" s") + L": der Lauf wartet dann";
}

std::wstring FocusNote(const ForegroundProgram& program) {
    return program.fileName + L" \u2013 " + program.windowTitle;
}

}  // namespace ordovan
