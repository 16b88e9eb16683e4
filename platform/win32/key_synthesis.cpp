#include "platform/win32/key_synthesis.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "platform/win32/last_error.h"

namespace ordovan::win32 {
namespace {

// How long a wait for the receiver may take in all; past it the tool carries on regardless.
constexpr ULONGLONG kWaitDeadlineMs = 5000;
// How often a wait looks whether the receiver has handled the keys.
constexpr DWORD kHandledPollMs = 5;
// How often the spot is painted before the keys count as handled (why two: WaitUntilHandled).
constexpr int kPaintRounds = 2;

struct Modifier {
    WORD virtualKey;
    bool KeyStroke::*held;
};

// Pressed in this order, released in the reverse one.
constexpr std::array kModifiers = {Modifier{VK_SHIFT, &KeyStroke::shift},
                                   Modifier{VK_CONTROL, &KeyStroke::control},
                                   Modifier{VK_MENU, &KeyStroke::alt}};

// VkKeyScanExW's high byte: the modifiers the layout needs for the character.
constexpr int kScanShift = 1;
constexpr int kScanControl = 2;
constexpr int kScanAlt = 4;

INPUT KeyboardEvent(WORD virtualKey, WORD scan, DWORD flags, ULONG_PTR tag) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = scan;
    input.ki.dwFlags = flags;
    input.ki.dwExtraInfo = tag;
    return input;
}

void AppendVirtualKey(std::vector<INPUT>& inputs, WORD virtualKey, bool up, HKL layout,
                      ULONG_PTR tag) {
    const auto scan = static_cast<WORD>(::MapVirtualKeyExW(virtualKey, MAPVK_VK_TO_VSC, layout));
    const DWORD flags =
        (IsExtendedKey(virtualKey) ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    inputs.push_back(KeyboardEvent(virtualKey, scan, flags, tag));
}

// A stroke's explicit modifiers joined with those its character needs on the layout. "%{F}"
// therefore presses Alt+Shift+F: the notation asks for the capital letter, and the receiving
// menus match their mnemonics without regard to Shift.
void AppendStroke(std::vector<INPUT>& inputs, KeyStroke stroke, HKL layout, ULONG_PTR tag) {
    WORD virtualKey = stroke.virtualKey;
    if (stroke.kind == KeyStroke::Kind::Character) {
        const SHORT scan = ::VkKeyScanExW(stroke.character, layout);
        if (scan == -1) {
            // No key of the layout produces it: type it as the character itself.
            inputs.push_back(KeyboardEvent(0, stroke.character, KEYEVENTF_UNICODE, tag));
            inputs.push_back(
                KeyboardEvent(0, stroke.character, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP, tag));
            return;
        }
        const int needed = HIBYTE(scan);
        stroke.shift |= (needed & kScanShift) != 0;
        stroke.control |= (needed & kScanControl) != 0;
        stroke.alt |= (needed & kScanAlt) != 0;
        virtualKey = LOBYTE(scan);
    }
    for (const Modifier& modifier : kModifiers) {
        if (stroke.*modifier.held) {
            AppendVirtualKey(inputs, modifier.virtualKey, false, layout, tag);
        }
    }
    AppendVirtualKey(inputs, virtualKey, false, layout, tag);
    AppendVirtualKey(inputs, virtualKey, true, layout, tag);
    for (auto modifier = kModifiers.rbegin(); modifier != kModifiers.rend(); ++modifier) {
        if (stroke.*modifier->held) {
            AppendVirtualKey(inputs, modifier->virtualKey, true, layout, tag);
        }
    }
}

// A tag no other input of this process carries, so that our own queue tells our events apart.
ULONG_PTR FreshTag() {
    static std::atomic<ULONG_PTR> next{0x4F52'4400};
    return ++next;
}

bool IsKeyMessage(UINT message) {
    return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN ||
           message == WM_SYSKEYUP;
}

DWORD MillisecondsUntil(ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

// The keys went into our own queue: a message sent to ourselves would be handled at once and
// prove nothing, so we take the messages ourselves until every tagged key event is through.
void PumpUntilTaken(ULONG_PTR tag, std::size_t events, ULONGLONG deadline,
                    const MessageDispatcher& dispatch) {
    std::size_t taken = 0;
    while (taken < events && MillisecondsUntil(deadline) > 0) {
        MSG msg;
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::MsgWaitForMultipleObjectsEx(0, nullptr, MillisecondsUntil(deadline), QS_ALLINPUT,
                                          MWMO_INPUTAVAILABLE);
            continue;
        }
        if (msg.message == WM_QUIT) {
            // The quit belongs to the loop that runs the application; hand it back.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (IsKeyMessage(msg.message) && static_cast<ULONG_PTR>(::GetMessageExtraInfo()) == tag) {
            ++taken;
        }
        if (!dispatch(msg))
            return;
    }
}

// The window that takes the keys: the receiving thread's focus, else its foreground window.
HWND KeyReceiver(DWORD receiverThread, HWND foreground) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (::GetGUIThreadInfo(receiverThread, &info) && info.hwndFocus != nullptr)
        return info.hwndFocus;
    return foreground;
}

// The points tried, in this order, for the pixel whose repaint proves the keys handled: the
// corners of the client area, then its centre. One pixel, not erased, so that the user sees
// nothing of it.
std::array<POINT, 5> SpotCandidates(const RECT& client) {
    const LONG right = client.right - 1;
    const LONG bottom = client.bottom - 1;
    return {POINT{0, 0}, POINT{right, 0}, POINT{0, bottom}, POINT{right, bottom},
            POINT{right / 2, bottom / 2}};
}

// Whether a repaint of this pixel of the window's client area can be asked for: the window is
// shown, no ancestor clips the pixel away, and no child covers it where the window clips its
// children. Told from the geometry, not by asking afterwards whether the pixel awaits its paint:
// a receiver that paints at once would answer no as well, and the keys would wait in vain.
bool SpotCanTake(HWND window, POINT point) {
    const HWND root = ::GetAncestor(window, GA_ROOT);
    if (!::IsWindowVisible(window) || ::IsIconic(root))
        return false;
    if ((::GetWindowLongPtrW(window, GWL_STYLE) & WS_CLIPCHILDREN) != 0 &&
        ::ChildWindowFromPointEx(window, point, CWP_SKIPINVISIBLE) != window) {
        return false;
    }
    POINT at = point;
    for (HWND inner = window; inner != root;) {
        const HWND parent = ::GetAncestor(inner, GA_PARENT);
        if (parent == nullptr)
            return false;
        ::MapWindowPoints(inner, parent, &at, 1);
        RECT client{};
        if (!::GetClientRect(parent, &client) || !::PtInRect(&client, at))
            return false;
        inner = parent;
    }
    return true;
}

// Invalidates one pixel of the window that can take it and answers whether there was one. There
// is none in a hidden or minimised window, one without client area, or where every candidate is
// covered by a child or clipped by an ancestor.
bool InvalidateSpot(HWND window) {
    RECT client{};
    if (!::GetClientRect(window, &client) || ::IsRectEmpty(&client))
        return false;
    for (const POINT& point : SpotCandidates(client)) {
        const RECT spot{point.x, point.y, point.x + 1, point.y + 1};
        if (SpotCanTake(window, point))
            return ::InvalidateRect(window, &spot, FALSE) != FALSE;
    }
    return false;
}

// The window whose pixel the next round waits for: the receiver, else its top-level window
// (painted by the same thread, so its paint also comes after the keys); null when neither takes.
HWND PaintWitness(HWND receiver) {
    if (InvalidateSpot(receiver))
        return receiver;
    const HWND root = ::GetAncestor(receiver, GA_ROOT);
    if (root != nullptr && root != receiver &&
        ::GetWindowThreadProcessId(root, nullptr) ==
            ::GetWindowThreadProcessId(receiver, nullptr) &&
        InvalidateSpot(root)) {
        return root;
    }
    return nullptr;
}

// Answers false when our window was closed meanwhile.
bool IdleUntil(ULONGLONG until, const IdleWait& idle) {
    for (DWORD left = MillisecondsUntil(until); left > 0; left = MillisecondsUntil(until)) {
        if (!idle(std::min(left, kHandledPollMs)))
            return false;
    }
    return true;
}

// Answers false when the receiver did not paint the spot before the deadline, or our window was
// closed meanwhile.
bool WaitUntilPainted(HWND witness, ULONGLONG deadline, const IdleWait& idle) {
    while (::GetUpdateRect(witness, nullptr, FALSE)) {
        const DWORD left = MillisecondsUntil(deadline);
        if (left == 0 || !idle(std::min(left, kHandledPollMs)))
            return false;  // hung, or our window closed: the tool must not freeze with it
    }
    return true;
}

// A thread gets its paint messages only once no sent, posted or input message is left for it,
// and handles its messages one after the other. So a paint message the receiver takes after the
// keys were sent proves it has taken and handled every key. (Answers to sent messages would prove
// nothing: they come before input.) One painted spot is not yet that proof: the receiver may have
// taken a paint message of its own just before the keys came and painted the spot with it. That
// paint ends with the region empty, so the spot painted a second time needs a paint message taken
// after the first one was painted, and with it after the keys. Where no pixel can be invalidated
// nothing can be proved, and the receiver gets the time an unproven wait allows.
void WaitUntilHandled(HWND receiver, ULONGLONG deadline, const IdleWait& idle) {
    for (int round = 0; round < kPaintRounds; ++round) {
        const HWND witness = PaintWitness(receiver);
        if (witness == nullptr) {
            IdleUntil(std::min(deadline, ::GetTickCount64() + kUnprovenKeyWaitMs), idle);
            return;
        }
        if (!WaitUntilPainted(witness, deadline, idle))
            return;
    }
}

}  // namespace

bool IsExtendedKey(WORD virtualKey) {
    switch (virtualKey) {
        case VK_HOME:
        case VK_END:
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
        case VK_INSERT:
        case VK_DELETE:
        case VK_PRIOR:
        case VK_NEXT:
        case VK_DIVIDE:
        case VK_NUMLOCK:
        case VK_RCONTROL:
        case VK_RMENU:
        case VK_SNAPSHOT:
        case VK_CANCEL:
        case VK_LWIN:
        case VK_RWIN:
        case VK_APPS:
            return true;
        default:
            return false;
    }
}

std::vector<INPUT> BuildKeyboardInput(const std::vector<KeyStroke>& strokes, HKL layout,
                                      ULONG_PTR tag) {
    std::vector<INPUT> inputs;
    for (const KeyStroke& stroke : strokes) {
        AppendStroke(inputs, stroke, layout, tag);
    }
    return inputs;
}

void SendKeyStrokes(const std::vector<KeyStroke>& strokes, bool wait, const KeyWaitPump& pump,
                    InputRights& rights) {
    if (strokes.empty()) {
        return;
    }
    const HWND foreground = ::GetForegroundWindow();
    const DWORD receiverThread =
        foreground != nullptr ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
    const HWND receiver = foreground != nullptr ? KeyReceiver(receiverThread, foreground) : nullptr;
    // Windows drops input to a window of higher rights without telling the sender; the keys
    // would vanish unnoticed, so the send fails instead.
    if (receiver != nullptr && rights.Outranks(receiver)) {
        throw ErrorFailure(ERROR_ACCESS_DENIED);
    }
    const ULONG_PTR tag = FreshTag();
    std::vector<INPUT> inputs =
        BuildKeyboardInput(strokes, ::GetKeyboardLayout(receiverThread), tag);
    const auto count = static_cast<UINT>(inputs.size());
    if (::SendInput(count, inputs.data(), static_cast<int>(sizeof(INPUT))) != count) {
        ThrowLastError();
    }
    if (!wait || foreground == nullptr) {
        return;
    }
    const ULONGLONG deadline = ::GetTickCount64() + kWaitDeadlineMs;
    if (receiverThread == ::GetCurrentThreadId()) {
        PumpUntilTaken(tag, inputs.size(), deadline, pump.dispatch);
    } else {
        WaitUntilHandled(receiver, deadline, pump.idle);
    }
}

}  // namespace ordovan::win32
