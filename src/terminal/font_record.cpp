#include "terminal/font_record.h"

#include <array>

#include "terminal/settings_file.h"

namespace corvel {

void ReadFontSettings(const tIniFile& ini, std::string_view section, FontRecord& font) {
    font.name = ini.ReadString(section, "Name", font.name);
    font.charSet = ini.ReadInteger(section, "CharSet", font.charSet) & 0xFF;
    font.color = ini.ReadInteger(section, "Color", font.color);
    const std::int32_t size = ini.ReadInteger(section, "Size", font.size);
    if (size >= 1 && size <= 1000) font.size = size;
    font.style = ini.ReadInteger(section, "Style", font.style) & 0x0F;
}

void WriteFontSettings(tIniFile& ini, std::string_view section, const FontRecord& font) {
    ini.Update([&] {
        ini.WriteString(section, "Name", font.name);
        ini.WriteInteger(section, "CharSet", font.charSet & 0xFF);
        ini.WriteInteger(section, "Color", font.color);
        ini.WriteInteger(section, "Size", font.size);
        ini.WriteInteger(section, "Style", font.style & 0x0F);
    });
}

namespace {

// Indices 0..30 of the system colours, 0xRRGGBB, with the current Windows defaults.
constexpr std::array<std::uint32_t, 31> kSystemPalette = {
    0xC8C8C8,  // 0 scroll bar
    0x000000,  // 1 desktop
    0x99B4D1,  // 2 active caption
    0xBFCDDB,  // 3 inactive caption
    0xF0F0F0,  // 4 menu
    0xFFFFFF,  // 5 window background
    0x646464,  // 6 window frame
    0x000000,  // 7 menu text
    0x000000,  // 8 window text
    0x000000,  // 9 caption text
    0xB4B4B4,  // 10 active border
    0xF4F7FC,  // 11 inactive border
    0xABABAB,  // 12 application workspace
    0x0078D7,  // 13 highlight
    0xFFFFFF,  // 14 highlight text
    0xF0F0F0,  // 15 button face
    0xA0A0A0,  // 16 button shadow
    0x6D6D6D,  // 17 grey text
    0x000000,  // 18 button text
    0x000000,  // 19 inactive caption text
    0xFFFFFF,  // 20 button highlight
    0x696969,  // 21 3D dark shadow
    0xE3E3E3,  // 22 3D light
    0x000000,  // 23 tool tip text
    0xFFFFE1,  // 24 tool tip background
    0x000000,  // 25 (unused)
    0x0066CC,  // 26 hot-tracked item
    0xB9D1EA,  // 27 active caption gradient
    0xD7E4F2,  // 28 inactive caption gradient
    0x3399FF,  // 29 menu highlight
    0xF0F0F0,  // 30 menu bar
};

}  // namespace

bool IsSystemColor(std::int32_t color) {
    return (static_cast<std::uint32_t>(color) >> 24) == 0xFF;
}

Rgb ColorToRgb(std::int32_t color) {
    const auto bits = static_cast<std::uint32_t>(color);
    if (IsSystemColor(color)) {
        const std::uint32_t index = bits & 0xFF;
        if (index >= kSystemPalette.size()) return {};
        const std::uint32_t rgb = kSystemPalette[index];
        return {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                static_cast<std::uint8_t>(rgb)};
    }
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16)};
}

std::int32_t RgbToColor(Rgb rgb) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(rgb.r) |
                                     (static_cast<std::uint32_t>(rgb.g) << 8) |
                                     (static_cast<std::uint32_t>(rgb.b) << 16));
}

}  // namespace corvel
