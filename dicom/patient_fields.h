#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "dicom/header_values.h"

namespace ordovan::dicom {

// An image's patient as the export journal shows it. All empty when the header cannot be read.
struct PatientFields {
    std::wstring patientId{};  // the first value
    std::wstring name{};       // "Family, Given Middle", of the first value
    std::wstring birthDate{};  // "TT.MM.JJJJ", or empty when absent or not a date
    std::wstring studyDate{};  // likewise
    // True when the ID shown is not the whole of the file's: characters that could not be
    // decoded became '?', or values after the first were left out. Two patients' IDs may then
    // read alike ("??-1"), so rows never merge on such an ID.
    bool idLostCharacters = false;
    bool operator==(const PatientFields&) const = default;
};

// "Family^Given^Middle^Prefix^Suffix=ideographic=phonetic" as "Family, Given Middle": prefix and
// suffix are left out, and of the three groups the first that names anybody is shown, so that a
// name written only in ideographs ("=Yamada-in-kanji") is not lost.
std::wstring ShowPersonName(std::wstring_view name);

// "YYYYMMDD" as "DD.MM.YYYY"; empty for anything that is not a calendar date.
std::wstring ShowDate(std::wstring_view date);

PatientFields ShowPatientFields(const HeaderValues& values);

// At most kHeaderReadLimit bytes from the start of the file are enough.
PatientFields ReadPatientFields(std::span<const std::uint8_t> bytes);

}  // namespace ordovan::dicom
