#include "journal/export_journal.h"

#include <windows.h>
// <windows.h> maps CopyFile to CopyFileW; the file system interface has a member of that name.
#undef CopyFile

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "journal/patient_rows.h"
#include "platform/local_time_text.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_journal_file.h"
#include "tests/fake_error_log.h"
#include "tests/test_folder.h"

namespace ordovan::journal {
namespace {

struct Field {
    const wchar_t* value;
    bool fromOutside;
    const wchar_t* written;
};

void PrintTo(const Field& field, std::ostream* out) {
    *out << testing::PrintToString(std::wstring(field.value))
         << (field.fromOutside ? " from outside" : " the tool's own");
}

class CsvFields : public testing::TestWithParam<Field> {};

TEST_P(CsvFields, AreQuotedAndGuardedAgainstFormulas) {
    EXPECT_EQ(CsvField(GetParam().value, GetParam().fromOutside), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Journal, CsvFields,
    testing::Values(Field{L"M\u00fcller, Hans", true, L"M\u00fcller, Hans"},
                    Field{L"a;b", true, L"\"a;b\""},
                    Field{L"Dr. \"Hans\"", true, L"\"Dr. \"\"Hans\"\"\""},
                    Field{L"eins\r\nzwei", true, L"\"eins\r\nzwei\""},
                    Field{L"zwei\nZeilen", false, L"\"zwei\nZeilen\""},
                    Field{L"=HYPERLINK(1)", true, L"'=HYPERLINK(1)"}, Field{L"+49", true, L"'+49"},
                    Field{L"-1+1", true, L"'-1+1"}, Field{L"@SUM(A1)", true, L"'@SUM(A1)"},
                    Field{L"\tx", true, L"'\tx"}, Field{L"\rx", true, L"\"'\rx\""},
                    Field{L"=1;2", true, L"\"'=1;2\""}, Field{L"x=1", true, L"x=1"},
                    Field{L"-", false, L"-"}, Field{L"", true, L""}));

// Patient fields: the text result of ="…", still guarded inside, quotes doubled twice; up to 255
// characters, the longest string constant of a formula, and plain guarded text beyond.
TEST(JournalFields, PatientFieldsOpenAsTextAndStayGuarded) {
    EXPECT_EQ(CsvTextField(L"00012345"), L"\"=\"\"00012345\"\"\"");
    EXPECT_EQ(CsvTextField(L"=HYPERLINK(\"x\";\"y\")"),
              L"\"=\"\"'=HYPERLINK(\"\"\"\"x\"\"\"\";\"\"\"\"y\"\"\"\")\"\"\"");
    EXPECT_EQ(CsvTextField(L""), L"");
    const std::wstring digits(254, L'1');
    EXPECT_EQ(CsvTextField(L"1" + digits), L"\"=\"\"1" + digits + L"\"\"\"");
    EXPECT_EQ(CsvTextField(L"11" + digits), L"11" + digits);
    EXPECT_EQ(CsvTextField(L"-" + digits), L"'-" + digits);
}

TEST(JournalRows, AreUtf8WithCrLfAndEveryColumnInItsPlace) {
    EXPECT_EQ(JournalOpening(),
              "\xEF\xBB\xBF"
              "Lauf;Datum;Uhrzeit;Ereignis;Nr.;Patienten-ID;Name;Geburtsdatum;Untersuchungsdatum;"
              "Bildordner;Bilder;Bytes;Umbenannt;Ziel;Hinweis\r\n");
    const JournalRow copied{
        .event = kCopied,
        .patient = 3,
        .patientFields = {L"=4711", L"@Home, J\u00fcrgen", L"03.02.1961", L"01.09.2026"},
        .imageFolders = 2,
        .images = 14,
        .bytes = 7340032,
        .renamed = 1,
        .target = L"Y:\\Bilder;neu\\"};
    EXPECT_EQ(FormatJournalRow(L"08.12.2026 14:00:05", L"08.12.2026", L"14:03:27", copied),
              "08.12.2026 14:00:05;08.12.2026;14:03:27;Kopiert;3;\"=\"\"'=4711\"\"\";"
              "\"=\"\"'@Home, J\xC3\xBCrgen\"\"\";\"=\"\"03.02.1961\"\"\";\"=\"\"01.09.2026\"\"\";"
              "2;14;7340032;1;\"Y:\\Bilder;neu\\\";\r\n");
    const JournalRow aborted{.event = kAborted, .patient = 4, .note = L"# 5 - Zugriff verweigert"};
    EXPECT_EQ(FormatJournalRow(L"r", L"d", L"t", aborted),
              "r;d;t;Abgebrochen;4;;;;;;;;;;# 5 - Zugriff verweigert\r\n");
    // A name character outside the Basic Multilingual Plane, and a lone surrogate.
    const JournalRow start{.event = kStart, .target = L"\xD834\xDD1E", .note = L"\xD834"};
    EXPECT_EQ(FormatJournalRow(L"r", L"d", L"t", start),
              "r;d;t;Start;;;;;;;;;;\xF0\x9D\x84\x9E;\xEF\xBF\xBD\r\n");
}

// The journal on real files in a folder of its own: the Logs folder as a disk answers for it, the
// file held open as Excel holds it.
class ExportJournalTest : public testing::Test {
  protected:
    void Write(std::wstring_view event, std::optional<std::uint32_t> number = {}) {
        journal_.Write({.event = event, .patient = number});
    }
    std::string Content(std::wstring_view name = L"Exportprotokoll.csv") const {
        return folder_.ReadBytes(L"Logs\\" + std::wstring(name));
    }
    // Each row's fields; the opening must come first.
    std::vector<std::vector<std::string>> Rows(const std::string& content) const {
        EXPECT_TRUE(content.starts_with(JournalOpening()));
        std::vector<std::vector<std::string>> rows;
        std::istringstream lines(content.substr(std::min(content.size(), JournalOpening().size())));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream cells(line);
            auto& fields = rows.emplace_back();
            for (std::string cell; std::getline(cells, cell, ';');)
                fields.push_back(cell);
        }
        return rows;
    }
    // Event and number of each row.
    std::vector<std::string> Events(const std::string& content) const {
        std::vector<std::string> events;
        for (const auto& fields : Rows(content))
            events.push_back(fields.at(3) + " " + fields.at(4));
        return events;
    }
    std::set<std::wstring> LogsFolder() const {
        std::set<std::wstring> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.PathOf(L"Logs")))
            names.insert(entry.path().filename().wstring());
        return names;
    }
    // As Excel holds an open file: reading and writing, others may only read.
    win32::UniqueFile Hold() const {
        win32::UniqueFile held(::CreateFileW(folder_.PathOf(L"Logs\\Exportprotokoll.csv").c_str(),
                                             GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(held);
        return held;
    }

    test::TestFolder folder_;
    win32::Win32JournalFile file_;
    win32::Win32FileSystem files_;
    test::FakeErrorLog errorLog_;
    ExportJournal journal_{file_, files_, errorLog_, folder_.Path()};
};

// Every row lands in the file, also once Logs exists; each carries the date and time of its run's
// Start row.
TEST_F(ExportJournalTest, EveryRowIsWrittenAtOnceAndCarriesItsRun) {
    Write(kStart);
    Write(kNoExport, 1);
    ::Sleep(1100);  // the second run starts in another second
    Write(kStart);
    Write(kStopped, 1);

    EXPECT_EQ(journal_.Waiting(), 0u);
    const auto rows = Rows(Content());
    ASSERT_EQ(rows.size(), 4u);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const auto& start = rows[row < 2 ? 0 : 2];
        EXPECT_EQ(rows[row].at(0), start.at(1) + " " + start.at(2)) << "row " << row;
    }
    EXPECT_NE(rows[0].at(0), rows[2].at(0));
    EXPECT_EQ(LogsFolder(), std::set<std::wstring>{L"Exportprotokoll.csv"});
    EXPECT_TRUE(errorLog_.lines.empty());
}

// Rows kept out while the file is held wait, in order, and go in at the next retry after it is
// let go; one error-log line marks each streak. At the end, rows still kept out go into a file of
// their own, which the error log names.
TEST_F(ExportJournalTest, RowsHeldOutWaitForTheNextRetryOrGoIntoAFileOfTheirOwnAtTheEnd) {
    Write(kStart);
    {
        const auto held = Hold();
        Write(kNoExport, 1);
        Write(kNoExport, 2);
        journal_.Retry();
        EXPECT_EQ(journal_.Waiting(), 2u);
    }
    journal_.Retry();
    EXPECT_EQ(Events(Content()),
              (std::vector<std::string>{"Start ", "Kein Export 1", "Kein Export 2"}));

    const std::wstring before = CurrentFileNameTimeText();
    {
        const auto held = Hold();
        Write(kStopped, 2);
        journal_.Finish();
    }
    const std::wstring after = CurrentFileNameTimeText();

    EXPECT_EQ(journal_.Waiting(), 0u);
    EXPECT_EQ(Events(Content()).size(), 3u);
    std::set<std::wstring> files = LogsFolder();
    files.erase(L"Exportprotokoll.csv");
    ASSERT_EQ(files.size(), 1u);
    const std::wstring leftOver = *files.begin();
    EXPECT_TRUE(leftOver == L"Exportprotokoll " + before + L".csv" ||
                leftOver == L"Exportprotokoll " + after + L".csv")
        << testing::PrintToString(leftOver);
    EXPECT_EQ(Events(Content(leftOver)), std::vector<std::string>{"Stopp 2"});
    ASSERT_EQ(errorLog_.lines.size(), 3u);
    for (const auto& line : errorLog_.lines) {
        EXPECT_EQ(line.procedureText, L"Exportprotokoll");
        EXPECT_EQ(line.number, static_cast<std::int32_t>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(errorLog_.lines[2].description, std::wstring(kLeftOverDescription) + leftOver);
}

// A journal of an older format is renamed at Start, to the first free "bis <date>" name; while
// Excel has it open it is neither renamed nor added to, and the rows wait.
TEST_F(ExportJournalTest, AJournalOfAnotherFormatIsSetAsideNeverAppendedTo) {
    const std::string older =
        "\xEF\xBB\xBF"
        "Datum;Uhrzeit;Ereignis;Patient\r\n08.12.2026;14:03:27;Leer;1\r\n";
    folder_.MakeFolder(L"Logs");
    folder_.WriteBytes(L"Logs\\Exportprotokoll.csv", older);
    const std::wstring stem = L"Exportprotokoll bis " + CurrentFileNameTimeText().substr(0, 10);
    folder_.WriteBytes(L"Logs\\" + stem + L".csv", "taken");
    {
        const auto held = Hold();
        Write(kStart);
        EXPECT_EQ(journal_.Waiting(), 1u);
    }
    EXPECT_EQ(Content(), older);

    journal_.Retry();

    EXPECT_EQ(LogsFolder(),
              (std::set<std::wstring>{L"Exportprotokoll.csv", stem + L".csv", stem + L" (2).csv"}));
    EXPECT_EQ(Content(stem + L" (2).csv"), older);
    EXPECT_EQ(Content(stem + L".csv"), "taken");
    EXPECT_EQ(Events(Content()), std::vector<std::string>{"Start "});
}

// The copying tick's subfolders share a Kopiert row only where their headers give one ID exactly:
// no ID, or one that lost characters in decoding, may stand for any patient. (How a shared row
// sums its subfolders, PollTest.JournalHasARowPerPatientOfEachCopyingTickAndOneForAnEmptyTick
// shows.)
TEST(PatientRows, MergeOnlySubfoldersWithTheSameExactId) {
    const dicom::PatientFields exact{.patientId = L"4711"};
    const dicom::PatientFields lost{.patientId = L"?\?-1", .idLostCharacters = true};
    const dicom::PatientFields literal{.patientId = L"?\?-1"};
    const struct {
        const char* what;
        dicom::PatientFields first, second;
        std::size_t rows;
    } cases[] = {{"one patient", exact, exact, 1},
                 {"two without an ID", {}, {}, 2},
                 {"two IDs that lost characters", lost, lost, 2},
                 {"an exact ID, then a lost one", literal, lost, 2},
                 {"a lost ID, then an exact one", lost, literal, 2}};
    for (const auto& c : cases) {
        std::vector<JournalRow> rows;
        CountIntoPatientRow(rows, c.first, {}, L"Y:\\", 3);
        CountIntoPatientRow(rows, c.second, {}, L"Y:\\", 3);
        ASSERT_EQ(rows.size(), c.rows) << c.what;
        EXPECT_EQ(rows.back().patientFields, c.rows == 1 ? c.first : c.second) << c.what;
        EXPECT_EQ(rows.back().imageFolders, 3 - c.rows) << c.what;
    }
}

}  // namespace
}  // namespace ordovan::journal
