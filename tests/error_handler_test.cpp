#include "errorlog/error_handler.h"

#include <windows.h>
// <windows.h> maps CopyFile to CopyFileW; the file system interface has a member of that name.
#undef CopyFile

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <iterator>
#include <limits>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/local_time_text.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_file_system.h"
#include "tests/failing_file_system.h"
#include "tests/held_file.h"
#include "tests/open_handles.h"
#include "tests/test_folder.h"

namespace ordovan {
namespace {

using test::FailingFileSystem;
using test::OpenHandleCount;
using test::TestFolder;
using Operation = FailingFileSystem::Operation;

constexpr std::wstring_view kLogFile = L"Logs\\ErrorLog.log";
constexpr std::wstring_view kProcedure = L"Form1.tmrCheck_Timer";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last line end";
    return lines;
}

std::string Ansi(std::wstring_view text) {
    std::string bytes;
    for (wchar_t c : text) {
        EXPECT_LT(static_cast<unsigned>(c), 0x80u) << "only plain ASCII is compared here";
        bytes += static_cast<char>(c);
    }
    return bytes;
}

class ErrorHandlerTest : public ::testing::Test {
  protected:
    void Write(const Failure& failure, std::wstring_view procedure = kProcedure) {
        Error_Handler::WriteErrorLog(procedure, failure, files_, folder_.Path());
    }
    std::vector<std::string> LogLines() const { return Lines(folder_.ReadBytes(kLogFile)); }

    TestFolder folder_;
    win32::Win32FileSystem real_;
    FailingFileSystem files_{real_};
    const Failure pathNotFound_{3, L"Path not found"};
};

// --- Creating folder and file -----------------------------------------------------------------

TEST_F(ErrorHandlerTest, FreshInstallationGetsFolderFileAndOneLine) {
    Write(pathNotFound_);

    ASSERT_TRUE(real_.FolderExists(folder_.PathOf(L"Logs")));
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("# 3 - Path not found - Form1.tmrCheck_Timer"), std::string::npos);
}

TEST_F(ErrorHandlerTest, DeletedFileIsRecreatedInExistingFolder) {
    Write(pathNotFound_);
    ASSERT_TRUE(::DeleteFileW(folder_.PathOf(kLogFile).c_str()));

    Write(Failure(5, L"Access denied"));

    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("# 5 - Access denied - "), std::string::npos);
}

TEST_F(ErrorHandlerTest, LaterLinesFollowEarlierOnesUnchanged) {
    Write(pathNotFound_, L"first");
    const std::string before = folder_.ReadBytes(kLogFile);

    Write(Failure(5, L"Access denied"), L"second");

    const std::string after = folder_.ReadBytes(kLogFile);
    ASSERT_EQ(after.substr(0, before.size()), before);
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with(" - first"));
    EXPECT_TRUE(lines[1].ends_with("# 5 - Access denied - second"));
}

TEST_F(ErrorHandlerTest, DriveRootStyleDirectoryGetsNoDoubledSeparator) {
    Error_Handler::WriteErrorLog(kProcedure, pathNotFound_, files_, folder_.Path() + L"\\");

    ASSERT_FALSE(files_.Calls().empty());
    for (const FailingFileSystem::Call& call : files_.Calls()) {
        EXPECT_EQ(call.path.find(L"\\\\"), std::wstring::npos) << call.path;
    }
    EXPECT_EQ(LogLines().size(), 1u);
}

// --- The line ---------------------------------------------------------------------------------

TEST_F(ErrorHandlerTest, LineCarriesUserDateAndTimeThenNumberDescriptionAndProcedure) {
    SYSTEMTIME today{};
    ::GetLocalTime(&today);
    const std::wstring dateBefore = CurrentDateText();
    const std::wstring timeBefore = CurrentTimeText();
    Write(Failure(5, L"Zugriff verweigert"), L"Form1.cmdStart_Click");
    const std::wstring dateAfter = CurrentDateText();
    const std::wstring timeAfter = CurrentTimeText();

    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string tail = " # 5 - Zugriff verweigert - Form1.cmdStart_Click";
    const std::string asBefore = Ansi(dateBefore + L" - " + timeBefore) + tail;
    const std::string asAfter = Ansi(dateAfter + L" - " + timeAfter) + tail;
    EXPECT_TRUE(lines[0] == asBefore || lines[0] == asAfter)
        << lines[0] << "\n expected " << asBefore << "\n or " << asAfter;
    // The user's short date ("08.12.2026", "12/8/2026"): day, month and year, no names.
    std::wstring date = dateBefore;
    std::ranges::replace_if(
        date, [](wchar_t c) { return !std::iswdigit(c); }, L' ');
    std::wistringstream numbers(date);
    const std::multiset<int> read{std::istream_iterator<int, wchar_t>(numbers), {}};
    EXPECT_EQ(read, (std::multiset<int>{today.wDay, today.wMonth, today.wYear}))
        << Ansi(dateBefore);
}

TEST_F(ErrorHandlerTest, EmptyDescriptionLeavesAdjacentSeparators) {
    Write(Failure(1, L""), L"proc");

    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" # 1 -  - proc"));
}

