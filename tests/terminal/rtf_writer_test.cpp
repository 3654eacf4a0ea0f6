// The RTF writer, checked by reading its output back with a small RTF reader: groups balance,
// the colour table and the runs' colours agree, and the text survives every escape.
#include "terminal/rtf_writer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host/codepage.h"
#include "terminal/styled_save.h"

namespace corvel {
namespace {

// --- A reader for the part of RTF the writer uses ---

struct ReadRun {
    std::string text;  // UTF-8
    Rgb color;
    bool bold = false, italic = false, underline = false, strike = false;
    bool operator==(const ReadRun&) const = default;
};

void PrintTo(const ReadRun& r, std::ostream* os) {
    *os << "{\"" << r.text << "\" rgb(" << int(r.color.r) << "," << int(r.color.g) << ","
        << int(r.color.b) << ")" << (r.bold ? " b" : "") << (r.italic ? " i" : "")
        << (r.underline ? " ul" : "") << (r.strike ? " s" : "") << "}";
}

struct ReadDocument {
    std::string error;  // empty when the document is well formed
    std::string fontName;
    int halfPoints = 0;
    int codePage = 0;
    std::vector<Rgb> colors;  // the table without its automatic first entry
    std::vector<std::vector<ReadRun>> lines;
};

ReadDocument ReadRtf(const std::string& rtf) {
    ReadDocument doc;
    struct State {
        int cf = 0;
        bool b = false, i = false, ul = false, strike = false;
        enum Dest { Text, FontTable, ColorTable, Skip } dest = Text;
    };
    std::vector<State> stack;
    std::vector<ReadRun> line;
    int skipFallback = 0;  // characters after \uN that stand in for it
    char16_t highSurrogate = 0;
    Rgb pending;
    std::size_t pos = 0;

    auto fail = [&](const std::string& why) {
        if (doc.error.empty()) doc.error = why + " at " + std::to_string(pos);
    };
    auto addText = [&](const std::string& utf8) {
        State& s = stack.back();
        if (s.dest == State::FontTable) {
            doc.fontName += utf8;
            return;
        }
        if (s.dest != State::Text) return;
        if (skipFallback > 0) {
            --skipFallback;
            return;
        }
        if (s.cf < 0 || s.cf > static_cast<int>(doc.colors.size())) {
            fail("colour index out of the table");
            return;
        }
        const Rgb color = s.cf == 0 ? Rgb{} : doc.colors[s.cf - 1];
        ReadRun r{utf8, color, s.b, s.i, s.ul, s.strike};
        if (!line.empty()) {
            ReadRun& last = line.back();
            ReadRun probe = r;
            probe.text = last.text;
            if (probe == last) {
                last.text += utf8;
                return;
            }
        }
        line.push_back(r);
    };
    auto addCodePoint = [&](char32_t cp) { addText(EncodeUtf8(std::u32string(1, cp))); };

    if (rtf.rfind("{\\rtf1", 0) != 0) fail("no {\\rtf1 header");
    bool closedAll = false;
    while (pos < rtf.size() && doc.error.empty()) {
        const char c = rtf[pos];
        if (closedAll && c != '\r' && c != '\n') {
            fail("text after the document");
            break;
        }
        if (c == '{') {
            stack.push_back(stack.empty() ? State{} : stack.back());
            ++pos;
        } else if (c == '}') {
            if (stack.empty()) {
                fail("unbalanced }");
                break;
            }
            stack.pop_back();
            closedAll = stack.empty();
            ++pos;
        } else if (c == '\r' || c == '\n') {
            ++pos;
        } else if (stack.empty()) {
            fail("text outside the document");
        } else if (c == '\\') {
            ++pos;
            if (pos >= rtf.size()) {
                fail("lone backslash");
                break;
            }
            const char d = rtf[pos];
            if (std::isalpha(static_cast<unsigned char>(d))) {
                std::string word;
                while (pos < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[pos]))) {
                    word += rtf[pos++];
                }
                std::optional<int> param;
                if (pos < rtf.size() &&
                    (rtf[pos] == '-' || std::isdigit(static_cast<unsigned char>(rtf[pos])))) {
                    std::string digits;
                    digits += rtf[pos++];
                    while (pos < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[pos]))) {
                        digits += rtf[pos++];
                    }
                    param = std::stoi(digits);
                }
                if (pos < rtf.size() && rtf[pos] == ' ') ++pos;  // the delimiter
                State& s = stack.back();
                const int p = param.value_or(1);
                if (word == "fonttbl") {
                    s.dest = State::FontTable;
                } else if (word == "colortbl") {
                    s.dest = State::ColorTable;
                } else if (word == "red") {
                    pending.r = static_cast<std::uint8_t>(p);
                } else if (word == "green") {
                    pending.g = static_cast<std::uint8_t>(p);
                } else if (word == "blue") {
                    pending.b = static_cast<std::uint8_t>(p);
                } else if (word == "cf") {
                    s.cf = p;
                } else if (word == "b") {
                    s.b = p != 0;
                } else if (word == "i") {
                    s.i = p != 0;
                } else if (word == "ul") {
                    s.ul = p != 0;
                } else if (word == "ulnone") {
                    s.ul = false;
                } else if (word == "strike") {
                    s.strike = p != 0;
                } else if (word == "fs") {
                    doc.halfPoints = p;
                } else if (word == "ansicpg") {
                    doc.codePage = p;
                } else if (word == "par") {
                    doc.lines.push_back(line);
                    line.clear();
                } else if (word == "tab") {
                    addText("\t");
                } else if (word == "u") {
                    const char16_t unit = static_cast<char16_t>(static_cast<std::int16_t>(p));
                    if (unit >= 0xD800 && unit < 0xDC00) {
                        highSurrogate = unit;
                    } else if (unit >= 0xDC00 && unit < 0xE000) {
                        if (!highSurrogate) fail("low surrogate alone");
                        addCodePoint(0x10000 + ((highSurrogate - 0xD800) << 10) + (unit - 0xDC00));
                        highSurrogate = 0;
                    } else {
                        addCodePoint(unit);
                    }
                    skipFallback = 1;
                    // The fallback is skipped, not shown; count it before the next character.
                    if (pos < rtf.size() && rtf[pos] == '?') {
                        ++pos;
                        skipFallback = 0;
                    }
                }
            } else if (d == '\'') {
                if (pos + 2 >= rtf.size() ||
                    !std::isxdigit(static_cast<unsigned char>(rtf[pos + 1])) ||
                    !std::isxdigit(static_cast<unsigned char>(rtf[pos + 2]))) {
                    fail("bad \\' escape");
                    break;
                }
                const char byte = static_cast<char>(std::stoi(rtf.substr(pos + 1, 2), nullptr, 16));
                pos += 3;
                addText(AnsiToUtf8(std::string(1, byte)));
            } else if (d == '\\' || d == '{' || d == '}') {
                addText(std::string(1, d));
                ++pos;
            } else if (d == '*') {
                stack.back().dest = State::Skip;
                ++pos;
            } else {
                fail(std::string("unknown control symbol ") + d);
            }
        } else {
            State& s = stack.back();
            if (s.dest == State::ColorTable) {
                if (c == ';') {
                    if (pos > 0 && rtf[pos - 1] != ' ') doc.colors.push_back(pending);
                    pending = {};
                }
            } else if (s.dest == State::FontTable) {
                if (c != ';') addText(std::string(1, c));
            } else {
                if (static_cast<unsigned char>(c) >= 0x80) fail("8-bit byte written raw");
                addText(std::string(1, c));
            }
            ++pos;
        }
    }
    if (doc.error.empty() && !closedAll) fail("unbalanced {");
    if (doc.error.empty() && !line.empty()) fail("text after the last \\par");
    return doc;
}

