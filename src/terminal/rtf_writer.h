#pragma once
// A small Rich Text Format writer for saving a text window with its colours: one font, a colour
// table, and lines of coloured, styled runs. The document opens in word processors and in the
// usual rich-text boxes.
//
// Text is written in the system's 8-bit code page (the same one as saved plain text): ASCII as
// it is with \ { } escaped, other characters of the code page as \'hh, characters the code page
// lacks as \uN? (UTF-16 units, so a reader without Unicode support shows "?").

#include <optional>
#include <string>
#include <vector>

#include "terminal/font_record.h"

namespace corvel {

struct RtfRun {
    std::string text;  // UTF-8; a tab becomes \tab, other control characters \'hh
    Rgb color;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    std::optional<Rgb> background = std::nullopt;  // none: the page's own
};

using RtfLine = std::vector<RtfRun>;

struct RtfDocumentFont {
    std::string name = "Tahoma";  // UTF-8
    int sizePoints = 9;           // kept within 1..1000, like the settings file's fonts
};

// The whole document: header, font table, colour table (each colour once, in order of first
// use, referenced as 1, 2...), then every line as its runs followed by \par. Source lines end in
// CR LF.
std::string WriteRtf(const std::vector<RtfLine>& lines, const RtfDocumentFont& font);

// The number of the code page the text is written in (for \ansicpg).
int RtfCodePage();

}  // namespace corvel
