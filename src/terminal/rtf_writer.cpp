#include "terminal/rtf_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "host/codepage.h"

namespace corvel {
namespace {

void AppendHexByte(std::string& out, unsigned char b) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\'";
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
}

// \uN takes a signed 16-bit number; the "?" after it is what readers without Unicode show.
void AppendUnicodeUnit(std::string& out, std::uint16_t unit) {
    out += "\\u";
    out += std::to_string(static_cast<std::int16_t>(unit));
    out += '?';
}

void AppendText(std::string& out, std::string_view utf8) {
    for (const char32_t cp : DecodeUtf8(utf8)) {
        if (cp == U'\\' || cp == U'{' || cp == U'}') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == U'\t') {
            out += "\\tab ";
        } else if (cp < 0x20 || cp == 0x7F) {
            AppendHexByte(out, static_cast<unsigned char>(cp));
        } else if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (const unsigned char b = CodePointToAnsi(cp); b != '?') {
            AppendHexByte(out, b);
        } else if (cp <= 0xFFFF) {
            AppendUnicodeUnit(out, static_cast<std::uint16_t>(cp));
        } else {
            const char32_t v = cp - 0x10000;
            AppendUnicodeUnit(out, static_cast<std::uint16_t>(0xD800 + (v >> 10)));
            AppendUnicodeUnit(out, static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
        }
    }
}

// Inside the font table a ";" would end the name early.
std::string FontNameText(const std::string& name) {
    std::string clean;
    for (const char c : name) {
        if (c != ';') clean += c;
    }
    if (clean.empty()) clean = "Tahoma";
    std::string out;
    AppendText(out, clean);
    return out;
}

struct Style {
    int color = 0;       // 0: not chosen yet, so the first run always names its colour
    int background = 0;  // 0: the page's own
    bool bold = false, italic = false, underline = false, strike = false;
};

}  // namespace

int RtfCodePage() {
    return static_cast<int>(AnsiCodePage());
}

std::string WriteRtf(const std::vector<RtfLine>& lines, const RtfDocumentFont& font) {
    std::vector<Rgb> colors;
    auto colorIndex = [&](const Rgb& c) {
        const auto it = std::find(colors.begin(), colors.end(), c);
        if (it != colors.end()) return static_cast<int>(it - colors.begin()) + 1;
        colors.push_back(c);
        return static_cast<int>(colors.size());
    };
    // The table comes before the text, so the indices are found first.
    for (const RtfLine& line : lines) {
        for (const RtfRun& run : line) {
            colorIndex(run.color);
            if (run.background) colorIndex(*run.background);
        }
    }

    const int halfPoints = std::clamp(font.sizePoints, 1, 1000) * 2;
    std::string out;
    out += "{\\rtf1\\ansi\\ansicpg" + std::to_string(RtfCodePage()) + "\\deff0";
    out += "{\\fonttbl{\\f0\\fnil\\fcharset0 " + FontNameText(font.name) + ";}}\r\n";
    out += "{\\colortbl ;";
    for (const Rgb& c : colors) {
        out += "\\red" + std::to_string(c.r) + "\\green" + std::to_string(c.g) + "\\blue" +
               std::to_string(c.b) + ";";
    }
    out += "}\r\n";
    out += "\\viewkind4\\uc1\\pard\\f0\\fs" + std::to_string(halfPoints) + "\r\n";

    Style now;
    for (const RtfLine& line : lines) {
        for (const RtfRun& run : line) {
            std::string words;
            const int color = colorIndex(run.color);
            if (color != now.color) words += "\\cf" + std::to_string(color);
            // Word processors read \highlight, other readers \cb: both name the same entry.
            const int background = run.background ? colorIndex(*run.background) : 0;
            if (background != now.background) {
                const std::string n = std::to_string(background);
                words += "\\highlight" + n + "\\cb" + n;
            }
            if (run.bold != now.bold) words += run.bold ? "\\b" : "\\b0";
            if (run.italic != now.italic) words += run.italic ? "\\i" : "\\i0";
            if (run.underline != now.underline) words += run.underline ? "\\ul" : "\\ulnone";
            if (run.strike != now.strike) words += run.strike ? "\\strike" : "\\strike0";
            now = {color, background, run.bold, run.italic, run.underline, run.strike};
            // The blank ends the last control word and is not part of the text.
            if (!words.empty()) out += words + ' ';
            AppendText(out, run.text);
        }
        out += "\\par\r\n";
    }
    out += "}\r\n";
    return out;
}

}  // namespace corvel
