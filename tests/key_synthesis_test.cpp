#include "platform/win32/key_synthesis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "platform/key_notation.h"
#include "platform/win32/handles.h"

namespace ordovan::win32 {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr ULONG_PTR kTag = 0x7E57;
// How long a receiver thread may take to show its window.
constexpr milliseconds kWindowStartBound{5000};
// A wait whose receiver works finishes far sooner than the tool's five-second deadline.
constexpr milliseconds kPromptWaitBound{2000};
// The tool's deadline plus room for a slow machine.
constexpr milliseconds kHungWaitBound{6500};
// A hung receiver recovers after this at the latest, so that no test can hang with it.
constexpr DWORD kHungReceiverBoundMs = 15000;
constexpr wchar_t kReceiverClass[] = L"OrdovanKeyReceiver";

// ---- The events built for the strokes -----------------------------------------------------------

struct Event {
    WORD virtualKey;
    bool up;
    bool extended = false;

    friend bool operator==(const Event&, const Event&) = default;
};

void PrintTo(const Event& event, std::ostream* out) {
    *out << (event.up ? "up " : "down ") << event.virtualKey << (event.extended ? " ext" : "");
}

std::vector<Event> Events(const std::vector<INPUT>& inputs) {
    std::vector<Event> events;
    for (const INPUT& input : inputs) {
        events.push_back({input.ki.wVk, (input.ki.dwFlags & KEYEVENTF_KEYUP) != 0,
                          (input.ki.dwFlags & KEYEVENTF_EXTENDEDKEY) != 0});
    }
    return events;
}

std::vector<INPUT> Build(const wchar_t* keys) {
    return BuildKeyboardInput(ParseKeyString(keys), ::GetKeyboardLayout(0), kTag);
}

TEST(KeyboardInput, NavigationKeysAreExtendedAndFunctionKeysAreNot) {
    for (const INPUT& input : Build(L"{HOME}{END}{LEFT}{RIGHT}{UP}{DOWN}{INS}{DEL}{PGUP}{PGDN}")) {
        EXPECT_NE(input.ki.dwFlags & KEYEVENTF_EXTENDEDKEY, 0u) << "vk " << input.ki.wVk;
    }
    for (const INPUT& input : Build(L"{F2}{TAB}{ENTER}~{ESC}{BS}{MULTIPLY}")) {
        EXPECT_EQ(input.ki.dwFlags & KEYEVENTF_EXTENDEDKEY, 0u) << "vk " << input.ki.wVk;
    }
    // The keypad's divide key shares its scan code with "/" and differs only by the flag.
    EXPECT_TRUE(IsExtendedKey(VK_DIVIDE));
    EXPECT_TRUE(IsExtendedKey(VK_RMENU));
    EXPECT_FALSE(IsExtendedKey(VK_MENU));
}

TEST(KeyboardInput, ModifiersArePressedAroundTheKeyAndReleasedInReverse) {
    EXPECT_EQ(
        Events(Build(L"+{END}")),
        (std::vector<Event>{
            {VK_SHIFT, false}, {VK_END, false, true}, {VK_END, true, true}, {VK_SHIFT, true}}));
    EXPECT_EQ(Events(Build(L"^%{TAB}")), (std::vector<Event>{{VK_CONTROL, false},
                                                             {VK_MENU, false},
                                                             {VK_TAB, false},
                                                             {VK_TAB, true},
                                                             {VK_MENU, true},
                                                             {VK_CONTROL, true}}));
}

TEST(KeyboardInput, CharactersTakeTheShiftTheLayoutNeeds) {
    // "%{F}" asks for the capital, so Shift joins Alt.
    EXPECT_EQ(Events(Build(L"%{F}")), (std::vector<Event>{{VK_SHIFT, false},
                                                          {VK_MENU, false},
                                                          {'F', false},
                                                          {'F', true},
                                                          {VK_MENU, true},
                                                          {VK_SHIFT, true}}));
    EXPECT_EQ(Events(Build(L"f")), (std::vector<Event>{{'F', false}, {'F', true}}));
}

TEST(KeyboardInput, CharacterNoKeyProducesIsSentAsUnicode) {
    const std::vector<INPUT> inputs = Build(L"\u4e2d");
    ASSERT_EQ(inputs.size(), 2u);
    for (const INPUT& input : inputs) {
        EXPECT_EQ(input.ki.wVk, 0);
        EXPECT_EQ(input.ki.wScan, 0x4e2d);
        EXPECT_NE(input.ki.dwFlags & KEYEVENTF_UNICODE, 0u);
    }
    EXPECT_EQ(inputs[0].ki.dwFlags & KEYEVENTF_KEYUP, 0u);
    EXPECT_NE(inputs[1].ki.dwFlags & KEYEVENTF_KEYUP, 0u);
}

TEST(KeyboardInput, EveryEventIsATaggedKeyboardEventWithItsScanCode) {
    const std::vector<INPUT> inputs = Build(L"+{END}%{F}a\u4e2d{F2}");
    ASSERT_EQ(inputs.size(), 4u + 6u + 2u + 2u + 2u);
    for (const INPUT& input : inputs) {
        EXPECT_EQ(input.type, static_cast<DWORD>(INPUT_KEYBOARD));
        EXPECT_EQ(input.ki.dwExtraInfo, kTag);
        EXPECT_NE(input.ki.wScan, 0) << "vk " << input.ki.wVk;
    }
}

// ---- Real delivery ------------------------------------------------------------------------------

bool TranslateAndDispatch(MSG& msg) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    return true;
}

