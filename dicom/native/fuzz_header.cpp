// libFuzzer entry: any bytes, up to the read limit, must give fields or none, never a crash, a
// read outside the buffer or undefined behaviour (the sanitizers end the run on any of them).
#include <cstddef>
#include <cstdint>
#include <span>

#include "dicom/patient_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ordovan::dicom::ReadPatientFields(std::span<const std::uint8_t>(data, size));
    return 0;
}
