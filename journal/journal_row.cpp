#include "journal/journal_row.h"

#include <vector>

namespace ordovan::journal {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Format 1.2 of the journal; a file that does not begin with it is set aside, never appended to.
constexpr std::string_view kHeaderLine =
    "Lauf;Datum;Uhrzeit;Ereignis;Nr.;Patienten-ID;Name;Geburtsdatum;Untersuchungsdatum;"
    "Bildordner;Bilder;Bytes;Umbenannt;Ziel;Hinweis";
constexpr std::string_view kLineEnd = "\r\n";
constexpr wchar_t kSeparator = L';';
constexpr wchar_t kQuote = L'"';
constexpr wchar_t kTextMarker = L'\'';
constexpr std::wstring_view kFormulaStarts = L"=+-@\t\r";
constexpr std::wstring_view kNeedsQuotes = L";\"\r\n";
constexpr std::wstring_view kTextFormulaStart = L"=\"";
// The longest string constant Excel takes in a formula.
constexpr std::size_t kMaxFormulaText = 255;
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t codePoint) {
    const auto byte = [&](char32_t bits) { out += static_cast<char>(bits); };
    if (codePoint < 0x80) {
        byte(codePoint);
    } else if (codePoint < 0x800) {
        byte(0xC0 | (codePoint >> 6));
        byte(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        byte(0xE0 | (codePoint >> 12));
        byte(0x80 | ((codePoint >> 6) & 0x3F));
        byte(0x80 | (codePoint & 0x3F));
    } else {
        byte(0xF0 | (codePoint >> 18));
        byte(0x80 | ((codePoint >> 12) & 0x3F));
        byte(0x80 | ((codePoint >> 6) & 0x3F));
        byte(0x80 | (codePoint & 0x3F));
    }
}

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// UTF-16 to UTF-8; a surrogate without its partner becomes U+FFFD.
std::string ToUtf8(std::wstring_view text) {
    std::string out;
    for (std::size_t index = 0; index < text.size(); ++index) {
        char32_t unit = static_cast<char32_t>(text[index]);
        if (IsHighSurrogate(unit) && index + 1 < text.size() &&
            IsLowSurrogate(static_cast<char32_t>(text[index + 1]))) {
            const auto low = static_cast<char32_t>(text[++index]);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            unit = kReplacement;
        }
        AppendUtf8(out, unit);
    }
    return out;
}

std::wstring Number(const std::optional<std::uint64_t>& number) {
    return number ? std::to_wstring(*number) : std::wstring();
}

// With a leading "'" when Excel would run the value as a formula.
std::wstring Guarded(std::wstring_view value) {
    std::wstring guarded;
    if (!value.empty() && kFormulaStarts.find(value.front()) != value.npos)
        guarded += kTextMarker;
    return guarded.append(value);
}

std::wstring Doubled(std::wstring_view value) {
    std::wstring doubled;
    for (const wchar_t character : value) {
        if (character == kQuote)
            doubled += kQuote;
        doubled += character;
    }
    return doubled;
}

std::wstring Quoted(std::wstring field) {
    if (field.find_first_of(kNeedsQuotes) == field.npos)
        return field;
    return kQuote + Doubled(field) + kQuote;
}

}  // namespace

std::string JournalOpening() {
    std::string opening(kByteOrderMark);
    opening.append(kHeaderLine).append(kLineEnd);
    return opening;
}

std::wstring CsvField(std::wstring_view value, bool fromOutside) {
    return Quoted(fromOutside ? Guarded(value) : std::wstring(value));
}

std::wstring CsvTextField(std::wstring_view value) {
    const std::wstring guarded = Guarded(value);
    if (guarded.empty() || guarded.size() > kMaxFormulaText)
        return Quoted(guarded);
    std::wstring formula(kTextFormulaStart);
    formula += Doubled(guarded);
    formula += kQuote;
    return Quoted(formula);
}

std::string FormatJournalRow(std::wstring_view run, std::wstring_view date, std::wstring_view time,
                             const JournalRow& row) {
    const dicom::PatientFields& patient = row.patientFields;
    const std::optional<std::uint64_t> patientNumber =
        row.patient ? std::optional<std::uint64_t>(*row.patient) : std::nullopt;
    const std::vector<std::wstring> fields{CsvField(run, false),
                                           CsvField(date, false),
                                           CsvField(time, false),
                                           CsvField(row.event, false),
                                           Number(patientNumber),
                                           CsvTextField(patient.patientId),
                                           CsvTextField(patient.name),
                                           CsvTextField(patient.birthDate),
                                           CsvTextField(patient.studyDate),
                                           Number(row.imageFolders),
                                           Number(row.images),
                                           Number(row.bytes),
                                           Number(row.renamed),
                                           CsvField(row.target, true),
                                           CsvField(row.note, true)};
    std::wstring line;
    for (const std::wstring& field : fields) {
        if (&field != &fields.front())
            line += kSeparator;
        line += field;
    }
    return ToUtf8(line).append(kLineEnd);
}

}  // namespace ordovan::journal
