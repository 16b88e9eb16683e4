#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// DICOM files made with dcmtk at build time (tests/make-dicom-samples.sh), each with what
// dcmtk's dcmdump reads at its top level: the reference the header reader is checked against.
namespace ordovan::test {

struct DicomSample {
    std::string_view name;
    std::span<const std::uint8_t> bytes;
    // As dcmdump reads them, converted from the file's character set; empty when absent.
    std::wstring_view patientId;
    std::wstring_view patientName;
    std::wstring_view birthDate;
    std::wstring_view studyDate;
};

const std::vector<DicomSample>& DicomSamples();

}  // namespace ordovan::test
