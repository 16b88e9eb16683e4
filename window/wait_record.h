#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ordovan {

// A run that has not copied for this long puts its wait on record, and again after every further
// full hour of the same wait.
inline constexpr std::int64_t kFirstWaitRecordMs = 15 * 60 * 1000;
inline constexpr std::int64_t kWaitRecordRepeatMs = 60 * 60 * 1000;

// How long the current run has gone without a copying tick, and when that is due on record.
class WaitRecord {
  public:
    // A run starts: its wait starts with it.
    void Begin(std::int64_t nowMs);
    // A copying tick of the run ends the wait; the next one starts.
    void Copied(std::int64_t nowMs);
    void End() { since_.reset(); }
    // How long the run has waited, when that is due on record now; nothing otherwise.
    std::optional<std::int64_t> Due(std::int64_t nowMs);

  private:
    std::optional<std::int64_t> since_;
    std::int64_t nextRecordMs_ = 0;
};

// The Hinweis of a Wartet row: how long, and which subfolders hold no lock file (nothing when the
// watch folder could not be read), "seit 1 h 15 min, ohne LOCK.LCK: S2, S3".
std::wstring WaitNote(std::int64_t waitedMs,
                      const std::optional<std::vector<std::wstring>>& unlockedNames);

}  // namespace ordovan
