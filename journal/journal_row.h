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
inline constexpr std::wstring_view kNoExport = L"Kein Export";
inline constexpr std::wstring_view kAborted = L"Abgebrochen";
inline constexpr std::wstring_view kStopped = L"Stopp";
inline constexpr std::wstring_view kLocked = L"Gesperrt";
inline constexpr std::wstring_view kUnlocked = L"Entsperrt";
inline constexpr std::wstring_view kFocus = L"Fokus";
inline constexpr std::wstring_view kEnded = L"Beendet";
inline constexpr std::wstring_view kKept = L"Behalten";
inline constexpr std::wstring_view kWaiting = L"Wartet";

// The columns after run, date and time; what an event leaves out stays empty.
struct JournalRow {
    std::wstring_view event{};
    std::optional<std::uint32_t> patient{};  // Nr.: the copying tick's number in this run
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

// A field from outside that must open as text, exactly as written: Excel and Calc turn "00012345"
// into 12345, a 16-digit ID into 1,23E+15 and "1-2" into a date. Guarded like CsvField, then
// written as the formula ="<value>", whose result is that text and nothing else; the value is
// only ever a string constant in it. A value longer than a formula's string constant may be
// (255 characters) is written as CsvField writes it.
std::wstring CsvTextField(std::wstring_view value);

// The row in UTF-8 with CR LF: the run (the date and time of its Start row), date and time first.
// Patient fields, target and note count as from outside: image headers, the target box and error
// texts are written by anybody. The patient fields open as text.
std::string FormatJournalRow(std::wstring_view run, std::wstring_view date, std::wstring_view time,
                             const JournalRow& row);

}  // namespace ordovan::journal
