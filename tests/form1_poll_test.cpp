#include <gtest/gtest.h>

#include <windows.h>
// <windows.h> maps CopyFile to CopyFileW; the file system interface has a member of that name.
#undef CopyFile

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "journal/journal_row.h"
#include "platform/driven_app.h"
#include "platform/key_notation.h"
#include "platform/win32/win32_file_system.h"
#include "tests/failing_file_system.h"
#include "tests/fake_error_log.h"
#include "tests/fake_journal.h"
#include "tests/fake_window_system.h"
#include "tests/held_file.h"
#include "tests/open_handles.h"
#include "platform/win32/handles.h"
#include "tests/stub_file_system.h"
#include "tests/test_folder.h"
#include "window/form1.h"
#include "window/form1_design.h"

namespace ordovan::test {
namespace {

namespace fs = std::filesystem;
using Operation = FakeWindowSystem::Operation;
using FileOperation = FailingFileSystem::Operation;

constexpr std::int64_t kInterval = form1::kPollIntervalMs;

// A watch folder of this test process's own (each test runs in a process of its own), never the
// imaging application's real one: a run on a practice PC must not touch its exports.
const fs::path& WatchFolder() {
    static const fs::path folder = fs::temp_directory_path() /
                                   (L"OrdovanPoll-" + std::to_wstring(::GetCurrentProcessId())) /
                                   L"PACS";
    return folder;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// To the file time's full precision, which std::filesystem does not keep under MinGW.
void CopyLastWriteTime(const fs::path& from, const fs::path& to) {
    FILETIME written{};
    const win32::UniqueFile source(
        ::CreateFileW(from.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(::GetFileTime(source.get(), nullptr, nullptr, &written));
    const win32::UniqueFile copy(
        ::CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(::SetFileTime(copy.get(), nullptr, nullptr, &written));
}

// The first bytes of an image of the patient: a bare data set, implicit VR little endian, with
// the study date, the name and the ID. What follows must begin with a later tag ("DICM" will do).
std::string PatientHeader(const std::string& id, const std::string& name) {
    const auto element = [](std::uint16_t tagElement, std::string value) {
        value.resize((value.size() + 1) / 2 * 2, ' ');
        std::string bytes{'\x10', '\x00', static_cast<char>(tagElement & 0xFF),
                          static_cast<char>(tagElement >> 8)};
        for (std::size_t shift = 0; shift < 32; shift += 8)
            bytes += static_cast<char>((value.size() >> shift) & 0xFF);
        return bytes + value;
    };
    return std::string(
               "\x08\x00\x20\x00\x08\x00\x00\x00"
               "20260901",
               16) +
           element(0x0010, name) + element(0x0020, id);
}

void ClearReadOnlyTree(const fs::path& folder) {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
}

// The poll and the next-patient sequence on the virtual clock, against the real watch folder of
// the test's Wine prefix and a real target folder.
class PollTest : public ::testing::Test {
  protected:
    PollTest() {
        ClearReadOnlyTree(WatchFolder());
        fs::remove_all(WatchFolder());
        fs::create_directories(WatchFolder());
        window.target = target.Path() + L"\\";
        window.Attach(form);
    }
    ~PollTest() override {
        ClearReadOnlyTree(WatchFolder());
        std::error_code ignored;
        fs::remove_all(WatchFolder().parent_path(), ignored);
    }

    // An image subfolder with the given images and, if asked, its lock file.
    static void Export(const std::wstring& subfolder, std::initializer_list<std::wstring> images,
                       bool locked) {
        const fs::path folder = WatchFolder() / subfolder;
        fs::create_directories(folder);
        for (const auto& image : images)
            WriteFile(folder / image, "DICM " + Narrow(subfolder + image));
        if (locked)
            WriteFile(folder / std::wstring(driven_app::kLockFileName), "");
    }
    static std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }
    static bool InWatchFolder(const std::wstring& name) { return fs::exists(WatchFolder() / name); }
    bool InTarget(const std::wstring& name) const { return target.Exists(name); }

    // The action runs when the run has typed "{A}", between the copy and the deletion: what the
    // imaging application or another program does there.
    void OnPreDeletionKeys(std::function<void()> action) {
        window.onTyped = [action = std::move(action)](const FakeWindowSystem::TypedKeys& keys) {
            if (keys.strokes == ParseKeyString(L"{A}"))
                action();
        };
    }
    // Another program opens the image without sharing then, for `holdMs`.
    void HoldAtPreDeletionKeys(std::optional<HeldFile>& holder, const fs::path& image,
                               DWORD holdMs) {
        OnPreDeletionKeys([&holder, image, holdMs] {
            holder.emplace(image.wstring(), HeldFile::Sharing::None, holdMs);
        });
    }

    // Runs the poll from virtual time 0: the timer is on, its first tick comes at 15,000 ms.
    void SwitchPollOn() { window.SetTimerEnabled(true); }
    void RunTicks(int count) { window.RunUntil(window.Now() + count * kInterval); }

    std::vector<std::wstring> LoggedProcedures() const {
        std::vector<std::wstring> procedures;
        for (const auto& line : log.lines)
            procedures.push_back(line.procedureText);
        return procedures;
    }
    // The journal's rows as the file would hold them, with "r", "d" and "t" for run, date and time.
    std::vector<std::string> JournalRows() const {
        std::vector<std::string> rows;
        for (const auto& row : journal.rows)
            rows.push_back(journal::FormatJournalRow(L"r", L"d", L"t", row));
        return rows;
    }
    // Clicks Start at 0 and runs: the opening takes 19 s, so every 34 s from 34 s on comes a
    // copying tick while the watch folder stays empty or every subfolder is counted.
    void StartAndRunUntil(std::int64_t ms) {
        window.ScheduleClick(0);
        window.RunUntil(ms);
    }
    std::vector<std::vector<KeyStroke>> TypedSince(std::size_t first) const {
        std::vector<std::vector<KeyStroke>> strokes;
        for (std::size_t i = first; i < window.typed.size(); ++i)
            strokes.push_back(window.typed[i].strokes);
        return strokes;
    }

    TestFolder target;
    FakeWindowSystem window{form1::kPollIntervalMs};
    FakeErrorLog log;
    FakeJournal journal;
    win32::Win32FileSystem realFiles;
    FailingFileSystem files{realFiles};
    Form1 form{window, files, log, journal, window, WatchFolder().wstring(), L"1.2.3"};
};

std::vector<KeyStroke> Keys(std::wstring_view keyString) {
    return ParseKeyString(keyString);
}

TEST_F(PollTest, CopiesOneTickAfterACountThatMatchesTheSubfolders) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, false);
    SwitchPollOn();

    RunTicks(2);  // each counts 1 locked against 2 subfolders
    EXPECT_EQ(form.LockedCount, 1);
    EXPECT_FALSE(InTarget(L"1.dcm"));

    WriteFile(WatchFolder() / L"B" / L"LOCK.LCK", "");
    RunTicks(1);  // counts 2
    EXPECT_EQ(form.LockedCount, 2);
    EXPECT_FALSE(InTarget(L"1.dcm"));

    RunTicks(1);  // 2 == 2: copies and hands over
    EXPECT_TRUE(InTarget(L"1.dcm"));
    EXPECT_TRUE(InTarget(L"2.dcm"));
    EXPECT_EQ(form.LockedCount, 0);
    EXPECT_FALSE(InWatchFolder(L"A"));
    EXPECT_FALSE(InWatchFolder(L"B"));
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(PollTest, CountingLooksOnceForEachSubfoldersLockFileAndCopiesNothing) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, true);
    fs::create_directories(WatchFolder() / L"C" / L"LOCK.LCK");  // a folder, not a lock file
    SwitchPollOn();
    RunTicks(1);

    EXPECT_EQ(form.LockedCount, 2);
    std::size_t lockLooks = 0;
    for (const auto& call : files.Calls()) {
        EXPECT_NE(call.operation, FileOperation::CopyFile);
        if (call.operation == FileOperation::FileExists)
            ++lockLooks;
    }
    EXPECT_EQ(lockLooks, 3u);
}

TEST_F(PollTest, SubfolderRemovedBetweenTicksMakesTheNumbersMatch) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, true);
    Export(L"C", {L"3.dcm"}, false);
    SwitchPollOn();
    RunTicks(1);
    ASSERT_EQ(form.LockedCount, 2);

