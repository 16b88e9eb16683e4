#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ordovan::dicom {

// The graphic sets the tool decodes. G0 holds the bytes 0x21 to 0x7E, G1 those from 0xA0 up.
enum class GraphicSet { None, Ascii, JisX0208, Latin1, Cyrillic, Unknown };

// What a Specific Character Set (0008,0005) says about the text values of a data set: the sets
// each value starts in, and whether escape sequences may switch to others (ISO 2022 code
// extensions, named by any value "ISO 2022 ...").
struct CharacterSets {
    bool utf8 = false;
    GraphicSet g0 = GraphicSet::Ascii;
    GraphicSet g1 = GraphicSet::None;
    bool codeExtensions = false;
};

// The sets the whole value names, its values separated by '\'. An empty first value means ASCII,
// and so does a first value the tool does not decode: then only the ASCII bytes are read.
CharacterSets CharacterSetsNamed(std::string_view value);

struct DecodedText {
    std::wstring text;  // UTF-16
    // True when some bytes could not be shown as they were written and became '?': bytes the
    // sets do not define, a broken UTF-8 sequence, an escape sequence to a set the tool does not
    // decode, and control characters, which never reach the journal.
    bool lostCharacters = false;
};

DecodedText DecodeText(std::span<const std::uint8_t> bytes, const CharacterSets& sets);

}  // namespace ordovan::dicom
