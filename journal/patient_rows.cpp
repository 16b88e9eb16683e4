#include "journal/patient_rows.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace ordovan::journal {

namespace {

// A Kopiert row whose images were all in the target already, byte for byte: at the end of the
// patient list the application exports the last patient again and again.
constexpr std::wstring_view kNothingNewNote = L"keine neuen Bilder";

bool MergesWith(const dicom::PatientFields& patient, const JournalRow& row) {
    const dicom::PatientFields& other = row.patientFields;
    return !patient.patientId.empty() && !patient.idLostCharacters && !other.idLostCharacters &&
           other.patientId == patient.patientId;
}

}  // namespace

void CountIntoPatientRow(std::vector<JournalRow>& rows, dicom::PatientFields patient,
                         const FolderFiles& copied, const std::wstring& target,
                         std::uint32_t patientNumber) {
    auto row = std::find_if(rows.begin(), rows.end(),
                            [&patient](const JournalRow& r) { return MergesWith(patient, r); });
    if (row == rows.end()) {
        rows.push_back({.event = kCopied,
                        .patient = patientNumber,
                        .patientFields = std::move(patient),
                        .imageFolders = 0,
                        .images = 0,
                        .bytes = 0,
                        .renamed = 0,
                        .target = target,
                        .note = std::wstring(kNothingNewNote)});
        row = std::prev(rows.end());
    }
    ++*row->imageFolders;
    *row->images += copied.images.size();
    for (const CopiedImage& image : copied.images) {
        *row->bytes += image.source.size;
        if (image.copyName != image.name)
            ++*row->renamed;
        if (!image.alreadyThere)
            row->note.clear();
    }
}

JournalRow KeptRow(std::wstring note, dicom::PatientFields patient, const std::wstring& target,
                   std::uint32_t patientNumber) {
    return {.event = kKept,
            .patient = patientNumber,
            .patientFields = std::move(patient),
            .imageFolders = 1,
            .target = target,
            .note = std::move(note)};
}

}  // namespace ordovan::journal
