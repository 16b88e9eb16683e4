#pragma once

namespace ordovan::dicom {

// The character of JIS X 0208 (ISO 2022 IR 87) at row and cell (1 to 94 each, the two bytes of
// its 7-bit form less 0x20); 0 where the set defines none.
char16_t JisX0208Character(unsigned row, unsigned cell);

}  // namespace ordovan::dicom
