#include "dicom/character_set.h"

#include "dicom/jis_x0208.h"

namespace ordovan::dicom {

namespace {

constexpr wchar_t kUnreadable = L'?';
constexpr std::uint8_t kEscape = 0x1B;
constexpr std::uint8_t kFirstG0 = 0x21;
constexpr std::uint8_t kLastG0 = 0x7E;
constexpr std::uint8_t kFirstG1 = 0xA0;
constexpr std::uint8_t kSetOffset = 0x20;  // a 94-set's row and cell are its bytes less this
constexpr std::string_view kValueSeparator = "\\";
constexpr std::string_view kIso2022Prefix = "ISO 2022 ";

// C0, DEL and C1: a tab or line break in a name would break the journal's row, and an escape
// or a C1 control means nothing in a field.
bool IsControl(char32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

// The decoded text as it grows; whatever cannot be shown as written becomes one '?'.
class Output {
  public:
    void Append(char32_t codePoint) {
        if (codePoint == 0 || IsControl(codePoint)) {
            Lose();
        } else if (codePoint < 0x10000) {
            decoded_.text += static_cast<wchar_t>(codePoint);
        } else {
            // UTF-16 on every platform, as on Windows, where the text ends up.
            const char32_t offset = codePoint - 0x10000;
            decoded_.text += static_cast<wchar_t>(0xD800 + (offset >> 10));
            decoded_.text += static_cast<wchar_t>(0xDC00 + (offset & 0x3FF));
        }
    }
    void Lose() {
        decoded_.text += kUnreadable;
        decoded_.lostCharacters = true;
    }
    DecodedText Take() { return std::move(decoded_); }

  private:
    DecodedText decoded_;
};

// The length of the sequence a UTF-8 lead byte opens, with the bits it contributes; zero for a
// byte that cannot open one.
struct Lead {
    std::size_t length = 0;
    char32_t bits = 0;
};

Lead LeadOf(std::uint8_t byte) {
    if (byte < 0x80)
        return {1, byte};
    if (byte >= 0xC2 && byte <= 0xDF)
        return {2, byte & 0x1Fu};
    if (byte >= 0xE0 && byte <= 0xEF)
        return {3, byte & 0x0Fu};
    if (byte >= 0xF0 && byte <= 0xF4)
        return {4, byte & 0x07u};
    return {};
}

// The smallest code point each sequence length may carry: anything below is an overlong form.
constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};

// Decodes one sequence at the start of the bytes; answers the code point and the bytes used, or
// nothing for a broken sequence (then one byte is given up).
std::size_t DecodeUtf8(std::span<const std::uint8_t> bytes, char32_t& codePoint) {
    const Lead lead = LeadOf(bytes[0]);
    if (lead.length == 0 || lead.length > bytes.size())
        return 0;
    codePoint = lead.bits;
    for (std::size_t index = 1; index < lead.length; ++index) {
        if ((bytes[index] & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (bytes[index] & 0x3Fu);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < kSmallest[lead.length] || surrogate || codePoint > 0x10FFFF)
        return 0;
    return lead.length;
}

DecodedText DecodeUtf8Text(std::span<const std::uint8_t> bytes) {
    Output output;
    while (!bytes.empty()) {
        char32_t codePoint = 0;
        const std::size_t used = DecodeUtf8(bytes, codePoint);
        if (used == 0) {
            output.Lose();
            bytes = bytes.subspan(1);
            continue;
        }
        output.Append(codePoint);
        bytes = bytes.subspan(used);
    }
    return output.Take();
}

// ISO 8859-5, the right half: Cyrillic in the order of Unicode's block but for three symbols
// and the soft hyphen.
char32_t CyrillicCharacter(std::uint8_t byte) {
    switch (byte) {
        case 0xA0:
        case 0xAD:
            return byte;
        case 0xF0:
            return 0x2116;  // numero sign
        case 0xFD:
            return 0xA7;  // section sign
        default:
            return 0x0360 + char32_t{byte};  // 0xA1 is U+0401
    }
}

// The bytes an escape sequence at the start takes: ESC, intermediate bytes, one final byte;
// zero when the sequence is not complete.
std::size_t EscapeLength(std::span<const std::uint8_t> bytes) {
    std::size_t length = 1;
    while (length < bytes.size() && bytes[length] >= 0x20 && bytes[length] <= 0x2F)
        ++length;
    if (length == 1 || length == bytes.size() || bytes[length] < 0x30 || bytes[length] > 0x7E)
        return 0;
    return length + 1;
}

// Applies a designation ("(B", "$B", "-A", ...: the escape sequence without ESC). A set the tool
// does not decode takes its place all the same, so that its bytes become '?' rather than letters
// of the set before; false for a sequence that designates nothing.
bool Designate(std::string_view sequence, GraphicSet& g0, GraphicSet& g1) {
    const std::string_view intermediates = sequence.substr(0, sequence.size() - 1);
    if (intermediates == "(" || intermediates == "$" || intermediates == "$(") {
        g0 = sequence == "(B"                        ? GraphicSet::Ascii
             : sequence == "$B" || sequence == "$(B" ? GraphicSet::JisX0208
                                                     : GraphicSet::Unknown;
        return true;
    }
    if (intermediates == ")" || intermediates == "-" || intermediates == "$)" ||
        intermediates == "$-") {
        g1 = sequence == "-A"   ? GraphicSet::Latin1
             : sequence == "-L" ? GraphicSet::Cyrillic
                                : GraphicSet::Unknown;
        return true;
    }
    return false;
}

class SingleAndDoubleByteDecoder {
  public:
    SingleAndDoubleByteDecoder(std::span<const std::uint8_t> bytes, const CharacterSets& sets)
        : bytes_(bytes), sets_(sets), g0_(sets.g0), g1_(sets.g1) {}

    DecodedText Decode() {
        while (at_ < bytes_.size()) {
            const std::uint8_t byte = bytes_[at_];
            if (byte == kEscape && sets_.codeExtensions) {
                Escape();
            } else if (byte >= kFirstG0 && byte <= kLastG0) {
                GraphicLeft(byte);
            } else if (byte >= kFirstG1) {
                GraphicRight(byte);
            } else {
                output_.Append(byte);  // space; controls become '?'
                ++at_;
            }
        }
        return output_.Take();
    }

  private:
    void Escape() {
        const std::size_t length = EscapeLength(bytes_.subspan(at_));
        if (length == 0) {
            output_.Lose();
            ++at_;
            return;
        }
        const auto sequence = bytes_.subspan(at_ + 1, length - 1);
        if (!Designate({reinterpret_cast<const char*>(sequence.data()), sequence.size()}, g0_, g1_))
            output_.Lose();
        at_ += length;
    }

    void GraphicLeft(std::uint8_t byte) {
        ++at_;
        if (g0_ == GraphicSet::Ascii) {
            output_.Append(byte);
        } else if (g0_ == GraphicSet::JisX0208 && at_ < bytes_.size() && bytes_[at_] >= kFirstG0 &&
                   bytes_[at_] <= kLastG0) {
            output_.Append(JisX0208Character(byte - kSetOffset, bytes_[at_] - kSetOffset));
            ++at_;
        } else {
            output_.Lose();
        }
    }

    void GraphicRight(std::uint8_t byte) {
        ++at_;
        if (g1_ == GraphicSet::Latin1) {
            output_.Append(byte);  // Latin-1's code points are its byte values
        } else if (g1_ == GraphicSet::Cyrillic) {
            output_.Append(CyrillicCharacter(byte));
        } else {
            output_.Lose();
        }
    }

    std::span<const std::uint8_t> bytes_;
    const CharacterSets& sets_;
    GraphicSet g0_;
    GraphicSet g1_;
    std::size_t at_ = 0;
    Output output_;
};

std::string_view WithoutSpaces(std::string_view value) {
    const auto first = value.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

}  // namespace

CharacterSets CharacterSetsNamed(std::string_view value) {
    CharacterSets sets;
    const std::string_view first = WithoutSpaces(value.substr(0, value.find(kValueSeparator)));
    if (first == "ISO_IR 192")
        sets.utf8 = true;
    else if (first == "ISO_IR 100" || first == "ISO 2022 IR 100")
        sets.g1 = GraphicSet::Latin1;
    else if (first == "ISO_IR 144" || first == "ISO 2022 IR 144")
        sets.g1 = GraphicSet::Cyrillic;
    // Code extensions may follow any first value but UTF-8's.
    for (std::string_view rest = value; !sets.utf8;) {
        const auto end = rest.find(kValueSeparator);
        if (WithoutSpaces(rest.substr(0, end)).starts_with(kIso2022Prefix))
            sets.codeExtensions = true;
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return sets;
}

DecodedText DecodeText(std::span<const std::uint8_t> bytes, const CharacterSets& sets) {
    if (sets.utf8)
        return DecodeUtf8Text(bytes);
    return SingleAndDoubleByteDecoder(bytes, sets).Decode();
}

}  // namespace ordovan::dicom
