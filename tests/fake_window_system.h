#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/window_system.h"

namespace ordovan::test {

// A window system on a virtual clock: sleeps advance the clock at once, clicks are scheduled on it,
// the poll timer ticks on it, and every key string typed is recorded with its virtual time. It is
// the clock the procedures read, too.
// Events that come due while a handler runs stay pending until the handler returns or until the
// handler processes pending events, as on the real window system.
class FakeWindowSystem final : public WindowSystem, public Clock {
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
        bool handingOver = false;  // typed while the hand-over was marked
    };

    struct Message {
        std::wstring text;
        std::wstring title;
    };

    explicit FakeWindowSystem(std::int32_t timerIntervalMs) : timerIntervalMs_(timerIntervalMs) {}

    void Attach(WindowEvents& events) { events_ = &events; }

    std::int64_t Now() const { return nowMs_; }
    void ScheduleClick(std::int64_t atMs) { pendingClicks_.insert({atMs, 0}); }
    // A timer message at that time whatever the timer's phase, as a late WM_TIMER can arrive.
    void ScheduleTick(std::int64_t atMs) { extraTicks_.insert(atMs); }
    // The screen is locked from `fromMs` until `untilMs`: keys typed meanwhile are refused with
    // access denied, and the lock and the unlock are reported as events at those times.
    void ScheduleLock(std::int64_t fromMs, std::int64_t untilMs);
    // Windows' lock notice reaches the window during a sleep too, as a message sent to it is
    // delivered by any look at the queue; by default it waits for the next event pass.
    bool lockNoticeInSleeps = false;
    // The user closes the window at that time. Like the real window system, a procedure that lets
    // events run then gets WindowClosed.
    void ScheduleClose(std::int64_t atMs) { closeAtMs_ = atMs; }
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
    // Called with every key string typed: the driven application's reaction.
    std::function<void(const TypedKeys&)> onTyped;
    // Times at which the procedures asked to keep the system awake (true) or let it sleep.
    std::vector<std::pair<std::int64_t, bool>> keepAwake;
    bool closed = false;
    // Operations a procedure asked for after the window had been closed.
    int operationsAfterClose = 0;
    // Whether each event pass ran while the hand-over was marked, in order.
    std::vector<bool> passesHandingOver;
    bool handingOver = false;
    // Every reason given to Windows for refusing to end the session (empty: allowed again).
    std::vector<std::wstring> shutdownReasons;
    // What the window system answers about the screen lock and the program in front.
    std::optional<std::int32_t> lockAfterSeconds;
    ForegroundProgram front{4711, L"Ordovan.exe", L"Ordovan"};

    std::wstring ButtonCaption() override;
    void SetButtonCaption(std::wstring_view caption) override;
    std::wstring TargetText() override;
    void SetTargetText(std::wstring_view text) override;
    void ShowMessage(std::wstring_view text, std::wstring_view title) override;
    void SetTimerEnabled(bool enabled) override;
    void ProcessPendingEvents() override;
    void Sleep(std::int32_t milliseconds) override;
    void SendKeys(const std::vector<KeyStroke>& strokes, bool wait) override;
    void KeepAwake(bool awake) override { keepAwake.emplace_back(nowMs_, awake); }
    void BlockShutdown(std::wstring_view reason) override { shutdownReasons.emplace_back(reason); }
    void MarkHandOver(bool on) override { handingOver = on; }
    bool ScreenLocked() override;
    std::optional<std::int32_t> ScreenLockAfterSeconds() override { return lockAfterSeconds; }
    ForegroundProgram FrontProgram() override { return front; }
    std::int64_t NowMs() override { return nowMs_; }

  private:
    enum class EventKind { Click, Tick, ExtraTick, Close, LockChange };

    std::optional<std::pair<std::int64_t, EventKind>> NextEvent() const;
    void Deliver(EventKind kind, std::int64_t dueMs);
    void ThrowIfFailing(Operation operation);

    std::int32_t timerIntervalMs_;
    WindowEvents* events_ = nullptr;
    std::int64_t nowMs_ = 0;
    std::int64_t nextTickMs_ = 0;
    std::optional<std::int64_t> closeAtMs_;
    std::multiset<std::int64_t> extraTicks_;
    std::multimap<std::int64_t, int> pendingClicks_;
    std::vector<std::pair<std::int64_t, std::int64_t>> locks_;
    std::multimap<std::int64_t, bool> lockChanges_;
    struct PlannedFailure {
        Failure failure;
        int callsToPass;
    };
    std::map<Operation, PlannedFailure> failures_;
};

}  // namespace ordovan::test
