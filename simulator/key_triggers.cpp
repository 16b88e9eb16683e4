#include "simulator/key_triggers.h"

namespace ordovan::simulator {
namespace {

bool IsModifier(WPARAM virtualKey) {
    switch (virtualKey) {
        case VK_SHIFT:
        case VK_CONTROL:
        case VK_MENU:
        case VK_LWIN:
        case VK_RWIN:
            return true;
        default:
            return false;
    }
}

}  // namespace

KeyAction KeyTriggers::OnKeyDown(WPARAM virtualKey, bool shift, bool alt) {
    if (IsModifier(virtualKey))
        return KeyAction::None;
    KeyAction action = KeyAction::None;
    if (virtualKey == VK_RETURN)
        action = afterShiftEnd_ ? KeyAction::Export : KeyAction::IgnoredEnter;
    // The File menu opened by Alt+F takes its command from the very next key; any other closes it.
    else if (virtualKey == 'A' && afterAltF_)
        action = KeyAction::Release;
    afterShiftEnd_ = virtualKey == VK_END && shift;
    afterAltF_ = virtualKey == 'F' && alt;
    return action;
}

}  // namespace ordovan::simulator
