#include <windows.h>

#include <string>

#include "errorlog/error_handler.h"
#include "journal/export_journal.h"
#include "ordovan_version.h"
#include "platform/driven_app.h"
#include "platform/win32/executable_directory.h"
#include "platform/win32/main_window.h"
#include "platform/win32/tick_clock.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_journal_file.h"
#include "window/form1.h"

namespace {

// The project's version, as the version resource carries it.
constexpr std::wstring_view kVersion = L"" ORDOVAN_VERSION_TEXT;

}  // namespace

// The one place that wires the program together: Form1 decides, the error log and the export
// journal record, and the Win32 realisations under platform/win32/ do the work. Start-up is nothing
// but creating and showing the window; closing it ends the program, after the journal has put
// away any rows still waiting.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    try {
        ordovan::win32::Win32FileSystem files;
        const std::wstring executableDirectory = ordovan::win32::ExecutableDirectory();
        ordovan::LogFile log(files, executableDirectory);
        ordovan::win32::Win32JournalFile journalFile;
        ordovan::journal::ExportJournal journal(journalFile, files, log, executableDirectory);
        ordovan::win32::MainWindow window;
        ordovan::win32::TickClock clock;
        ordovan::Form1 form(window, files, log, journal, clock, ordovan::driven_app::kWatchFolder,
                            kVersion);
        window.Create(instance, form);
        window.Show(showCommand);
        const int exitCode = window.RunMessageLoop();
        journal.Finish();
        return exitCode;
    } catch (...) {
        // Without a window there is nothing the user could do; end quietly with a failure code.
        return 1;
    }
}
