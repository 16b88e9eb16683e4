#include "journal/patient_rows.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace ordovan::journal {

namespace {

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
                        .target = target});
        row = std::prev(rows.end());
    }
    ++*row->imageFolders;
    *row->images += copied.images.size();
    for (const CopiedImage& image : copied.images) {
        *row->bytes += image.source.size;
        if (image.copyName != image.name)
            ++*row->renamed;
    }
}

}  // namespace ordovan::journal
