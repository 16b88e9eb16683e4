#!/bin/sh
# Checks that every copy in the end-to-end run's target folder is a valid DICOM Part 10 file.
# Usage: check-dicom.sh FOLDER EXPECTED_COUNT
set -eu
folder=$1
expected=$2
count=0
for file in "$folder"/*.dcm; do
    [ -f "$file" ] || continue
    dcmftest "$file" | grep -q '^yes:' || { echo "not DICOM Part 10: $file"; exit 1; }
    dcmdump -q "$file" >/dev/null || { echo "does not parse: $file"; exit 1; }
    count=$((count + 1))
done
echo "$count valid DICOM files in $folder"
[ "$count" -eq "$expected" ]
