#include "dicom/header_values.h"

#include <algorithm>
#include <string_view>

#include "dicom/character_set.h"

namespace ordovan::dicom {

namespace {

enum class Syntax { ImplicitLittle, ExplicitLittle, ExplicitBig };

constexpr std::uint32_t Tag(std::uint32_t group, std::uint32_t element) {
    return (group << 16) | element;
}

constexpr std::uint32_t kTransferSyntaxUid = Tag(0x0002, 0x0010);
constexpr std::uint32_t kSpecificCharacterSet = Tag(0x0008, 0x0005);
constexpr std::uint32_t kStudyDate = Tag(0x0008, 0x0020);
constexpr std::uint32_t kPatientName = Tag(0x0010, 0x0010);
constexpr std::uint32_t kPatientId = Tag(0x0010, 0x0020);
constexpr std::uint32_t kBirthDate = Tag(0x0010, 0x0030);
constexpr std::uint32_t kItem = Tag(0xFFFE, 0xE000);
constexpr std::uint32_t kItemEnd = Tag(0xFFFE, 0xE00D);
constexpr std::uint32_t kSequenceEnd = Tag(0xFFFE, 0xE0DD);
constexpr std::uint16_t kMetaGroup = 0x0002;
constexpr std::uint16_t kDelimiterGroup = 0xFFFE;
constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFF;

constexpr std::size_t kPreambleSize = 128;
constexpr std::string_view kPrefix = "DICM";

// Sequences nest in real files a handful of levels deep; the bound keeps a crafted file from
// exhausting the stack.
constexpr int kMaxNesting = 32;

// Anything that does not add up: the read ends and gives no values.
struct BadInput {};

struct Element {
    std::uint32_t tag = 0;
    std::uint32_t length = 0;
    bool unknownVr = false;  // UN: a value of undefined length inside is implicit little endian
};

// Reads forward through the bytes and refuses to pass their end.
class Cursor {
  public:
    explicit Cursor(std::span<const std::uint8_t> bytes, std::size_t position = 0)
        : bytes_(bytes), position_(position) {}

    bool AtEnd() const { return position_ == bytes_.size(); }

    std::span<const std::uint8_t> Take(std::size_t count) {
        if (count > bytes_.size() - position_)
            throw BadInput{};
        const auto taken = bytes_.subspan(position_, count);
        position_ += count;
        return taken;
    }

    std::uint32_t Number(std::size_t size, Syntax syntax) { return Decode(Take(size), syntax); }

    std::uint32_t PeekTag(Syntax syntax) const {
        Cursor copy = *this;
        const std::uint32_t group = copy.Number(2, syntax);
        return Tag(group, copy.Number(2, syntax));
    }

