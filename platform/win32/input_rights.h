#pragma once

#include <windows.h>

#include <functional>
#include <optional>

namespace ordovan::win32 {

// Whether Windows lets our synthesized input reach a window. It drops input to the windows of a
// process with a higher integrity level (an application run as administrator) and tells the
// sender nothing.
class InputRights {
  public:
    virtual ~InputRights() = default;
    // True when Windows would drop our input to the window: its process runs at a higher
    // integrity level than ours.
    virtual bool Outranks(HWND window) = 0;
};

// The decision behind the processes' tokens. Windows compares integrity levels only, so where
// both levels could be read they decide. Where one cannot (a process of another account, whose
// token only a debugger may open), Windows itself is asked: `postError` posts a message to the
// window and answers the error (0 when posted), and UIPI refuses a post with access denied
// exactly when it would drop input too. Any other answer is no refusal of UIPI's.
bool InputWouldBeDropped(std::optional<DWORD> theirLevel, std::optional<DWORD> ourLevel,
                         const std::function<DWORD()>& postError);

// The answer of the processes' tokens, and of Windows where a token cannot be read.
InputRights& SystemInputRights();

}  // namespace ordovan::win32