    fs::remove_all(WatchFolder() / L"C");
    RunTicks(1);
    EXPECT_TRUE(InTarget(L"1.dcm"));
    EXPECT_TRUE(InTarget(L"2.dcm"));
    EXPECT_FALSE(InTarget(L"3.dcm"));
}

TEST_F(PollTest, CountLeftFromAnEarlierRunIsComparedBeforeAnyLockIsLookedAt) {
    Export(L"A", {L"1.dcm"}, false);
    Export(L"B", {L"2.dcm"}, false);
    form.LockedCount = 2;
    SwitchPollOn();
    RunTicks(1);

    EXPECT_TRUE(InTarget(L"1.dcm"));
    EXPECT_TRUE(InTarget(L"2.dcm"));
    EXPECT_FALSE(files.WasCalled(FileOperation::FileExists));
}

TEST_F(PollTest, EmptyWatchFolderHandsOverAtEveryTickAbout34SecondsApart) {
    window.ScheduleClick(0);
    window.RunUntil(34000 + 19000 + 15000);

    // Start's six keys, then NextPatient at the first tick (+34,000) and again at the next one.
    ASSERT_EQ(window.typed.size(), 6u + 9u + 9u);
    std::vector<std::int64_t> times;
    for (std::size_t i = 6; i < 15; ++i) {
        times.push_back(window.typed[i].atMs - 34000);
        EXPECT_TRUE(window.typed[i].wait);
    }
    // Alt+F, A, (deletion) F2, Tab, Down, Enter, (6 s) Home, Shift+End, Enter.
    EXPECT_EQ(times,
              (std::vector<std::int64_t>{0, 1000, 3000, 4000, 5000, 7000, 16000, 17000, 18000}));
    const std::vector<std::vector<KeyStroke>> patient{
        Keys(L"%{F}"),    Keys(L"{A}"),    Keys(L"{F2}"),   Keys(L"{TAB}"),  Keys(L"{DOWN}"),
        Keys(L"{ENTER}"), Keys(L"{HOME}"), Keys(L"+{END}"), Keys(L"{ENTER}")};
    std::vector<std::vector<KeyStroke>> twoPatients = patient;
    twoPatients.insert(twoPatients.end(), patient.begin(), patient.end());
    EXPECT_EQ(TypedSince(6), twoPatients);
    EXPECT_EQ(window.ticksAt, (std::vector<std::int64_t>{34000, 34000 + 19000 + 15000}));
    EXPECT_EQ(window.timerSwitchedOffAt, (std::vector<std::int64_t>{34000, 68000}));
    EXPECT_EQ(window.timerSwitchedOnAt, (std::vector<std::int64_t>{19000, 53000, 87000}));
    EXPECT_TRUE(log.lines.empty());
}