  private:
    static std::uint32_t Decode(std::span<const std::uint8_t> field, Syntax syntax) {
        std::uint32_t value = 0;
        if (syntax == Syntax::ExplicitBig) {
            for (const std::uint8_t byte : field)
                value = (value << 8) | byte;
        } else {
            for (auto byte = field.rbegin(); byte != field.rend(); ++byte)
                value = (value << 8) | *byte;
        }
        return value;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t position_;
};

// The value representations whose length field has four bytes after two reserved ones.
bool HasLongLength(std::string_view vr) {
    static constexpr std::string_view kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                                 "SV", "UC", "UN", "UR", "UT", "UV"};
    return std::find(std::begin(kLong), std::end(kLong), vr) != std::end(kLong);
}

bool HasShortLength(std::string_view vr) {
    static constexpr std::string_view kShort[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT",
                                                  "FD", "FL", "IS", "LO", "LT", "PN", "SH",
                                                  "SL", "SS", "ST", "TM", "UI", "UL", "US"};
    return std::find(std::begin(kShort), std::end(kShort), vr) != std::end(kShort);
}

Element ReadElementHeader(Cursor& cursor, Syntax syntax) {
    Element element;
    element.tag = cursor.PeekTag(syntax);
    cursor.Take(4);
    // Items and delimiters carry no VR in any syntax.
    if (syntax == Syntax::ImplicitLittle || element.tag >> 16 == kDelimiterGroup) {
        element.length = cursor.Number(4, syntax);
        return element;
    }
    const auto vrBytes = cursor.Take(2);
    const std::string_view vr(reinterpret_cast<const char*>(vrBytes.data()), vrBytes.size());
    if (HasLongLength(vr)) {
        cursor.Take(2);
        element.length = cursor.Number(4, syntax);
        element.unknownVr = vr == "UN";
    } else if (HasShortLength(vr)) {
        element.length = cursor.Number(2, syntax);
    } else {
        throw BadInput{};
    }
    return element;
}

void SkipValue(Cursor& cursor, const Element& element, Syntax syntax, int depth);

// The elements of one item of undefined length, up to its delimiter.
void SkipItemElements(Cursor& cursor, Syntax syntax, int depth) {
    for (;;) {
        const Element element = ReadElementHeader(cursor, syntax);
        if (element.tag == kItemEnd)
            return;
        SkipValue(cursor, element, syntax, depth);
    }
}

// A value of undefined length: items (of either length) up to the sequence delimiter. Also
// covers encapsulated pixel data, whose fragments are items of defined length.
void SkipItems(Cursor& cursor, Syntax syntax, int depth) {
    if (depth > kMaxNesting)
        throw BadInput{};
    for (;;) {
        const Element item = ReadElementHeader(cursor, syntax);
        if (item.tag == kSequenceEnd)
            return;
        if (item.tag != kItem)
            throw BadInput{};
        if (item.length == kUndefinedLength)
            SkipItemElements(cursor, syntax, depth + 1);
        else
            cursor.Take(item.length);
    }
}

void SkipValue(Cursor& cursor, const Element& element, Syntax syntax, int depth) {
    if (element.length != kUndefinedLength) {
        cursor.Take(element.length);
        return;
    }
    SkipItems(cursor, element.unknownVr ? Syntax::ImplicitLittle : syntax, depth + 1);
}

std::string_view AsText(std::span<const std::uint8_t> value) {
    return {reinterpret_cast<const char*>(value.data()), value.size()};
}

// Values are padded to an even length with a space (text) or a NUL (UIDs); leading spaces carry
// no meaning in the values read here either.
std::span<const std::uint8_t> Trimmed(std::span<const std::uint8_t> value) {
    const auto padding = [](std::uint8_t byte) { return byte == ' ' || byte == '\0'; };
    while (!value.empty() && padding(value.front()))
        value = value.subspan(1);
    while (!value.empty() && padding(value.back()))
        value = value.first(value.size() - 1);
    return value;
}

// The values of interest as they lie in the data set, before any decoding.
struct RawValues {
    std::span<const std::uint8_t> characterSet, studyDate, patientName, patientId, birthDate;
};

void Keep(RawValues& raw, std::uint32_t tag, std::span<const std::uint8_t> value) {
    switch (tag) {
        case kSpecificCharacterSet:
            raw.characterSet = value;
            break;
        case kStudyDate:
            raw.studyDate = value;
            break;
        case kPatientName:
            raw.patientName = value;
            break;
        case kPatientId:
            raw.patientId = value;
            break;
        case kBirthDate:
            raw.birthDate = value;
            break;
        default:
            break;
    }
}

// Top-level tags rise through the data set, so the walk ends after the last tag of interest,
// whatever follows (a large value cut off by the read limit, the pixel data).
RawValues ReadDataSet(Cursor cursor, Syntax syntax) {
    RawValues raw;
    std::uint32_t previous = 0;
    bool first = true;
    while (!cursor.AtEnd() && cursor.PeekTag(syntax) <= kBirthDate) {
        const Element element = ReadElementHeader(cursor, syntax);
        if (!first && element.tag <= previous)
            throw BadInput{};
        first = false;
        previous = element.tag;
        if (element.length == kUndefinedLength) {
            SkipValue(cursor, element, syntax, 0);
            continue;
        }
        Keep(raw, element.tag, cursor.Take(element.length));
    }
    return raw;
}

// The transfer syntax of the data set; none for a deflated one, which cannot be read in place.
std::optional<Syntax> SyntaxOf(std::string_view uid) {
    if (uid == "1.2.840.10008.1.2")
        return Syntax::ImplicitLittle;
    if (uid == "1.2.840.10008.1.2.2")
        return Syntax::ExplicitBig;
    if (uid == "1.2.840.10008.1.2.1.99" || uid == "1.2.840.10008.1.2.4.95")
        return std::nullopt;
    if (uid.empty())
        throw BadInput{};
    // Explicit VR little endian itself, and every encapsulated syntax (JPEG, RLE, ...): only
    // their pixel data differs.
    return Syntax::ExplicitLittle;
}

// The meta group is always explicit VR little endian; it names the data set's syntax.
std::optional<Syntax> ReadMetaGroup(Cursor& cursor) {
    std::string_view transferSyntax;
    while (!cursor.AtEnd() && cursor.PeekTag(Syntax::ExplicitLittle) >> 16 == kMetaGroup) {
        const Element element = ReadElementHeader(cursor, Syntax::ExplicitLittle);
        if (element.length == kUndefinedLength)
            throw BadInput{};
        const auto value = cursor.Take(element.length);
        if (element.tag == kTransferSyntaxUid)
            transferSyntax = AsText(Trimmed(value));
    }
    return SyntaxOf(transferSyntax);
}

bool IsPart10File(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= kPreambleSize + kPrefix.size() &&
           AsText(bytes.subspan(kPreambleSize, kPrefix.size())) == kPrefix;
}

std::optional<RawValues> ReadRawValues(std::span<const std::uint8_t> bytes) {
    if (!IsPart10File(bytes))
        return ReadDataSet(Cursor(bytes), Syntax::ImplicitLittle);
    Cursor cursor(bytes, kPreambleSize + kPrefix.size());
    const std::optional<Syntax> syntax = ReadMetaGroup(cursor);
    if (!syntax)
        return std::nullopt;
    return ReadDataSet(cursor, *syntax);
}

}  // namespace

std::optional<HeaderValues> ReadHeaderValues(std::span<const std::uint8_t> bytes) {
    std::optional<RawValues> raw;
    try {
        raw = ReadRawValues(bytes);
    } catch (const BadInput&) {
        return std::nullopt;
    }
    if (!raw)
        return std::nullopt;
    const CharacterSet set = CharacterSetNamed(AsText(Trimmed(raw->characterSet)));
    return HeaderValues{.patientId = DecodeText(Trimmed(raw->patientId), set),
                        .patientName = DecodeText(Trimmed(raw->patientName), set),
                        .birthDate = DecodeText(Trimmed(raw->birthDate), set),
                        .studyDate = DecodeText(Trimmed(raw->studyDate), set)};
}

}  // namespace ordovan::dicom
