#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// The keystroke notation the tool types in: "{NAME}" for a named key, "{c}" for one character,
// "~" for Enter, any other character for itself, and "+" (Shift), "^" (Ctrl), "%" (Alt) held
// over the next key, brace group or parenthesised group. "{NAME n}" repeats a key n times.
namespace ordovan {

struct KeyStroke {
    enum class Kind : std::uint8_t { VirtualKey, Character };

    Kind kind = Kind::VirtualKey;
    std::uint16_t virtualKey = 0;  // Kind::VirtualKey: a Windows virtual-key code
    wchar_t character = 0;         // Kind::Character: typed through the keyboard layout
    bool shift = false;
    bool control = false;
    bool alt = false;

    friend bool operator==(const KeyStroke&, const KeyStroke&) = default;
};

// Reads a key string into the strokes it stands for. Throws ordovan::Failure (number
// kInvalidKeyStringNumber, a German description naming the fault) for anything it cannot read.
std::vector<KeyStroke> ParseKeyString(std::wstring_view keys);

}  // namespace ordovan
