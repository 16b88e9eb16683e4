// journal_sample: writes an export journal through the program's own ExportJournal on real files,
// for tests/spreadsheet-check.py to open in a spreadsheet program. Usage:
//   journal_sample <patients file> <folder>
// The patients file holds one line per patient in UTF-8: Patienten-ID, name, birth date and study
// date, separated by tabs. The journal, <folder>\Logs\Exportprotokoll.csv, gets a Start row, one
// Kopiert row per line in that order, then a Kein Export and a Stopp row.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "journal/export_journal.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_journal_file.h"

namespace {

using ordovan::journal::JournalRow;

constexpr int kArgumentCount = 3;
constexpr int kExitWritten = 0;
constexpr int kExitNotWritten = 1;
constexpr int kExitUsage = 2;
constexpr std::wstring_view kTarget = L"Y:\\";

// Counts what the journal would have logged, and shows it.
class CountingLog final : public ordovan::ErrorLog {
  public:
    void WriteErrorLog(std::wstring_view procedure,
                       const ordovan::Failure& failure) noexcept override {
        std::fwprintf(stderr, L"%.*ls: # %d - %ls\n", static_cast<int>(procedure.size()),
                      procedure.data(), failure.Number(), failure.Description().c_str());
        ++lines;
    }
    int lines = 0;
};

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(),
                          length);
    return text;
}

std::vector<ordovan::dicom::PatientFields> ReadPatients(const wchar_t* path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<ordovan::dicom::PatientFields> patients;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::wstring> fields;
        std::istringstream cells(line + '\t');
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(Wide(cell));
        fields.resize(4);
        patients.push_back({fields[0], fields[1], fields[2], fields[3]});
    }
    return patients;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != kArgumentCount) {
        std::fwprintf(stderr, L"usage: journal_sample <patients file> <folder>\n");
        return kExitUsage;
    }
    ordovan::win32::Win32FileSystem files;
    ordovan::win32::Win32JournalFile journalFile;
    CountingLog log;
    ordovan::journal::ExportJournal journal(journalFile, files, log, argv[2]);

    journal.Write({.event = ordovan::journal::kStart,
                   .target = std::wstring(kTarget),
                   .note = L"Copy Ordovan Tabellenprobe"});
    std::uint32_t number = 0;
    for (ordovan::dicom::PatientFields& patient : ReadPatients(argv[1])) {
        journal.Write({.event = ordovan::journal::kCopied,
                       .patient = ++number,
                       .patientFields = std::move(patient),
                       .imageFolders = 1,
                       .images = 1,
                       .bytes = 1,
                       .renamed = 0,
                       .target = std::wstring(kTarget)});
    }
    journal.Write({.event = ordovan::journal::kNoExport,
                   .patient = ++number,
                   .imageFolders = 0,
                   .images = 0,
                   .bytes = 0,
                   .target = std::wstring(kTarget)});
    journal.Write({.event = ordovan::journal::kStopped, .patient = number});
    journal.Finish();
    return log.lines == 0 && journal.Waiting() == 0 ? kExitWritten : kExitNotWritten;
}
