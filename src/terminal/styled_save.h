#pragma once
// The receive window's lines as the saves write them: the characters the window shows (bytes as
// Latin-1, or UTF-8 read leniently) and, for a save with formatting, the colours and attributes a
// board's sequences gave them.

#include <string>
#include <string_view>

#include "terminal/rtf_writer.h"
#include "terminal/text_style.h"

namespace corvel {

// The line's characters as UTF-8, the way the window shows them.
std::string ShownText(std::string_view line, bool utf8);

// What a character without a style of its own looks like: the window's font and colours.
struct BaseLook {
    Rgb text;
    Rgb window;  // the background, which inverse and faint text are worked out against
    bool bold = false, italic = false, underline = false, strike = false;
};

// One run per stretch of one style, in order; an empty line gives no run.
RtfLine StyledRuns(std::string_view line, bool utf8, const LineStyle& style, const BaseLook& base);

}  // namespace corvel
