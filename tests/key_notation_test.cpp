#include "platform/key_notation.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/failure.h"

namespace ordovan {

// Readable failure output for the stroke lists below.
void PrintTo(const KeyStroke& stroke, std::ostream* out) {
    *out << (stroke.shift ? "+" : "") << (stroke.control ? "^" : "") << (stroke.alt ? "%" : "");
    if (stroke.kind == KeyStroke::Kind::Character) {
        *out << "char " << static_cast<unsigned>(stroke.character);
    } else {
        *out << "vk " << stroke.virtualKey;
    }
}

namespace {

struct Held {
    bool shift = false;
    bool control = false;
    bool alt = false;
};

KeyStroke Key(std::uint16_t virtualKey, Held held = {}) {
    return {
        .virtualKey = virtualKey, .shift = held.shift, .control = held.control, .alt = held.alt};
}

KeyStroke Char(wchar_t character, Held held = {}) {
    return {.kind = KeyStroke::Kind::Character,
            .character = character,
            .shift = held.shift,
            .control = held.control,
            .alt = held.alt};
}

using Strokes = std::vector<KeyStroke>;

TEST(KeyNotation, ReadsEverySequenceTheToolSends) {
    EXPECT_EQ(ParseKeyString(L"{F2}"), Strokes{Key(VK_F2)});
    EXPECT_EQ(ParseKeyString(L"{TAB}"), Strokes{Key(VK_TAB)});
    EXPECT_EQ(ParseKeyString(L"{ENTER}"), Strokes{Key(VK_RETURN)});
    EXPECT_EQ(ParseKeyString(L"{HOME}"), Strokes{Key(VK_HOME)});
    EXPECT_EQ(ParseKeyString(L"+{END}"), Strokes{Key(VK_END, {.shift = true})});
    EXPECT_EQ(ParseKeyString(L"%{F}"), Strokes{Char(L'F', {.alt = true})});
    EXPECT_EQ(ParseKeyString(L"{A}"), Strokes{Char(L'A')});
    EXPECT_EQ(ParseKeyString(L"{DOWN}"), Strokes{Key(VK_DOWN)});
}

TEST(KeyNotation, NamedKeysIgnoreCaseAndAcceptTheirShortNames) {
    EXPECT_EQ(ParseKeyString(L"{enter}{Tab}{eSc}"),
              (Strokes{Key(VK_RETURN), Key(VK_TAB), Key(VK_ESCAPE)}));
    EXPECT_EQ(ParseKeyString(L"{BACKSPACE}{BS}{bksp}"),
              (Strokes{Key(VK_BACK), Key(VK_BACK), Key(VK_BACK)}));
    EXPECT_EQ(ParseKeyString(L"{DELETE}{del}{INSERT}{ins}"),
              (Strokes{Key(VK_DELETE), Key(VK_DELETE), Key(VK_INSERT), Key(VK_INSERT)}));
    EXPECT_EQ(ParseKeyString(L"{PGUP}{PGDN}{PRTSC}{BREAK}"),
              (Strokes{Key(VK_PRIOR), Key(VK_NEXT), Key(VK_SNAPSHOT), Key(VK_CANCEL)}));
    EXPECT_EQ(ParseKeyString(L"{CAPSLOCK}{NUMLOCK}{SCROLLLOCK}{HELP}"),
              (Strokes{Key(VK_CAPITAL), Key(VK_NUMLOCK), Key(VK_SCROLL), Key(VK_HELP)}));
    EXPECT_EQ(ParseKeyString(L"{ADD}{SUBTRACT}{MULTIPLY}{DIVIDE}"),
              (Strokes{Key(VK_ADD), Key(VK_SUBTRACT), Key(VK_MULTIPLY), Key(VK_DIVIDE)}));
    EXPECT_EQ(ParseKeyString(L"{F1}{f9}{F10}{F16}"),
              (Strokes{Key(VK_F1), Key(VK_F9), Key(VK_F10), Key(VK_F16)}));
}

TEST(KeyNotation, BracesTypeTheCharactersTheNotationOtherwiseReserves) {
    EXPECT_EQ(ParseKeyString(L"{+}{^}{%}{~}"),
              (Strokes{Char(L'+'), Char(L'^'), Char(L'%'), Char(L'~')}));
    EXPECT_EQ(ParseKeyString(L"{(}{)}{{}{}}"),
              (Strokes{Char(L'('), Char(L')'), Char(L'{'), Char(L'}')}));
    EXPECT_EQ(ParseKeyString(L"{f}{ }"), (Strokes{Char(L'f'), Char(L' ')}));
}

TEST(KeyNotation, PlainCharactersTypeThemselvesAndTildeIsEnter) {
    EXPECT_EQ(ParseKeyString(L"a1 \u00e4"),
              (Strokes{Char(L'a'), Char(L'1'), Char(L' '), Char(L'\u00e4')}));
    EXPECT_EQ(ParseKeyString(L"x~"), (Strokes{Char(L'x'), Key(VK_RETURN)}));
}

TEST(KeyNotation, ModifiersAreHeldOverTheNextKeyOrGroupOnly) {
    EXPECT_EQ(ParseKeyString(L"^ca"), (Strokes{Char(L'c', {.control = true}), Char(L'a')}));
    EXPECT_EQ(ParseKeyString(L"+^%{TAB}"),
              Strokes{Key(VK_TAB, {.shift = true, .control = true, .alt = true})});
    EXPECT_EQ(ParseKeyString(L"+(ab)c"),
              (Strokes{Char(L'a', {.shift = true}), Char(L'b', {.shift = true}), Char(L'c')}));
    EXPECT_EQ(ParseKeyString(L"^(a+b)"), (Strokes{Char(L'a', {.control = true}),
                                                  Char(L'b', {.shift = true, .control = true})}));
    EXPECT_EQ(ParseKeyString(L"%(f(~))"),
              (Strokes{Char(L'f', {.alt = true}), Key(VK_RETURN, {.alt = true})}));
}

TEST(KeyNotation, RepeatCountTypesTheKeyThatOften) {
    EXPECT_EQ(ParseKeyString(L"{TAB 3}"), (Strokes{Key(VK_TAB), Key(VK_TAB), Key(VK_TAB)}));
    EXPECT_EQ(ParseKeyString(L"{x 2}"), (Strokes{Char(L'x'), Char(L'x')}));
    EXPECT_EQ(ParseKeyString(L"{} 2}"), (Strokes{Char(L'}'), Char(L'}')}));
    EXPECT_EQ(ParseKeyString(L"+{DOWN 2}"),
              (Strokes{Key(VK_DOWN, {.shift = true}), Key(VK_DOWN, {.shift = true})}));
    EXPECT_EQ(ParseKeyString(L"{LEFT 999}").size(), 999u);
}

TEST(KeyNotation, EmptyKeyStringTypesNothing) {
    EXPECT_TRUE(ParseKeyString(L"").empty());
}

// Every malformed string fails with the parameter error and a description that names the fault
// and where it starts (1-based).
TEST(KeyNotation, RejectsMalformedKeyStringsNamingFaultAndPosition) {
    const struct {
        const wchar_t* keys;
        const wchar_t* description;
    } cases[] = {
        {L"{F99}", L"Unbekannte Taste {F99} an Stelle 1"},
        {L"ab{F17}", L"Unbekannte Taste {F17} an Stelle 3"},
        {L"{ENTERX}", L"Unbekannte Taste {ENTERX} an Stelle 1"},
        {L"ab{TAB", L"Fehlende schlie\u00dfende Klammer } zur Klammer an Stelle 3"},
        {L"{", L"Fehlende schlie\u00dfende Klammer } zur Klammer an Stelle 1"},
        {L"{TAB 2", L"Fehlende schlie\u00dfende Klammer } zur Klammer an Stelle 1"},
        {L"{}", L"Leere Klammer {} an Stelle 1"},
        {L"a{}b", L"Leere Klammer {} an Stelle 2"},
        {L"()", L"Leere Klammer () an Stelle 1"},
        {L"+", L"Zusatztaste + ohne folgende Taste an Stelle 1"},
        {L"a+^", L"Zusatztaste ^ ohne folgende Taste an Stelle 3"},
        {L"(a%)", L"Zusatztaste % ohne folgende Taste an Stelle 3"},
        {L"(ab", L"Fehlende schlie\u00dfende Klammer ) zur Klammer an Stelle 1"},
        {L"x(a(b)", L"Fehlende schlie\u00dfende Klammer ) zur Klammer an Stelle 2"},
        {L"ab)", L"Schlie\u00dfende Klammer ) ohne \u00f6ffnende an Stelle 3"},
        {L"a}", L"Schlie\u00dfende Klammer } ohne \u00f6ffnende an Stelle 2"},
        {L"{TAB x}", L"Ung\u00fcltige Anzahl \"x\" in Klammer an Stelle 1"},
        {L"{TAB 0}", L"Ung\u00fcltige Anzahl \"0\" in Klammer an Stelle 1"},
        {L"{TAB }", L"Ung\u00fcltige Anzahl \"\" in Klammer an Stelle 1"},
        {L"{TAB 1000}", L"Ung\u00fcltige Anzahl \"1000\" in Klammer an Stelle 1"},
        {L"{TAB -1}", L"Ung\u00fcltige Anzahl \"-1\" in Klammer an Stelle 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "key string " << std::wstring(c.keys));
        try {
            ParseKeyString(c.keys);
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.Number(), kInvalidKeyStringNumber);
            EXPECT_EQ(failure.Number(), 87);
            EXPECT_EQ(failure.Description(), c.description);
        }
    }
}

}  // namespace
}  // namespace ordovan