// Only the images lying directly in a subfolder are copied. One that holds an image below its own
// level stays whole, since no copy took that image: one Behalten row and one log line, and it is
// no export again until it changes, so later patients neither wait for it nor copy it again.
TEST_F(PollTest, CopiesTheImagesLyingDirectlyInEachSubfolderAndKeepsOneWithAnImageBelowWhole) {
    Export(L"A", {L"1.dcm", L"2.DCM"}, true);
    Export(L"B", {L"3.dcm"}, true);
    WriteFile(WatchFolder() / L"A" / L"notes.txt", "not an image");
    WriteFile(WatchFolder() / L"A" / L"deeper" / L"4.dcm", "deeper image");
    Export(L"C", {}, true);
    WriteFile(WatchFolder() / L"C" / L"deeper" / L"5.dcm", "no image of its own");
    WriteFile(WatchFolder() / L"loose.dcm", "lying in the watch folder itself");
    target.WriteBytes(L"3.dcm", "an older image of the same name");
    SwitchPollOn();
    RunTicks(2);

    EXPECT_EQ(target.ReadBytes(L"1.dcm"), "DICM A1.dcm");
    EXPECT_EQ(target.ReadBytes(L"2.DCM"), "DICM A2.DCM");
    // A different image of the same name stays; the copy goes beside it.
    EXPECT_EQ(target.ReadBytes(L"3.dcm"), "an older image of the same name");
    EXPECT_EQ(target.ReadBytes(L"3 (2).dcm"), "DICM B3.dcm");
    EXPECT_FALSE(InTarget(L"notes.txt"));
    EXPECT_FALSE(InTarget(L"4.dcm"));
    EXPECT_FALSE(InTarget(L"loose.dcm"));
    EXPECT_FALSE(InWatchFolder(L"B"));
    for (const wchar_t* kept : {L"A\\1.dcm", L"A\\LOCK.LCK", L"A\\notes.txt", L"A\\deeper\\4.dcm"})
        EXPECT_TRUE(InWatchFolder(kept)) << testing::PrintToString(std::wstring(kept));
    EXPECT_EQ(ReadFile(WatchFolder() / L"loose.dcm"), "lying in the watch folder itself");
    const std::string kept = "r;d;t;Behalten;1;;;;;1;;;;" + Narrow(window.target) +
                             ";A: Bild in Unterordner deeper\\4.dcm\r\n";
    std::vector<std::string> rows = JournalRows();
    EXPECT_EQ(std::count(rows.begin(), rows.end(), kept), 1);
    EXPECT_TRUE(InWatchFolder(L"C\\deeper\\5.dcm"));
    std::vector<std::wstring> lines;
    for (const auto& line : log.lines) {
        EXPECT_EQ(line.procedureText, L"tmrCheck_Timer");
        EXPECT_EQ(line.number, 145);
        lines.push_back(line.description);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"Bildordner behalten, A: Bild in Unterordner deeper\\4.dcm",
                         L"Bildordner behalten, C: Bild in Unterordner deeper\\5.dcm"}));

    window.RunUntil(window.Now() + 3 * 34000);  // an empty hand-over every 34 s
    EXPECT_EQ(log.lines.size(), 2u);
    rows = JournalRows();
    EXPECT_EQ(std::count(rows.begin(), rows.end(), kept), 1);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back().substr(0, 18), "r;d;t;Kein Export;");

    WriteFile(WatchFolder() / L"A" / L"5.dcm", "DICM A5.dcm");  // a changed folder is an export
    window.RunUntil(window.Now() + 3 * 34000);
    EXPECT_EQ(target.ReadBytes(L"5.dcm"), "DICM A5.dcm");
    EXPECT_EQ(log.lines.size(), 3u);
    EXPECT_TRUE(InWatchFolder(L"A\\deeper\\4.dcm"));
}

// A run without a copying tick for 15 minutes puts the wait on record, naming the subfolders
// without a lock file, and again after every further full hour; a copying tick ends that wait.
TEST_F(PollTest, LongWaitIsJournaledAfter15MinutesAndAgainAfterEveryFurtherHour) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, false);
    StartAndRunUntil(kFirstWaitRecordMs + kWaitRecordRepeatMs + kInterval);

    const std::string waiting = "r;d;t;Wartet;0;;;;;;;;;;seit ";
    std::vector<std::string> rows = JournalRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1], waiting + "15 min, ohne LOCK.LCK: B\r\n");
    EXPECT_EQ(rows[2], waiting + "1 h 15 min, ohne LOCK.LCK: B\r\n");

    WriteFile(WatchFolder() / L"B" / L"LOCK.LCK", "");
    RunTicks(2);  // one count, one copy
    Export(L"C", {L"3.dcm"}, false);
    window.RunUntil(window.Now() + kFirstWaitRecordMs);
    rows = JournalRows();
    EXPECT_EQ(
        std::count_if(rows.begin(), rows.end(),
                      [](const std::string& row) { return row.starts_with("r;d;t;Wartet;"); }),
        3);
    EXPECT_EQ(rows.back(), "r;d;t;Wartet;1;;;;;;;;;;seit 15 min, ohne LOCK.LCK: C\r\n");
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(PollTest, TargetEditedDuringTheRunIsUsedAtTheNextCopy) {
    TestFolder otherTarget;
    Export(L"A", {L"1.dcm"}, true);
    SwitchPollOn();
    RunTicks(1);
    window.target = otherTarget.Path();  // without the trailing backslash: passed as it is
    RunTicks(1);

    EXPECT_TRUE(otherTarget.Exists(L"1.dcm"));
    EXPECT_FALSE(InTarget(L"1.dcm"));
}

TEST_F(PollTest, StopClickEndsTheRunAtTheNextTickAndKeepsTheCount) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, false);
    window.caption = L"Stop";
    SwitchPollOn();
    RunTicks(1);
    window.ScheduleClick(window.Now() + 1000);
    RunTicks(1);

    EXPECT_TRUE(form.StopRequested);
    EXPECT_EQ(window.caption, L"Start");
    EXPECT_FALSE(window.timerEnabled);
    EXPECT_EQ(window.timerSwitchedOffAt, (std::vector<std::int64_t>{2 * kInterval}));
    EXPECT_EQ(window.keepAwake,
              (std::vector<std::pair<std::int64_t, bool>>{{2 * kInterval, false}}));
    EXPECT_EQ(form.LockedCount, 1);
    RunTicks(3);
    EXPECT_EQ(window.ticksAt.size(), 2u);
}

TEST_F(PollTest, StopClickInsideTheCountingLoopTakesEffectAtTheFollowingTick) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, true);
    window.caption = L"Stop";
    SwitchPollOn();
    window.ScheduleClick(kInterval);  // pending when the first tick starts counting
    RunTicks(1);

    EXPECT_TRUE(form.StopRequested);
    EXPECT_EQ(form.LockedCount, 2);  // the tick counted on after the click
    EXPECT_TRUE(window.timerEnabled);
    RunTicks(1);
    EXPECT_FALSE(window.timerEnabled);
    EXPECT_FALSE(InTarget(L"1.dcm"));
}

TEST_F(PollTest, StopClickInsideTheDeletionLoopLetsTheSequenceFinish) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, true);
    window.caption = L"Stop";
    form.LockedCount = 2;
    SwitchPollOn();
    window.ScheduleClick(kInterval + 2500);  // between "{A}" and the deletion
    RunTicks(1);

    EXPECT_TRUE(form.StopRequested);
    EXPECT_FALSE(InWatchFolder(L"A"));
    EXPECT_FALSE(InWatchFolder(L"B"));
    EXPECT_EQ(window.typed.size(), 9u);  // the whole next-patient sequence was typed
    EXPECT_TRUE(window.timerEnabled);
    RunTicks(2);
    EXPECT_FALSE(window.timerEnabled);
    EXPECT_EQ(window.typed.size(), 9u);
}