bool SleepIdle(DWORD waitMs) {
    ::Sleep(waitMs);
    return true;
}

void SendAndWait(const wchar_t* keys) {
    SendKeyStrokes(ParseKeyString(keys), true, {TranslateAndDispatch, SleepIdle},
                   SystemInputRights());
}

bool HasKeyboardFocus(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return ::GetForegroundWindow() == ::GetAncestor(window, GA_ROOT) &&
           ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info) &&
           info.hwndFocus == window;
}

// One key message as the receiving window procedure saw it.
struct Received {
    bool down;
    WORD virtualKey;
    bool extended = false;
    bool shift = false;
    bool alt = false;
};

// Where a receiver keeps its keyboard focus: on its frame, or on a child of the frame that
// records keys as the frame does.
enum class Focus { Frame, ChildReachingOut, ZeroSizeChild, HiddenChild };

// What a receiver does beyond recording keys.
struct Behaviour {
    // Sleeps this long on every key message before it records it: an application under load.
    DWORD keyDelayMs = 0;
    Focus focus = Focus::Frame;
    // A child window covers this much of the frame's client area from its top-left corner. The
    // frame clips its children, so on Windows a pixel under the child cannot be invalidated.
    SIZE covered{0, 0};
    // The frame shrinks to its title bar: no client area, so no pixel to invalidate.
    bool noClientArea = false;
};

// How long a paint asked for with ForeignReceiver::PaintSlowly sleeps before BeginPaint.
constexpr DWORD kSlowPaintMs = 400;
// Posted to a receiver: invalidate yourself and paint slowly.
constexpr UINT kPaintSlowly = WM_APP + 1;

// A window on a thread of its own that records the key messages it processes. Started hung, it
// does not look at its queue until resumed.
class ForeignReceiver {
  public:
    enum class Start { Pumping, Hung };

