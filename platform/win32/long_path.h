#pragma once

#include <string>
#include <string_view>

namespace ordovan::win32 {

// The "\\?\" form of a full path: "C:\a" becomes "\\?\C:\a", "\\server\share\a" becomes
// "\\?\UNC\server\share\a". Windows passes that form to the file system without MAX_PATH's limit
// or further parsing, whether or not long paths are switched on in the registry. Paths already
// in a device form ("\\?\", "\\.\", "\??\") and anything that is not a full drive or UNC path
// stay as they are.
std::wstring ExtendedLengthForm(std::wstring_view fullPath);

// The path normalised to a full path the way Windows would (current folder, "." and "..", "/"
// for "\"), then in its "\\?\" form. Fails only when the system cannot normalise it.
std::wstring ExtendedLengthPath(std::wstring_view path);

}  // namespace ordovan::win32