// What the reader gives back for the lines written: runs of equal style merged, empty ones gone.
std::vector<std::vector<ReadRun>> Expected(const std::vector<RtfLine>& lines) {
    std::vector<std::vector<ReadRun>> out;
    for (const RtfLine& line : lines) {
        std::vector<ReadRun> runs;
        for (const RtfRun& r : line) {
            if (r.text.empty()) continue;
            ReadRun rr{r.text, r.color, r.bold, r.italic, r.underline, r.strike};
            if (!runs.empty()) {
                ReadRun probe = rr;
                probe.text = runs.back().text;
                if (probe == runs.back()) {
                    runs.back().text += r.text;
                    continue;
                }
            }
            runs.push_back(rr);
        }
        out.push_back(runs);
    }
    return out;
}

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kGreen{0, 128, 0};

TEST(RtfWriter, ColourTableHoldsEachColourOnceInFirstUseOrder) {
    const std::vector<RtfLine> lines = {
        {{"start", kBlue}},
        {{"error ", kRed}, {"again", kBlue}},
        {},
        {{"warn", kGreen}, {" and blue", kBlue}, {" red", kRed}},
    };
    const std::string rtf = WriteRtf(lines, {"Courier New", 10});
    const ReadDocument doc = ReadRtf(rtf);
    ASSERT_EQ(doc.error, "") << rtf;
    EXPECT_EQ(doc.colors, (std::vector<Rgb>{kBlue, kRed, kGreen}));
    EXPECT_EQ(doc.lines, Expected(lines));
    EXPECT_EQ(doc.fontName, "Courier New");
    EXPECT_EQ(doc.halfPoints, 20);
    EXPECT_EQ(doc.codePage, RtfCodePage());
    // Colours are switched only where they change.
    EXPECT_NE(rtf.find("\\cf2 error \\cf1 again\\par"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("\\cf3 warn\\cf1  and blue\\cf2  red\\par"), std::string::npos) << rtf;
}

TEST(RtfWriter, EscapesSpecialAndNonAsciiCharacters) {
    const std::vector<RtfLine> lines = {
        {{"C:\\dir {x} }{", kRed}},
        {{"Configurações €", kBlue}},
        {{"Ω ≠ 😀", kBlue}},
        {{"a\tb\x07", kBlue}},
    };
    const std::string rtf = WriteRtf(lines, {});
    EXPECT_NE(rtf.find("C:\\\\dir \\{x\\} \\}\\{"), std::string::npos) << rtf;
    if (RtfCodePage() == 1252) {
        EXPECT_NE(rtf.find("Configura\\'e7\\'f5es \\'80"), std::string::npos) << rtf;
        EXPECT_NE(rtf.find("\\u937?"), std::string::npos) << rtf;
        EXPECT_NE(rtf.find("\\u8800?"), std::string::npos) << rtf;
        // Beyond 16 bits: a surrogate pair, each as a signed number.
        EXPECT_NE(rtf.find("\\u-10179?\\u-8704?"), std::string::npos) << rtf;
    }
    EXPECT_NE(rtf.find("a\\tab b\\'07"), std::string::npos) << rtf;
    for (const char c : rtf) EXPECT_LT(static_cast<unsigned char>(c), 0x80);

    const ReadDocument doc = ReadRtf(rtf);
    ASSERT_EQ(doc.error, "") << rtf;
    EXPECT_EQ(doc.lines, Expected(lines));
}

TEST(RtfWriter, StylesSwitchOnAndOffPerRun) {
    RtfRun bold{"bold", kRed, true};
    RtfRun plain{"plain", kRed};
    RtfRun all{"all", kGreen, true, true, true, true};
    const std::vector<RtfLine> lines = {{bold, plain, all}, {plain}};
    const std::string rtf = WriteRtf(lines, {});
    EXPECT_NE(rtf.find("\\cf1\\b bold\\b0 plain\\cf2\\b\\i\\ul\\strike all\\par"),
              std::string::npos)
        << rtf;
    EXPECT_NE(rtf.find("\\cf1\\b0\\i0\\ulnone\\strike0 plain\\par"), std::string::npos) << rtf;
    const ReadDocument doc = ReadRtf(rtf);
    ASSERT_EQ(doc.error, "") << rtf;
    EXPECT_EQ(doc.lines, Expected(lines));
}

TEST(RtfWriter, EmptyDocumentAndOddFonts) {
    const ReadDocument empty = ReadRtf(WriteRtf({}, {}));
    EXPECT_EQ(empty.error, "");
    EXPECT_TRUE(empty.lines.empty());
    EXPECT_TRUE(empty.colors.empty());
    EXPECT_EQ(empty.fontName, "Tahoma");
    EXPECT_EQ(empty.halfPoints, 18);

    // A ";" would end the font's name early; braces must not unbalance the table.
    const std::string rtf = WriteRtf({{{"x", kRed}}}, {"Odd;Font{1}", 0});
    const ReadDocument doc = ReadRtf(rtf);
    ASSERT_EQ(doc.error, "") << rtf;
    EXPECT_EQ(doc.fontName, "OddFont{1}");
    EXPECT_EQ(doc.halfPoints, 2);
    EXPECT_EQ(ReadRtf(WriteRtf({}, {"", 5000})).halfPoints, 2000);

    // Source lines end in CR LF.
    EXPECT_EQ(rtf.substr(rtf.size() - 3), "}\r\n");
    EXPECT_NE(rtf.find("x\\par\r\n"), std::string::npos);
}

TEST(RtfWriter, RandomLinesReadBackUnchanged) {
    const std::vector<std::string> pieces = {"a", "Z", " ", "0",  "\\", "{",     "}", ";",    "é",
                                             "€", "Ω", "😀", "\t", "?",  "\\par", "ü", "\x01", "~"};
    const std::vector<Rgb> palette = {kRed, kBlue, kGreen, {1, 2, 3}, {255, 255, 255}};
    std::mt19937 rng(12345);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    for (int round = 0; round < 50; ++round) {
        std::vector<RtfLine> lines(pick(6));
        for (RtfLine& line : lines) {
            line.resize(pick(5));
            for (RtfRun& run : line) {
                for (std::size_t k = pick(8); k > 0; --k) run.text += pieces[pick(pieces.size())];
                run.color = palette[pick(palette.size())];
                run.bold = pick(2);
                run.italic = pick(2);
                run.underline = pick(2);
                run.strike = pick(2);
            }
        }
        const std::string rtf = WriteRtf(lines, {});
        const ReadDocument doc = ReadRtf(rtf);
        ASSERT_EQ(doc.error, "") << rtf;
        ASSERT_EQ(doc.lines, Expected(lines)) << rtf;
    }
}

// A saved line keeps each character's look: runs split where the style changes, counted in the
// window's UTF-16 units (a character beyond 16 bits takes two), inverse and faint worked out
// against the window's colours.
TEST(StyledSave, RunsFollowTheStylesOfTheCharactersShown) {
    const BaseLook base{{10, 20, 30}, {200, 200, 200}, false, true, false, false};
    // "\xF0\x9F\x98\x80" is one character of two units; "\xFF" is no UTF-8 and shows as ÿ.
    const std::string line =
        "a\xF0\x9F\x98\x80"
        "bc\xFF";
    const LineStyle style = {{1, 3, {kTermIndexed | 1, 0, kTermBold}},
                             {4, 1, {0, kTermRgb | 0x0000FF, kTermInverse}},
                             {5, 1, {kTermRgb | 0x000000, 0, kTermFaint}}};
    const RtfLine runs = StyledRuns(line, true, style, base);
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].text, "a");
    EXPECT_EQ(runs[0].color, base.text);
    EXPECT_TRUE(runs[0].italic);
    EXPECT_FALSE(runs[0].background);
    EXPECT_EQ(runs[1].text,
              "\xF0\x9F\x98\x80"
              "b");
    EXPECT_EQ(runs[1].color, IndexedColor(1));
    EXPECT_TRUE(runs[1].bold && runs[1].italic);
    EXPECT_EQ(runs[2].text, "c");
    EXPECT_EQ(runs[2].color, (Rgb{0, 0, 255}));
    EXPECT_EQ(runs[2].background, base.text);
    EXPECT_EQ(runs[3].text, "\xC3\xBF");
    EXPECT_EQ(runs[3].color, (Rgb{100, 100, 100}));

    EXPECT_EQ(ShownText(line, true),
              "a\xF0\x9F\x98\x80"
              "bc\xC3\xBF");
    // Read as bytes, each one is its Latin-1 character.
    EXPECT_EQ(ShownText("\xB0\x41", false),
              "\xC2\xB0"
              "A");
    EXPECT_TRUE(StyledRuns("", true, style, base).empty());

    const std::string rtf = WriteRtf({runs}, {});
    EXPECT_NE(rtf.find("\\highlight1\\cb1"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("\\highlight0\\cb0"), std::string::npos) << rtf;
}

}  // namespace
}  // namespace corvel