    explicit ForeignReceiver(Start start = Start::Pumping, Behaviour behaviour = {})
        : behaviour_(behaviour),
          resume_(::CreateEventW(nullptr, TRUE, start == Start::Pumping, nullptr)),
          painting_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        std::promise<HWND> ready;
        created_ = ready.get_future();
        thread_ = std::thread([this, ready = std::move(ready)]() mutable { Run(ready); });
        if (created_.wait_for(kWindowStartBound) == std::future_status::ready) {
            window_ = created_.get();
        }
    }
    ForeignReceiver(const ForeignReceiver&) = delete;
    ForeignReceiver& operator=(const ForeignReceiver&) = delete;
    ~ForeignReceiver() {
        // Should the start have outlasted its bound, the window is still to come.
        const HWND window = created_.valid() ? created_.get() : window_;
        if (window != nullptr) {
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        }
        Resume();
        thread_.join();
    }

    HWND Window() const { return window_; }
    HWND FocusWindow() const { return focus_; }
    // How often the focused window, and the frame, have painted.
    int FocusPaints() const { return focusPaints_; }
    int FramePaints() const { return framePaints_; }
    void Resume() { ::SetEvent(resume_.get()); }
    // Makes the receiver take a paint message of its own and answers once it is inside it, still
    // before BeginPaint.
    bool PaintSlowly() {
        ::PostMessageW(window_, kPaintSlowly, 0, 0);
        return ::WaitForSingleObject(painting_.get(), kWindowStartBound.count()) == WAIT_OBJECT_0;
    }

    std::vector<Received> Messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    static ATOM RegisterOnce() {
        static const ATOM atom = [] {
            WNDCLASSEXW windowClass{};
            windowClass.cbSize = sizeof(windowClass);
            windowClass.lpfnWndProc = Procedure;
            windowClass.hInstance = ::GetModuleHandleW(nullptr);
            windowClass.lpszClassName = kReceiverClass;
            return ::RegisterClassExW(&windowClass);
        }();
        return atom;
    }

    void Run(std::promise<HWND>& ready) {
        RegisterOnce();
        UniqueWindow window(::CreateWindowExW(0, kReceiverClass, L"Empf\u00e4nger",
                                              WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE,
                                              50, 50, 300, 200, nullptr, nullptr,
                                              ::GetModuleHandleW(nullptr), this));
        if (window) {
            Furnish(window.get());
        }
        ready.set_value(window.get());
        if (!window) {
            return;
        }
        ::WaitForSingleObject(resume_.get(), kHungReceiverBoundMs);
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateAndDispatch(msg);
        }
    }

    // Children, focus and show state as the behaviour asks; the frame destroys its children.
    void Furnish(HWND frame) {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        if (behaviour_.covered.cx > 0) {
            ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, behaviour_.covered.cx,
                              behaviour_.covered.cy, frame, nullptr, instance, nullptr);
        }
        focus_ = frame;
        if (behaviour_.focus != Focus::Frame) {
            // The child reaching out begins above and left of the frame's client area, which
            // clips its top-left pixel away.
            const bool out = behaviour_.focus == Focus::ChildReachingOut;
            const int size = behaviour_.focus == Focus::ZeroSizeChild ? 0 : 100;
            const DWORD shown = behaviour_.focus == Focus::HiddenChild ? 0 : WS_VISIBLE;
            focus_ = ::CreateWindowExW(0, kReceiverClass, L"", WS_CHILD | shown, out ? -20 : 10,
                                       out ? -20 : 10, size, size, frame, nullptr, instance, this);
        }
        if (behaviour_.noClientArea) {
            RECT outer{};
            RECT client{};
            ::GetWindowRect(frame, &outer);
            ::GetClientRect(frame, &client);
            ::SetWindowPos(frame, nullptr, 0, 0, outer.right - outer.left,
                           outer.bottom - outer.top - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
        }
        // Painted before the tests look at its update region.
        ::UpdateWindow(frame);
        ::SetForegroundWindow(frame);
        ::SetFocus(focus_);
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(window, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<ForeignReceiver*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        switch (message) {
            case WM_KEYDOWN:
            case WM_SYSKEYDOWN:
            case WM_KEYUP:
            case WM_SYSKEYUP:
                self->Record(message == WM_KEYDOWN || message == WM_SYSKEYDOWN, wParam, lParam);
                return 0;  // no menu mode for Alt: the recording must see every key
            case WM_SYSCHAR:
                return 0;
            case kPaintSlowly:
                self->slowPaint_ = true;
                ::InvalidateRect(window, nullptr, FALSE);
                return 0;
            case WM_PAINT:
                if (window == self->focus_)
                    ++self->focusPaints_;
                if (::GetParent(window) == nullptr)
                    ++self->framePaints_;
                if (self->slowPaint_) {
                    self->slowPaint_ = false;
                    ::SetEvent(self->painting_.get());
                    ::Sleep(kSlowPaintMs);
                }
                return ::DefWindowProcW(window, message, wParam, lParam);
            case WM_CLOSE:
                ::PostQuitMessage(0);
                return 0;
            default:
                return ::DefWindowProcW(window, message, wParam, lParam);
        }
    }

    void Record(bool down, WPARAM virtualKey, LPARAM lParam) {
        ::Sleep(behaviour_.keyDelayMs);
        std::lock_guard lock(mutex_);
        messages_.push_back({down, static_cast<WORD>(virtualKey), ((lParam >> 24) & 1) != 0,
                             ::GetKeyState(VK_SHIFT) < 0, ::GetKeyState(VK_MENU) < 0});
    }

    const Behaviour behaviour_;
    UniqueKernelHandle resume_;
    UniqueKernelHandle painting_;
    bool slowPaint_ = false;  // the receiver's thread only
    std::mutex mutex_;
    std::vector<Received> messages_;
    std::future<HWND> created_;
    HWND window_ = nullptr;
    HWND focus_ = nullptr;  // set before the window is reported
    std::atomic<int> focusPaints_{0};
    std::atomic<int> framePaints_{0};
    std::thread thread_;
};

