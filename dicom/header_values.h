#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Reading the few header values the tool shows about an image's patient, out of the first bytes
// of a DICOM file. Pure code: bytes in, values out, no file or platform call.
namespace ordovan::dicom {

// The patient tags come early in every image; the pixel data that makes files large comes last.
inline constexpr std::size_t kHeaderReadLimit = 64 * 1024;

// The top-level values as the file holds them, decoded by its character set, without padding.
struct HeaderValues {
    std::wstring patientId{};              // (0010,0020)
    std::wstring patientName{};            // (0010,0010), components still joined by '^'
    std::wstring birthDate{};              // (0010,0030), "YYYYMMDD" when well formed
    std::wstring studyDate{};              // (0008,0020)
    bool patientIdLostCharacters = false;  // see DecodedText::lostCharacters
    bool operator==(const HeaderValues&) const = default;
};

// Reads a Part 10 file (preamble, "DICM", meta group; or the meta group alone) in any of its
// transfer syntaxes but the deflated ones, or a bare data set in implicit VR little endian.
// Answers nothing for a deflated data set and for anything malformed in the bytes: better no
// values than values read out of the wrong bytes. Where the bytes end inside an element (the
// read limit cut a larger image there), the values read before stand. Never reads outside the
// span.
std::optional<HeaderValues> ReadHeaderValues(std::span<const std::uint8_t> bytes);

}  // namespace ordovan::dicom
