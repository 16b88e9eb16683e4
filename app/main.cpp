#include <windows.h>

#include "errorlog/error_handler.h"
#include "platform/driven_app.h"
#include "platform/win32/executable_directory.h"
#include "platform/win32/main_window.h"
#include "platform/win32/win32_file_system.h"
#include "window/form1.h"

// The one place that wires the program together: Form1 decides, the error log records, and the
// Win32 realisations under platform/win32/ do the work. Start-up is nothing but creating and
// showing the window; closing it ends the program.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    try {
        ordovan::win32::Win32FileSystem files;
        ordovan::LogFile log(files, ordovan::win32::ExecutableDirectory());
        ordovan::win32::MainWindow window;
        ordovan::Form1 form(window, files, log, ordovan::driven_app::kWatchFolder);
        window.Create(instance, form);
        window.Show(showCommand);
        return window.RunMessageLoop();
    } catch (...) {
        // Without a window there is nothing the user could do; end quietly with a failure code.
        return 1;
    }
}
