#pragma once
// The look of received text as a board's ANSI sequences set it: colours of text and background
// and a few attributes, per character, kept beside a line's text as runs.

#include <cstdint>
#include <string_view>
#include <vector>

#include "terminal/font_record.h"

namespace corvel {

// A colour as a sequence names it: the window's own (0), one of the 256 indexed colours, or an
// RGB value.
using TermColor = std::uint32_t;
inline constexpr TermColor kTermDefault = 0;
inline constexpr TermColor kTermIndexed = 0x01000000;  // | index 0..255
inline constexpr TermColor kTermRgb = 0x02000000;      // | 0xRRGGBB

enum TermAttr : std::uint8_t {
    kTermBold = 1,
    kTermFaint = 2,
    kTermItalic = 4,
    kTermUnderline = 8,
    kTermInverse = 16,
};

struct TermStyle {
    TermColor fg = kTermDefault;
    TermColor bg = kTermDefault;
    std::uint8_t attrs = 0;

    bool IsDefault() const { return fg == kTermDefault && bg == kTermDefault && attrs == 0; }
    bool operator==(const TermStyle&) const = default;
};

// A stretch of a line in one style; start and length count UTF-16 units of the line's text as
// the window shows it (characters, for text without characters beyond U+FFFF).
struct StyleRun {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    TermStyle style;
    bool operator==(const StyleRun&) const = default;
};

// The runs of one line in order, without gaps in default style (those are simply left out).
using LineStyle = std::vector<StyleRun>;

// Applies the parameters of one SGR sequence ("1;31", "38;5;208", "" for a reset) to style.
// Unknown parameters are skipped; a parameter list that ends early leaves the colour it was
// naming as it was.
void ApplySgr(std::string_view params, TermStyle& style);

// The RGB value of an indexed colour: the 16 standard and bright colours, the 6x6x6 cube and
// the 24 greys.
Rgb IndexedColor(int index);
// Of any colour but the default.
Rgb ResolveColor(TermColor color);

}  // namespace corvel
