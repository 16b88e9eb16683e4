#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dicom/patient_fields.h"

// One row of the export journal, Logs\Exportprotokoll.csv, and its CSV form.
namespace ordovan::journal {

// The events, as the column Ereignis names them.
inline constexpr std::wstring_view kStart = L"Start";
inline constexpr std::wstring_view kCopied = L"Kopiert";
inline constexpr std::wstring_view kEmpty = L"Leer";
inline constexpr std::wstring_view kHalted = L"Angehalten";
inline constexpr std::wstring_view kStopped = L"Stopp";
inline constexpr std::wstring_view kKept = L"Behalten";
inline constexpr std::wstring_view kWaiting = L"Wartet";

// The columns after date and time; what an event leaves out stays empty.
struct JournalRow {
    std::wstring_view event{};
    std::optional<std::uint32_t> patient{};  // the copying tick's number in this run
    dicom::PatientFields patientFields{};
    std::optional<std::uint64_t> imageFolders{};
    std::optional<std::uint64_t> images{};
    std::optional<std::uint64_t> bytes{};
    std::optional<std::uint64_t> renamed{};
    std::wstring target{};
    std::wstring note{};
};

// The file's first bytes: the UTF-8 byte order mark (so that Excel reads UTF-8) and the header
// line, with CR LF.
std::string JournalOpening();

// One field: a field from outside the tool that Excel would run as a formula gets a leading "'";
// a field holding ';', '"' or a line break is quoted, with '"' doubled.
std::wstring CsvField(std::wstring_view value, bool fromOutside);

// The row in UTF-8 with CR LF, date and time first. Patient fields, target and note count as
// from outside: image headers, the target box and error texts are written by anybody.
std::string FormatJournalRow(std::wstring_view date, std::wstring_view time, const JournalRow& row);

}  // namespace ordovan::journal
