#include <gtest/gtest.h>

#include <algorithm>

#include "platform/driven_app.h"
#include "platform/key_notation.h"
#include "tests/fake_error_log.h"
#include "tests/fake_journal.h"
#include "tests/fake_window_system.h"
#include "tests/stub_file_system.h"
#include "window/form1.h"
#include "window/form1_design.h"

namespace ordovan::test {
namespace {

using Operation = FakeWindowSystem::Operation;

constexpr std::int64_t kClickMs = 1000;

class StartCommand : public ::testing::Test {
  protected:
    StartCommand() { window.Attach(form); }

    // When each key string was typed, relative to the click.
    std::vector<std::int64_t> TypedAtRelative() const {
        std::vector<std::int64_t> times;
        for (const auto& keys : window.typed)
            times.push_back(keys.atMs - kClickMs);
        return times;
    }
    std::vector<bool> TypedWaitFlags() const {
        std::vector<bool> flags;
        for (const auto& keys : window.typed)
            flags.push_back(keys.wait);
        return flags;
    }
    std::vector<std::vector<KeyStroke>> TypedStrokes() const {
        std::vector<std::vector<KeyStroke>> strokes;
        for (const auto& keys : window.typed)
            strokes.push_back(keys.strokes);
        return strokes;
    }

    FakeWindowSystem window{form1::kPollIntervalMs};
    FakeErrorLog log;
    FakeJournal journal;
    StubFileSystem files;  // an empty watch folder: the first tick hands over at once
    Form1 form{window, files, log, journal, window, kStubWatchFolder, L"1.2.3"};
};

std::vector<std::vector<KeyStroke>> Strokes(std::initializer_list<std::wstring_view> keyStrings) {
    std::vector<std::vector<KeyStroke>> strokes;
    for (auto keys : keyStrings)
        strokes.push_back(ParseKeyString(keys));
    return strokes;
}

TEST_F(StartCommand, TypesTheOpeningSequenceOnItsScheduleThenSwitchesThePollOn) {
    window.ScheduleClick(kClickMs);
    window.RunUntil(kClickMs + 34000);

    // The opening, then the first tick's hand-over (the stub's watch folder is empty).
    ASSERT_EQ(window.typed.size(), 6u + 9u);
    EXPECT_EQ(window.typed[6].atMs, kClickMs + 34000);
    window.typed.resize(6);
    EXPECT_EQ(TypedAtRelative(),
              (std::vector<std::int64_t>{4000, 5000, 7000, 16000, 17000, 18000}));
    EXPECT_EQ(TypedWaitFlags(), (std::vector<bool>{true, true, true, false, false, false}));
    EXPECT_EQ(TypedStrokes(),
              Strokes({L"{F2}", L"{TAB}", L"{ENTER}", L"{HOME}", L"+{END}", L"{ENTER}"}));
    EXPECT_EQ(window.timerSwitchedOnAt.front(), kClickMs + 19000);
    EXPECT_EQ(window.ticksAt, (std::vector<std::int64_t>{kClickMs + 34000}));
    EXPECT_EQ(window.caption, L"Stop");
    EXPECT_FALSE(form.StopRequested);
    EXPECT_TRUE(log.lines.empty());
    // Awake from the moment the caption reads "Stop"; the run goes on, so it stays that way.
    using Awake = std::pair<std::int64_t, bool>;
    EXPECT_EQ(window.keepAwake, (std::vector<Awake>{{kClickMs, true}}));
}

TEST_F(StartCommand, EmptyTargetShowsTheMessageAndStartsNothing) {
    window.target.clear();
    form.StopRequested = true;
    window.ScheduleClick(kClickMs);
    window.RunUntil(kClickMs + 40000);

    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, L"Bitte geben Sie ein Ziel ein");
    EXPECT_EQ(window.messages[0].title, L"Kelvorin");
    EXPECT_EQ(window.caption, L"Start");
    EXPECT_TRUE(window.typed.empty());
    EXPECT_TRUE(window.timerSwitchedOnAt.empty());
    EXPECT_TRUE(window.timerSwitchedOffAt.empty());
    EXPECT_FALSE(form.StopRequested);
    EXPECT_EQ(window.target, L"");
    EXPECT_TRUE(window.keepAwake.empty());
    EXPECT_TRUE(journal.rows.empty());
}

TEST_F(StartCommand, AppendsAMissingBackslashAndNothingElse) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"Y:", L"Y:\\"},
        {L"Y:\\", L"Y:\\"},
        {L"D:\\Export", L"D:\\Export\\"},
        {L" ", L" \\"},
        {L"\\\\server\\share", L"\\\\server\\share\\"},
    };
    for (const auto& [typedTarget, expected] : cases) {
        window.caption = L"Start";
        window.target = typedTarget;
        form.cmdStart_Click();
        EXPECT_EQ(window.target, expected);
        // The journal's Start row names the target as the run uses it.
        ASSERT_FALSE(journal.rows.empty());
        EXPECT_EQ(journal.rows.back().event, L"Start");
        EXPECT_EQ(journal.rows.back().target, expected);
    }
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(StartCommand, AnyCaptionButExactlyStartStops) {
    for (const std::wstring caption : {L"Stop", L"start", L"Start ", L"START", L""}) {
        window.caption = caption;
        form.StopRequested = false;
        form.cmdStart_Click();
        EXPECT_TRUE(form.StopRequested);
        EXPECT_EQ(window.caption, L"Start");
    }
    EXPECT_TRUE(window.typed.empty());
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(journal.rows.empty());
    EXPECT_EQ(window.Now(), 0);
}

