#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/window_system.h"

namespace ordovan::testing {

// A window system on a virtual clock: sleeps advance the clock at once, clicks are scheduled on it,
// the poll timer ticks on it, and every key string typed is recorded with its virtual time.
// Events that come due while a handler runs stay pending until the handler returns or until the
// handler processes pending events, as on the real window system.
class FakeWindowSystem final : public WindowSystem {
  public:
    enum class Operation {
        ButtonCaption,
        SetButtonCaption,
        TargetText,
        SetTargetText,
        ShowMessage,
        SetTimerEnabled,
        ProcessPendingEvents,
        Sleep,
        SendKeys,
    };

    struct TypedKeys {
        std::int64_t atMs;
        std::vector<KeyStroke> strokes;
        bool wait;
    };

    struct Message {
        std::wstring text;
        std::wstring title;
    };

    explicit FakeWindowSystem(std::int32_t timerIntervalMs) : timerIntervalMs_(timerIntervalMs) {}

    void Attach(WindowEvents& events) { events_ = &events; }

    std::int64_t Now() const { return nowMs_; }
    void ScheduleClick(std::int64_t atMs) { pendingClicks_.insert({atMs, 0}); }
    // The main loop: delivers clicks and ticks in time order until the clock reaches `untilMs`.
    void RunUntil(std::int64_t untilMs);
    // After `callsToPass` more calls succeed, the next call of the operation throws this failure
    // instead of doing its work.
    void FailNext(Operation operation, Failure failure, int callsToPass = 0);

    // What the window shows and did, for the tests to read and set.
    std::wstring caption{L"Start"};
    std::wstring target{L"Y:\\"};
    bool timerEnabled = false;
    std::vector<std::int64_t> timerSwitchedOnAt;
    std::vector<std::int64_t> timerSwitchedOffAt;
    std::vector<std::int64_t> ticksAt;
    std::vector<std::int64_t> clicksAt;
    std::vector<TypedKeys> typed;
    std::vector<Message> messages;

    std::wstring ButtonCaption() override;
    void SetButtonCaption(std::wstring_view caption) override;
    std::wstring TargetText() override;
    void SetTargetText(std::wstring_view text) override;
    void ShowMessage(std::wstring_view text, std::wstring_view title) override;
    void SetTimerEnabled(bool enabled) override;
    void ProcessPendingEvents() override;
    void Sleep(std::int32_t milliseconds) override;
    void SendKeys(const std::vector<KeyStroke>& strokes, bool wait) override;

  private:
    enum class EventKind { Click, Tick };

    std::optional<std::pair<std::int64_t, EventKind>> NextEvent() const;
    void Deliver(EventKind kind, std::int64_t dueMs);
    void ThrowIfFailing(Operation operation);

    std::int32_t timerIntervalMs_;
    WindowEvents* events_ = nullptr;
    std::int64_t nowMs_ = 0;
    std::int64_t nextTickMs_ = 0;
    std::multimap<std::int64_t, int> pendingClicks_;
    struct PlannedFailure {
        Failure failure;
        int callsToPass;
    };
    std::map<Operation, PlannedFailure> failures_;
};

}  // namespace ordovan::testing