TEST_F(PollTest, StartClickInsideTheCountingLoopRunsAWholeStartFirst) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, true);
    window.caption = L"Start";  // Stop revoked: the poll runs although the caption reads Start
    SwitchPollOn();
    window.ScheduleClick(kInterval);
    RunTicks(1);

    EXPECT_EQ(window.typed.size(), 6u);
    EXPECT_EQ(window.typed.front().atMs, kInterval + 4000);
    EXPECT_EQ(window.caption, L"Stop");
    EXPECT_EQ(form.LockedCount, 2);
    EXPECT_EQ(window.timerSwitchedOnAt.back(), kInterval + 19000);
}

TEST_F(PollTest, MissingWatchFolderIsLoggedAtEveryTickUntilItIsBack) {
    fs::remove_all(WatchFolder());
    SwitchPollOn();
    RunTicks(1);
    const std::size_t handles = OpenHandleCount();
    RunTicks(2);
    EXPECT_EQ(OpenHandleCount(), handles);
    EXPECT_EQ(LoggedProcedures(), std::vector<std::wstring>(3, L"tmrCheck_Timer"));
    EXPECT_EQ(log.lines[0].number, 3);  // ERROR_PATH_NOT_FOUND
    EXPECT_TRUE(window.timerEnabled);

    Export(L"A", {L"1.dcm"}, true);
    RunTicks(2);
    EXPECT_EQ(log.lines.size(), 3u);
    EXPECT_TRUE(InTarget(L"1.dcm"));
}