TEST_F(StartCommand, StopClickLeavesThePollTimerAsItIs) {
    for (const bool timerOn : {true, false}) {
        window.caption = L"Stop";
        window.timerEnabled = timerOn;
        form.cmdStart_Click();
        EXPECT_TRUE(form.StopRequested);
        EXPECT_EQ(window.caption, L"Start");
        EXPECT_EQ(window.timerEnabled, timerOn);
    }
    EXPECT_TRUE(window.timerSwitchedOnAt.empty());
    EXPECT_TRUE(window.timerSwitchedOffAt.empty());
}

// A click while Start is still typing is taken when the handler has ended, and then stops.
TEST_F(StartCommand, ClickWhileStartingStopsAfterTheOpeningSequence) {
    window.ScheduleClick(kClickMs);
    window.ScheduleClick(kClickMs + 2000);
    window.RunUntil(kClickMs + 19000);

    EXPECT_EQ(window.clicksAt, (std::vector<std::int64_t>{kClickMs, kClickMs + 19000}));
    EXPECT_EQ(window.typed.size(), 6u);
    EXPECT_TRUE(form.StopRequested);
    EXPECT_EQ(window.caption, L"Start");
    EXPECT_TRUE(window.timerEnabled);  // Stopping: the poll's next tick ends the run
}

// Stopping: caption "Start", stop requested, timer still on. A click starts a new run, whose
// opening sequence restarts the timer's interval.
TEST_F(StartCommand, ClickWhileStoppingStartsAgainAndRestartsTheTimer) {
    window.ScheduleClick(kClickMs);
    window.ScheduleClick(kClickMs + 25000);  // Stop
    window.ScheduleClick(kClickMs + 26000);  // Start again before the next tick
    window.RunUntil(kClickMs + 26000 + 19000);

    EXPECT_FALSE(form.StopRequested);
    EXPECT_EQ(window.caption, L"Stop");
    EXPECT_EQ(window.typed.size(), 12u);
    EXPECT_EQ(window.timerSwitchedOnAt,
              (std::vector<std::int64_t>{kClickMs + 19000, kClickMs + 26000 + 19000}));
    EXPECT_TRUE(window.ticksAt.empty());
    EXPECT_TRUE(window.timerSwitchedOffAt.empty());
}

// Stop, then Start with an empty target before the next tick: the stop is revoked and the run
// goes on although the caption reads "Start".
TEST_F(StartCommand, EmptyTargetAfterStopRevokesTheStop) {
    window.ScheduleClick(kClickMs);
    window.ScheduleClick(kClickMs + 25000);
    window.RunUntil(kClickMs + 25000);
    window.target.clear();
    window.ScheduleClick(kClickMs + 26000);
    window.RunUntil(kClickMs + 26000);

    EXPECT_FALSE(form.StopRequested);
    EXPECT_EQ(window.caption, L"Start");
    EXPECT_TRUE(window.timerEnabled);
    EXPECT_EQ(window.messages.size(), 1u);
}

TEST_F(StartCommand, ClosingTheWindowDuringAPauseEndsTheStartThere) {
    window.ScheduleClick(kClickMs);
    window.ScheduleClose(kClickMs + 4500);  // during the pause after F2
    window.RunUntil(kClickMs + 60000);

    EXPECT_EQ(TypedAtRelative(), (std::vector<std::int64_t>{4000}));
    EXPECT_EQ(window.operationsAfterClose, 0);
    EXPECT_TRUE(window.timerSwitchedOnAt.empty());
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(StartCommand, KeyStringThatCannotBeReadIsLoggedOnceWithoutItsDelay) {
    form.KelvorinX(L"{F99}", true, 1000);

    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].procedureText, L"KelvorinX - {F99} - Wahr - 1000");
    EXPECT_EQ(log.lines[0].number, kInvalidKeyStringNumber);
    EXPECT_FALSE(log.lines[0].description.empty());
    EXPECT_TRUE(window.typed.empty());
    EXPECT_EQ(window.Now(), 0);
}

