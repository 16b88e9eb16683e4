#include "tests/fake_window_system.h"

#include <algorithm>

namespace ordovan::test {

void FakeWindowSystem::RunUntil(std::int64_t untilMs) {
    for (auto next = NextEvent(); next && next->first <= untilMs; next = NextEvent()) {
        nowMs_ = std::max(nowMs_, next->first);
        Deliver(next->second, next->first);
    }
    nowMs_ = std::max(nowMs_, untilMs);
}

void FakeWindowSystem::ScheduleLock(std::int64_t fromMs, std::int64_t untilMs) {
    locks_.emplace_back(fromMs, untilMs);
    lockChanges_.insert({fromMs, true});
    lockChanges_.insert({untilMs, false});
}

bool FakeWindowSystem::ScreenLocked() {
    return std::any_of(locks_.begin(), locks_.end(), [this](const auto& lock) {
        return lock.first <= nowMs_ && nowMs_ < lock.second;
    });
}

void FakeWindowSystem::FailNext(Operation operation, Failure failure, int callsToPass) {
    failures_.insert_or_assign(operation, PlannedFailure{std::move(failure), callsToPass});
}

std::optional<std::pair<std::int64_t, FakeWindowSystem::EventKind>> FakeWindowSystem::NextEvent()
    const {
    std::optional<std::pair<std::int64_t, EventKind>> next;
    if (closed)
        return next;
    if (!pendingClicks_.empty())
        next = {pendingClicks_.begin()->first, EventKind::Click};
    // On a tie the tick goes first: a click at the tick's time is then pending inside the tick.
    if (timerEnabled && (!next || nextTickMs_ <= next->first))
        next = {nextTickMs_, EventKind::Tick};
    if (!extraTicks_.empty() && (!next || *extraTicks_.begin() < next->first))
        next = {*extraTicks_.begin(), EventKind::ExtraTick};
    if (closeAtMs_ && (!next || *closeAtMs_ < next->first))
        next = {*closeAtMs_, EventKind::Close};
    if (!lockChanges_.empty() && (!next || lockChanges_.begin()->first < next->first))
        next = {lockChanges_.begin()->first, EventKind::LockChange};
    return next;
}

void FakeWindowSystem::Deliver(EventKind kind, std::int64_t dueMs) {
    try {
        switch (kind) {
            case EventKind::Click:
                pendingClicks_.erase(pendingClicks_.begin());
                clicksAt.push_back(nowMs_);
                events_->cmdStart_Click();
                return;
            case EventKind::Tick:
                // Like WM_TIMER: the timer keeps its phase, and periods missed while the thread
                // was busy collapse into the one tick delivered now.
                nextTickMs_ = dueMs + timerIntervalMs_;
                while (nextTickMs_ <= nowMs_)
                    nextTickMs_ += timerIntervalMs_;
                ticksAt.push_back(nowMs_);
                events_->tmrCheck_Timer();
                return;
            case EventKind::ExtraTick:
                extraTicks_.erase(extraTicks_.begin());
                ticksAt.push_back(nowMs_);
                events_->tmrCheck_Timer();
                return;
            case EventKind::LockChange: {
                const bool locked = lockChanges_.begin()->second;
                lockChanges_.erase(lockChanges_.begin());
                events_->Form_SessionLock(locked);
                return;
            }
            case EventKind::Close:
                closed = true;
                closeAtMs_.reset();
                timerEnabled = false;
                pendingClicks_.clear();
                events_->Form_Unload(UnloadReason::WindowClosed);  // as WM_DESTROY
                return;
        }
    } catch (const WindowClosed&) {
        // As the real window procedure does: the handler has ended, the main loop ends next.
    }
}

void FakeWindowSystem::ProcessPendingEvents() {
    ThrowIfFailing(Operation::ProcessPendingEvents);
    passesHandingOver.push_back(handingOver);
    // Only what is pending now, in time order; events that come due while these run wait for the
    // next pass, and an event a nested pass has already taken is not delivered twice.
    const std::int64_t passMs = nowMs_;
    const std::int64_t tickDueMs = nextTickMs_;
    bool tickPending = timerEnabled && tickDueMs <= passMs;
    auto clicksPending = std::count_if(pendingClicks_.begin(), pendingClicks_.end(),
                                       [&](const auto& click) { return click.first <= passMs; });
    while (!closed) {
        const bool closeReady = closeAtMs_ && *closeAtMs_ <= passMs;
        const bool clickReady =
            clicksPending > 0 && !pendingClicks_.empty() && pendingClicks_.begin()->first <= passMs;
        const bool tickReady = tickPending && timerEnabled && nextTickMs_ == tickDueMs;
        std::optional<std::pair<std::int64_t, EventKind>> next;
        if (clickReady)
            next = {pendingClicks_.begin()->first, EventKind::Click};
        if (tickReady && (!next || tickDueMs <= next->first))
            next = {tickDueMs, EventKind::Tick};
        if (!extraTicks_.empty() && *extraTicks_.begin() <= passMs &&
            (!next || *extraTicks_.begin() < next->first))
            next = {*extraTicks_.begin(), EventKind::ExtraTick};
        if (closeReady && (!next || *closeAtMs_ < next->first))
            next = {*closeAtMs_, EventKind::Close};
        if (!lockChanges_.empty() && lockChanges_.begin()->first <= passMs &&
            (!next || lockChanges_.begin()->first < next->first))
            next = {lockChanges_.begin()->first, EventKind::LockChange};
        if (!next)
            return;
        if (next->second == EventKind::Click)
            --clicksPending;
        if (next->second == EventKind::Tick)
            tickPending = false;
        Deliver(next->second, next->first);
    }
    throw WindowClosed{};
}

void FakeWindowSystem::ThrowIfFailing(Operation operation) {
    if (closed)
        ++operationsAfterClose;
    const auto found = failures_.find(operation);
    if (found == failures_.end())
        return;
    if (found->second.callsToPass-- > 0)
        return;
    Failure failure = found->second.failure;
    failures_.erase(found);
    throw failure;
}

std::wstring FakeWindowSystem::ButtonCaption() {
    ThrowIfFailing(Operation::ButtonCaption);
    return caption;
}

void FakeWindowSystem::SetButtonCaption(std::wstring_view text) {
    ThrowIfFailing(Operation::SetButtonCaption);
    caption = text;
}

std::wstring FakeWindowSystem::TargetText() {
    ThrowIfFailing(Operation::TargetText);
    return target;
}

void FakeWindowSystem::SetTargetText(std::wstring_view text) {
    ThrowIfFailing(Operation::SetTargetText);
    target = text;
}

void FakeWindowSystem::ShowMessage(std::wstring_view text, std::wstring_view title) {
    ThrowIfFailing(Operation::ShowMessage);
    messages.push_back({std::wstring(text), std::wstring(title)});
}

void FakeWindowSystem::SetTimerEnabled(bool enabled) {
    ThrowIfFailing(Operation::SetTimerEnabled);
    timerEnabled = enabled;
    if (enabled) {
        nextTickMs_ = nowMs_ + timerIntervalMs_;
        timerSwitchedOnAt.push_back(nowMs_);
    } else {
        timerSwitchedOffAt.push_back(nowMs_);
    }
}

void FakeWindowSystem::Sleep(std::int32_t milliseconds) {
    ThrowIfFailing(Operation::Sleep);
    // A close requested during the sleep ends it, as on the real window system; so does one due
    // now, which even a sleep of no length looks for.
    if (closeAtMs_ && (*closeAtMs_ < nowMs_ + milliseconds || *closeAtMs_ <= nowMs_)) {
        nowMs_ = std::max(nowMs_, *closeAtMs_);
        Deliver(EventKind::Close, nowMs_);
        throw WindowClosed{};
    }
    const std::int64_t endMs = nowMs_ + milliseconds;
    while (lockNoticeInSleeps && !lockChanges_.empty() && lockChanges_.begin()->first <= endMs) {
        nowMs_ = std::max(nowMs_, lockChanges_.begin()->first);
        Deliver(EventKind::LockChange, nowMs_);
    }
    nowMs_ = endMs;
}

void FakeWindowSystem::SendKeys(const std::vector<KeyStroke>& strokes, bool wait) {
    ThrowIfFailing(Operation::SendKeys);
    if (closed)
        throw WindowClosed{};
    if (ScreenLocked())
        throw Failure(5, L"Zugriff verweigert");
    typed.push_back({nowMs_, strokes, wait, handingOver});
    if (onTyped)
        onTyped(typed.back());
}

}  // namespace ordovan::test
