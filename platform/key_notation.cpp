#include "platform/key_notation.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cwctype>
#include <string>

#include "platform/failure.h"

namespace ordovan {
namespace {

struct NamedKey {
    std::wstring_view name;
    std::uint16_t virtualKey;
};

constexpr std::array kNamedKeys = {
    NamedKey{L"BACKSPACE", VK_BACK},    NamedKey{L"BS", VK_BACK},
    NamedKey{L"BKSP", VK_BACK},         NamedKey{L"BREAK", VK_CANCEL},
    NamedKey{L"CAPSLOCK", VK_CAPITAL},  NamedKey{L"DELETE", VK_DELETE},
    NamedKey{L"DEL", VK_DELETE},        NamedKey{L"DOWN", VK_DOWN},
    NamedKey{L"END", VK_END},           NamedKey{L"ENTER", VK_RETURN},
    NamedKey{L"ESC", VK_ESCAPE},        NamedKey{L"HELP", VK_HELP},
    NamedKey{L"HOME", VK_HOME},         NamedKey{L"INSERT", VK_INSERT},
    NamedKey{L"INS", VK_INSERT},        NamedKey{L"LEFT", VK_LEFT},
    NamedKey{L"NUMLOCK", VK_NUMLOCK},   NamedKey{L"PGDN", VK_NEXT},
    NamedKey{L"PGUP", VK_PRIOR},        NamedKey{L"PRTSC", VK_SNAPSHOT},
    NamedKey{L"RIGHT", VK_RIGHT},       NamedKey{L"SCROLLLOCK", VK_SCROLL},
    NamedKey{L"TAB", VK_TAB},           NamedKey{L"UP", VK_UP},
    NamedKey{L"ADD", VK_ADD},           NamedKey{L"SUBTRACT", VK_SUBTRACT},
    NamedKey{L"MULTIPLY", VK_MULTIPLY}, NamedKey{L"DIVIDE", VK_DIVIDE},
};

constexpr int kFunctionKeyCount = 16;
// Keeps a typing slip such as "{TAB 10000}" from flooding the receiving application.
constexpr std::size_t kMaxRepeatDigits = 3;

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) {
        return std::towupper(static_cast<wint_t>(x)) == std::towupper(static_cast<wint_t>(y));
    });
}

// "F1" .. "F16"; 0 for any other name.
std::uint16_t FunctionKey(std::wstring_view name) {
    for (int number = 1; number <= kFunctionKeyCount; ++number) {
        if (EqualsIgnoringCase(name, L"F" + std::to_wstring(number))) {
            return static_cast<std::uint16_t>(VK_F1 + number - 1);
        }
    }
    return 0;
}

// 0 for a name the notation does not know.
std::uint16_t VirtualKeyNamed(std::wstring_view name) {
    const auto named = std::ranges::find_if(
        kNamedKeys, [name](const NamedKey& key) { return EqualsIgnoringCase(key.name, name); });
    return named != kNamedKeys.end() ? named->virtualKey : FunctionKey(name);
}

bool IsModifier(wchar_t c) {
    return c == L'+' || c == L'^' || c == L'%';
}

class Parser {
  public:
    explicit Parser(std::wstring_view keys) : keys_(keys) {}

    std::vector<KeyStroke> ParseAll() {
        std::vector<KeyStroke> strokes;
        while (!AtEnd()) {
            if (Peek() == L')') {
                Fail(L"Schlie\u00dfende Klammer ) ohne \u00f6ffnende", pos_);
            }
            Append(strokes, ParseItem());
        }
        return strokes;
    }

  private:
    bool AtEnd() const { return pos_ >= keys_.size(); }
    // L'\0' past the end, so that look-ahead needs no bounds check of its own.
    wchar_t At(std::size_t position) const {
        return position < keys_.size() ? keys_[position] : L'\0';
    }
    wchar_t Peek() const { return At(pos_); }

    [[noreturn]] void Fail(std::wstring_view fault, std::size_t position) const {
        throw Failure(kInvalidKeyStringNumber,
                      std::wstring(fault) + L" an Stelle " + std::to_wstring(position + 1));
    }

    static void Append(std::vector<KeyStroke>& to, const std::vector<KeyStroke>& more) {
        to.insert(to.end(), more.begin(), more.end());
    }

