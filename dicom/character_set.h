#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ordovan::dicom {

// The repertoires the tool decodes. Every other Specific Character Set keeps only its ASCII part.
enum class CharacterSet { Ascii, Latin1, Utf8 };

// The set a Specific Character Set (0008,0005) value names; an empty value means ASCII.
CharacterSet CharacterSetNamed(std::string_view term);

// The text as UTF-16. Bytes the set does not define (outside ASCII, a broken UTF-8 sequence)
// become '?', so that a name never carries characters it did not have.
std::wstring DecodeText(std::span<const std::uint8_t> bytes, CharacterSet set);

}  // namespace ordovan::dicom