TEST(FormatLogLineTest, JoinsPartsWithTheirSeparators) {
    EXPECT_EQ(Error_Handler::FormatLogLine(L"08.12.2025", L"05:24:13", Failure(53, L"Datei"),
                                           L"Form1.tmrCheck_Timer"),
              L"08.12.2025 - 05:24:13 # 53 - Datei - Form1.tmrCheck_Timer");
}

TEST(FormatLogLineTest, WritesNegativeNumbersWithMinusSign) {
    EXPECT_EQ(Error_Handler::FormatLogLine(L"d", L"t", Failure(-2147024891, L"x"), L"p"),
              L"d - t # -2147024891 - x - p");
    const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(Error_Handler::FormatLogLine(L"d", L"t", Failure(lowest, L""), L""),
              L"d - t # -2147483648 -  - ");
}

// --- Its own failures are swallowed -----------------------------------------------------------

TEST_F(ErrorHandlerTest, FileNamedLikeLogFolderMakesItReturnWithoutWriting) {
    folder_.WriteBytes(L"Logs", "not a folder");

    Write(pathNotFound_);

    EXPECT_EQ(folder_.ReadBytes(L"Logs"), "not a folder");
    const std::wstring path = folder_.PathOf(L"Logs");
    const win32::UniqueFile exclusive(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(exclusive) << "a handle to the file stayed open, error " << ::GetLastError();
}

TEST_F(ErrorHandlerTest, LogFileHeldExclusivelyLosesThatLineOnly) {
    Write(pathNotFound_, L"first");
    const std::wstring path = folder_.PathOf(kLogFile);
    {
        const win32::UniqueFile exclusive(
            ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(exclusive);
        Write(pathNotFound_, L"lost");
    }
    Write(pathNotFound_, L"third");

    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with(" - first"));
    EXPECT_TRUE(lines[1].ends_with(" - third"));
}

TEST_F(ErrorHandlerTest, LogFileHeldByAnotherProcessLosesItsLinesOnlyAndLeavesNothingOpen) {
    Write(pathNotFound_, L"first");
    {
        test::HeldFile holder(folder_.PathOf(kLogFile), test::HeldFile::Sharing::None);
        // The first refusal loads the platform's text for it, which stays loaded.
        Write(pathNotFound_, L"lost");
        const std::size_t handles = OpenHandleCount();
        Write(pathNotFound_, L"lost too");
        Write(pathNotFound_, L"lost as well");
        EXPECT_EQ(OpenHandleCount(), handles);
        EXPECT_TRUE(holder.Release());
    }
    // Would be refused too if a write handle of ours had stayed open.
    Write(pathNotFound_, L"third");

    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with(" - first"));
    EXPECT_TRUE(lines[1].ends_with(" - third"));
}

// Under Wine a folder cannot be made read-only (the attribute is not kept, and the tests run as
// root), so the read-only executable folder is this: creating "Logs" is refused.
TEST_F(ErrorHandlerTest, FailingFolderCreationStopsBeforeFileAndLine) {
    files_.FailOn(Operation::CreateFolder, ERROR_ACCESS_DENIED);

    Write(pathNotFound_);

    EXPECT_TRUE(files_.WasCalled(Operation::CreateFolder));
    EXPECT_FALSE(files_.WasCalled(Operation::CreateTextFile));
    EXPECT_FALSE(files_.WasCalled(Operation::AppendLine));
    EXPECT_FALSE(folder_.Exists(L"Logs"));
}

TEST_F(ErrorHandlerTest, FailingFileCreationOrAppendWritesNothing) {
    files_.FailOn(Operation::CreateTextFile, 112);
    Write(pathNotFound_);
    EXPECT_FALSE(files_.WasCalled(Operation::AppendLine));
    EXPECT_FALSE(folder_.Exists(kLogFile));

    files_.FailOn(Operation::AppendLine, 112);
    folder_.WriteBytes(kLogFile, "");
    Write(pathNotFound_);
    EXPECT_TRUE(files_.WasCalled(Operation::AppendLine));
    EXPECT_EQ(folder_.ReadBytes(kLogFile), "");
}

TEST_F(ErrorHandlerTest, OutOfMemoryInsideIsSwallowedToo) {
    files_.FailOn(Operation::FolderExists, std::make_exception_ptr(std::bad_alloc()));

    Write(pathNotFound_);

    EXPECT_FALSE(files_.WasCalled(Operation::AppendLine));
    EXPECT_FALSE(folder_.Exists(L"Logs"));
}

TEST_F(ErrorHandlerTest, LogFileRecreatedOnlyWhenMissing) {
    folder_.MakeFolder(L"Logs");
    folder_.WriteBytes(kLogFile, "kept\r\n");

    Write(pathNotFound_);

    EXPECT_FALSE(files_.WasCalled(Operation::CreateFolder));
    EXPECT_FALSE(files_.WasCalled(Operation::CreateTextFile));
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "kept");
}

}  // namespace
}  // namespace ordovan