    // Modifiers, then the key, brace group or parenthesised group they are held over.
    std::vector<KeyStroke> ParseItem() {
        KeyStroke held;
        for (; IsModifier(Peek()); ++pos_) {
            held.shift |= Peek() == L'+';
            held.control |= Peek() == L'^';
            held.alt |= Peek() == L'%';
        }
        if (AtEnd() || Peek() == L')') {
            Fail(std::wstring(L"Zusatztaste ") + At(pos_ - 1) + L" ohne folgende Taste", pos_ - 1);
        }
        std::vector<KeyStroke> strokes = ParseKey();
        for (KeyStroke& stroke : strokes) {
            stroke.shift |= held.shift;
            stroke.control |= held.control;
            stroke.alt |= held.alt;
        }
        return strokes;
    }

    std::vector<KeyStroke> ParseKey() {
        const wchar_t c = Peek();
        if (c == L'{') {
            return ParseBrace();
        }
        if (c == L'(') {
            return ParseGroup();
        }
        if (c == L'}') {
            Fail(L"Schlie\u00dfende Klammer } ohne \u00f6ffnende", pos_);
        }
        ++pos_;
        if (c == L'~') {
            return {KeyStroke{.virtualKey = VK_RETURN}};
        }
        return {KeyStroke{.kind = KeyStroke::Kind::Character, .character = c}};
    }

    std::vector<KeyStroke> ParseGroup() {
        const std::size_t open = pos_++;
        std::vector<KeyStroke> strokes;
        while (!AtEnd() && Peek() != L')') {
            Append(strokes, ParseItem());
        }
        if (AtEnd()) {
            Fail(L"Fehlende schlie\u00dfende Klammer ) zur Klammer", open);
        }
        if (strokes.empty()) {
            Fail(L"Leere Klammer ()", open);
        }
        ++pos_;
        return strokes;
    }

    // "{NAME}", "{c}", or either with a repeat count: "{NAME n}".
    std::vector<KeyStroke> ParseBrace() {
        const std::size_t open = pos_++;
        const std::wstring_view name = ReadBraceName(open);
        const int count = Peek() == L' ' ? ReadRepeatCount(open) : 1;
        if (AtEnd()) {
            Fail(L"Fehlende schlie\u00dfende Klammer } zur Klammer", open);
        }
        ++pos_;
        return std::vector<KeyStroke>(static_cast<std::size_t>(count), BraceKey(name, open));
    }

    // The first character after the brace always belongs to the name, so that "{}}", "{{}" and
    // "{ }" name those characters.
    std::wstring_view ReadBraceName(std::size_t open) {
        if (Peek() == L'}' && At(pos_ + 1) != L'}' && At(pos_ + 1) != L' ') {
            Fail(L"Leere Klammer {}", open);
        }
        const std::size_t start = pos_;
        if (!AtEnd()) {
            ++pos_;
        }
        while (!AtEnd() && Peek() != L' ' && Peek() != L'}') {
            ++pos_;
        }
        return keys_.substr(start, pos_ - start);
    }

    int ReadRepeatCount(std::size_t open) {
        const std::size_t start = ++pos_;
        while (!AtEnd() && Peek() != L'}') {
            ++pos_;
        }
        const std::wstring_view digits = keys_.substr(start, pos_ - start);
        const bool readable =
            !digits.empty() && digits.size() <= kMaxRepeatDigits &&
            std::ranges::all_of(digits, [](wchar_t c) { return c >= L'0' && c <= L'9'; });
        int count = 0;
        for (const wchar_t c : digits) {
            count = readable ? count * 10 + (c - L'0') : 0;
        }
        if (count < 1) {
            Fail(L"Ung\u00fcltige Anzahl \"" + std::wstring(digits) + L"\" in Klammer", open);
        }
        return count;
    }

    KeyStroke BraceKey(std::wstring_view name, std::size_t open) const {
        if (name.size() == 1) {
            return {.kind = KeyStroke::Kind::Character, .character = name[0]};
        }
        const std::uint16_t virtualKey = VirtualKeyNamed(name);
        if (virtualKey == 0) {
            Fail(L"Unbekannte Taste {" + std::wstring(name) + L"}", open);
        }
        return {.virtualKey = virtualKey};
    }

    std::wstring_view keys_;
    std::size_t pos_ = 0;
};

}  // namespace

// An empty key string types nothing; that is not a fault.
std::vector<KeyStroke> ParseKeyString(std::wstring_view keys) {
    return Parser(keys).ParseAll();
}

}  // namespace ordovan
