#include <gtest/gtest.h>

#include <windows.h>
#include <wtsapi32.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "platform/driven_app.h"
#include "platform/key_notation.h"
#include "platform/win32/handles.h"
#include "platform/win32/last_error.h"
#include "platform/win32/main_window.h"
#include "platform/win32/screen_lock_timeout.h"
#include "platform/win32/tick_clock.h"
#include "platform/win32/win32_file_system.h"
#include "tests/fake_error_log.h"
#include "tests/fake_journal.h"
#include "window/form1.h"
#include "window/form1_design.h"

namespace ordovan::win32 {
namespace {

using form1::ControlId;
// The window tests never tick: their Form1 gets a watch folder that nothing on disk answers to.
constexpr std::wstring_view kNoWatchFolder = L"X:\\NoWatchFolder";

struct RecordingEvents final : WindowEvents {
    void cmdStart_Click() override { ++clicks; }
    void tmrCheck_Timer() override { ++ticks; }
    void Form_SessionLock(bool locked) override { locks.push_back(locked); }
    void Form_Unload(UnloadReason reason) override { unloads.push_back(reason); }
    int clicks = 0;
    int ticks = 0;
    std::vector<UnloadReason> unloads;
    std::vector<bool> locks;
};

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

std::wstring Text(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

RECT ClientRect(HWND window) {
    RECT rect{};
    ::GetClientRect(window, &rect);
    return rect;
}

// The control's rectangle in its parent's client coordinates.
RECT RectInParent(HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void ExpectDesignRect(HWND control, const form1::ControlDesign& design, int dpi) {
    const RECT rect = RectInParent(control);
    EXPECT_EQ(rect.left, form1::TwipsToPixels(design.left, dpi));
    EXPECT_EQ(rect.top, form1::TwipsToPixels(design.top, dpi));
    EXPECT_EQ(rect.right - rect.left, form1::TwipsToPixels(design.width, dpi));
    EXPECT_EQ(rect.bottom - rect.top, form1::TwipsToPixels(design.height, dpi));
}

LONG FontHeight(HWND control) {
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW description{};
    ::GetObjectW(font, sizeof(description), &description);
    return description.lfHeight < 0 ? -description.lfHeight : description.lfHeight;
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.Create(::GetModuleHandleW(nullptr), events);
        window.Show(SW_SHOWNORMAL);
        ::SetForegroundWindow(window.Handle());
        window.ProcessPendingEvents();
    }

    HWND Control(ControlId id) const { return window.Control(id); }

    RecordingEvents events;
    MainWindow window;
};

TEST_F(MainWindowTest, OpensWithCaptionClientSizeAndTheDesignedControls) {
    EXPECT_EQ(Text(window.Handle()), L"Copy Ordovan");
    ASSERT_EQ(::GetDpiForWindow(window.Handle()), 96u) << "the test prefix runs at 96 dpi";
    const RECT client = ClientRect(window.Handle());
    EXPECT_EQ(client.right, 213);
    EXPECT_EQ(client.bottom, 82);

    const std::wstring classes[] = {L"Button", L"Edit", L"Static", L"Static"};
    const std::wstring texts[] = {L"Start", L"Y:\\", L"Ziel:", L"Test"};
    for (std::size_t i = 0; i < form1::kControls.size(); ++i) {
        const HWND control = Control(form1::kControls[i].id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(ClassName(control), classes[i]);
        EXPECT_EQ(Text(control), texts[i]);
        EXPECT_TRUE(::IsWindowEnabled(control));
        ExpectDesignRect(control, form1::kControls[i], 96);
    }
}

TEST_F(MainWindowTest, StartsWithTheFocusOnStartAndTabsBetweenButtonAndTargetBox) {
    EXPECT_EQ(::GetFocus(), Control(ControlId::cmdStart));
    const HWND afterStart =
        ::GetNextDlgTabItem(window.Handle(), Control(ControlId::cmdStart), FALSE);
    EXPECT_EQ(afterStart, Control(ControlId::txtTarget));
    const HWND afterTarget =
        ::GetNextDlgTabItem(window.Handle(), Control(ControlId::txtTarget), FALSE);
    EXPECT_EQ(afterTarget, Control(ControlId::cmdStart));
}

TEST_F(MainWindowTest, RescalesClientAreaControlsAndFontWhenTheDpiChanges) {
    const LONG fontAt96 = FontHeight(Control(ControlId::cmdStart));
    RECT suggested{};
    ::GetWindowRect(window.Handle(), &suggested);
    ::SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                   reinterpret_cast<LPARAM>(&suggested));

    const RECT client = ClientRect(window.Handle());
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 123);
    for (const auto& design : form1::kControls)
        ExpectDesignRect(Control(design.id), design, 144);
    EXPECT_GT(FontHeight(Control(ControlId::cmdStart)), fontAt96);

    ::SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(96, 96),
                   reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(ClientRect(window.Handle()).right, 213);
    EXPECT_EQ(FontHeight(Control(ControlId::cmdStart)), fontAt96);
}

TEST_F(MainWindowTest, ButtonClickReachesTheLogicOnlyThroughTheEventPass) {
    ::PostMessageW(Control(ControlId::cmdStart), BM_CLICK, 0, 0);
    EXPECT_EQ(events.clicks, 0);
    window.ProcessPendingEvents();
    EXPECT_EQ(events.clicks, 1);
    EXPECT_EQ(events.ticks, 0);
}

TEST_F(MainWindowTest, ControlTextsReadAndWriteTheRealControls) {
    window.SetButtonCaption(L"Stop");
    EXPECT_EQ(Text(Control(ControlId::cmdStart)), L"Stop");
    EXPECT_EQ(window.ButtonCaption(), L"Stop");

    window.SetTargetText(L"D:\\R\u00f6ntgen\\");
    EXPECT_EQ(window.TargetText(), L"D:\\R\u00f6ntgen\\");
    window.SetTargetText(L"");
    EXPECT_EQ(window.TargetText(), L"");
}

TEST_F(MainWindowTest, PollTimerIsOffAtFirstAndSwitchesOnAndOff) {
    constexpr UINT_PTR kPollTimerId = 1;
    // KillTimer succeeds only for a timer that is running.
    EXPECT_FALSE(::KillTimer(window.Handle(), kPollTimerId));
    window.SetTimerEnabled(true);
    window.SetTimerEnabled(true);
    EXPECT_TRUE(::KillTimer(window.Handle(), kPollTimerId));
    window.SetTimerEnabled(true);
    window.SetTimerEnabled(false);
    EXPECT_FALSE(::KillTimer(window.Handle(), kPollTimerId));
}

// Start has the focus when the window opens, and Enter clicks it; in the target box Enter clicks
// nothing, since Start is not the window's default button.
TEST_F(MainWindowTest, EnterTabAndSpaceOperateTheWindowFromTheKeyboard) {
    window.SendKeys(ParseKeyString(L"{ENTER}"), true);
    EXPECT_EQ(events.clicks, 1);
    window.SendKeys(ParseKeyString(L"{TAB}"), true);
    window.SendKeys(ParseKeyString(L"{ENTER}"), true);
    EXPECT_EQ(events.clicks, 1);
    window.SendKeys(ParseKeyString(L"+{TAB}"), true);
    events.clicks = 0;
    window.SendKeys(ParseKeyString(L"{TAB}"), true);
    EXPECT_EQ(::GetFocus(), Control(ControlId::txtTarget));
    window.SendKeys(ParseKeyString(L"+{TAB}"), true);
    EXPECT_EQ(::GetFocus(), Control(ControlId::cmdStart));
    EXPECT_EQ(events.clicks, 0);
    window.SendKeys(ParseKeyString(L" "), true);
    EXPECT_EQ(events.clicks, 1);
}

// With the focus on our own window, KelvorinX types into it, and with the wait flag the keys are
// in the text box when the call returns.
TEST_F(MainWindowTest, KelvorinXWithWaitHasTypedIntoOurOwnTextBoxWhenItReturns) {
    test::FakeErrorLog log;
    test::FakeJournal journal;
    Win32FileSystem files;
    TickClock clock;
    Form1 form(window, files, log, journal, clock, kNoWatchFolder, L"0.0.0");
    ::SetFocus(Control(ControlId::txtTarget));
    window.SetTargetText(L"X:\\Alt");

    form.KelvorinX(L"{HOME}", true, 0);
    form.KelvorinX(L"+{END}", true, 0);
    form.KelvorinX(L"{A}", true, 0);
    EXPECT_EQ(window.TargetText(), L"A");
    form.KelvorinX(L"b~", true, 0);
    EXPECT_EQ(window.TargetText(), L"Ab");
    EXPECT_TRUE(log.lines.empty());
}

// The keys of a run typed while our own window has the focus (the user left it on Start): they
// land in our controls, nothing is logged and the program goes on. "{A}" replaces the selected
// target; an Enter on the focused button is a click, handled within the key wait: here a Stop.
TEST(OwnWindowFocus, KeysOfARunTypedIntoOurOwnWindowLandInItsControlsAndLogNothing) {
    test::FakeErrorLog log;
    test::FakeJournal journal;
    Win32FileSystem files;
    TickClock clock;
    MainWindow window;
    Form1 form(window, files, log, journal, clock, kNoWatchFolder, L"0.0.0");
    window.Create(::GetModuleHandleW(nullptr), form);
    window.Show(SW_SHOWNORMAL);
    ::SetForegroundWindow(window.Handle());
    window.ProcessPendingEvents();
    window.SetButtonCaption(L"Stop");
    ASSERT_EQ(::GetFocus(), window.Control(ControlId::cmdStart));

    // F2, Tab (to the target box), Enter, Home, Shift+End, Enter; then Alt+F, A.
    for (const auto& step : driven_app::kOpeningSequence) {
        if (!step.IsPause())
            form.KelvorinX(step.keys, step.wait, 0);
    }
    for (const auto& step : driven_app::kPreDeletionKeys)
        form.KelvorinX(step.keys, step.wait, 0);
    window.ProcessPendingEvents();
    EXPECT_EQ(window.TargetText(), L"A");
    EXPECT_EQ(window.ButtonCaption(), L"Stop");
    EXPECT_FALSE(form.StopRequested);

    form.KelvorinX(L"{TAB}", true, 0);  // back to the button
    form.KelvorinX(L"{ENTER}", true, 0);
    EXPECT_TRUE(form.StopRequested);
    EXPECT_EQ(window.ButtonCaption(), L"Start");
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(::IsWindow(window.Handle()));
}

// Windows drops keys meant for a window of a process with higher rights (run as administrator)
// and tells the sender nothing. Wine has no integrity levels, so the rights are pretended here.
struct OutrankingRights final : InputRights {
    bool Outranks(HWND) override { return true; }
};

TEST(HigherRights, EveryKeyForAWindowOfHigherRightsIsLoggedOnceAndNothingIsTyped) {
    OutrankingRights rights;
    test::FakeErrorLog log;
    test::FakeJournal journal;
    Win32FileSystem files;
    TickClock clock;
    MainWindow window(rights);
    Form1 form(window, files, log, journal, clock, kNoWatchFolder, L"0.0.0");
    window.Create(::GetModuleHandleW(nullptr), form);
    window.Show(SW_SHOWNORMAL);
    ::SetForegroundWindow(window.Handle());
    window.ProcessPendingEvents();
    ::SetFocus(window.Control(ControlId::txtTarget));
    window.SetTargetText(L"X:\\Alt");

    std::vector<std::wstring> expected;
    for (const auto& step : driven_app::kOpeningSequence) {
        if (step.IsPause())
            continue;
        form.KelvorinX(step.keys, step.wait, 0);
        expected.push_back(L"KelvorinX - " + std::wstring(step.keys) + L" - " +
                           (step.wait ? L"Wahr" : L"Falsch") + L" - 0");
    }
    window.ProcessPendingEvents();
    EXPECT_EQ(window.TargetText(), L"X:\\Alt");
    ASSERT_EQ(log.lines.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(log.lines[i].procedureText, expected[i]);
        EXPECT_EQ(log.lines[i].number, static_cast<std::int32_t>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(log.lines[i].description, DescribeError(ERROR_ACCESS_DENIED));
    }
}

// Where the foreign process's token cannot be read (another account's), Windows itself decides:
// UIPI refuses a posted message with access denied exactly when it would drop the keys.
TEST(HigherRights, IntegrityLevelsDecideAndWhereOneCannotBeReadAPostedMessageDoes) {
    constexpr DWORD kLow = SECURITY_MANDATORY_LOW_RID;
    constexpr DWORD kMedium = SECURITY_MANDATORY_MEDIUM_RID;
    constexpr DWORD kHigh = SECURITY_MANDATORY_HIGH_RID;
    const struct {
        const char* situation;
        std::optional<DWORD> theirs;
        std::optional<DWORD> ours;
        DWORD postError;
        bool dropped;
        bool posted;
    } cases[] = {
        {"higher", kHigh, kMedium, ERROR_SUCCESS, true, false},
        {"equal", kMedium, kMedium, ERROR_ACCESS_DENIED, false, false},
        {"lower", kLow, kMedium, ERROR_ACCESS_DENIED, false, false},
        {"theirs unreadable, post refused", std::nullopt, kMedium, ERROR_ACCESS_DENIED, true, true},
        {"theirs unreadable, posted", std::nullopt, kMedium, ERROR_SUCCESS, false, true},
        {"theirs unreadable, window gone", std::nullopt, kHigh, ERROR_INVALID_WINDOW_HANDLE, false,
         true},
        {"ours unreadable, post refused", kLow, std::nullopt, ERROR_ACCESS_DENIED, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        int posts = 0;
        EXPECT_EQ(InputWouldBeDropped(c.theirs, c.ours,
                                      [&] {
                                          ++posts;
                                          return c.postError;
                                      }),
                  c.dropped);
        EXPECT_EQ(posts, c.posted ? 1 : 0);
    }
}

TEST_F(MainWindowTest, ClosingTheWindowDuringAnEventPassEndsTheCallersProcedure) {
    ::PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
    EXPECT_THROW(window.ProcessPendingEvents(), WindowClosed);
    EXPECT_EQ(window.Handle(), nullptr);
    // No key is typed once the window is gone.
    EXPECT_THROW(window.SendKeys(ParseKeyString(L"{F2}"), true), WindowClosed);
    MSG message{};
    EXPECT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

// The user closes the window while KelvorinX waits for our own window to take its keys: the
// procedure ends at once, without the key's delay and without a log line.
TEST_F(MainWindowTest, ClosingTheWindowDuringAKeyWaitEndsTheProcedureWithoutALogLine) {
    test::FakeErrorLog log;
    test::FakeJournal journal;
    Win32FileSystem files;
    TickClock clock;
    Form1 form(window, files, log, journal, clock, kNoWatchFolder, L"0.0.0");
    ::SetFocus(Control(ControlId::txtTarget));
    ::PostMessageW(window.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);

    const ULONGLONG start = ::GetTickCount64();
    EXPECT_THROW(form.KelvorinX(L"{F2}", true, 3000), WindowClosed);
    EXPECT_LT(::GetTickCount64() - start, 1000u);
    EXPECT_EQ(window.Handle(), nullptr);
    EXPECT_TRUE(log.lines.empty());
    MSG message{};
    EXPECT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

// What the user does during a pause, from another thread after this delay.
constexpr DWORD kUserActsAfterMs = 300;

// Wine moves its cursor through the X server, which may not have done so when the click comes:
// the press waits until the cursor stands where it should.
void MoveTo(POINT at) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        ::SetCursorPos(at.x, at.y);
        ::Sleep(10);
        POINT now{};
        if (::GetCursorPos(&now) && now.x == at.x && now.y == at.y)
            break;
    }
}

void PressButton(DWORD flags) {
    INPUT press{};
    press.type = INPUT_MOUSE;
    press.mi.dwFlags = flags;
    ::SendInput(1, &press, sizeof(INPUT));
}

void Click(POINT at) {
    MoveTo(at);
    PressButton(MOUSEEVENTF_LEFTDOWN);
    PressButton(MOUSEEVENTF_LEFTUP);
}

POINT CentreOf(HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// A part of the frame (drawn by Wine itself on its virtual desktop), found the way Windows finds
// it for a click: by hit-testing along the caption from the right.
POINT FramePartOf(HWND window, LRESULT part) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    const int y = rect.top + ::GetSystemMetrics(SM_CYFRAME) + ::GetSystemMetrics(SM_CYCAPTION) / 2;
    for (int x = rect.right - 1; x > rect.left; --x) {
        if (::SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == part)
            return {x - 4, y};
    }
    return {-1, -1};
}

POINT CloseButtonOf(HWND window) {
    return FramePartOf(window, HTCLOSE);
}

// Sleeps 2 s while `act` runs on another thread, and answers how long the sleep took, or -1 when
// it ended with WindowClosed.
LONGLONG SleepWhile(MainWindow& window, const std::function<void()>& act) {
    std::thread user([&] {
        ::Sleep(kUserActsAfterMs);
        act();
    });
    const ULONGLONG start = ::GetTickCount64();
    bool closed = false;
    try {
        window.Sleep(2000);
    } catch (const WindowClosed&) {
        closed = true;
    }
    const auto took = static_cast<LONGLONG>(::GetTickCount64() - start);
    user.join();
    return closed ? -took : took;
}

// During a pause the window takes no click, key or tick: they wait for the next event pass.
TEST_F(MainWindowTest, SleepLeavesClicksAndTicksQueued) {
    ::PostMessageW(window.Handle(), WM_TIMER, 1, 0);
    const POINT start = CentreOf(Control(ControlId::cmdStart));
    EXPECT_GE(SleepWhile(window, [&] { Click(start); }), 1990);
    EXPECT_EQ(events.ticks, 0);
    EXPECT_EQ(events.clicks, 0);
    window.ProcessPendingEvents();
    EXPECT_EQ(events.clicks, 1);
    EXPECT_EQ(events.ticks, 1);
}

// Windows asks to close in these ways; each ends a pause at once and destroys the window. The
// system command may come sent or posted; a posted one is looked for in the queue.
TEST_F(MainWindowTest, EveryWayOfClosingEndsASleepAtOnce) {
    const auto typeAltF4 = [] {
        INPUT keys[4]{};
        const WORD order[4][2] = {{VK_MENU, 0}, {VK_F4, 0}, {VK_F4, 1}, {VK_MENU, 1}};
        for (int i = 0; i < 4; ++i) {
            keys[i].type = INPUT_KEYBOARD;
            keys[i].ki.wVk = order[i][0];
            keys[i].ki.dwFlags = order[i][1] ? KEYEVENTF_KEYUP : 0;
        }
        ::SendInput(4, keys, sizeof(INPUT));
    };
    const struct {
        const char* way;
        std::function<void(HWND)> close;
    } ways[] = {
        {"close button", [](HWND w) { Click(CloseButtonOf(w)); }},
        {"Alt+F4", [&](HWND) { typeAltF4(); }},
        {"posted WM_CLOSE", [](HWND w) { ::PostMessageW(w, WM_CLOSE, 0, 0); }},
        {"taskbar", [](HWND w) { ::SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"posted SC_CLOSE", [](HWND w) { ::PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.way);
        if (!window.Handle())
            SetUp();
        const HWND handle = window.Handle();
        ASSERT_EQ(::GetForegroundWindow(), handle);
        ASSERT_NE(CloseButtonOf(handle).x, -1);
        const LONGLONG took = SleepWhile(window, [&] { way.close(handle); });
        EXPECT_LT(took, 0) << "the sleep ran its full length";
        EXPECT_LT(-took, static_cast<LONGLONG>(kUserActsAfterMs) + 1000);
        EXPECT_EQ(window.Handle(), nullptr);
        EXPECT_EQ(events.clicks, 0);
        MSG quit{};
        ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    // The copy's look at the queue between images is a sleep of no length: it takes a close too.
    SetUp();
    ::PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
    EXPECT_THROW(window.Sleep(0), WindowClosed);
    EXPECT_EQ(window.Handle(), nullptr);
    MSG quit{};
    ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

// A press on the inactive window (its title bar here) asks it whether to activate. During a
// pause the answer is no: the rest of the sequence's keys would go into the tool.
TEST_F(MainWindowTest, APressActivatesTheWindowOnlyOutsideASequence) {
    const HWND handle = window.Handle();
    std::atomic<LRESULT> answer{0};
    std::atomic<bool> answered{false};
    const auto askFromAnotherThread = [&] {
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutW(handle, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(handle),
                                  MAKELPARAM(HTCAPTION, WM_NCLBUTTONDOWN), SMTO_NORMAL, 1500,
                                  &result)) {
            answer = static_cast<LRESULT>(result);
        }
        answered = true;
    };
    SleepWhile(window, askFromAnotherThread);
    EXPECT_EQ(answer, MA_NOACTIVATE);

    // Asked while the window takes its events, as in the deletion loop's event passes.
    const auto askDuringEventPasses = [&] {
        answer = 0;
        answered = false;
        std::thread user(askFromAnotherThread);
        while (!answered) {
            window.ProcessPendingEvents();
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        user.join();
        return answer.load();
    };
    EXPECT_EQ(askDuringEventPasses(), MA_ACTIVATE);
    // A hand-over: from the first pre-deletion key to the next-patient Enter, event passes too.
    window.MarkHandOver(true);
    EXPECT_EQ(askDuringEventPasses(), MA_NOACTIVATE);
    window.MarkHandOver(false);
    EXPECT_EQ(askDuringEventPasses(), MA_ACTIVATE);
}

// Windows asked to end the session: refused with the run's reason while a run goes on; once it
// ends, the logic hears of it before the window goes.
TEST_F(MainWindowTest, EndOfTheSessionIsRefusedDuringARunAndReportedWhenItComes) {
    const HWND handle = window.Handle();
    window.BlockShutdown(L"Copy Ordovan exportiert Bilder");
    EXPECT_EQ(::SendMessageW(handle, WM_QUERYENDSESSION, 0, 0), FALSE);
    window.BlockShutdown({});
    EXPECT_EQ(::SendMessageW(handle, WM_QUERYENDSESSION, 0, 0), TRUE);
    ::SendMessageW(handle, WM_ENDSESSION, FALSE, 0);  // another program refused: nothing ends
    EXPECT_TRUE(events.unloads.empty());
    ::SendMessageW(handle, WM_ENDSESSION, TRUE, 0);
    ASSERT_FALSE(events.unloads.empty());
    EXPECT_EQ(events.unloads.front(), UnloadReason::WindowsEnding);
    EXPECT_FALSE(::IsWindow(handle));
    MSG quit{};
    ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

// Windows' lock notification counts, and so does the input desktop, which is ours here.
TEST_F(MainWindowTest, ScreenCountsAsLockedFromTheLockNotificationToTheUnlock) {
    EXPECT_FALSE(window.ScreenLocked());
    ::SendMessageW(window.Handle(), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
    EXPECT_TRUE(window.ScreenLocked());
    ::SendMessageW(window.Handle(), WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 0);
    EXPECT_FALSE(window.ScreenLocked());
    EXPECT_EQ(events.locks, (std::vector<bool>{true, false}));
}

TEST(IdleLock, OnlyAScreenSaverWithPasswordOrTheInactivityLimitLocksAndTheEarlierCounts) {
    const struct {
        const char* settings;
        IdleLockSettings given;
        std::optional<std::int32_t> lockAfter;
    } cases[] = {
        {"secure screen saver", {true, true, 600, 0}, 600},
        {"screen saver without password", {true, false, 600, 0}, std::nullopt},
        {"secure screen saver switched off", {false, true, 600, 0}, std::nullopt},
        {"inactivity limit", {false, false, 0, 900}, 900},
        {"both, limit first", {true, true, 600, 300}, 300},
        {"both, screen saver first", {true, true, 120, 300}, 120},
        {"nothing", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        EXPECT_EQ(EarliestIdleLock(c.given), c.lockAfter);
    }
}

// What reaches the window procedure of the window under test; `passOn` hands it on as well.
std::vector<UINT> heldInputSeen;
WNDPROC windowProcedure = nullptr;
bool passOn = false;

LRESULT CALLBACK RecordHeldInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCLBUTTONDOWN || message == WM_SYSKEYDOWN) {
        heldInputSeen.push_back(message);
        if (!passOn)
            return 0;  // no move loop, no menu: only their arrival counts here
    }
    return ::CallWindowProcW(windowProcedure, window, message, wParam, lParam);
}

struct RecordedProcedure {
    explicit RecordedProcedure(HWND recorded, bool handOn) : window(recorded) {
        heldInputSeen.clear();
        passOn = handOn;
        windowProcedure = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
            recorded, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordHeldInput)));
    }
    ~RecordedProcedure() {
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(windowProcedure));
    }
    HWND window;
};

constexpr LPARAM kAltHeld = LPARAM{1} << 29;

// The pump takes a press on the frame and an Alt press out of the queue during a pause, to look
// past them for a close request; they belong to the window all the same, in their order, as
// long as the press's button is still held.
TEST_F(MainWindowTest, FramePressAndAltPressHeldBackDuringASleepReachTheWindowInOrderAfterIt) {
    const HWND handle = window.Handle();
    const POINT caption = FramePartOf(handle, HTCAPTION);
    ASSERT_NE(caption.x, -1);
    const RecordedProcedure recorded(handle, false);
    SleepWhile(window, [&] {
        MoveTo(caption);
        PressButton(MOUSEEVENTF_LEFTDOWN);
        ::Sleep(kUserActsAfterMs);  // the pump has looked in between
        ::PostMessageW(handle, WM_SYSKEYDOWN, VK_MENU, kAltHeld);
    });
    EXPECT_TRUE(heldInputSeen.empty()) << "handled during the pause";
    window.ProcessPendingEvents();
    PressButton(MOUSEEVENTF_LEFTUP);
    window.ProcessPendingEvents();
    EXPECT_EQ(heldInputSeen, (std::vector<UINT>{WM_NCLBUTTONDOWN, WM_SYSKEYDOWN}));
}

// Staff move the window out of the way during a pause and let go long before it ends. Handed to
// the window then, the press would start a move loop that waits for a release long gone, and
// the sequence's next key with it.
TEST_F(MainWindowTest, CaptionPressWhoseButtonIsUpByTheEndOfASleepDoesNotDelayTheNextKey) {
    const HWND handle = window.Handle();
    const RecordedProcedure recorded(handle, true);
    SleepWhile(window, [&] { ::PostMessageW(handle, WM_NCLBUTTONDOWN, HTCAPTION, 0); });
    ASSERT_EQ(::GetAsyncKeyState(VK_LBUTTON) & 0x8000, 0);

    const ULONGLONG start = ::GetTickCount64();
    window.SendKeys(ParseKeyString(L"{F2}"), true);
    EXPECT_LT(::GetTickCount64() - start, 1000u);
    EXPECT_TRUE(heldInputSeen.empty());
}

// A part of the window uncovered or invalidated during a pause is painted within half a second.
TEST_F(MainWindowTest, SleepPaintsWhatWasInvalidated) {
    LONGLONG paintedAfterMs = -1;
    const HWND handle = window.Handle();
    SleepWhile(window, [&] {
        RECT region{0, 0, 50, 30};
        ::InvalidateRect(handle, &region, TRUE);
        const ULONGLONG start = ::GetTickCount64();
        while (::GetTickCount64() - start < 1500) {
            if (!::GetUpdateRect(handle, nullptr, FALSE)) {
                paintedAfterMs = static_cast<LONGLONG>(::GetTickCount64() - start);
                return;
            }
            ::Sleep(10);
        }
    });
    EXPECT_GE(paintedAfterMs, 0) << "not painted during the pause";
    EXPECT_LE(paintedAfterMs, 500);
}

// Answers the empty-target message from another thread once a timer message has had the chance
// to reach the window behind it.
DWORD WINAPI TickThenDismissMessage(void* mainWindow) {
    constexpr UINT_PTR kPollTimerId = 1;
    HWND box = nullptr;
    for (int attempt = 0; attempt < 200 && box == nullptr; ++attempt) {
        ::Sleep(10);
        box = ::FindWindowW(L"#32770", L"Kelvorin");
    }
    ::PostMessageW(static_cast<HWND>(mainWindow), WM_TIMER, kPollTimerId, 0);
    ::Sleep(200);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
}

TEST_F(MainWindowTest, TicksAreSkippedWhileTheEmptyTargetMessageIsOpen) {
    UniqueKernelHandle answerer(
        ::CreateThread(nullptr, 0, TickThenDismissMessage, window.Handle(), 0, nullptr));
    window.ShowMessage(L"Bitte geben Sie ein Ziel ein", L"Kelvorin");
    ::WaitForSingleObject(answerer.get(), 5000);
    EXPECT_EQ(events.ticks, 0);

    ::PostMessageW(window.Handle(), WM_TIMER, 1, 0);
    window.ProcessPendingEvents();
    EXPECT_EQ(events.ticks, 1);
}

TEST_F(MainWindowTest, OperationsOnADestroyedWindowFailWithThePlatformsError) {
    const HWND button = Control(ControlId::cmdStart);
    ::DestroyWindow(window.Handle());
    EXPECT_FALSE(::IsWindow(button));
    try {
        window.SetTimerEnabled(true);
        ADD_FAILURE() << "switching the timer on without a window succeeded";
    } catch (const Failure& failure) {
        EXPECT_NE(failure.Number(), 0);
    }
}

}  // namespace
}  // namespace ordovan::win32
