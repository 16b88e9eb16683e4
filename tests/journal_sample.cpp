// journal_sample <patients file> <folder>: writes <folder>\Logs\Exportprotokoll.csv through the
// program's own ExportJournal, for tests/spreadsheet-check.py: a Start row, one Kopiert row per
// line of the UTF-8 patients file (ID, name, birth date, study date, separated by tabs), then a
// Stopp row. Failures go to <folder>\Logs\ErrorLog.log, as in the program.
#include <cstdio>
#include <cwchar>
#include <string>

#include "journal/export_journal.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_journal_file.h"

int wmain(int argc, wchar_t** argv) {
    using namespace ordovan;
    FILE* const patients = argc == 3 ? _wfopen(argv[1], L"rt, ccs=UTF-8") : nullptr;
    if (patients == nullptr)
        return 2;
    win32::Win32FileSystem files;
    win32::Win32JournalFile journalFile;
    LogFile log(files, argv[2]);
    journal::ExportJournal journal(journalFile, files, log, argv[2]);
    journal.Write({.event = journal::kStart, .target = L"Y:\\"});
    std::uint32_t number = 0;
    wchar_t buffer[1024];
    while (std::fgetws(buffer, 1024, patients) != nullptr) {
        std::wstring fields[4];
        std::size_t field = 0;
        for (const wchar_t* at = buffer; *at != L'\0' && *at != L'\n'; ++at) {
            if (*at == L'\t' && field < 3)
                ++field;
            else
                fields[field] += *at;
        }
        journal.Write({.event = journal::kCopied,
                       .patient = ++number,
                       .patientFields = {fields[0], fields[1], fields[2], fields[3]},
                       .target = L"Y:\\"});
    }
    journal.Write({.event = journal::kStopped, .patient = number});
    journal.Finish();
    std::fclose(patients);
    return journal.Waiting() == 0 ? 0 : 1;
}