std::vector<Event> Transitions(const std::vector<Received>& messages, std::size_t from) {
    std::vector<Event> events;
    for (std::size_t i = from; i < messages.size(); ++i) {
        events.push_back({messages[i].virtualKey, !messages[i].down});
    }
    return events;
}

TEST(KeySynthesis, ToolSequencesArriveInOrderAndAreProcessedWhenTheWaitReturns) {
    ForeignReceiver receiver;
    ASSERT_TRUE(HasKeyboardFocus(receiver.Window()));
    const struct {
        const wchar_t* keys;
        std::vector<Event> transitions;
        Received key;  // how the receiver saw the key itself go down
    } sequences[] = {
        {L"{F2}", {{VK_F2, false}, {VK_F2, true}}, {true, VK_F2}},
        {L"{TAB}", {{VK_TAB, false}, {VK_TAB, true}}, {true, VK_TAB}},
        {L"{ENTER}", {{VK_RETURN, false}, {VK_RETURN, true}}, {true, VK_RETURN}},
        {L"{HOME}", {{VK_HOME, false}, {VK_HOME, true}}, {true, VK_HOME, true}},
        {L"+{END}",
         {{VK_SHIFT, false}, {VK_END, false}, {VK_END, true}, {VK_SHIFT, true}},
         {true, VK_END, true, true}},
        {L"{ENTER}", {{VK_RETURN, false}, {VK_RETURN, true}}, {true, VK_RETURN}},
        {L"%{F}",
         {{VK_SHIFT, false},
          {VK_MENU, false},
          {'F', false},
          {'F', true},
          {VK_MENU, true},
          {VK_SHIFT, true}},
         {true, 'F', false, true, true}},
        {L"{A}",
         {{VK_SHIFT, false}, {'A', false}, {'A', true}, {VK_SHIFT, true}},
         {true, 'A', false, true}},
        {L"{DOWN}", {{VK_DOWN, false}, {VK_DOWN, true}}, {true, VK_DOWN, true}},
    };
    for (const auto& sequence : sequences) {
        SCOPED_TRACE(testing::Message() << "keys " << std::wstring(sequence.keys));
        const std::size_t before = receiver.Messages().size();
        SendAndWait(sequence.keys);
        // No pause here: the wait itself must have let the receiver process every key.
        const std::vector<Received> messages = receiver.Messages();
        ASSERT_EQ(Transitions(messages, before), sequence.transitions);
        const auto key = std::find_if(
            messages.begin() + static_cast<std::ptrdiff_t>(before), messages.end(),
            [&](const Received& m) { return m.down && m.virtualKey == sequence.key.virtualKey; });
        ASSERT_NE(key, messages.end());
        EXPECT_EQ(key->extended, sequence.key.extended);
        EXPECT_EQ(key->shift, sequence.key.shift);
        EXPECT_EQ(key->alt, sequence.key.alt);
    }
}

TEST(KeySynthesis, WaitForAHungReceiverEndsWithinTheDeadline) {
    ForeignReceiver receiver(ForeignReceiver::Start::Hung);
    ASSERT_TRUE(HasKeyboardFocus(receiver.Window()));
    const auto start = steady_clock::now();
    SendAndWait(L"{F2}{TAB}");
    EXPECT_LT(steady_clock::now() - start, kHungWaitBound);
    receiver.Resume();
}

// The wait for keys held up in the receiver: each key message takes it this long.
constexpr DWORD kSlowKeyMs = 100;
const std::vector<Event> kF2{{VK_F2, false}, {VK_F2, true}};

bool Invalidates(HWND window, POINT at) {
    const RECT spot{at.x, at.y, at.x + 1, at.y + 1};
    return ::InvalidateRect(window, &spot, FALSE) && ::GetUpdateRect(window, nullptr, FALSE);
}

// The receiver took a paint message of its own just before the keys came, and paints the spot the
// wait invalidates with it, before it has taken the keys: one painted spot proves nothing yet.
TEST(KeySynthesis, WaitOutlastsAPaintTheReceiverHadBegunWhenTheKeysCame) {
    ForeignReceiver receiver(ForeignReceiver::Start::Pumping, {kSlowKeyMs});
    ASSERT_TRUE(HasKeyboardFocus(receiver.Window()));
    ASSERT_TRUE(receiver.PaintSlowly());
    SendAndWait(L"{F2}");
    EXPECT_EQ(Transitions(receiver.Messages(), 0), kF2);
}

