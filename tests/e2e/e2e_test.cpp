#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "journal/export_journal.h"
#include "platform/win32/handles.h"
#include "tests/e2e/session.h"
#include "tests/wine_only.h"

// Whole runs in real time: the simulated imaging application and CopyOrdovan.exe as separate
// processes, the target set and Start pressed through the real controls, the keyboard focus left
// with the simulator.
namespace ordovan::e2e {
namespace {

namespace fs = std::filesystem;

const fs::path kWatchFolder = L"C:\\Programme\\Ordovan\\Temp\\PACS";
constexpr int kLockDelayMs = 2000;
// The pause before Home begins 3,000 ms after the Enter and lasts 6,000 ms.
constexpr DWORD kIntoThePauseMs = 5000;
constexpr DWORD kRestOfTheSequenceMs = 7000;

// How late a key may come after its pause: between two keys of a sequence, and from the last key
// of a sequence to the next patient's first, a gap that spans two 15-second ticks and the copy.
constexpr double kKeyLateMs = 100;
constexpr double kTickLateMs = 300;
// Never early; this much only for the two processes' message delivery jitter. Early is measured
// from the first key of the run: the receiver logs a key when it gets it, so a key it got late
// makes the gap to the next one look short, although the tool kept its rhythm.
constexpr double kEarlyMs = 5;

struct Expected {
    int vk;
    bool extended, shift, alt;
    double gapMs;  // after the key before it
};

const std::vector<Expected> kOpeningKeys{
    {VK_F2, false, false, false, 0},        {VK_TAB, false, false, false, 1000},
    {VK_RETURN, false, false, false, 2000}, {VK_HOME, true, false, false, 9000},
    {VK_END, true, true, false, 1000},      {VK_RETURN, false, false, false, 1000}};

// Pre-deletion keys and next-patient sequence. Alt+F comes at the second tick after the poll was
// switched on, 1,000 ms after the Enter before it: 1,000 + 15,000 + 15,000 ms.
const std::vector<Expected> kNextPatientKeys{
    {'F', false, true, true, 31000},       {'A', false, true, false, 1000},
    {VK_F2, false, false, false, 2000},    {VK_TAB, false, false, false, 1000},
    {VK_DOWN, true, false, false, 1000},   {VK_RETURN, false, false, false, 2000},
    {VK_HOME, true, false, false, 9000},   {VK_END, true, true, false, 1000},
    {VK_RETURN, false, false, false, 1000}};

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::RunsUnderWine())
            GTEST_SKIP() << test::kWineOnlyReason;
    }

    // Compares the presses with the expected keys and returns how late each came after its pause.
    std::vector<double> CheckPresses(const std::vector<Expected>& expected) const {
        const std::vector<KeyPress> presses = session.KeyPresses();
        EXPECT_EQ(presses.size(), expected.size());
        std::vector<double> lateness;
        double drift = 0;
        for (std::size_t i = 0; i < std::min(presses.size(), expected.size()); ++i) {
            SCOPED_TRACE("key " + std::to_string(i));
            EXPECT_EQ(presses[i].vk, expected[i].vk);
            EXPECT_EQ(presses[i].extended, expected[i].extended);
            EXPECT_EQ(presses[i].shift, expected[i].shift);
            EXPECT_EQ(presses[i].alt, expected[i].alt);
            EXPECT_FALSE(presses[i].control);
            if (i == 0)
                continue;
            const double late = presses[i].ms - presses[i - 1].ms - expected[i].gapMs;
            drift += late;
            EXPECT_GE(drift, -kEarlyMs);
            EXPECT_LE(late, expected[i].gapMs > 30000 ? kTickLateMs : kKeyLateMs);
            lateness.push_back(late);
        }
        return lateness;
    }

    std::string ErrorLog() const { return ReadBytes(session.Folders().errorLog()); }

    // Closes the tool the user's way during the 6,000 ms pause of the opening sequence: the
    // program must end within a second and type nothing more.
    void CloseDuringThePause(bool (Session::*close)()) {
        ASSERT_TRUE(session.StartSimulator(1, kLockDelayMs)) << session.Problem();
        ASSERT_TRUE(session.StartTool(session.Folders().target().wstring())) << session.Problem();
        ASSERT_TRUE(session.WaitForPresses(3, 30000));  // F2, Tab, Enter
        ::Sleep(kIntoThePauseMs);
        ASSERT_TRUE((session.*close)()) << session.Problem();
        EXPECT_TRUE(session.ToolHasEnded(1000));
        ::Sleep(kRestOfTheSequenceMs);
        EXPECT_EQ(session.KeyPresses().size(), 3u);
        EXPECT_EQ(ErrorLog(), "");
    }
    std::size_t WatchFolderEntries() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(kWatchFolder), fs::directory_iterator()));
    }

    // A folder per test, so that the copies of one stay for the DICOM check after it.
    static std::wstring WorkFolder() {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        return L"C:\\OrdovanE2E\\" + std::wstring(name.begin(), name.end());
    }

    Session session{SessionFolders{WorkFolder()}};
};

