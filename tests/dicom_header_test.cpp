#include "dicom/patient_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dicom/character_set.h"
#include "tests/dicom_samples.h"

namespace ordovan::dicom {

void PrintTo(const PatientFields& fields, std::ostream* out) {
    *out << testing::PrintToString(fields.patientId) << (fields.idLostCharacters ? " (lost) " : " ")
         << testing::PrintToString(fields.name) << " " << testing::PrintToString(fields.birthDate)
         << " " << testing::PrintToString(fields.studyDate);
}

void PrintTo(const HeaderValues& values, std::ostream* out) {
    PrintTo(PatientFields{values.patientId, values.patientName, values.birthDate, values.studyDate,
                          values.patientIdLostCharacters},
            out);
}

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::string_view_literals;

const test::DicomSample& Sample(std::string_view name) {
    const auto& samples = test::DicomSamples();
    const auto found = std::find_if(samples.begin(), samples.end(),
                                    [&](const auto& sample) { return sample.name == name; });
    if (found == samples.end())
        throw std::logic_error("no DICOM sample " + std::string(name));
    return *found;
}

// A copy of exactly the sample's size, or of as much as the tool reads, so that AddressSanitizer
// (in the native build) catches a read past its end.
Bytes SampleBytes(std::string_view name) {
    const auto bytes = Sample(name).bytes;
    const auto read = bytes.first(std::min(bytes.size(), kHeaderReadLimit));
    return Bytes(read.begin(), read.end());
}

struct Format {
    const char* sample;
    // False where the tool reads less than dcmtk: a deflated data set, a character set it does
    // not decode.
    bool readsAsDcmdump;
    PatientFields shown;
};

void PrintTo(const Format& format, std::ostream* out) {
    *out << format.sample;
}

const PatientFields kAscii{L"A-4711", L"Mustermann, Erika Maria", L"03.02.1961", L"01.09.2026"};
const PatientFields kLatin1{L"\u00c4\u00d6\u00dc-\u00df", L"M\u00fcller, J\u00fcrgen Bj\u00f6rn",
                            L"03.02.1961", L"01.09.2026"};
// A character outside the Basic Multilingual Plane, as a surrogate pair.
const PatientFields kUtf8{L"ID-\xD834\xDD1E", L"Yamada, Tar\u014d", L"03.02.1961", L"01.09.2026"};
const PatientFields kCyrillic{L"42",
                              L"\u0418\u0432\u0430\u043d\u043e\u0432, \u0418\u0432\u0430\u043d",
                              L"03.02.1961", L"01.09.2026"};

class HeaderFormats : public testing::TestWithParam<Format> {};

TEST_P(HeaderFormats, ReadsThePatientDcmdumpReadsAndShowsIt) {
    const Format& format = GetParam();
    const Bytes bytes = SampleBytes(format.sample);
    if (format.readsAsDcmdump) {
        const test::DicomSample& sample = Sample(format.sample);
        EXPECT_EQ(ReadHeaderValues(bytes),
                  (HeaderValues{std::wstring(sample.patientId), std::wstring(sample.patientName),
                                std::wstring(sample.birthDate), std::wstring(sample.studyDate)}));
    }
    EXPECT_EQ(ReadPatientFields(bytes), format.shown);
}

// Every file holds a sequence before the patient tags whose items carry a patient name and ID of
// their own (one of them a level deeper), a URL, and pixel data after them.
INSTANTIATE_TEST_SUITE_P(
    DcmtkFiles, HeaderFormats,
    testing::Values(Format{"ascii_explicit_le", true, kAscii},
                    Format{"ascii_explicit_le_undefined", true, kAscii},
                    Format{"ascii_implicit_le", true, kAscii},
                    Format{"ascii_implicit_le_undefined", true, kAscii},
                    Format{"ascii_big_endian", true, kAscii},
                    Format{"ascii_big_endian_undefined", true, kAscii},
                    Format{"ascii_no_preamble", true, kAscii},
                    Format{"ascii_meta_without_preamble", true, kAscii},
                    Format{"ascii_larger_than_the_read_limit", true, kAscii},
                    Format{"un_sequence_big_endian", true, kAscii},
                    Format{"ascii_modified", true, {L"A-4711", L"Nurnachname", L"", L""}},
                    Format{"latin1_explicit_le", true, kLatin1},
                    Format{"latin1_implicit_le_undefined", true, kLatin1},
                    Format{"latin1_big_endian", true, kLatin1},
                    Format{"latin1_jpeg",
                           true,
                           {L"JPEG-1", kLatin1.name, kLatin1.birthDate, kLatin1.studyDate}},
                    Format{"latin1_deflated", false, {}}, Format{"utf8_explicit_le", true, kUtf8},
                    Format{"utf8_big_endian_undefined", true, kUtf8},
                    Format{"cyrillic_implicit_le", true, kCyrillic},
                    Format{"stray_byte_explicit_le",
                           false,
                           {L"7", L"Sch?fer, Anna", L"03.02.1961", L"01.09.2026"}},
                    Format{"latin1_declared_utf8",
                           false,
                           {L"7", L"Sch?fer, Anna", L"03.02.1961", L"01.09.2026"}}),
    [](const auto& row) { return std::string(row.param.sample); });

// Where in the bytes a marker begins; the test is wrong when it is not there.
std::size_t Find(const Bytes& bytes, std::string_view marker) {
    const auto found = std::search(
        bytes.begin(), bytes.end(), marker.begin(), marker.end(),
        [](std::uint8_t byte, char mark) { return byte == static_cast<std::uint8_t>(mark); });
    if (found == bytes.end())
        throw std::logic_error("marker not in sample: " + std::string(marker));
    return static_cast<std::size_t>(found - bytes.begin());
}

Bytes Cut(std::string_view sample, std::string_view marker, std::ptrdiff_t offset) {
    const Bytes bytes = SampleBytes(sample);
    const auto end = static_cast<std::ptrdiff_t>(Find(bytes, marker)) + offset;
    return Bytes(bytes.begin(), bytes.begin() + end);
}

Bytes Patched(std::string_view sample, std::string_view marker, std::ptrdiff_t offset,
              const Bytes& patch) {
    Bytes bytes = SampleBytes(sample);
    const auto at = static_cast<std::ptrdiff_t>(Find(bytes, marker)) + offset;
    std::copy(patch.begin(), patch.end(), bytes.begin() + at);
    return bytes;
}

Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// The sample's meta group naming another transfer syntax, its data set as it lies.
Bytes WithTransferSyntax(std::string_view sample, std::string uid) {
    const Bytes bytes = SampleBytes(sample);
    const auto value =
        bytes.begin() + static_cast<std::ptrdiff_t>(Find(bytes, "1.2.840.10008.1.2.1\0"sv));
    uid.resize((uid.size() + 1) / 2 * 2, '\0');  // padded to an even length
    Bytes spliced(bytes.begin(), value - 2);
    spliced.push_back(static_cast<std::uint8_t>(uid.size()));
    spliced.push_back(0);
    spliced.insert(spliced.end(), uid.begin(), uid.end());
    spliced.insert(spliced.end(), value + 20, bytes.end());
    return spliced;
}

// A sequence whose stated length ends after its first item's header, the bytes ending right
// after the patient nested in that item, so that nothing after it gives the fault away.
Bytes SequenceEndingInItsItem(std::string_view sample, std::string_view sequence,
                              std::size_t afterNestedId) {
    Bytes bytes = Patched(sample, sequence, 4, {8, 0, 0, 0});
    bytes.resize(Find(bytes, "FALSCH") + 6 + afterNestedId);
    return bytes;
}

// Sequences of undefined length, each holding an item of undefined length, down to the read
// limit and never closed.
Bytes NestedToTheReadLimit() {
    const Bytes level{0x15, 0x11, 0x08, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
                      0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF};
    Bytes bytes;
    while (bytes.size() + level.size() <= kHeaderReadLimit)
        bytes.insert(bytes.end(), level.begin(), level.end());
    return bytes;
}

constexpr std::string_view kSequenceEndLe = "\xFE\xFF\xDD\xE0"sv;
constexpr std::string_view kItemEndBe = "\xFF\xFE\xE0\x0D"sv;

struct BadInput {
    const char* what;
    Bytes (*make)();
    // Where the bytes end inside an element, the values read whole before; else none.
    PatientFields shown{};
};

void PrintTo(const BadInput& input, std::ostream* out) {
    *out << input.what;
}

class HeaderBadInput : public testing::TestWithParam<BadInput> {};

const PatientFields kStudyDateOnly{.studyDate = L"01.09.2026"};

TEST_P(HeaderBadInput, GivesNoValueItCannotTrust) {
    EXPECT_EQ(ReadPatientFields(GetParam().make()), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeaderBadInput,
    testing::Values(
        BadInput{"ZeroBytes", [] { return Bytes{}; }},
        BadInput{"PlainText", [] { return Text("\x08\x00Patient: Mustermann, Erika\r\n"sv); }},
        BadInput{"PrefixWithoutMetaGroup", [] { return Cut("ascii_explicit_le", "DICM", 4 + 6); }},
        BadInput{"CutInTheMiddleOfTheName", [] { return Cut("ascii_explicit_le", "Muster", 3); },
                 kStudyDateOnly},
        BadInput{"CutInTheMiddleOfATag",
                 [] { return Cut("latin1_implicit_le_undefined", "M\xFC", -6); }, kStudyDateOnly},
        BadInput{"CutInsideTheSequence", [] { return Cut("ascii_big_endian", "Falsch", 2); },
                 kStudyDateOnly},
        BadInput{"NameLongerThanTheFile",
                 [] {
                     return Patched("ascii_explicit_le", "Muster", -2, {0xF0, 0xFF});
                 },
                 kStudyDateOnly},
        BadInput{"SequenceLongerThanTheFile",
                 [] {
                     return Patched("ascii_explicit_le", "SQ", 4, {0xF0, 0xFF, 0xFF, 0x7F});
                 },
                 kStudyDateOnly},
        BadInput{"LengthThatWrapsAround",
                 [] {
                     return Patched("ascii_implicit_le", "Muster", -4, {0xF0, 0xFF, 0xFF, 0xFF});
                 },
                 kStudyDateOnly},
        BadInput{"UnknownValueRepresentation",
                 [] { return Patched("ascii_explicit_le", "Muster", -4, Text("Q?")); }},
        BadInput{"SequenceWithoutEnd",
                 [] { return Cut("ascii_explicit_le_undefined", kSequenceEndLe, 0); },
                 kStudyDateOnly},
        BadInput{"ItemWithoutEnd", [] { return Cut("ascii_big_endian_undefined", kItemEndBe, 0); },
                 kStudyDateOnly},
        BadInput{"SequencesNestedToTheReadLimit", NestedToTheReadLimit},
        // The walk would land among the item's elements and take its patient for the file's. In
        // explicit VR the item overruns its sequence; in implicit VR, which does not say which
        // value is a sequence, the walk meets the item's delimiter at the top level.
        BadInput{"SequenceShorterThanItsItem",
                 [] { return SequenceEndingInItsItem("ascii_explicit_le", "SQ", 0); }},
        BadInput{"ItemDelimiterAtTheTopLevel",
                 [] {
                     return SequenceEndingInItsItem("ascii_implicit_le_undefined",
                                                    "\x08\x00\x15\x11"sv, 8);
                 }},
        BadInput{
            "DeclaredJpipDeflate",
            [] { return WithTransferSyntax("ascii_explicit_le", "1.2.840.10008.1.2.4.205"); }}),
    [](const auto& row) { return std::string(row.param.what); });

struct Decoding {
    const char* characterSet;  // (0008,0005)
    std::string_view bytes;
    const wchar_t* text;
    bool lost;
};

void PrintTo(const Decoding& decoding, std::ostream* out) {
    *out << decoding.characterSet << ": " << testing::PrintToString(decoding.bytes);
}

class TextDecoding : public testing::TestWithParam<Decoding> {};

TEST_P(TextDecoding, ShowsWhatTheSetsDefineAndMarksTheRestLost) {
    const DecodedText decoded =
        DecodeText(Text(GetParam().bytes), CharacterSetsNamed(GetParam().characterSet));
    EXPECT_EQ(decoded.text, GetParam().text);
    EXPECT_EQ(decoded.lostCharacters, GetParam().lost);
}

INSTANTIATE_TEST_SUITE_P(
    Values, TextDecoding,
    testing::Values(Decoding{"ISO 2022 IR 100", "M\xFCller", L"M\u00fcller", false},
                    Decoding{"\\ISO 2022 IR 87", "\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B",
                             L"\u5c71\u7530^\u592a\u90ce", false},
                    Decoding{"ISO 2022 IR 100\\ISO 2022 IR 144", "\xC4\x1B-L\xB8\xB2\x1B-A\xC4",
                             L"\u00c4\u0418\u0412\u00c4", false},
                    // Control characters: C0, DEL and C1 (every set's text passes one check).
                    Decoding{"ISO_IR 100",
                             "a\tb\x85"
                             "c\x7F\r\n",
                             L"a?b?c???", true},
                    // A set the tool does not decode, or one escaped to; a cell JIS X 0208 leaves
                    // empty; half a character.
                    Decoding{"ISO_IR 101", "\xC8\xB5-1", L"?\?-1", true},
                    Decoding{"\\ISO 2022 IR 87", "\x1B$(D\x30\x21\x1B(B-1", L"?\?-1", true},
                    Decoding{"\\ISO 2022 IR 87", "\x1B$B\x22\x2F\x1B(B-1", L"?-1", true},
                    Decoding{"\\ISO 2022 IR 87", "\x1B$B;", L"?", true}));

TEST(PatientFieldsShown, FirstValueOfAnIdOrNameAndWhetherTheIdIsWhole) {
    EXPECT_EQ(
        ShowPatientFields({.patientId = L"A-1 \\B-2", .patientName = L"Family^Given\\X"}),
        (PatientFields{.patientId = L"A-1", .name = L"Family, Given", .idLostCharacters = true}));
    EXPECT_FALSE(ShowPatientFields({.patientId = L"A-1"}).idLostCharacters);
    EXPECT_TRUE(
        ShowPatientFields({.patientId = L"?-1", .patientIdLostCharacters = true}).idLostCharacters);
}

TEST(PatientFieldsShown, PersonNamesAndDates) {
    EXPECT_EQ(ShowPersonName(L"Family^Given^Middle^Dr.^Jr."), L"Family, Given Middle");
    EXPECT_EQ(ShowPersonName(L"Family^^Middle"), L"Family, Middle");
    EXPECT_EQ(ShowPersonName(L"^Given"), L"Given");
    EXPECT_EQ(ShowPersonName(L" Family ^ Given "), L"Family, Given");
    EXPECT_EQ(ShowPersonName(L"=\u5c71\u7530^\u592a\u90ce"), L"\u5c71\u7530, \u592a\u90ce");
    EXPECT_EQ(ShowPersonName(L"^^^Dr.==yamada^taro"), L"yamada, taro");
    EXPECT_EQ(ShowDate(L"20240229"), L"29.02.2024");
    EXPECT_EQ(ShowDate(L"19000229"), L"");
    EXPECT_EQ(ShowDate(L"20261301"), L"");
    EXPECT_EQ(ShowDate(L"2026.09.01"), L"");
    EXPECT_EQ(ShowDate(L"2026090"), L"");
}

}  // namespace
}  // namespace ordovan::dicom