// The focused window's first pixel cannot be invalidated, so it would count as painted at once:
// another point of it must prove the keys handled, or where it has none, its top-level window.
TEST(KeySynthesis, WaitForAFocusWindowWhosePixelDoesNotTakeEndsWhenTheKeysAreHandled) {
    const struct {
        const char* focus;
        Behaviour behaviour;
        bool focusProves;  // the focused window itself, else the frame
    } cases[] = {
        // On Windows the covered corner does not take. Wine keeps it in the frame's update
        // region, and the corner itself proves it there.
        {"frame with its corner covered by a child", {kSlowKeyMs, Focus::Frame, {40, 40}}, true},
        {"child reaching out of the frame", {kSlowKeyMs, Focus::ChildReachingOut}, true},
        {"zero-size child", {kSlowKeyMs, Focus::ZeroSizeChild}, false},
        {"hidden child", {kSlowKeyMs, Focus::HiddenChild}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.focus);
        ForeignReceiver receiver(ForeignReceiver::Start::Pumping, c.behaviour);
        ASSERT_TRUE(HasKeyboardFocus(receiver.FocusWindow()));
        if (c.behaviour.focus != Focus::Frame) {
            ASSERT_FALSE(Invalidates(receiver.FocusWindow(), {0, 0}));
        }
        const int focusPaints = receiver.FocusPaints();
        const int framePaints = receiver.FramePaints();
        SendAndWait(L"{F2}");
        EXPECT_EQ(Transitions(receiver.Messages(), 0), kF2);
        if (c.focusProves) {
            EXPECT_GT(receiver.FocusPaints(), focusPaints) << "the focused window did not prove it";
        } else {
            EXPECT_GT(receiver.FramePaints(), framePaints) << "the frame did not prove it";
        }
    }
}

// The receiver has no client area: nothing proves the keys handled, and the receiver gets the
// time an unproven wait allows.
TEST(KeySynthesis, WaitThatNoRepaintCanProveGivesTheReceiverTheUnprovenWaitTime) {
    ForeignReceiver receiver(ForeignReceiver::Start::Pumping,
                             {kSlowKeyMs, Focus::Frame, {0, 0}, true});
    ASSERT_TRUE(HasKeyboardFocus(receiver.FocusWindow()));
    RECT client{};
    ::GetClientRect(receiver.Window(), &client);
    ASSERT_TRUE(::IsRectEmpty(&client));
    ASSERT_FALSE(Invalidates(receiver.Window(), {0, 0}));
    const auto start = steady_clock::now();
    SendAndWait(L"{F2}");
    const auto took = steady_clock::now() - start;
    EXPECT_EQ(Transitions(receiver.Messages(), 0), kF2);
    EXPECT_GE(took, milliseconds(kUnprovenKeyWaitMs));
    // Far below the five-second deadline, which is not the unproven wait.
    EXPECT_LT(took, milliseconds(kUnprovenKeyWaitMs) + kPromptWaitBound);
}

// An edit box of our own thread, in a top-level window of our own thread.
class OwnEdit : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(frame_);
        ASSERT_NE(edit_, nullptr);
        ::SetForegroundWindow(frame_.get());
        ::SetFocus(edit_);
        ASSERT_TRUE(HasKeyboardFocus(edit_));
    }

    std::wstring Text() const {
        std::wstring text(64, L'\0');
        text.resize(static_cast<std::size_t>(
            ::GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
        return text;
    }

    UniqueWindow frame_{::CreateWindowExW(0, L"STATIC", L"Eigenes Fenster",
                                          WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200,
                                          nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr)};
    // A child: the frame destroys it.
    HWND edit_ =
        ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10,
                          10, 200, 24, frame_.get(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
};

TEST_F(OwnEdit, TextHasArrivedWhenTheWaitReturns) {
    const auto start = steady_clock::now();
    SendAndWait(L"abc{A}");
    EXPECT_EQ(Text(), L"abcA");
    // Every tagged key was recognised: the wait did not run into its deadline.
    EXPECT_LT(steady_clock::now() - start, kPromptWaitBound);
}

TEST_F(OwnEdit, QuitMessageMetWhileWaitingStaysForTheApplicationsLoop) {
    ::PostQuitMessage(7);
    SendAndWait(L"x");
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}

}  // namespace
}  // namespace ordovan::win32
