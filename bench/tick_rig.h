#pragma once

#include <string>
#include <string_view>

#include "bench/timed_file_system.h"
#include "platform/win32/win32_file_system.h"
#include "tests/fake_error_log.h"
#include "tests/fake_journal.h"
#include "tests/fake_window_system.h"
#include "window/form1.h"
#include "window/form1_design.h"

// The real poll on the real file system, with the window system on a virtual clock: the key
// sequences and their pauses cost nothing, so that a tick's time is its file work.
namespace ordovan::bench {

struct TickRig {
    TickRig(std::wstring_view watchFolder, std::wstring_view target)
        : form{window, timed, log, journal, window, watchFolder, L"bench"} {
        window.Attach(form);
        window.target = std::wstring(target) + L'\\';
    }
    TickRig(const TickRig&) = delete;
    TickRig& operator=(const TickRig&) = delete;

    win32::Win32FileSystem files;
    TimedFileSystem timed{files};
    test::FakeWindowSystem window{form1::kPollIntervalMs};
    test::FakeErrorLog log;
    test::FakeJournal journal;
    Form1 form;
};

// Runs one tick, answers its wall time in ms. A tick that logged a failure did not do the work
// being measured: that throws.
double TimeOneTick(TickRig& rig);

}  // namespace ordovan::bench
