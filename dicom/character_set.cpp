#include "dicom/character_set.h"

namespace ordovan::dicom {

namespace {

constexpr wchar_t kUnreadable = L'?';
constexpr std::uint8_t kFirstNonAscii = 0x80;

void AppendCodePoint(std::wstring& text, char32_t codePoint) {
    if (codePoint < 0x10000) {
        text += static_cast<wchar_t>(codePoint);
        return;
    }
    // UTF-16 on every platform, as on Windows, where the text ends up.
    const char32_t offset = codePoint - 0x10000;
    text += static_cast<wchar_t>(0xD800 + (offset >> 10));
    text += static_cast<wchar_t>(0xDC00 + (offset & 0x3FF));
}

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

std::wstring DecodeUtf8Text(std::span<const std::uint8_t> bytes) {
    std::wstring text;
    while (!bytes.empty()) {
        char32_t codePoint = 0;
        const std::size_t used = DecodeUtf8(bytes, codePoint);
        if (used == 0) {
            text += kUnreadable;
            bytes = bytes.subspan(1);
            continue;
        }
        AppendCodePoint(text, codePoint);
        bytes = bytes.subspan(used);
    }
    return text;
}

}  // namespace

CharacterSet CharacterSetNamed(std::string_view term) {
    if (term == "ISO_IR 100")
        return CharacterSet::Latin1;
    if (term == "ISO_IR 192")
        return CharacterSet::Utf8;
    return CharacterSet::Ascii;
}

std::wstring DecodeText(std::span<const std::uint8_t> bytes, CharacterSet set) {
    if (set == CharacterSet::Utf8)
        return DecodeUtf8Text(bytes);
    std::wstring text;
    text.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) {
        // Latin-1's code points are its byte values.
        const bool defined = byte < kFirstNonAscii || set == CharacterSet::Latin1;
        text += defined ? static_cast<wchar_t>(byte) : kUnreadable;
    }
    return text;
}

}  // namespace ordovan::dicom
