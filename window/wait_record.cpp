#include "window/wait_record.h"

namespace ordovan {

namespace {

constexpr std::int64_t kMinuteMs = 60 * 1000;
constexpr std::int64_t kMinutesPerHour = 60;
constexpr std::wstring_view kSince = L"seit ";
constexpr std::wstring_view kHours = L" h ";
constexpr std::wstring_view kMinutes = L" min";
constexpr std::wstring_view kUnlocked = L", ohne LOCK.LCK: ";
constexpr std::wstring_view kNoneUnlocked = L"keine";
constexpr std::wstring_view kNameSeparator = L", ";
constexpr std::wstring_view kUnreadable = L", Exportordner nicht lesbar";

}  // namespace

void WaitRecord::Begin(std::int64_t nowMs) {
    since_ = nowMs;
    nextRecordMs_ = nowMs + kFirstWaitRecordMs;
}

void WaitRecord::Copied(std::int64_t nowMs) {
    if (since_)
        Begin(nowMs);
}

std::optional<std::int64_t> WaitRecord::Due(std::int64_t nowMs) {
    if (!since_ || nowMs < nextRecordMs_)
        return std::nullopt;
    const std::int64_t waited = nowMs - *since_;
    // The next full hour after now: ticks that did not come (a message box, a halt of the
    // machine) are not made up for.
    nextRecordMs_ = *since_ + kFirstWaitRecordMs +
                    ((waited - kFirstWaitRecordMs) / kWaitRecordRepeatMs + 1) * kWaitRecordRepeatMs;
    return waited;
}

std::wstring WaitNote(std::int64_t waitedMs,
                      const std::optional<std::vector<std::wstring>>& unlockedNames) {
    const std::int64_t minutes = waitedMs / kMinuteMs;
    std::wstring note(kSince);
    if (minutes >= kMinutesPerHour)
        note.append(std::to_wstring(minutes / kMinutesPerHour)).append(kHours);
    note.append(std::to_wstring(minutes % kMinutesPerHour)).append(kMinutes);
    if (!unlockedNames)
        return note.append(kUnreadable);
    note.append(kUnlocked);
    if (unlockedNames->empty())
        return note.append(kNoneUnlocked);
    for (std::size_t i = 0; i < unlockedNames->size(); ++i) {
        if (i > 0)
            note.append(kNameSeparator);
        note.append((*unlockedNames)[i]);
    }
    return note;
}

}  // namespace ordovan