TEST_F(StartCommand, RejectedKeyIsLoggedAndTheSequenceGoesOnAtOnce) {
    window.FailNext(Operation::SendKeys, Failure(5, L"Zugriff verweigert"));
    window.ScheduleClick(kClickMs);
    window.RunUntil(kClickMs + 19000);

    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].procedureText, L"KelvorinX - {F2} - Wahr - 1000");
    EXPECT_EQ(log.lines[0].number, 5);
    EXPECT_EQ(log.lines[0].description, L"Zugriff verweigert");
    // Tab follows at once, without the failed key's pause; the rest keeps its rhythm.
    EXPECT_EQ(TypedAtRelative(), (std::vector<std::int64_t>{4000, 6000, 15000, 16000, 17000}));
    EXPECT_EQ(window.timerSwitchedOnAt, (std::vector<std::int64_t>{kClickMs + 18000}));
}

TEST_F(StartCommand, FailedPauseIsLoggedWithTheFalseWord) {
    // Sleeps before the pause after Home: 4,000 ms, three key delays, the 6,000 ms pause.
    window.FailNext(Operation::Sleep, Failure(1, L"Unzul\u00e4ssige Funktion."), 5);
    window.ScheduleClick(kClickMs);
    window.RunUntil(kClickMs + 19000);

    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].procedureText, L"KelvorinX - {HOME} - Falsch - 1000");
}

// A failure after the caption went to "Stop" halts the run: caption "Stop", timer still off.
TEST_F(StartCommand, FailureAfterTheCaptionChangeHaltsWithOneLogLine) {
    window.FailNext(Operation::SetTimerEnabled, Failure(1400, L"Ungültiges Fensterhandle."));
    window.ScheduleClick(kClickMs);
    window.RunUntil(kClickMs + 60000);

    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].procedureText, L"cmdStart_Click");
    EXPECT_EQ(log.lines[0].number, 1400);
    EXPECT_EQ(window.caption, L"Stop");
    EXPECT_FALSE(window.timerEnabled);
    EXPECT_TRUE(window.ticksAt.empty());
}

TEST_F(StartCommand, FailureBeforeTheCaptionChangeEndsTheHandlerWithOneLogLine) {
    for (const Operation operation : {Operation::ButtonCaption, Operation::TargetText}) {
        window.FailNext(operation, Failure(6, L"Das Handle ist ungültig."));
        form.cmdStart_Click();
    }
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0].procedureText, L"cmdStart_Click");
    EXPECT_EQ(log.lines[1].procedureText, L"cmdStart_Click");
    EXPECT_EQ(window.caption, L"Start");
    EXPECT_TRUE(window.typed.empty());
}

std::vector<std::wstring_view> Events(const FakeJournal& journal) {
    std::vector<std::wstring_view> events;
    for (const auto& row : journal.rows)
        events.push_back(row.event);
    return events;
}

// One image subfolder, locked at once: the first tick counts it, the second copies it and hands
// over, with the deletion loop's event pass after Alt+F, A (53 s after the click).
constexpr std::wstring_view kSubfolder = L"X:\\Stub\\PACS\\A";
constexpr std::int64_t kHandOverMs = kClickMs + 49000;
constexpr std::int64_t kDeletionPassMs = kHandOverMs + 3000;
constexpr std::size_t kOpeningKeys = 6;
constexpr std::size_t kHandOverKeys = 9;

