#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "dicom/header_values.h"

namespace ordovan::dicom {

// An image's patient as the export journal shows it. All empty when the header cannot be read.
struct PatientFields {
    std::wstring patientId;
    std::wstring name;       // "Family, Given Middle"
    std::wstring birthDate;  // "TT.MM.JJJJ", or empty when absent or not a date
    std::wstring studyDate;  // likewise
    bool operator==(const PatientFields&) const = default;
};

// "Family^Given^Middle^Prefix^Suffix=ideographic=phonetic" as "Family, Given Middle": the
// alphabetic group only; prefix and suffix are left out.
std::wstring ShowPersonName(std::wstring_view name);

// "YYYYMMDD" as "DD.MM.YYYY"; empty for anything that is not a calendar date.
std::wstring ShowDate(std::wstring_view date);

PatientFields ShowPatientFields(const HeaderValues& values);

// At most kHeaderReadLimit bytes from the start of the file are enough.
PatientFields ReadPatientFields(std::span<const std::uint8_t> bytes);

}  // namespace ordovan::dicom
