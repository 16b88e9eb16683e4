#include "journal/export_journal.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "journal/patient_rows.h"
#include "tests/fake_error_log.h"
#include "tests/stub_file_system.h"

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

// The columns after date and time of every row written.
std::vector<std::string> RowsAfterTime(const std::string& content) {
    std::vector<std::string> rows;
    std::istringstream lines(content);
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        const auto time = line.find(';', line.find(';') + 1);
        rows.push_back(line.substr(time + 1));
    }
    return rows;
}

TEST(JournalRows, AreUtf8WithCrLfAndEveryColumnInItsPlace) {
    EXPECT_EQ(JournalOpening(),
              "\xEF\xBB\xBF"
              "Datum;Uhrzeit;Ereignis;Patient;Patienten-ID;Name;Geburtsdatum;Untersuchungsdatum;"
              "Bildordner;Bilder;Bytes;Umbenannt;Ziel;Hinweis\r\n");
    const JournalRow copied{
        .event = kCopied,
        .patient = 3,
        .patientFields = {L"=4711", L"M\u00fcller, J\u00fcrgen", L"03.02.1961", L"01.09.2026"},
        .imageFolders = 2,
        .images = 14,
        .bytes = 7340032,
        .renamed = 1,
        .target = L"Y:\\Bilder;neu\\"};
    EXPECT_EQ(FormatJournalRow(L"08.12.2026", L"14:03:27", copied),
              "08.12.2026;14:03:27;Kopiert;3;'=4711;M\xC3\xBCller, J\xC3\xBCrgen;03.02.1961;"
              "01.09.2026;2;14;7340032;1;\"Y:\\Bilder;neu\\\";\r\n");
    const JournalRow halted{.event = kHalted, .patient = 4, .note = L"# 5 - Zugriff verweigert"};
    EXPECT_EQ(FormatJournalRow(L"d", L"t", halted),
              "d;t;Angehalten;4;;;;;;;;;;# 5 - Zugriff verweigert\r\n");
    // A name character outside the Basic Multilingual Plane, and a lone surrogate.
    const JournalRow start{.event = kStart, .target = L"\xD834\xDD1E", .note = L"\xD834"};
    EXPECT_EQ(FormatJournalRow(L"d", L"t", start),
              "d;t;Start;;;;;;;;;;\xF0\x9D\x84\x9E;\xEF\xBF\xBD\r\n");
}

// The journal file in memory; fails on demand as a file another program holds open does.
class FakeJournalFile final : public JournalFile {
  public:
    void Append(std::wstring_view path, std::string_view opening, std::string_view bytes) override {
        lastPath = path;
        if (failing)
            throw Failure(32, L"Der Prozess kann nicht auf die Datei zugreifen.");
        if (content.empty())
            content += opening;
        content += bytes;
    }

    bool failing = false;
    std::string content;
    std::wstring lastPath;
};

class ExportJournalTest : public testing::Test {
  protected:
    void Write(std::uint32_t patient) { journal_.Write({.event = kEmpty, .patient = patient}); }
    static std::string Row(int patient) {
        return "Leer;" + std::to_string(patient) + ";;;;;;;;;;\r";
    }

    FakeJournalFile file_;
    test::StubFileSystem files_;
    test::FakeErrorLog errorLog_;
    ExportJournal journal_{file_, files_, errorLog_, L"C:\\CopyOrdovan"};
};

TEST_F(ExportJournalTest, RowsThatCannotBeWrittenWaitAndGoFirstInOrder) {
    Write(1);
    file_.failing = true;
    Write(2);
    Write(3);
    EXPECT_EQ(journal_.Waiting(), 2u);
    file_.failing = false;
    Write(4);

    EXPECT_EQ(journal_.Waiting(), 0u);
    EXPECT_EQ(RowsAfterTime(file_.content),
              (std::vector<std::string>{Row(1), Row(2), Row(3), Row(4)}));
    EXPECT_EQ(file_.lastPath, L"C:\\CopyOrdovan\\Logs\\Exportprotokoll.csv");
}

TEST_F(ExportJournalTest, OneErrorLogLineMarksTheStartOfEachStreak) {
    file_.failing = true;
    Write(1);
    Write(2);
    file_.failing = false;
    Write(3);
    file_.failing = true;
    Write(4);

    ASSERT_EQ(errorLog_.lines.size(), 2u);
    for (const auto& line : errorLog_.lines) {
        EXPECT_EQ(line.procedureText, L"Exportprotokoll");
        EXPECT_EQ(line.number, 32);
    }
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
