#pragma once
// Fonts and colours as the settings file stores them.
//
// A colour is a 32-bit integer: high byte 0 is an RGB colour laid out 0x00BBGGRR (red lowest);
// high byte 0xFF names a system colour by the index in its low byte (0xFF000005, -16777211, is
// the window background; 0xFF000008 the window text).

#include <cstdint>
#include <string>
#include <string_view>

namespace corvel {

class tIniFile;

inline constexpr std::int32_t kColorRed = 255;
inline constexpr std::int32_t kColorYellow = 65535;
inline constexpr std::int32_t kColorBlue = 16711680;
inline constexpr std::int32_t kColorAqua = 16776960;
inline constexpr std::int32_t kColorSystemWindow = -16777211;      // 0xFF000005
inline constexpr std::int32_t kColorSystemWindowText = -16777208;  // 0xFF000008

enum FontStyle : int { kFontBold = 1, kFontItalic = 2, kFontUnderline = 4, kFontStrikeOut = 8 };

struct FontRecord {
    std::string name = "Tahoma";
    int charSet = 0;  // 0 ANSI, 1 default
    std::int32_t color = kColorSystemWindowText;
    int size = 12;  // points
    int style = 0;  // FontStyle bits

    bool operator==(const FontRecord&) const = default;
};

// Fills font from the section's "Name", "CharSet", "Color", "Size" and "Style"; a missing key (or
// one that is not a number) leaves that attribute as it was. CharSet keeps its low 8 bits, Style
// only the four style bits. A size outside 1..1000 points is ignored too: such a font cannot be
// shown and could stall the text layout.
void ReadFontSettings(const tIniFile& ini, std::string_view section, FontRecord& font);
// Writes the five keys in that order.
void WriteFontSettings(tIniFile& ini, std::string_view section, const FontRecord& font);

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// The colour to paint: system colours come from a fixed palette of the usual Windows defaults
// (5 window = white, 8 window text = black...); an unknown system index gives black. Any other
// high byte is ignored and the low 24 bits are taken as RGB.
Rgb ColorToRgb(std::int32_t color);
std::int32_t RgbToColor(Rgb rgb);
bool IsSystemColor(std::int32_t color);

}  // namespace corvel
