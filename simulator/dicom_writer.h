#pragma once

#include <cstdint>
#include <string>
#include <vector>

// DICOM files as the simulated application exports them: small 8-bit grey secondary-capture
// images, each with its own pixels and UIDs, written without any DICOM library.
namespace ordovan::simulator {

inline constexpr std::uint16_t kImageRows = 64;
inline constexpr std::uint16_t kImageColumns = 64;

// Where one image sits in a run. The UID root (digits and dots, unique per run) keeps UIDs of
// different runs apart; patient, series and image number are 1-based.
struct ImageIdentity {
    std::string uidRoot;
    int patient = 1;
    int series = 1;
    int image = 1;
};

// A complete file: 128-byte preamble, "DICM", file meta information and the data set, all in
// explicit VR little endian.
std::vector<std::uint8_t> DicomImage(const ImageIdentity& identity);

}  // namespace ordovan::simulator
