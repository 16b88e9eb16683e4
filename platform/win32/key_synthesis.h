#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "platform/key_notation.h"
#include "platform/win32/input_rights.h"

namespace ordovan::win32 {

// Hands one message of our own thread to the window's usual message handling (dialog keys,
// translation, dispatch); answers false when waiting makes no more sense (our window is gone).
using MessageDispatcher = std::function<bool(MSG&)>;
// Waits at most the given milliseconds while our window stays alive but is not serviced; answers
// false when waiting makes no more sense (the user closed our window).
using IdleWait = std::function<bool(DWORD)>;

// What a key wait needs of our own thread's message handling.
struct KeyWaitPump {
    MessageDispatcher dispatch;
    IdleWait idle;
};

// How long a key wait gives the receiver when nothing can prove the keys handled: no pixel of the
// focused window or of its top-level window can be invalidated (hidden, minimised, no client
// area, covered by children). Ample for an application that is not busy; the caller's delay
// after the keys follows anyway.
inline constexpr DWORD kUnprovenKeyWaitMs = 1000;

// Keys whose scan codes carry the extended-key flag (Home, End, the arrows, Ins, Del, PgUp, PgDn,
// ...). Wine's MapVirtualKey does not report it, so it comes from this fixed list.
bool IsExtendedKey(WORD virtualKey);

// The keyboard events for the strokes, in order: modifiers down, key down, key up, modifiers up.
// Characters go through the given layout (a capital adds Shift); one that no key of the layout
// produces is sent as a Unicode key. Every event carries `tag` as its extra information.
std::vector<INPUT> BuildKeyboardInput(const std::vector<KeyStroke>& strokes, HKL layout,
                                      ULONG_PTR tag);

// Types the strokes into the window that has the keyboard focus with one SendInput call; throws
// ordovan::Failure when the system does not take all events, and ERROR_ACCESS_DENIED without
// typing when `rights` says Windows would drop them for the focused window. With wait, returns
// once the receiving thread has taken and handled every event, within an overall deadline so
// that a hung application cannot freeze the tool, or after kUnprovenKeyWaitMs where no repaint
// can prove it; meanwhile our window stays alive through `pump.idle`. When the receiver is our own
// thread, our messages go through `pump.dispatch` instead, so that our own window takes the keys.
void SendKeyStrokes(const std::vector<KeyStroke>& strokes, bool wait, const KeyWaitPump& pump,
                    InputRights& rights);

}  // namespace ordovan::win32