void Report(const std::vector<double>& lateness) {
    if (lateness.empty())
        return;
    std::vector<double> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());
    std::printf("gap excess over the pauses (ms): min %.1f, median %.1f, max %.1f over %zu gaps\n",
                sorted.front(), sorted[sorted.size() / 2], sorted.back(), sorted.size());
    std::printf("each (ms):");
    for (const double late : lateness)
        std::printf(" %.1f", late);
    std::printf("\n");
}

TEST_F(EndToEnd, TwoPatientsRunThroughWithEveryKeyInRhythmAndEveryImageCopied) {
    fs::create_directories(session.Folders().target());
    ASSERT_TRUE(session.StartSimulator(2, kLockDelayMs)) << session.Problem();
    ASSERT_TRUE(session.StartTool(session.Folders().target().wstring())) << session.Problem();

    std::vector<Expected> expected = kOpeningKeys;
    for (int patient = 0; patient < 2; ++patient)
        expected.insert(expected.end(), kNextPatientKeys.begin(), kNextPatientKeys.end());
    ASSERT_TRUE(session.WaitForPresses(expected.size(), 180000))
        << session.KeyPresses().size() << " keys arrived";
    ::Sleep(1500);  // the poll is switched on again 1,000 ms after the last Enter
    EXPECT_TRUE(session.CloseTool(10000)) << session.Problem();

    Report(CheckPresses(expected));
    std::size_t images = 0;
    for (const auto& reference : fs::directory_iterator(session.Folders().reference())) {
        ++images;
        const fs::path copy = session.Folders().target() / reference.path().filename();
        EXPECT_EQ(ReadBytes(copy), ReadBytes(reference.path())) << copy;
    }
    EXPECT_EQ(images, 2u * 2u * 3u);
    EXPECT_EQ(WatchFolderEntries(), 0u);
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(EndToEnd, StopEndsTheRunAtTheNextTick) {
    fs::create_directories(session.Folders().target());
    ASSERT_TRUE(session.StartSimulator(1, kLockDelayMs)) << session.Problem();
    ASSERT_TRUE(session.StartTool(session.Folders().target().wstring())) << session.Problem();
    ASSERT_TRUE(session.WaitForPresses(6, 30000));
    ASSERT_TRUE(WaitUntil([this] { return session.ButtonCaption() == L"Stop"; }, 5000));
    ASSERT_TRUE(session.PressButton());  // Running, before the copying tick
    ASSERT_TRUE(WaitUntil([this] { return session.ButtonCaption() == L"Start"; }, 5000));
    session.FocusSimulator();

    ::Sleep(35000);  // past the tick that would have copied
    EXPECT_EQ(session.KeyPresses().size(), 6u);
    EXPECT_TRUE(fs::is_empty(session.Folders().target()));
    EXPECT_EQ(WatchFolderEntries(), 2u);
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(EndToEnd, MissingTargetIsLoggedAtEveryTickAndNothingIsDeleted) {
    ASSERT_TRUE(session.StartSimulator(1, kLockDelayMs)) << session.Problem();
    ASSERT_TRUE(session.StartTool((session.Folders().work / L"Fehlt").wstring()))
        << session.Problem();
    ASSERT_TRUE(session.WaitForPresses(6, 30000));
    // The copying ticks come 31 s and 46 s after the last opening key.
    ASSERT_TRUE(WaitUntil(
        [this] {
            const std::string log = ErrorLog();
            return std::count(log.begin(), log.end(), '\n') >= 2;
        },
        60000));

    // <date> - <time> # 3 - <the system's text for a missing path> - tmrCheck_Timer CR LF
    const std::regex line(R"(^[^\r\n]+ - [^\r\n]+ # 3 - [^\r\n]+ - tmrCheck_Timer\r$)");
    std::istringstream lines(ErrorLog());
    int count = 0;
    for (std::string text; std::getline(lines, text); ++count)
        EXPECT_TRUE(std::regex_match(text, line)) << text;
    EXPECT_GE(count, 2);
    EXPECT_EQ(session.KeyPresses().size(), 6u);  // the run never reached the next patient
    EXPECT_EQ(WatchFolderEntries(), 2u);
}

TEST_F(EndToEnd, ClosingTheWindowInTheMiddleOfAKeySequenceEndsTheProgram) {
    ASSERT_TRUE(session.StartSimulator(1, kLockDelayMs)) << session.Problem();
    ASSERT_TRUE(session.StartTool(session.Folders().target().wstring())) << session.Problem();
    ASSERT_TRUE(session.WaitForPresses(2, 30000));  // F2 and Tab are in
    EXPECT_TRUE(session.CloseTool(3000)) << session.Problem();
    const std::size_t pressesAtExit = session.KeyPresses().size();
    ::Sleep(12000);  // longer than the rest of the opening sequence would take

    EXPECT_LE(pressesAtExit, 3u);
    EXPECT_EQ(session.KeyPresses().size(), pressesAtExit);
    EXPECT_EQ(ErrorLog(), "");
}

// Rows that wait while another program holds the journal are not lost when the window closes:
// they go into a file of their own beside it, which the error log names.
TEST_F(EndToEnd, ClosingWhileTheJournalIsHeldPutsItsWaitingRowsIntoAFileOfTheirOwn) {
    const fs::path logs = session.Folders().journal().parent_path();
    fs::create_directories(logs);
    const win32::UniqueFile held(::CreateFileW(session.Folders().journal().c_str(),
                                               GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                               nullptr));  // as Excel holds it
    ASSERT_TRUE(held);
    ASSERT_TRUE(session.StartSimulator(1, kLockDelayMs)) << session.Problem();
    ASSERT_TRUE(session.StartTool(session.Folders().target().wstring())) << session.Problem();
    ASSERT_TRUE(session.WaitForPresses(2, 30000));
    EXPECT_TRUE(session.CloseTool(3000)) << session.Problem();

    std::vector<fs::path> files(fs::directory_iterator(logs), fs::directory_iterator{});
    std::erase_if(files, [](const fs::path& file) {
        return !file.filename().wstring().starts_with(L"Exportprotokoll 2");
    });
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(ReadBytes(files[0]).starts_with("\xEF\xBB\xBFLauf;Datum;Uhrzeit;"));
    EXPECT_NE(ReadBytes(files[0]).find(";Start;"), std::string::npos);
    EXPECT_EQ(fs::file_size(session.Folders().journal()), 0u);
    // The streak's first failure (# 32), then the line naming the file.
    const std::string log = ErrorLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_NE(log.find("# 32 - " +
                       std::string(journal::kLeftOverDescription.begin(),
                                   journal::kLeftOverDescription.end()) +
                       files[0].filename().string() + " - Exportprotokoll\r\n"),
              std::string::npos)
        << log;
}

// Windows turns a click on the close button and Alt+F4 into a close only when the tool handles
// them; during a pause it does nothing else, so it must look for them itself.
TEST_F(EndToEnd, ClickOnTheCloseButtonDuringAPauseEndsTheProgramAtOnce) {
    CloseDuringThePause(&Session::ClickCloseButton);
}

TEST_F(EndToEnd, AltF4DuringAPauseEndsTheProgramAtOnce) {
    CloseDuringThePause(&Session::TypeAltF4);
}

// Staff click the tool's title bar during a pause, to move it out of the way. The click must
// neither take the keys from the imaging application nor hold up the run: the press, held back
// during the pause, is not handed to the window once its button is up, so no move loop waits
// for a release long gone. The patient's copy and next-patient keys follow in their rhythm.
TEST_F(EndToEnd, ClickOnTheTitleBarDuringAPauseNeitherTakesNorHoldsUpTheKeys) {
    fs::create_directories(session.Folders().target());
    ASSERT_TRUE(session.StartSimulator(1, kLockDelayMs)) << session.Problem();
    ASSERT_TRUE(session.StartTool(session.Folders().target().wstring())) << session.Problem();
    ASSERT_TRUE(session.WaitForPresses(3, 30000));  // F2, Tab, Enter
    ::Sleep(kIntoThePauseMs);
    ASSERT_TRUE(session.ClickTitleBar()) << session.Problem();
    std::vector<Expected> expected = kOpeningKeys;
    expected.insert(expected.end(), kNextPatientKeys.begin(), kNextPatientKeys.end());
    ASSERT_TRUE(session.WaitForPresses(expected.size(), 90000))
        << session.KeyPresses().size() << " keys arrived";

    Report(CheckPresses(expected));
    EXPECT_EQ(session.ButtonCaption(), L"Stop");  // the tool answers
    EXPECT_TRUE(session.CloseTool(10000)) << session.Problem();
    EXPECT_EQ(ErrorLog(), "");
}

}  // namespace
}  // namespace ordovan::e2e
