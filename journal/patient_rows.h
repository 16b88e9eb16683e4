#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dicom/patient_fields.h"
#include "journal/journal_row.h"
#include "platform/file_system.h"

namespace ordovan::journal {

// Counts one copied subfolder into the Kopiert row of its patient, or starts a row for it.
// Subfolders share a row only when their headers give the same ID exactly: a subfolder without an
// ID (its header unreadable, or silent about the patient), or with one that lost characters in
// decoding, gets a row of its own, since two patients' IDs may read alike there.
void CountIntoPatientRow(std::vector<JournalRow>& rows, dicom::PatientFields patient,
                         const FolderFiles& copied, const std::wstring& target,
                         std::uint32_t patientNumber);

// The Behalten row of a subfolder left whole in the watch folder for an image below its own
// level, with its note. Its own images are counted in its patient's Kopiert row.
JournalRow KeptRow(std::wstring note, dicom::PatientFields patient, const std::wstring& target,
                   std::uint32_t patientNumber);

}  // namespace ordovan::journal
