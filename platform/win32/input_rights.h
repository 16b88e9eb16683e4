#pragma once

#include <windows.h>

namespace ordovan::win32 {

// Whether Windows lets our synthesized input reach a window. It drops input to the windows of a
// process with a higher integrity level (an application run as administrator) and tells the
// sender nothing.
class InputRights {
  public:
    virtual ~InputRights() = default;
    // True when the window's process runs at a higher integrity level than ours, or when its
    // level cannot be read (a process we may not even query is one we cannot type into either).
    virtual bool Outranks(HWND window) = 0;
};

// The answer of the processes' tokens.
InputRights& SystemInputRights();

}  // namespace ordovan::win32
