#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// The main window as designed: caption, client size, and the controls in tab order, with
// positions and sizes in twips (1/1440 inch) relative to the client area.
namespace ordovan::form1 {

inline constexpr std::wstring_view kCaption = L"Copy Ordovan";
inline constexpr int kClientWidthTwips = 3195;
inline constexpr int kClientHeightTwips = 1230;

inline constexpr std::wstring_view kStartCaption = L"Start";
inline constexpr std::wstring_view kStopCaption = L"Stop";
inline constexpr std::wstring_view kDefaultTarget = L"Y:\\";
inline constexpr std::wstring_view kEmptyTargetMessage = L"Bitte geben Sie ein Ziel ein";
inline constexpr std::wstring_view kMessageTitle = L"Kelvorin";

inline constexpr std::int32_t kPollIntervalMs = 15000;

enum class ControlKind : std::uint8_t { PushButton, TextBox, Label };

enum class ControlId : std::uint16_t { cmdStart = 100, txtTarget, lblTarget, lblTest };

struct ControlDesign {
    ControlId id;
    ControlKind kind;
    int left, top, width, height;  // twips
    std::wstring_view text;
};

// Tab order is the order of this table.
inline constexpr std::array kControls{
    ControlDesign{ControlId::cmdStart, ControlKind::PushButton, 240, 720, 1095, 375, kStartCaption},
    ControlDesign{ControlId::txtTarget, ControlKind::TextBox, 600, 240, 2415, 315, kDefaultTarget},
    ControlDesign{ControlId::lblTarget, ControlKind::Label, 240, 285, 375, 255, L"Ziel:"},
    ControlDesign{ControlId::lblTest, ControlKind::Label, 2040, 840, 1095, 255, L"Test"},
};

inline constexpr int kTwipsPerInch = 1440;

// Twips to pixels at the given dots per inch, rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) {
    return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

}  // namespace ordovan::form1
