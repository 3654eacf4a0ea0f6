#include "terminal/styled_save.h"

#include <vector>

#include "host/codepage.h"
#include "terminal/rx_rich_line.h"

namespace corvel {
namespace {

std::vector<char32_t> ShownChars(std::string_view line, bool utf8) {
    if (utf8) return DecodeUtf8Lenient(line);
    std::vector<char32_t> chars;
    chars.reserve(line.size());
    for (const char c : line) chars.push_back(static_cast<unsigned char>(c));
    return chars;
}

RtfRun RunOf(const TermStyle& style, const BaseLook& base) {
    RtfRun run;
    Rgb fg = style.fg == kTermDefault ? base.text : ResolveColor(style.fg);
    std::optional<Rgb> bg;
    if (style.bg != kTermDefault) bg = ResolveColor(style.bg);
    if (style.attrs & kTermInverse) {
        const Rgb back = bg.value_or(base.window);
        bg = fg;
        fg = back;
    }
    if (style.attrs & kTermFaint) {
        const Rgb under = bg.value_or(base.window);
        fg = Rgb{static_cast<std::uint8_t>((fg.r + under.r) / 2),
                 static_cast<std::uint8_t>((fg.g + under.g) / 2),
                 static_cast<std::uint8_t>((fg.b + under.b) / 2)};
    }
    run.color = fg;
    run.background = bg;
    run.bold = base.bold || (style.attrs & kTermBold);
    run.italic = base.italic || (style.attrs & kTermItalic);
    run.underline = base.underline || (style.attrs & kTermUnderline);
    run.strike = base.strike;
    return run;
}

}  // namespace

std::string ShownText(std::string_view line, bool utf8) {
    if (!utf8) return Latin1ToUtf8(line);
    std::string out;
    out.reserve(line.size());
    for (const char32_t c : DecodeUtf8Lenient(line)) AppendUtf8(out, c);
    return out;
}

RtfLine StyledRuns(std::string_view line, bool utf8, const LineStyle& style, const BaseLook& base) {
    RtfLine runs;
    const std::vector<char32_t> chars = ShownChars(line, utf8);
    // Runs count UTF-16 units, as the window lays the text out.
    std::uint32_t unit = 0;
    std::size_t next = 0;  // the first style run that may still cover a character
    TermStyle current;
    bool open = false;
    for (const char32_t c : chars) {
        while (next < style.size() && style[next].start + style[next].length <= unit) ++next;
        TermStyle here;
        if (next < style.size() && style[next].start <= unit) here = style[next].style;
        if (!open || !(here == current)) {
            runs.push_back(RunOf(here, base));
            current = here;
            open = true;
        }
        AppendUtf8(runs.back().text, c);
        unit += c > 0xFFFF ? 2 : 1;
    }
    return runs;
}

}  // namespace corvel