// A Stop and a Start clicked during the pre-deletion keys reach the deletion loop's event pass.
// The hand-over is marked against activation from Alt+F to the last Enter, that pass included,
// and the Start waits until the tick has ended instead of running a whole run inside it.
TEST_F(StartCommand, HandOverIsMarkedThroughoutAndAStartClickedInItWaitsForTheTicksEnd) {
    files.subfolders = {std::wstring(kSubfolder)};
    window.ScheduleClick(kClickMs);
    window.ScheduleClick(kHandOverMs + 500);  // Stop
    window.ScheduleClick(kHandOverMs + 600);  // Start
    window.RunUntil(kHandOverMs + 40000);

    EXPECT_EQ(window.clicksAt,
              (std::vector<std::int64_t>{kClickMs, kDeletionPassMs, kDeletionPassMs}));
    ASSERT_EQ(window.typed.size(), kOpeningKeys + kHandOverKeys + kOpeningKeys);
    for (std::size_t key = 0; key < window.typed.size(); ++key) {
        SCOPED_TRACE(key);
        const bool handOver = key >= kOpeningKeys && key < kOpeningKeys + kHandOverKeys;
        EXPECT_EQ(window.typed[key].handingOver, handOver);
    }
    EXPECT_EQ(window.passesHandingOver, (std::vector<bool>{false, true}));
    EXPECT_FALSE(window.handingOver);
    // The second opening sequence begins 4 s after the hand-over's last key and its pause.
    EXPECT_EQ(window.typed[kOpeningKeys + kHandOverKeys].atMs, kHandOverMs + 19000 + 4000);
    EXPECT_EQ(window.typed[kOpeningKeys + kHandOverKeys].strokes, ParseKeyString(L"{F2}"));
    EXPECT_EQ(window.caption, L"Stop");
    EXPECT_FALSE(form.StopRequested);
}

// The screen is locked at four points of a run. A key refused while it is locked, or due once
// Windows has reported the lock, ends its sequence; the wait has one log line; the run waits
// (Gesperrt ... Entsperrt), leaves the watch folder alone, and types the rest from the refused key
// on at the first tick after the unlock: every key of the run once, in order.
TEST_F(StartCommand, LockedScreenMakesTheRunWaitAndGoOnAtTheKeyItCutShort) {
    const std::int64_t nextPatientEnter = kHandOverMs + 7000;
    const struct {
        const char* when;
        std::int64_t lockedFrom, lockedUntil;
        std::int64_t goesOnAtMs;  // the first key typed after the unlock
        std::vector<std::wstring> logged;
        bool noticeInSleeps = false;
    } cases[] = {
        {"before the opening keys",
         kClickMs + 2000,
         kClickMs + 30000,
         kClickMs + 34000,
         {L"Bildschirmsperre"}},
        {"in the next-patient keys",
         nextPatientEnter - 500,
         nextPatientEnter + 60000,
         nextPatientEnter + 60000,
         {L"KelvorinX - {ENTER} - Wahr - 3000"}},
        {"reported in the deletion's event pass",
         kDeletionPassMs - 500,
         kDeletionPassMs + 60000,
         kDeletionPassMs + 60000,
         {L"Bildschirmsperre"}},
        {"between two ticks",
         kClickMs + 21000,
         kClickMs + 60000,
         kClickMs + 79000,
         {L"Bildschirmsperre"}},
        // The opening's 6 s pause ends at kClickMs + 16000 with Home, whose tick after the unlock
        // comes 15 s after the sequence stopped there, and again 15 s on while still locked.
        {"reported in the opening's pause",
         kClickMs + 12000,
         kClickMs + 40000,
         kClickMs + 46000,
         {L"Bildschirmsperre"},
         true},
    };
    std::vector<std::vector<KeyStroke>> everyKey;
    const auto keysOf = [&everyKey](std::span<const driven_app::KeyStep> steps) {
        for (const auto& step : steps)
            if (!step.IsPause())
                everyKey.push_back(ParseKeyString(step.keys));
    };
    keysOf(driven_app::kOpeningSequence);
    keysOf(driven_app::kPreDeletionKeys);
    keysOf(driven_app::kNextPatientSequence);
    const auto altF = ParseKeyString(L"%{F}");

    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        FakeWindowSystem locked{form1::kPollIntervalMs};
        FakeErrorLog lockLog;
        FakeJournal lockJournal;
        StubFileSystem lockFiles;
        lockFiles.subfolders = {std::wstring(kSubfolder)};
        Form1 lockForm{locked, lockFiles, lockLog, lockJournal, locked, kStubWatchFolder, L"1.2.3"};
        locked.Attach(lockForm);
        locked.ScheduleLock(c.lockedFrom, c.lockedUntil);
        locked.lockNoticeInSleeps = c.noticeInSleeps;
        locked.ScheduleClick(kClickMs);
        locked.RunUntil(c.lockedUntil + 80000);

        ASSERT_GE(locked.typed.size(), everyKey.size());
        for (std::size_t key = 0; key < everyKey.size(); ++key)
            EXPECT_EQ(locked.typed[key].strokes, everyKey[key]) << "key " << key;
        EXPECT_TRUE(std::any_of(locked.typed.begin(), locked.typed.end(),
                                [&](const auto& keys) { return keys.atMs == c.goesOnAtMs; }));
        EXPECT_TRUE(std::none_of(locked.typed.begin(), locked.typed.end(), [&](const auto& keys) {
            return keys.atMs >= c.lockedFrom && keys.atMs < c.lockedUntil;
        }));
        std::vector<std::wstring> logged;
        for (const auto& line : lockLog.lines)
            logged.push_back(line.procedureText);
        EXPECT_EQ(logged, c.logged);
        // Every copy handed over once: none while locked, none again after the unlock.
        EXPECT_EQ(lockFiles.copies,
                  std::count_if(locked.typed.begin(), locked.typed.end(),
                                [&](const auto& keys) { return keys.strokes == altF; }));
        const auto events = Events(lockJournal);
        ASSERT_EQ(std::count(events.begin(), events.end(), L"Gesperrt"), 1);
        const auto lockRow = std::find(events.begin(), events.end(), L"Gesperrt");
        EXPECT_EQ(*std::next(lockRow), L"Entsperrt");
    }
}

