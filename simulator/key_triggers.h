#pragma once

#include <windows.h>

// Which key-downs make the simulated application act, as the driving tool types them: Home,
// Shift+End, Enter opens the next patient's export; Alt+F, A (the File menu's release command)
// lets go of the export's files.
namespace ordovan::simulator {

enum class KeyAction { None, Export, IgnoredEnter, Release };

class KeyTriggers {
  public:
    // Modifier keys themselves are no step of a sequence; they only count as held.
    KeyAction OnKeyDown(WPARAM virtualKey, bool shift, bool alt);

  private:
    bool afterShiftEnd_ = false;
    bool afterAltF_ = false;
};

}  // namespace ordovan::simulator