TEST_F(PollTest, CopyFailuresAreLoggedEachTickAndNothingIsDeleted) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        DWORD error;
    };
    const Case cases[] = {
        {"missing target", [this] { window.target = target.PathOf(L"missing\\"); },
         ERROR_PATH_NOT_FOUND},
        {"subfolder without images", [] { Export(L"C", {}, true); }, ERROR_FILE_NOT_FOUND},
        {"read-only file of the same name and bytes",
         [this] {
             target.WriteBytes(L"2.dcm", "DICM B2.dcm");
             target.MakeReadOnly(L"2.dcm");
         },
         ERROR_ACCESS_DENIED},
        {"target on a drive that does not exist",
         [this] {
             ASSERT_EQ(::GetDriveTypeW(L"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR))
                 << "the test prefix maps Q:";
             window.target = L"Q:\\";
         },
         ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearReadOnlyTree(WatchFolder());
        fs::remove_all(WatchFolder());
        Export(L"A", {L"1.dcm"}, true);
        Export(L"B", {L"2.dcm"}, true);
        window.target = target.Path() + L"\\";  // each case its own fault only
        c.arrange();
        log.lines.clear();
        form.LockedCount = static_cast<std::int16_t>(
            std::distance(fs::directory_iterator(WatchFolder()), fs::directory_iterator()));
        window.typed.clear();
        SwitchPollOn();
        RunTicks(1);
        const std::size_t handles = OpenHandleCount();
        RunTicks(2);

        EXPECT_EQ(OpenHandleCount(), handles);
        EXPECT_EQ(LoggedProcedures(), std::vector<std::wstring>(3, L"tmrCheck_Timer"));
        for (const auto& line : log.lines)
            EXPECT_EQ(line.number, static_cast<std::int32_t>(c.error));
        EXPECT_TRUE(window.typed.empty());
        EXPECT_TRUE(journal.rows.empty());  // the next tick tries again
        EXPECT_TRUE(InWatchFolder(L"A\\1.dcm"));
        EXPECT_TRUE(InWatchFolder(L"B\\2.dcm"));
        EXPECT_TRUE(window.timerEnabled);
        EXPECT_NE(form.LockedCount, 0);
    }
    EXPECT_NE(::GetFileAttributesW(target.PathOf(L"2.dcm").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(InTarget(L"2 (2).dcm"));
}

// Restarted, the run counts the subfolder as finished even when the failed removal had taken its
// lock file, and copies and deletes it with the next patient.
TEST_F(PollTest, SubfolderThatCannotBeDeletedHaltsTheRun) {
    Export(L"A", {L"1.dcm"}, true);
    window.caption = L"Stop";
    form.LockedCount = 1;
    files.FailOn(FileOperation::DeleteCopiedFolder, 32,
                 L"Der Prozess kann nicht auf die Datei zugreifen");
    SwitchPollOn();
    RunTicks(3);

    EXPECT_EQ(LoggedProcedures(), (std::vector<std::wstring>{L"NextPatient"}));
    EXPECT_EQ(log.lines[0].number, 32);
    EXPECT_EQ(window.caption, L"Stop");
    EXPECT_FALSE(window.timerEnabled);
    EXPECT_EQ(window.typed.size(), 2u);      // the pre-deletion keys only
    ASSERT_EQ(window.keepAwake.size(), 1u);  // the halt lets the system sleep again
    EXPECT_FALSE(window.keepAwake[0].second);
    EXPECT_TRUE(InTarget(L"1.dcm"));
    EXPECT_TRUE(InWatchFolder(L"A"));

    files.StopFailing(FileOperation::DeleteCopiedFolder);
    fs::remove(WatchFolder() / L"A" / L"LOCK.LCK");
    window.ScheduleClick(window.Now());         // Stop
    window.ScheduleClick(window.Now() + 1000);  // Start
    window.RunUntil(window.Now() + 20000 + 3 * kInterval);
    EXPECT_FALSE(InWatchFolder(L"A"));
    EXPECT_EQ(log.lines.size(), 1u);
}

// One Kopiert row per patient ID of a copying tick (two subfolders of one patient summed, one
// without a readable header on its own, an image put under another name counted), then Kein Export
// for a tick that found nothing, and Stopp for the tick that ends the run. A row whose images were
// all in the target already, byte for byte, says so: at the end of its patient list the
// application exports the last patient again and again.
TEST_F(PollTest, JournalHasARowPerPatientOfEachCopyingTickAndOneForAnEmptyTick) {
    const std::string mueller = PatientHeader("4711", "Mueller^Hans");
    WriteFile(WatchFolder() / L"A" / L"1.dcm", mueller + "DICM a1");
    WriteFile(WatchFolder() / L"A" / L"2.dcm", mueller + "DICM a2");
    WriteFile(WatchFolder() / L"B" / L"3.dcm", mueller + "DICM b3");
    const std::string meier = PatientHeader("=0815", "Meier^Eva") + "DICM c4";
    WriteFile(WatchFolder() / L"C" / L"4.dcm", meier);
    Export(L"D", {L"5.dcm"}, false);  // "DICM D5.dcm": no header to read
    target.WriteBytes(L"3.dcm", "another image");
    target.WriteBytes(L"1.dcm", mueller + "DICM a1");
    target.WriteBytes(L"4.dcm", meier);
    form.LockedCount = 4;
    window.ScheduleClick(90000);  // Stop after the second copying tick (68 s), before the third
    StartAndRunUntil(110000);

    const auto headerReads = std::count_if(
        files.Calls().begin(), files.Calls().end(),
        [](const auto& call) { return call.operation == FileOperation::ReadFileStart; });
    EXPECT_EQ(headerReads, 4);  // one image per subfolder
    const std::string to = Narrow(window.target);
    const std::string size = std::to_string(3 * (mueller.size() + 7));
    std::vector<std::string> rows = JournalRows();
    ASSERT_EQ(rows.size(), 6u) << testing::PrintToString(rows);
    std::sort(rows.begin() + 1, rows.begin() + 4);  // the copying tick's rows, in any order
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "r;d;t;Start;;;;;;;;;;" + to + ";Copy Ordovan 1.2.3\r\n",
                        "r;d;t;Kopiert;1;\"=\"\"'=0815\"\"\";\"=\"\"Meier, Eva\"\"\";;"
                        "\"=\"\"01.09.2026\"\"\";1;1;" +
                            std::to_string(meier.size()) + ";0;" + to + ";keine neuen Bilder\r\n",
                        "r;d;t;Kopiert;1;\"=\"\"4711\"\"\";\"=\"\"Mueller, Hans\"\"\";;"
                        "\"=\"\"01.09.2026\"\"\";2;3;" +
                            size + ";1;" + to + ";\r\n",
                        "r;d;t;Kopiert;1;;;;;1;1;11;0;" + to + ";\r\n",
                        "r;d;t;Kein Export;2;;;;;0;0;0;;" + to + ";\r\n",
                        "r;d;t;Stopp;2;;;;;;;;;;\r\n"}));
    EXPECT_TRUE(log.lines.empty());
    // Rows another program kept out of the file are tried again at every tick.
    EXPECT_EQ(journal.retries, static_cast<int>(window.ticksAt.size()));
}

// A halt ends the run's rows with the error log's failure. A header that cannot be read is no
// failure of the run: its subfolder's row keeps the counts and leaves the patient empty.
TEST_F(PollTest, JournalMarksAHaltWithItsFailureAndKeepsTheRowOfAnUnreadableHeader) {
    WriteFile(WatchFolder() / L"A" / L"1.dcm", PatientHeader("4711", "Mueller^Hans"));
    form.LockedCount = 1;
    files.FailOn(FileOperation::ReadFileStart, 5, L"Zugriff verweigert");
    files.FailOn(FileOperation::DeleteCopiedFolder, 32, L"Datei in Gebrauch");
    StartAndRunUntil(60000);

    const std::string to = Narrow(window.target);
    EXPECT_EQ(JournalRows(), (std::vector<std::string>{
                                 "r;d;t;Start;;;;;;;;;;" + to + ";Copy Ordovan 1.2.3\r\n",
                                 "r;d;t;Kopiert;1;;;;;1;1;" +
                                     std::to_string(PatientHeader("4711", "Mueller^Hans").size()) +
                                     ";0;" + to + ";\r\n",
                                 "r;d;t;Abgebrochen;1;;;;;;;;;;# 32 - Datei in Gebrauch\r\n"}));
    EXPECT_EQ(LoggedProcedures(), (std::vector<std::wstring>{L"NextPatient"}));
}

// A subfolder the application writes after the copy was taken is not deleted uncopied: it stays
// and goes with the next patient.
TEST_F(PollTest, SubfolderAppearingAfterTheCopyIsKeptForTheNextPatient) {
    Export(L"A", {L"1.dcm"}, true);
    form.LockedCount = 1;
    window.onTyped = [](const FakeWindowSystem::TypedKeys& keys) {
        if (keys.strokes == ParseKeyString(L"{A}") && !fs::exists(WatchFolder() / L"Late")) {
            Export(L"Late", {L"9.dcm"}, true);
        }
    };
    SwitchPollOn();
    RunTicks(1);

    EXPECT_TRUE(InTarget(L"1.dcm"));
    EXPECT_FALSE(InTarget(L"9.dcm"));
    EXPECT_FALSE(InWatchFolder(L"A"));
    EXPECT_TRUE(InWatchFolder(L"Late"));

    window.onTyped = nullptr;
    window.RunUntil(window.Now() + 2 * kInterval + 1);  // one count, one copy
    EXPECT_TRUE(InTarget(L"9.dcm"));
    EXPECT_FALSE(InWatchFolder(L"Late"));
}

// A copied subfolder that is not exactly what the copy took by the time of the deletion stays,
// is no failure, and goes with the next patient once its images are copied, even without its
// lock file: it is known by its identity. A folder made anew under its name waits for its own
// lock file. One that got an image below its own level is copied and then left whole.
TEST_F(PollTest, CopiedSubfolderChangedBeforeTheDeletionIsKeptForTheNextPatient) {
    const fs::path folder = WatchFolder() / L"A";
    struct Case {
        const char* what;
        std::function<void()> change;
        std::string image1;  // A\1.dcm's bytes after the change
        bool lockedLater = false;
        bool held = false;
    };
    const Case cases[] = {
        {"recreated under its name with images of the same names, sizes and times, unlocked",
         [&folder] {
             fs::rename(folder, WatchFolder() / L"old");
             Export(L"A", {}, false);
             WriteFile(folder / L"1.dcm", "DICM a1.dcm");
             CopyLastWriteTime(WatchFolder() / L"old" / L"1.dcm", folder / L"1.dcm");
             fs::remove_all(WatchFolder() / L"old");
         },
         "DICM a1.dcm", true},
        {"image rewritten",
         [&folder] { WriteFile(folder / L"1.dcm", "DICM rewritten after the copy"); },
         "DICM rewritten after the copy"},
        {"late image", [&folder] { WriteFile(folder / L"9.dcm", "DICM late"); }, "DICM A1.dcm"},
        {"late image, lock file gone",
         [&folder] {
             WriteFile(folder / L"9.dcm", "DICM late");
             fs::remove(folder / L"LOCK.LCK");
         },
         "DICM A1.dcm"},
        {"an image below its own level",
         [&folder] { WriteFile(folder / L"deeper" / L"4.dcm", "DICM deeper"); }, "DICM A1.dcm",
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(WatchFolder());
        Export(L"A", {L"1.dcm"}, true);
        log.lines.clear();
        window.typed.clear();
        form.LockedCount = 1;
        OnPreDeletionKeys(c.change);
        SwitchPollOn();
        RunTicks(1);

        EXPECT_TRUE(log.lines.empty());
        EXPECT_EQ(window.typed.size(), 9u);
        EXPECT_TRUE(window.timerEnabled);
        EXPECT_EQ(ReadFile(folder / L"1.dcm"), c.image1);
        EXPECT_EQ(target.ReadBytes(L"1.dcm"), "DICM A1.dcm");

        window.onTyped = nullptr;
        if (c.lockedLater) {
            window.RunUntil(window.Now() + 2 * kInterval + 1);
            EXPECT_FALSE(InTarget(L"1 (2).dcm"));
            WriteFile(folder / L"LOCK.LCK", "");
        }
        window.RunUntil(window.Now() + 2 * kInterval + 1);  // one count, one copy
        EXPECT_EQ(log.lines.size(), c.held ? 1u : 0u);
        // A changed image is another image: it goes beside the first copy, not over it.
        const bool changed = c.image1 != "DICM A1.dcm";
        EXPECT_EQ(target.ReadBytes(L"1.dcm"), "DICM A1.dcm");
        EXPECT_EQ(InTarget(L"1 (2).dcm"), changed);
        if (changed) {
            EXPECT_EQ(target.ReadBytes(L"1 (2).dcm"), c.image1);
            ASSERT_TRUE(::DeleteFileW(target.PathOf(L"1 (2).dcm").c_str()));
        }
        EXPECT_EQ(InTarget(L"9.dcm"), std::string(c.what).starts_with("late image"));
        ::DeleteFileW(target.PathOf(L"9.dcm").c_str());
        EXPECT_EQ(InWatchFolder(L"A\\deeper\\4.dcm"), c.held);
        EXPECT_EQ(InWatchFolder(L"A"), c.held);
        window.SetTimerEnabled(false);
    }
}

// A subfolder that is kept still lets the window's events run, as every enumerated one does: a
// close then ends the deletion loop at once.
TEST_F(PollTest, KeptSubfolderGetsItsEventPassInTheDeletionLoop) {
    Export(L"A", {L"1.dcm"}, true);
    form.LockedCount = 1;
    OnPreDeletionKeys([] { WriteFile(WatchFolder() / L"A" / L"9.dcm", "DICM late"); });
    SwitchPollOn();
    window.ScheduleClose(kInterval + 3000);  // the deletion loop's first event pass
    RunTicks(2);

    EXPECT_TRUE(window.closed);
    EXPECT_EQ(window.typed.size(), 2u);  // nothing after the pre-deletion keys
    EXPECT_EQ(ReadFile(WatchFolder() / L"A" / L"1.dcm"), "DICM A1.dcm");
    EXPECT_EQ(ReadFile(WatchFolder() / L"A" / L"9.dcm"), "DICM late");
}

// Patients' exports often share names (IMG001.dcm, ...). A second patient's different image goes
// beside the first's under the next free numbered name, and an identical re-export of the first
// replaces its own copy: no image is lost, none is added twice.
TEST_F(PollTest, SameNamedImagesOfLaterPatientsGoBesideEarlierOnesUnlessIdentical) {
    Export(L"A", {L"1.dcm", L"2.dcm"}, true);
    target.WriteBytes(L"2.dcm", "DICM A2.dcm");  // the same image, copied by an earlier run
    target.WriteBytes(L"1.dcm", "DICM earlier patient");
    target.WriteBytes(L"1 (2).dcm", "DICM yet another patient");
    form.LockedCount = 1;
    SwitchPollOn();
    RunTicks(1);

    EXPECT_TRUE(log.lines.empty());
    EXPECT_FALSE(InWatchFolder(L"A"));
    EXPECT_EQ(target.ReadBytes(L"1.dcm"), "DICM earlier patient");
    EXPECT_EQ(target.ReadBytes(L"1 (2).dcm"), "DICM yet another patient");
    EXPECT_EQ(target.ReadBytes(L"1 (3).dcm"), "DICM A1.dcm");
    EXPECT_EQ(target.ReadBytes(L"2.dcm"), "DICM A2.dcm");
    EXPECT_FALSE(InTarget(L"2 (2).dcm"));
    EXPECT_FALSE(InTarget(L"1 (4).dcm"));
}

// The copy lets the window take a close request, as a pause does: the program ends at once, with
// no key typed, nothing deleted and nothing logged.
TEST_F(PollTest, ClosingTheWindowDuringTheCopyEndsEverythingAndDeletesNothing) {
    Export(L"A", {L"1.dcm", L"2.dcm"}, true);
    form.LockedCount = 1;
    SwitchPollOn();
    window.ScheduleClose(kInterval);  // when the copying tick begins
    RunTicks(2);

    EXPECT_TRUE(window.closed);
    EXPECT_EQ(window.operationsAfterClose, 0);
    EXPECT_TRUE(window.typed.empty());
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(files.WasCalled(FileOperation::CopyFile));
    EXPECT_FALSE(files.WasCalled(FileOperation::DeleteCopiedFolder));
    EXPECT_FALSE(InTarget(L"1.dcm"));
    EXPECT_EQ(ReadFile(WatchFolder() / L"A" / L"1.dcm"), "DICM A1.dcm");
}

// Another program has one image open without sharing: the copy fails at every tick and nothing
// goes; once it lets go, the next tick copies and hands over.
TEST_F(PollTest, ImageHeldByAnotherProcessFailsTheCopyAtEveryTickUntilItIsLetGo) {
    Export(L"A", {L"1.dcm", L"2.dcm"}, true);
    Export(L"B", {L"3.dcm"}, true);
    form.LockedCount = 2;
    HeldFile holder((WatchFolder() / L"A" / L"2.dcm").wstring(), HeldFile::Sharing::None);
    SwitchPollOn();
    RunTicks(1);
    const std::size_t handles = OpenHandleCount();
    RunTicks(2);

    EXPECT_EQ(OpenHandleCount(), handles);
    EXPECT_EQ(LoggedProcedures(), std::vector<std::wstring>(3, L"tmrCheck_Timer"));
    for (const auto& line : log.lines)
        EXPECT_EQ(line.number, ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(window.typed.empty());
    EXPECT_TRUE(window.timerEnabled);
    for (const wchar_t* image : {L"A\\1.dcm", L"A\\2.dcm", L"B\\3.dcm"})
        EXPECT_TRUE(InWatchFolder(image)) << image;

    EXPECT_TRUE(holder.Release());
    RunTicks(1);
    EXPECT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(target.ReadBytes(L"1.dcm"), "DICM A1.dcm");
    EXPECT_EQ(target.ReadBytes(L"2.dcm"), "DICM A2.dcm");
    EXPECT_EQ(target.ReadBytes(L"3.dcm"), "DICM B3.dcm");
    EXPECT_FALSE(InWatchFolder(L"A"));
    EXPECT_FALSE(InWatchFolder(L"B"));
    EXPECT_EQ(window.typed.size(), 9u);
}

// A virus scanner or indexer opens an image for a moment after the copy: the deletion waits for
// it (300 ms held against the 2 s the deletion waits at most) and the run goes on.
TEST_F(PollTest, ImageHeldBrieflyDuringTheDeletionIsDeletedOnceLetGoAndTheRunGoesOn) {
    constexpr DWORD kBriefHoldMs = 300;
    Export(L"A", {L"1.dcm", L"2.dcm"}, true);
    form.LockedCount = 1;
    std::optional<HeldFile> holder;
    HoldAtPreDeletionKeys(holder, WatchFolder() / L"A" / L"2.dcm", kBriefHoldMs);
    SwitchPollOn();
    RunTicks(1);

    ASSERT_TRUE(holder.has_value());
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(target.ReadBytes(L"1.dcm"), "DICM A1.dcm");
    EXPECT_EQ(target.ReadBytes(L"2.dcm"), "DICM A2.dcm");
    EXPECT_FALSE(InWatchFolder(L"A"));
    EXPECT_EQ(window.typed.size(), 9u);
    EXPECT_TRUE(window.timerEnabled);
}

// Another program opens an image without sharing after the copy, before the deletion, and keeps
// it longer than the deletion waits: the deletion fails and the run halts with one line. The
// recursive deletion may have removed some of the folder's images before it met the held one; every
// image is in the target all the same.
TEST_F(PollTest, ImageHeldByAnotherProcessDuringTheDeletionHaltsTheRunWithEveryImageCopied) {
    constexpr DWORD kLongHoldMs = 10000;
    Export(L"A", {L"1.dcm", L"2.dcm", L"3.dcm"}, true);
    Export(L"B", {L"4.dcm"}, true);
    window.caption = L"Stop";
    form.LockedCount = 2;
    std::optional<HeldFile> holder;
    HoldAtPreDeletionKeys(holder, WatchFolder() / L"A" / L"2.dcm", kLongHoldMs);
    SwitchPollOn();
    RunTicks(3);

    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(LoggedProcedures(), (std::vector<std::wstring>{L"NextPatient"}));
    EXPECT_EQ(log.lines[0].number, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(window.caption, L"Stop");
    EXPECT_FALSE(window.timerEnabled);
    EXPECT_EQ(window.typed.size(), 2u);  // the pre-deletion keys only
    EXPECT_EQ(window.ticksAt.size(), 1u);
    for (const char* image : {"1", "2", "3", "4"}) {
        const std::string name = std::string(image) + ".dcm";
        const std::string folder = name == "4.dcm" ? "B" : "A";
        EXPECT_EQ(target.ReadBytes(std::wstring(name.begin(), name.end())),
                  "DICM " + folder + name);
    }
    EXPECT_TRUE(InWatchFolder(L"A\\2.dcm"));
    EXPECT_TRUE(holder->Release());
    // Nothing of ours holds the image either: it opens without sharing, ready to be deleted.
    const win32::UniqueFile exclusive(::CreateFileW((WatchFolder() / L"A" / L"2.dcm").c_str(),
                                                    GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(exclusive) << "error " << ::GetLastError();
}

// Images marked read-only in a read-only subfolder are copied, and the subfolder goes with them.
// Wine keeps no read-only attribute on folders (SetFileAttributesW succeeds, the bit is gone), so
// there only the files are read-only for sure.
TEST_F(PollTest, ReadOnlyImagesInAReadOnlySubfolderAreCopiedAndDeletedWithForce) {
    Export(L"A", {L"1.dcm", L"2.dcm"}, true);
    const fs::path folder = WatchFolder() / L"A";
    for (const wchar_t* name : {L"1.dcm", L"2.dcm", L"LOCK.LCK"}) {
        ASSERT_TRUE(::SetFileAttributesW((folder / name).c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_NE(::GetFileAttributesW((folder / name).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    }
    ASSERT_TRUE(::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY));
    form.LockedCount = 1;
    SwitchPollOn();
    RunTicks(1);

    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(target.ReadBytes(L"1.dcm"), "DICM A1.dcm");
    EXPECT_EQ(target.ReadBytes(L"2.dcm"), "DICM A2.dcm");
    EXPECT_FALSE(InWatchFolder(L"A"));
    EXPECT_TRUE(window.timerEnabled);
}

// Names beyond ASCII, paths longer than MAX_PATH in the target and in the watch folder, and a
// target in the "\\?\" and "\\.\" device forms all go through the whole poll.
TEST_F(PollTest, UmlautNamesLongPathsAndDeviceFormTargetsAreCopiedAndDeleted) {
    // Wine keeps names in UTF-8 on a Linux file system, whose names end at 255 bytes: mostly
    // ASCII, so that the name fits there as it would on Windows.
    const std::wstring longName = L"M\u00fcller_" + std::wstring(240, L'x');
    std::wstring deepTarget = L"R\u00f6ntgen";
    for (int level = 0; level < 3; ++level)
        deepTarget += L"\\" + std::wstring(100, static_cast<wchar_t>(L'a' + level));
    struct Case {
        const char* what;
        std::wstring subfolder;
        std::wstring image;
        std::wstring targetFolder;  // relative to the test's target
        std::wstring prefix;        // put before the target's absolute path
    };
    const Case cases[] = {
        {"umlauts", L"M\u00fcller_\u00c4rztin", L"R\u00f6ntgen_\u00df.dcm", L"R\u00f6ntgen", L""},
        {"long subfolder and deep target", longName, L"1.dcm", deepTarget, L""},
        {"\\\\?\\ target", L"A", L"1.dcm", L"Ger\u00e4t", L"\\\\?\\"},
        {"\\\\.\\ target", L"A", L"1.dcm", L"Ger\u00e4t2", L"\\\\.\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(WatchFolder());
        Export(c.subfolder, {c.image}, true);
        target.MakeFolder(c.targetFolder);
        const std::wstring targetPath = target.PathOf(c.targetFolder);
        ASSERT_TRUE(fs::exists(WatchFolder() / c.subfolder / c.image));
        if (c.targetFolder == deepTarget) {
            ASSERT_GT((WatchFolder() / c.subfolder / c.image).wstring().size(), 260u);
            ASSERT_GT(targetPath.size(), 260u);
        }
        window.target = c.prefix + targetPath + L"\\";
        log.lines.clear();
        form.LockedCount = 1;
        SwitchPollOn();
        RunTicks(1);

        EXPECT_TRUE(log.lines.empty());
        EXPECT_EQ(ReadFile(fs::path(targetPath) / c.image),
                  "DICM " + Narrow(c.subfolder + c.image));
        EXPECT_FALSE(InWatchFolder(c.subfolder));
    }
}

TEST_F(PollTest, TickArrivingWhileATickCountsIsSkipped) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, true);
    Export(L"C", {L"3.dcm"}, false);
    SwitchPollOn();
    window.ScheduleTick(kInterval);  // a second timer message, pending inside the first tick
    RunTicks(1);

    EXPECT_EQ(window.ticksAt.size(), 2u);
    EXPECT_EQ(form.LockedCount, 2);  // a nested count would have added up to 4
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(PollTest, ClosingTheWindowInsideTheCountingLoopEndsEverything) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, true);
    SwitchPollOn();
    window.ScheduleClose(kInterval);
    RunTicks(4);

    EXPECT_TRUE(window.closed);
    EXPECT_EQ(window.operationsAfterClose, 0);
    EXPECT_TRUE(window.typed.empty());
    EXPECT_TRUE(log.lines.empty());
    EXPECT_FALSE(InTarget(L"1.dcm"));
}

TEST_F(PollTest, ClosingTheWindowInsideTheDeletionLoopEndsEverything) {
    Export(L"A", {L"1.dcm"}, true);
    Export(L"B", {L"2.dcm"}, true);
    form.LockedCount = 2;
    SwitchPollOn();
    window.ScheduleClose(kInterval + 3000);  // the deletion loop's first event pass
    RunTicks(4);

    EXPECT_TRUE(window.closed);
    EXPECT_EQ(window.operationsAfterClose, 0);
    EXPECT_EQ(window.typed.size(), 2u);  // nothing after the pre-deletion keys
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(InTarget(L"1.dcm"));
    EXPECT_TRUE(InWatchFolder(L"A"));
    EXPECT_TRUE(InWatchFolder(L"B"));
    EXPECT_FALSE(files.WasCalled(FileOperation::DeleteCopiedFolder));
}

TEST(PollOverflow, CountingPast32767LocksIsTheOneFailureTheToolRaisesItself) {
    FakeWindowSystem window{form1::kPollIntervalMs};
    FakeErrorLog log;
    FakeJournal journal;
    // More image subfolders with a lock file than the 16-bit count holds.
    StubFileSystem files;
    files.subfolders.assign(32768, std::wstring(kStubWatchFolder) + L"\\x");
    Form1 form{window, files, log, journal, window, kStubWatchFolder, L"1.2.3"};
    window.Attach(form);
    window.SetTimerEnabled(true);
    window.RunUntil(2 * kInterval);

    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0].procedureText, L"tmrCheck_Timer");
    EXPECT_EQ(log.lines[0].number, 534);
    EXPECT_EQ(log.lines[0].description, L"\u00dcberlauf: mehr als 32767 Bildordner mit LOCK.LCK");
    EXPECT_EQ(form.LockedCount, 32767);
    EXPECT_EQ(files.copies, 0);  // 32,767 never equals 32,768 subfolders
    EXPECT_TRUE(window.timerEnabled);
}

}  // namespace
}  // namespace ordovan::test

namespace ordovan::test {
namespace {

// The overflow on the real file system: 32,768 image subfolders, each holding its lock file.
// Slow (creating and removing them takes a while under Wine), so it has a run of its own.
class PollOverflowOnDisk : public PollTest {};

TEST_F(PollOverflowOnDisk, MoreThan32767LockedSubfoldersAreLoggedAtEveryTickAndNothingIsCopied) {
    constexpr int kSubfolders = 32768;
    for (int i = 0; i < kSubfolders; ++i) {
        const fs::path folder = WatchFolder() / std::to_wstring(i);
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr)) << i;
        const win32::UniqueFile lock(::CreateFileW((folder / L"LOCK.LCK").c_str(), GENERIC_WRITE, 0,
                                                   nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                                   nullptr));
        ASSERT_TRUE(lock) << i;
    }
    WriteFile(WatchFolder() / L"0" / L"1.dcm", "DICM 0");
    SwitchPollOn();
    RunTicks(1);
    const std::size_t handles = OpenHandleCount();
    RunTicks(1);

    EXPECT_EQ(OpenHandleCount(), handles);
    ASSERT_EQ(LoggedProcedures(), std::vector<std::wstring>(2, L"tmrCheck_Timer"));
    EXPECT_EQ(log.lines[0].number, kCountOverflowNumber);
    EXPECT_EQ(log.lines[1].description, kCountOverflowDescription);
    EXPECT_EQ(form.LockedCount, 32767);
    EXPECT_FALSE(files.WasCalled(FileOperation::CopyFile));
    EXPECT_TRUE(window.typed.empty());
    EXPECT_TRUE(window.timerEnabled);
    EXPECT_TRUE(InWatchFolder(L"0\\1.dcm"));
    EXPECT_TRUE(InWatchFolder(L"32767\\LOCK.LCK"));
    EXPECT_FALSE(InTarget(L"1.dcm"));
}

}  // namespace
}  // namespace ordovan::test
