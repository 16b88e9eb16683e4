#include "dicom/header_values.h"

#include <algorithm>
#include <optional>
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

// The bytes end inside an element: the read limit cut a larger image there, or the file itself
// ends there. Either way the values read whole before the cut stand.
struct Cut {};

struct Element {
    std::uint32_t tag = 0;
    std::uint32_t length = 0;
    std::string_view vr;  // empty in implicit VR and for items and delimiters
};

// Reads forward through the bytes and refuses to pass their end. The bytes of a value of defined
// length end where that length says: an element reaching past it is bad input, not a cut.
class Cursor {
  public:
    explicit Cursor(std::span<const std::uint8_t> bytes, std::size_t position = 0,
                    bool endIsCut = true)
        : bytes_(bytes), position_(position), endIsCut_(endIsCut) {}

    bool AtEnd() const { return position_ == bytes_.size(); }

    std::span<const std::uint8_t> Take(std::size_t count) {
        if (count > bytes_.size() - position_) {
            if (endIsCut_)
                throw Cut{};
            throw BadInput{};
        }
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
    bool endIsCut_;
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

bool IsDelimiterGroup(std::uint32_t tag) {
    return tag >> 16 == kDelimiterGroup;
}

std::string_view AsText(std::span<const std::uint8_t> value) {
    return {reinterpret_cast<const char*>(value.data()), value.size()};
}

Element ReadElementHeader(Cursor& cursor, Syntax syntax) {
    Element element;
    element.tag = cursor.PeekTag(syntax);
    cursor.Take(4);
    // Items and delimiters carry no VR in any syntax.
    if (syntax == Syntax::ImplicitLittle || IsDelimiterGroup(element.tag)) {
        element.length = cursor.Number(4, syntax);
        return element;
    }
    element.vr = AsText(cursor.Take(2));
    if (HasLongLength(element.vr)) {
        cursor.Take(2);
        element.length = cursor.Number(4, syntax);
    } else if (HasShortLength(element.vr)) {
        element.length = cursor.Number(2, syntax);
    } else {
        throw BadInput{};
    }
    return element;
}

void SkipValue(Cursor& cursor, const Element& element, Syntax syntax, int depth);

// The elements of an item: up to its delimiter when its length is undefined, or to the end of
// its defined length (where the cursor then ends). Items and delimiters have no place among them.
void SkipItemElements(Cursor& cursor, Syntax syntax, int depth, bool delimited) {
    while (delimited || !cursor.AtEnd()) {
        const Element element = ReadElementHeader(cursor, syntax);
        if (delimited && element.tag == kItemEnd)
            return;
        if (IsDelimiterGroup(element.tag))
            throw BadInput{};
        SkipValue(cursor, element, syntax, depth);
    }
}

// The items of a sequence: up to its delimiter when its length is undefined, or filling its
// defined length exactly. An item that reaches past the end of its sequence makes the sequence's
// length a lie, and nothing after it can be trusted.
void SkipItems(Cursor& cursor, Syntax syntax, int depth, bool delimited) {
    if (depth > kMaxNesting)
        throw BadInput{};
    while (delimited || !cursor.AtEnd()) {
        const Element item = ReadElementHeader(cursor, syntax);
        if (delimited && item.tag == kSequenceEnd)
            return;
        if (item.tag != kItem)
            throw BadInput{};
        if (item.length == kUndefinedLength) {
            SkipItemElements(cursor, syntax, depth, true);
        } else {
            Cursor elements(cursor.Take(item.length), 0, false);
            SkipItemElements(elements, syntax, depth, false);
        }
    }
}

// Encapsulated pixel data: fragments, items of defined length that hold no elements.
void SkipFragments(Cursor& cursor, Syntax syntax) {
    for (;;) {
        const Element item = ReadElementHeader(cursor, syntax);
        if (item.tag == kSequenceEnd)
            return;
        if (item.tag != kItem || item.length == kUndefinedLength)
            throw BadInput{};
        cursor.Take(item.length);
    }
}

void SkipValue(Cursor& cursor, const Element& element, Syntax syntax, int depth) {
    if (element.length != kUndefinedLength) {
        const auto value = cursor.Take(element.length);
        if (element.vr == "SQ") {
            Cursor items(value, 0, false);
            SkipItems(items, syntax, depth + 1, false);
        }
        return;
    }
    if (element.vr == "OB" || element.vr == "OW") {
        SkipFragments(cursor, syntax);
    } else if (element.vr.empty() || element.vr == "SQ") {
        SkipItems(cursor, syntax, depth + 1, true);
    } else if (element.vr == "UN") {
        // A sequence whose VR was lost on the way: its items are implicit VR little endian,
        // whatever the data set's syntax.
        SkipItems(cursor, Syntax::ImplicitLittle, depth + 1, true);
    } else {
        throw BadInput{};
    }
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

// Walks the whole data set as far as the bytes go, not only to the patient tags: a sequence
// whose stated length is too short leaves the walk inside one of its items, and only what comes
// after (an item's delimiter at the top level, tags that fall) shows that the values it read
// there belong to a nested patient. At the top level tags rise, and items and delimiters
// (group FFFE) have no place.
void WalkDataSet(Cursor& cursor, Syntax syntax, RawValues& raw) {
    std::optional<std::uint32_t> previous;
    while (!cursor.AtEnd()) {
        const Element element = ReadElementHeader(cursor, syntax);
        if (IsDelimiterGroup(element.tag) || (previous && element.tag <= *previous))
            throw BadInput{};
        previous = element.tag;
        if (element.length == kUndefinedLength || element.vr == "SQ")
            SkipValue(cursor, element, syntax, 0);
        else
            Keep(raw, element.tag, cursor.Take(element.length));
    }
}

RawValues ReadDataSet(Cursor cursor, Syntax syntax) {
    RawValues raw;
    try {
        WalkDataSet(cursor, syntax, raw);
    } catch (const Cut&) {
        // The values taken so far came whole out of a walk that added up.
    }
    return raw;
}

// The transfer syntax of the data set; none for a deflated one, which cannot be read in place.
std::optional<Syntax> SyntaxOf(std::string_view uid) {
    if (uid == "1.2.840.10008.1.2")
        return Syntax::ImplicitLittle;
    if (uid == "1.2.840.10008.1.2.2")
        return Syntax::ExplicitBig;
    // Deflated explicit VR little endian, and the two JPIP referenced deflate syntaxes.
    if (uid == "1.2.840.10008.1.2.1.99" || uid == "1.2.840.10008.1.2.4.95" ||
        uid == "1.2.840.10008.1.2.4.205")
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

// Some writers leave out the preamble and the prefix and begin with the meta group itself. A
// data set never holds group 0002, so its tag tells the two apart.
bool StartsWithMetaGroup(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] == kMetaGroup && bytes[1] == 0;
}

std::optional<RawValues> ReadRawValues(std::span<const std::uint8_t> bytes) {
    std::size_t metaGroup = 0;
    if (IsPart10File(bytes))
        metaGroup = kPreambleSize + kPrefix.size();
    else if (!StartsWithMetaGroup(bytes))
        return ReadDataSet(Cursor(bytes), Syntax::ImplicitLittle);
    Cursor cursor(bytes, metaGroup);
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
    } catch (const Cut&) {
        return std::nullopt;
    }
    if (!raw)
        return std::nullopt;
    const CharacterSets sets = CharacterSetsNamed(AsText(raw->characterSet));
    DecodedText id = DecodeText(Trimmed(raw->patientId), sets);
    return HeaderValues{.patientId = std::move(id.text),
                        .patientName = DecodeText(Trimmed(raw->patientName), sets).text,
                        .birthDate = DecodeText(Trimmed(raw->birthDate), sets).text,
                        .studyDate = DecodeText(Trimmed(raw->studyDate), sets).text,
                        .patientIdLostCharacters = id.lostCharacters};
}

}  // namespace ordovan::dicom