// The end of a run on record: the window closed or Windows ending the session during a run
// writes Beendet; Windows' end also makes the journal finish before the handler returns, since
// the process may be ended then. Without a run nothing is written.
TEST_F(StartCommand, EndOfTheProgramDuringARunIsRecordedAndLetsWindowsEndAgain) {
    const std::wstring reason =
        L"Copy Ordovan exportiert Bilder \u2013 bitte zuerst Stop dr\u00fccken";
    const struct {
        const char* how;
        bool duringRun;
        UnloadReason reason;
        std::wstring note;
    } cases[] = {
        {"window closed", true, UnloadReason::WindowClosed, L"Fenster geschlossen"},
        {"Windows ending", true, UnloadReason::WindowsEnding, L"Windows wird beendet"},
        {"Windows ending, no run", false, UnloadReason::WindowsEnding, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        FakeWindowSystem ending{form1::kPollIntervalMs};
        FakeErrorLog endLog;
        FakeJournal endJournal;
        Form1 endForm{ending, files, endLog, endJournal, ending, kStubWatchFolder, L"1.2.3"};
        ending.Attach(endForm);
        if (c.duringRun) {
            ending.ScheduleClick(kClickMs);
            ending.RunUntil(kClickMs + 10000);
        }
        endForm.Form_Unload(c.reason);
        endForm.Form_Unload(UnloadReason::WindowClosed);  // the window goes after Windows' end

        const bool windowsEnding = c.reason == UnloadReason::WindowsEnding;
        if (c.duringRun) {
            EXPECT_EQ(Events(endJournal), (std::vector<std::wstring_view>{L"Start", L"Beendet"}));
            EXPECT_EQ(endJournal.rows.back().note, c.note);
            EXPECT_EQ(ending.shutdownReasons, (std::vector<std::wstring>{reason, L""}));
        } else {
            EXPECT_TRUE(endJournal.rows.empty());
        }
        EXPECT_EQ(endJournal.finishedAfterRows,
                  windowsEnding ? std::optional(endJournal.rows.size()) : std::nullopt);
    }
}

// The keys go wherever the focus is; when the program in front is another one than the keys
// went to before, the journal says so once, with its file name and title. The Start row says when
// Windows would lock the screen by itself.
TEST_F(StartCommand, ChangeOfTheProgramInFrontIsRecordedOnceAndTheIdleLockAtStart) {
    files.subfolders = {std::wstring(kSubfolder)};
    window.lockAfterSeconds = 600;
    window.onTyped = [this](const FakeWindowSystem::TypedKeys&) {
        if (window.typed.size() == kOpeningKeys + 3)  // the hand-over's F2
            window.front = {815, L"notepad.exe", L"Unbenannt - Editor"};
    };
    window.ScheduleClick(kClickMs);
    window.RunUntil(kHandOverMs + 2 * 50000);

    ASSERT_GE(window.typed.size(), kOpeningKeys + 2 * kHandOverKeys);
    const auto events = Events(journal);
    ASSERT_EQ(std::count(events.begin(), events.end(), L"Fokus"), 1);
    const auto focus = std::find_if(journal.rows.begin(), journal.rows.end(),
                                    [](const auto& row) { return row.event == L"Fokus"; });
    EXPECT_EQ(focus->note, L"notepad.exe \u2013 Unbenannt - Editor");
    EXPECT_EQ(journal.rows.front().note,
              L"Copy Ordovan 1.2.3; Bildschirmsperre nach 10 min: der Lauf wartet dann");
}

}  // namespace
}  // namespace ordovan::test
