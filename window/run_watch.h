#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/window_system.h"

// What a run keeps track of beside its poll: the wait for a locked screen, where a sequence that
// the lock cut short goes on, which program the keys went to, and clicks kept for after a tick.
namespace ordovan {

// The key sequences of a run, in the order a patient gets them.
enum class Sequence { Opening, PreDeletion, NextPatient };

// The key of a sequence at which it goes on once the screen is unlocked: the one Windows refused.
struct SequencePosition {
    Sequence sequence;
    std::size_t step;
};

// The program the keys went to at the start of a sequence. Only a change is news: the first
// program of a run is the one its opening sequence went to.
class FocusWatch {
  public:
    // A new run: its opening sequence names the program afresh.
    void Reset() { processId_ = 0; }
    // Remembers the program; answers whether it is another one than the keys went to before.
    // A program that cannot be told (0) changes nothing.
    bool Changed(std::uint32_t processId);

  private:
    std::uint32_t processId_ = 0;
};

struct RunWatch {
    // Between the Gesperrt row and the Entsperrt row.
    bool waitingForUnlock = false;
    std::optional<SequencePosition> interrupted;
    FocusWatch focus;
    // Clicks that came during a tick, once one of them would have started a run inside it.
    int deferredClicks = 0;
};

// Marks the window's hand-over for as long as the mark lives.
class HandOverMark {
  public:
    explicit HandOverMark(WindowSystem& window) : window_(window) { window_.MarkHandOver(true); }
    HandOverMark(const HandOverMark&) = delete;
    HandOverMark& operator=(const HandOverMark&) = delete;
    ~HandOverMark() { window_.MarkHandOver(false); }

  private:
    WindowSystem& window_;
};

// The Start row's note when Windows locks the screen after `seconds` without input.
std::wstring ScreenLockNote(std::int32_t seconds);
// The Fokus row's note: the program's file name and its window's title.
std::wstring FocusNote(const ForegroundProgram& program);

}  // namespace ordovan
