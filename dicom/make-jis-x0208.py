#!/usr/bin/env python3
"""Writes dicom/jis_x0208.cpp: JIS X 0208 (ISO 2022 IR 87) as Unicode, row by row, the way
glibc's iconv decodes ISO-2022-JP. The table is kept in the repository, so that every build reads
the same characters whatever the build machine's C library; run this again only to check it:

    dicom/make-jis-x0208.py > dicom/jis_x0208.cpp
"""
import subprocess

SIZE = 94  # rows and cells of a 94 x 94 set
UNDEFINED = "\ufffd"

# One cell per line, each switched into JIS X 0208 and back; iconv -c drops what it cannot
# decode and keeps the line, so an empty line is an undefined cell.
cells = bytearray()
for row in range(1, SIZE + 1):
    for cell in range(1, SIZE + 1):
        cells += b"\x1b$B" + bytes([0x20 + row, 0x20 + cell]) + b"\x1b(B\n"
decoded = subprocess.run(["iconv", "-c", "-f", "ISO-2022-JP", "-t", "UTF-8"], input=bytes(cells),
                         capture_output=True, check=True).stdout.decode("utf-8").split("\n")
rows = []
for row in range(SIZE):
    line = decoded[row * SIZE:(row + 1) * SIZE]
    assert all(len(c) <= 1 and c != UNDEFINED and c < "\U00010000" for c in line)
    rows.append("".join(c or UNDEFINED for c in line))
while rows and set(rows[-1]) == {UNDEFINED}:
    rows.pop()

print(f"""// Made by dicom/make-jis-x0208.py from glibc's iconv; do not edit.
#include "dicom/jis_x0208.h"

#include <iterator>
#include <string_view>

namespace ordovan::dicom {{

namespace {{

// Row by row, cell 1 first; U+FFFD marks a cell the set leaves undefined.
// clang-format off
constexpr std::u16string_view kRows[] = {{""")
for row in rows:
    print('    u"",' if set(row) == {UNDEFINED} else f'    u"{row}",')
print(f"""}};
// clang-format on

}}  // namespace

char16_t JisX0208Character(unsigned row, unsigned cell) {{
    if (row < 1 || row > std::size(kRows) || cell < 1 || cell > {SIZE})
        return 0;
    const std::u16string_view characters = kRows[row - 1];
    if (characters.size() != {SIZE} || characters[cell - 1] == u'\\uFFFD')
        return 0;
    return characters[cell - 1];
}}

}}  // namespace ordovan::dicom""")
