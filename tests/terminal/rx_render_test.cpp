#include "terminal/rx_render.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>

#include "terminal/mem_line_box.h"

namespace corvel {
namespace {

using Lines = std::vector<std::string>;

const RxColumns kAllColumns{true, true, true, true};

struct Rig {
    MemLineBox rx;
    MemLineBox aux;
    int beeps = 0;
    tRxRenderer render{rx, aux, [this] { ++beeps; }};

    void Feed(std::string_view bytes) {
        render.printf_ReceiveData(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                  bytes.size());
    }
};

std::string HexLine(std::string_view pairs, std::string_view chars) {
    std::string line(HEX_LINE_LENGTH, ' ');
    line.replace(0, pairs.size(), pairs);
    line.replace(49, 2, ": ");
    line.replace(51, chars.size(), chars);
    return line;
}

TEST(RxRenderAscii, CarriageReturnBackspaceAndDroppedControls) {
    Rig r;
    r.Feed("abc\r12\n");
    EXPECT_EQ(r.rx.Lines(), (Lines{"12c", ""}));
    EXPECT_EQ(r.render.rxControl.curY, 1);

    r.Feed("abc\b\bX\n");
    EXPECT_EQ(r.rx.Lines(), (Lines{"12c", "aX", ""}));

    r.Feed("\bq\b\b\bw\n");  // BS at column 1 does nothing
    EXPECT_EQ(r.rx.Line(2), "w");

    r.Feed(
        std::string_view("a\tb\x07\f\x00\x01\x1f\x0b"
                         "c",
                         11));
    EXPECT_EQ(r.rx.Line(3), "abc");
    EXPECT_EQ(r.beeps, 1);

    r.Feed("\xe9\xff\x7f\x80");  // bytes above 127 are Latin-1 characters
    EXPECT_EQ(r.rx.Line(3), "abc\xe9\xff\x7f\x80");
    EXPECT_EQ(r.aux.LineCount(), 0);  // no column on
    EXPECT_EQ(r.rx.repaints, 0);      // ASCII mode relies on the writes
}

TEST(RxRenderAscii, AChunkGoesOnWhereThePreviousOneLeftTheCursor) {
    Rig r;
    r.Feed("10%\r");
    r.Feed("20%\r");
    r.Feed("30%\r");
    EXPECT_EQ(r.rx.Lines(), Lines{"30%"});
    r.Feed("\n");
    EXPECT_EQ(r.rx.Lines(), (Lines{"30%", ""}));

    // Edits that empty the line show an empty line; a line that text opened in an empty window
    // goes again, as if the text had never come.
    r.Feed("abc");
    r.Feed("\b\b\b");
    EXPECT_EQ(r.rx.Lines(), (Lines{"30%", ""}));
    Rig lone;
    lone.Feed("abc");
    lone.Feed("\r\x1b[K");
    EXPECT_EQ(lone.rx.LineCount(), 0);
    lone.Feed("\r\x07\b");  // nothing printed into an empty window adds no line
    EXPECT_EQ(lone.rx.LineCount(), 0);
    lone.Feed("");
    lone.render.printf_ReceiveData(nullptr, 12);
    EXPECT_EQ(lone.rx.LineCount(), 0);
    lone.Feed("\n");
    EXPECT_EQ(lone.rx.Lines(), (Lines{"", ""}));

    // A window changed by somebody else is taken up again with the cursor after its last line.
    Rig outside;
    outside.Feed("abc\r");
    outside.Feed("X");
    EXPECT_EQ(outside.rx.Lines(), Lines{"Xbc"});
    outside.Feed("\r");
    outside.rx.ReplaceLine(0, "typed");
    outside.Feed("Y");
    EXPECT_EQ(outside.rx.Lines(), Lines{"typedY"});
    outside.Feed("\r");
    outside.render.SetMaxLines(5, 0);  // a line limit dropping nothing is no change
    outside.Feed("Z");
    EXPECT_EQ(outside.rx.Lines(), Lines{"ZypedY"});
}

TEST(RxRenderAscii, EraseSequences) {
    Rig r;
    r.Feed("abcdef\rab\x1b[K");
    EXPECT_EQ(r.rx.Lines(), Lines{"ab"});
    r.Feed("\n1234\r12\x1b[0Kx\n");  // parameter 0 is the same; the cursor stays
    EXPECT_EQ(r.rx.Line(1), "12x");
    r.Feed("1234\r12\x1b[7K\n");  // as is any other parameter
    EXPECT_EQ(r.rx.Line(2), "12");
    r.Feed("abc\x1b[2Kxy\n");  // whole line, cursor to column 1
    EXPECT_EQ(r.rx.Line(3), "xy");
    r.Feed("abcdef\rab\x1b[1KZ\n");  // blanks before the cursor, then the rest goes too
    EXPECT_EQ(r.rx.Line(4), "  Z");
    r.Feed("abcdef\rab\x1b[10KZ\n");  // only the first parameter character counts
    EXPECT_EQ(r.rx.Line(5), "  Z");
    r.Feed("\x1b[31mRED\x1b[0m \x1b(B \x1b)0 \x1b[5A\x1b[3J\x1bK\n");
    EXPECT_EQ(r.rx.Line(6), "RED B 0 ");
    EXPECT_EQ(r.rx.LineCount(), 8);
    r.Feed("\x1b[?25l\x1b[ q\x1b[1;37;41mok\x1b[m\n");  // private and intermediate bytes
    EXPECT_EQ(r.rx.Line(7), "ok");

    r.render.SetColumns(kAllColumns);
    r.Feed("junk\x1b[2Jnew\nline");  // clears; what follows starts the first line
    EXPECT_EQ(r.rx.Lines(), (Lines{"new", "line"}));
    EXPECT_EQ(r.aux.LineCount(), 16);  // the side window keeps every byte
    r.Feed("\x1b[2J");
    EXPECT_EQ(r.rx.LineCount(), 0);
}

TEST(RxRenderText, Utf8ShowsCharactersAndEveryOtherByteAsItIs) {
    Rig r;
    r.render.SetTextOptions({.utf8 = true});
    EXPECT_TRUE(r.rx.Utf8());
    r.Feed(
        "23.5\xc2\xb0"
        "C\n");
    EXPECT_EQ(r.rx.Line(0),
              "23.5\xc2\xb0"
              "C");
    // The editor counts characters: two BS take back two characters, however many bytes.
    r.Feed("a\xc3\xa9\xe2\x82\xac\b\bX\r\xf0\x9f\x98\x80\n");
    EXPECT_EQ(r.rx.Line(1), "\xf0\x9f\x98\x80X");
    // Bytes that are no UTF-8 show as their Latin-1 characters (stored as UTF-8).
    r.Feed("\xff\xc3(\xed\xa0\x80\n");
    EXPECT_EQ(r.rx.Line(2), "\xc3\xbf\xc3\x83(\xc3\xad\xc2\xa0\xc2\x80");
    // A sequence split between reads is completed by the next one.
    r.Feed("\xe2\x82");
    EXPECT_EQ(r.rx.Line(3), "");
    r.Feed("\xac!");
    EXPECT_EQ(r.rx.Line(3), "\xe2\x82\xac!");
    // Switching the reading empties the window, whose lines were stored for the other one.
    r.render.SetTextOptions({});
    EXPECT_EQ(r.rx.LineCount(), 0);
    EXPECT_FALSE(r.rx.Utf8());
}

TEST(RxRenderText, ColoursAreKeptPerCharacterThroughEdits) {
    Rig r;
    r.Feed("\x1b[31mred\x1b[0m\n");  // off: sequences do nothing
    EXPECT_TRUE(r.rx.GetLineStyle(0).empty());
    r.render.SetTextOptions({.colours = true});
    r.Feed("\x1b[32mgreen\x1b[0m plain\r\x1b[1mG\x1b[m\n");
    EXPECT_EQ(r.rx.Lines().back(), "");
    const int line = r.rx.LineCount() - 2;
    EXPECT_EQ(r.rx.Line(line), "Green plain");
    EXPECT_EQ(r.rx.GetLineStyle(line),
              (LineStyle{{0, 1, {0, 0, kTermBold}}, {1, 4, {kTermIndexed | 2, 0, 0}}}));
    r.Feed("\x1b[38;5;208;48;2;1;2;3;4mA\x1b[24;39mB\x1b[7;97;44mC\x1b[0m\n");
    EXPECT_EQ(r.rx.GetLineStyle(r.rx.LineCount() - 2),
              (LineStyle{{0, 1, {kTermIndexed | 208, kTermRgb | 0x010203, kTermUnderline}},
                         {1, 1, {0, kTermRgb | 0x010203, 0}},
                         {2, 1, {kTermIndexed | 15, kTermIndexed | 4, kTermInverse}}}));
    // BS and erasing keep the colours of the characters that stay.
    r.Feed("\x1b[33mab\x1b[0mcd\b\b\x1b[Kx\x1b[?1m\n");
    EXPECT_EQ(r.rx.GetLineStyle(r.rx.LineCount() - 2),
              (LineStyle{{0, 2, {kTermIndexed | 3, 0, 0}}}));
}

TEST(RxRenderText, TabStopsEveryEightColumns) {
    Rig r;
    r.Feed("a\tb\n");  // off: dropped
    EXPECT_EQ(r.rx.Line(0), "ab");
    for (bool rich : {false, true}) {
        r.render.SetTextOptions({.colours = rich, .tabs = true});
        r.Feed("a\tb\t\tc\n");
        EXPECT_EQ(r.rx.Lines()[r.rx.LineCount() - 2], "a       b               c");
        r.Feed("abcdefghij\r\tX\n");  // inside the line it only moves
        EXPECT_EQ(r.rx.Lines()[r.rx.LineCount() - 2], "abcdefghXj");
    }
}

TEST(RxRenderAscii, AStrayEscapeTakesAtMostTheByteAfterIt) {
    Rig r;
    r.Feed(
        "x\x1b"
        "cy\n");  // ESC and one byte other than "[" make a whole sequence
    EXPECT_EQ(r.rx.Line(0), "xy");
    r.Feed("ok\x1b[12\r\nnext\n");  // a control byte ends the sequence and is acted on
    EXPECT_EQ(r.rx.Line(1), "ok");
    EXPECT_EQ(r.rx.Line(2), "next");
    r.Feed("abc\r\x1b\x1b[Kd\x1b\be\n");  // ESC starts again; BS after ESC deletes as usual
    EXPECT_EQ(r.rx.Line(3), "e");
    r.Feed("\x1b[\xe9\x7f!\x1b\xff\n");  // bytes no sequence holds are shown
    EXPECT_EQ(r.rx.Line(4), "\xe9\x7f!\xff");
    r.Feed("prompt> \x1b");
    r.Feed("\rprompt> ls");
    EXPECT_EQ(r.rx.Line(5), "prompt> ls");
    EXPECT_FALSE(r.render.rxControl.escapeInit);
}

TEST(RxRenderAscii, EraseBelowRemovesTheLinesUnderTheCaret) {
    Rig r;
    r.Feed("l0\nl1\nl2\nl3");
    r.Feed("XY\x1b[J");  // caret on the last line: nothing removed
    EXPECT_EQ(r.rx.Lines(), (Lines{"l0", "l1", "l2", "l3XY"}));

    r.rx.SetCaretLine(1);  // the user clicked higher up
    r.Feed("\rA\x1b[J");
    // The lines under the caret go at once; the edited line is then written over the new last one.
    EXPECT_EQ(r.rx.Lines(), (Lines{"l0", "A"}));

    Rig s;
    s.Feed("l0\nl1\nl2");
    s.rx.SetCaretLine(0);
    s.Feed("Q\nR\x1b[J");  // the line feed wrote first, leaving the caret on the last line
    EXPECT_EQ(s.rx.Lines(), (Lines{"l0", "l1", "l2Q", "R"}));
    s.rx.SetCaretLine(0);
    s.Feed("\x1b[JS\nT");
    EXPECT_EQ(s.rx.Lines(), (Lines{"RS", "T"}));
}

TEST(RxRenderAscii, EscapeStateSurvivesChunksClearingAndModes) {
    Rig r;
    r.Feed("A\x1b[3");
    r.Feed("1mB");
    EXPECT_EQ(r.rx.Lines(), Lines{"AB"});
    r.Feed("x\x1b[2");
    r.Feed("Jy");
    EXPECT_EQ(r.rx.Lines(), Lines{"y"});

    r.Feed("z\x1b[");
    r.render.ClearRx();
    EXPECT_TRUE(r.render.rxControl.escapeInit);
    r.render.SetMode(RxMode::Hex);
    r.Feed("12");  // HEX mode shows everything and leaves the sequence alone
    EXPECT_EQ(r.rx.Lines(), Lines{HexLine("31 32 ", "12")});
    EXPECT_TRUE(r.render.rxControl.escapeInit);
    EXPECT_EQ(r.render.rxControl.escape, "[");
    r.render.SetMode(RxMode::Ascii);
    EXPECT_EQ(r.rx.LineCount(), 0);
    r.Feed("Kok");
    EXPECT_EQ(r.rx.Lines(), Lines{"ok"});
    EXPECT_FALSE(r.render.rxControl.escapeInit);

    // A sequence that never ends costs bounded memory and still ends at its final character.
    r.Feed("\n\x1b[");
    r.Feed(std::string(100000, '0'));
    EXPECT_LE(r.render.rxControl.escape.size(), 64u);
    r.Feed("Kvisible");
    EXPECT_EQ(r.rx.Lines(), (Lines{"ok", "visible"}));
}

TEST(RxRenderAscii, ALineWithoutEndContinuesOnNewLinesAtTheLengthLimit) {
    Rig r;
    const std::size_t total = 2 * RX_MAX_LINE_LENGTH + 10;
    int mostEdits = 0;
    for (std::size_t sent = 0; sent < total; sent += 1000) {
        const int before = r.rx.edits;
        r.Feed(std::string(std::min<std::size_t>(1000, total - sent), 'x'));
        mostEdits = std::max(mostEdits, r.rx.edits - before);
    }
    EXPECT_LE(mostEdits, 2);
    ASSERT_EQ(r.rx.LineCount(), 3);
    EXPECT_EQ(r.rx.Line(0), std::string(RX_MAX_LINE_LENGTH, 'x'));
    EXPECT_EQ(r.rx.Line(1), std::string(RX_MAX_LINE_LENGTH, 'x'));
    EXPECT_EQ(r.rx.Line(2), std::string(10, 'x'));

    Rig full;
    full.Feed(std::string(RX_MAX_LINE_LENGTH, 'y'));
    full.Feed("\rAB");  // overwriting inside a full line stays on it
    full.Feed("C");
    ASSERT_EQ(full.rx.LineCount(), 1);
    EXPECT_EQ(full.rx.Line(0).substr(0, 4), "ABCy");
    full.Feed(std::string(RX_MAX_LINE_LENGTH - 3, 'w') + "z");
    EXPECT_EQ(full.rx.Lines().back(), "z");
}

TEST(RxRenderHex, DumpLayoutAndContinuation) {
    Rig r;
    r.render.SetMode(RxMode::Hex);
    r.Feed("0123456789ABCDEFGHIJ");
    const Lines expected{"30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46  : 0123456789ABCDEF",
                         HexLine("47 48 49 4A ", "GHIJ")};
    EXPECT_EQ(r.rx.Lines(), expected);
    EXPECT_EQ(r.rx.Line(1).size(), HEX_LINE_LENGTH);
    EXPECT_EQ(r.rx.repaints, 1);
    EXPECT_EQ(r.rx.scrolls, 1);

    Rig c;
    c.render.SetMode(RxMode::Hex);
    c.Feed("01234");
    c.Feed("56789");
    c.Feed("ABCDEFGHIJ");
    EXPECT_EQ(c.rx.Lines(), expected);

    Rig full;
    full.render.SetMode(RxMode::Hex);
    full.Feed("0123456789ABCDEF");
    EXPECT_EQ(full.rx.Lines(), Lines{expected[0]});
    full.Feed(std::string_view("\r\n\0\x7f\x80\xff", 6));
    EXPECT_EQ(full.rx.Lines(), (Lines{expected[0], HexLine("0D 0A 00 7F 80 FF ", "...\x7f..")}));
    full.Feed("\x1b[2J");  // nothing is interpreted
    EXPECT_EQ(full.rx.LineCount(), 2);
    EXPECT_EQ(full.rx.Line(1).substr(0, 30), "0D 0A 00 7F 80 FF 1B 5B 32 4A ");

    std::string line = "short";
    PutHexByte(line, 0xAB, 15);
    EXPECT_EQ(line, HexLine(std::string(45, ' ') + "AB ", std::string(15, ' ') + "."));
    PutHexByte(line, 0x41, 16);  // no such slot
    PutHexByte(line, 0x41, -1);
    EXPECT_EQ(line, HexLine(std::string(45, ' ') + "AB ", std::string(15, ' ') + "."));
}

TEST(RxRenderHex, EverySplitOfAStreamGivesTheSameWindow) {
    std::mt19937 rng(1234);
    std::string stream(40, '\0');
    for (char& c : stream) c = static_cast<char>(rng() & 0xFF);

    Rig whole;
    whole.render.SetMode(RxMode::Hex);
    whole.Feed(stream);
    const Lines expected = whole.rx.Lines();
    ASSERT_EQ(expected.size(), 3u);

    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
            Rig r;
            r.render.SetMode(RxMode::Hex);
            r.Feed(std::string_view(stream).substr(0, a));
            r.Feed(std::string_view(stream).substr(a, b - a));
            r.Feed(std::string_view(stream).substr(b));
            ASSERT_EQ(r.rx.Lines(), expected) << "split at " << a << " and " << b;
        }
    }

    std::string longer(5000, '\0');
    for (char& c : longer) c = static_cast<char>(rng() & 0xFF);
    Rig one;
    one.render.SetMode(RxMode::Hex);
    one.Feed(longer);
    for (int round = 0; round < 20; ++round) {
        Rig r;
        r.render.SetMode(RxMode::Hex);
        for (std::size_t at = 0; at < longer.size();) {
            const std::size_t n = std::min<std::size_t>(rng() % 40, longer.size() - at);
            r.Feed(std::string_view(longer).substr(at, n));
            at += n;
        }
        ASSERT_EQ(r.rx.Lines(), one.rx.Lines());
    }
}

TEST(RxRenderColumns, SideLinesForEveryByte) {
    EXPECT_EQ(RxColumnsLine(65, kAllColumns), "A    65 0x41 01000001");
    EXPECT_EQ(RxColumnsLine(13, kAllColumns), "CR   13 0x0D 00001101");
    EXPECT_EQ(RxColumnsLine(0, kAllColumns), "NUL   0 0x00 00000000");
    EXPECT_EQ(RxColumnsLine(255, kAllColumns), "\xff   255 0xFF 11111111");
    EXPECT_EQ(RxColumnsLine(65, {false, true, true, false}), " 65 0x41 ");
    EXPECT_EQ(RxColumnsLine(65, {true, false, false, false}), "A   ");
    EXPECT_EQ(RxColumnsLine(7, {false, false, false, true}), "00000111");
    EXPECT_EQ(RxColumnsLine(65, {}), "");
    const RxColumns charOnly{true, false, false, false};
    EXPECT_EQ(RxColumnsLine(8, charOnly), "BS  ");
    EXPECT_EQ(RxColumnsLine(27, charOnly), "ESC ");
    EXPECT_EQ(RxColumnsLine(31, charOnly), "US  ");
    for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(RxColumnsLine(static_cast<std::uint8_t>(b), kAllColumns).size(), 21u) << b;
    }

    EXPECT_EQ(IntToBin(5, 8), "00000101");
    EXPECT_EQ(IntToBin(0, 3), "000");
    EXPECT_EQ(IntToBin(0x1FF, 4), "1111");  // too wide: the low bits, never past the string
    EXPECT_EQ(IntToBin(3, 0), "");
    EXPECT_EQ(IntToBin(1, -2), "");
}

TEST(RxRenderColumns, SideWindowGetsOneBatchPerChunkInBothModes) {
    Rig r;
    EXPECT_EQ(r.render.SetColumns(kAllColumns), 186);
    r.Feed("A\x1b[31m\r\n\x01");  // escape and dropped bytes get their lines too
    EXPECT_EQ(r.aux.Lines(),
              (Lines{"A    65 0x41 01000001", "ESC  27 0x1B 00011011", "[    91 0x5B 01011011",
                     "3    51 0x33 00110011", "1    49 0x31 00110001", "m   109 0x6D 01101101",
                     "CR   13 0x0D 00001101", "LF   10 0x0A 00001010", "SOH   1 0x01 00000001"}));
    EXPECT_EQ(r.aux.appendLinesCalls, 1);
    EXPECT_EQ(r.aux.repaints, 1);
    EXPECT_EQ(r.aux.scrolls, 1);

    r.render.SetMode(RxMode::Hex);
    r.Feed(std::string(2048, 'x'));
    EXPECT_EQ(r.aux.LineCount(), 9 + 2048);
    EXPECT_EQ(r.aux.appendLinesCalls, 2);

    // Every change of the switches empties the side window.
    EXPECT_EQ(r.render.SetColumns({false, false, false, true}), 84);
    EXPECT_EQ(r.aux.LineCount(), 0);
    r.Feed("A");
    EXPECT_EQ(r.aux.Lines(), Lines{"01000001"});
    EXPECT_EQ(r.render.SetColumns({true, false, false, false}), 54);
    EXPECT_EQ(r.aux.LineCount(), 0);
    EXPECT_EQ(r.render.SetColumns({false, true, true, false}), 88);
    EXPECT_EQ(r.render.EnableViewsRX(), 88);

    // No column on: the panel is hidden and nothing is built or repainted.
    EXPECT_EQ(r.render.SetColumns({}), 0);
    const int repaints = r.aux.repaints;
    r.Feed("hidden");
    EXPECT_EQ(r.aux.LineCount(), 0);
    EXPECT_EQ(r.aux.repaints, repaints);
    EXPECT_EQ(RxPanelWidth(kAllColumns), 186);

    r.render.SetColumns({false, true, false, false});
    r.render.AddRxColumnsLine(200);
    r.render.AddRxColumnsLine(7);
    r.render.RefreshRxColumns();
    EXPECT_EQ(r.aux.Lines(), (Lines{"200 ", "  7 "}));
    EXPECT_EQ(RxPanelWidth({}), 0);
}

TEST(RxRender, AChunkCostsTheReceiveWindowAFixedNumberOfEdits) {
    std::string text;
    for (int line = 0; line < 25; ++line) text += std::string(78, 'a' + line % 26) + "\r\n";
    Rig r;
    r.Feed("start");
    const int before = r.rx.edits;
    r.Feed(text);
    EXPECT_LE(r.rx.edits - before, 2);  // one line replaced, one batch appended
    EXPECT_EQ(r.rx.LineCount(), 26);
    EXPECT_EQ(r.rx.Line(0), "start" + std::string(78, 'a'));
    EXPECT_EQ(r.rx.Line(25), "");

    r.render.SetMode(RxMode::Hex);
    r.Feed("abc");
    const int hexBefore = r.rx.edits;
    r.Feed(std::string(2048, 'z'));
    EXPECT_LE(r.rx.edits - hexBefore, 2);
    EXPECT_EQ(r.rx.LineCount(), (3 + 2048 + 15) / 16);
}

TEST(RxRender, LineLimitsKeepTheNewestLines) {
    Rig r;
    r.render.SetColumns(kAllColumns);
    r.render.SetMaxLines(3, 5);
    r.Feed("1\n2\n3\n4\n5");
    EXPECT_EQ(r.rx.Lines(), (Lines{"3", "4", "5"}));
    r.Feed("6\n");
    EXPECT_EQ(r.rx.Lines(), (Lines{"4", "56", ""}));
    EXPECT_EQ(r.aux.LineCount(), 5);
    EXPECT_EQ(r.aux.Line(4), "LF   10 0x0A 00001010");
    r.render.SetMaxLines(0, 0);
    r.Feed("a\nb\nc\n");
    EXPECT_EQ(r.rx.LineCount(), 6);
    EXPECT_EQ(r.aux.LineCount(), 11);
}

// The renderer batches its writes; this is the same terminal written the plain way, one byte at a
// time, one window edit per line feed and one side line per byte, to hold the batching to.
struct PlainTerminal {
    MemLineBox rx;
    MemLineBox aux;
    tRxControl c{rx};
    bool lone = false;  // the window's only line was opened by text

    void Run() {
        const std::string& e = c.escape;
        if (e.size() < 2 || e[0] != '[' || (e.back() != 'J' && e.back() != 'K')) return;
        const char param = e.size() == 2 ? '0' : e[1];
        const auto cut = [&] {
            if (static_cast<std::size_t>(c.curY) <= c.memoLine.size())
                c.memoLine.resize(c.curY - 1);
        };
        if (e.back() == 'J') {
            if (param == '0') {
                cut();
                while (rx.LineCount() - 1 > rx.CaretLine()) rx.RemoveLine(rx.LineCount() - 1);
            } else if (param == '2') {
                c.ControlClean();
                rx.Clear();
                lone = false;
            }
        } else if (param == '2') {
            c.memoLine.clear();
            c.curY = 1;
        } else {
            if (param == '1') {
                for (int i = 0; i < c.curY - 1 && i < static_cast<int>(c.memoLine.size()); ++i) {
                    c.memoLine[i] = ' ';
                }
            }
            cut();
        }
    }

    // One byte of an escape sequence; false when it ends the sequence without belonging to it.
    bool Escape(std::uint8_t b) {
        if (b < 32 || b > 126) {
            c.escapeInit = false;
            c.escape.clear();
            return false;
        }
        c.escape += static_cast<char>(b);
        if (c.escape.size() == 1 ? b != '[' : b >= 64) {
            Run();
            c.escapeInit = false;
        }
        return true;
    }

    void Feed(std::string_view bytes) {
        if (bytes.empty()) return;
        for (char ch : bytes) {
            const auto b = static_cast<std::uint8_t>(ch);
            aux.AppendLine(RxColumnsLine(b, kAllColumns));
            if (c.escapeInit && Escape(b)) continue;
            if (b >= 32) {
                c.insertChar(b);
            } else if (b == 8) {
                c.deleteChar(c.curY - 1);
            } else if (b == 10) {
                c.replaceLine(true);
                lone = false;
            } else if (b == 13) {
                c.curY = 1;
            } else if (b == 27) {
                c.escapeInit = true;
                c.escape.clear();
            }
        }
        // The window's last line shows the line being edited.
        if (rx.LineCount() == 0) {
            if (!c.memoLine.empty()) rx.AppendLine(c.memoLine);
            lone = !c.memoLine.empty();
        } else if (c.memoLine.empty() && rx.LineCount() == 1 && lone) {
            rx.RemoveLine(0);
            lone = false;
        } else {
            rx.ReplaceLine(rx.LineCount() - 1, c.memoLine);
        }
    }
};

TEST(RxRenderAscii, BatchedWritesShowWhatPlainWritesShow) {
    const std::string alphabet = "abcXYZ \xe9\r\n\n\b\b\x07\t\x1b\x1b[[[0122JKKm(";
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        Rig r;
        r.render.SetColumns(kAllColumns);
        PlainTerminal plain;
        for (int chunk = 0; chunk < 12; ++chunk) {
            std::string bytes(rng() % 30, '\0');
            for (char& c : bytes) c = alphabet[rng() % alphabet.size()];
            if (rng() % 3 == 0 && r.rx.LineCount() > 1) {
                const int caret = static_cast<int>(rng() % r.rx.LineCount());
                r.rx.SetCaretLine(caret);
                plain.rx.SetCaretLine(caret);
            }
            r.Feed(bytes);
            plain.Feed(bytes);
            ASSERT_EQ(r.rx.Lines(), plain.rx.Lines()) << "round " << round << " chunk " << chunk;
            ASSERT_EQ(r.rx.CaretLine(), plain.rx.CaretLine());
            ASSERT_EQ(r.render.rxControl.escape, plain.c.escape);
            ASSERT_EQ(r.render.rxControl.escapeInit, plain.c.escapeInit);
            ASSERT_EQ(r.render.rxControl.curY, plain.c.curY);
        }
        ASSERT_EQ(r.aux.Lines(), plain.aux.Lines());
    }
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

// Every line's style, in a form the assertions print.
std::vector<std::string> StylesOf(const MemLineBox& box) {
    std::vector<std::string> out;
    for (int i = 0; i < box.LineCount(); ++i) {
        std::string text;
        for (const StyleRun& r : box.GetLineStyle(i)) {
            text += std::to_string(r.start) + "+" + std::to_string(r.length) + ":" +
                    std::to_string(r.style.fg) + "/" + std::to_string(r.style.bg) + "/" +
                    std::to_string(r.style.attrs) + " ";
        }
        out.push_back(text);
    }
    return out;
}

// What the windows show is a function of the bytes alone: however the reads split a stream, the
// windows end up as with the whole stream in one read, with every combination of the text
// options.
TEST(RxRenderAscii, EverySplitOfAStreamGivesTheSameWindows) {
    const std::vector<std::string> pieces = {"a",
                                             "b",
                                             "xyz",
                                             " ",
                                             "\xe9",
                                             "\r",
                                             "\n",
                                             "\r\n",
                                             "\b",
                                             "\x07",
                                             "\t",
                                             "\x1b",
                                             "\x1b[",
                                             "\x1b[K",
                                             "\x1b[1K",
                                             "\x1b[2K",
                                             "\x1b[J",
                                             "\x1b[0J",
                                             "\x1b[2J",
                                             "\x1b[31m",
                                             "\x1b[0m",
                                             "\x1b(B",
                                             "\x1b[1;3",
                                             "m",
                                             "\x1b"
                                             "c",
                                             "10%\r",
                                             std::string(1, '\0'),
                                             "\x1b\r",
                                             "\x7f",
                                             "[",
                                             ";",
                                             "\xc3",
                                             "\xa9",
                                             "\xe2\x82\xac",
                                             "\xf0\x9f\x98\x80",
                                             "\xed\xa0\x80",
                                             "\x1b[38;5;208m",
                                             "\x1b[48;2;1;2;3m",
                                             "\x1b[7;4m",
                                             "\x1b[39;49m"};
    std::mt19937 rng(16);
    for (int round = 0; round < 400; ++round) {
        const RxTextOptions options{round % 2 == 1, round / 2 % 2 == 1, round / 4 % 2 == 1};
        std::string stream;
        const int count = 1 + static_cast<int>(rng() % 14);
        for (int i = 0; i < count; ++i) stream += pieces[rng() % pieces.size()];
        const std::size_t limit = round % 16 < 2 ? 3 : 0;
        const auto rig = [&] {
            auto r = std::make_unique<Rig>();
            r->render.SetTextOptions(options);
            r->render.SetColumns(kAllColumns);
            r->render.SetMaxLines(limit, 0);
            return r;
        };

        const auto whole = rig();
        whole->Feed(stream);
        if (limit == 0 && options == RxTextOptions{}) {
            PlainTerminal plain;
            plain.Feed(stream);
            ASSERT_EQ(whole->rx.Lines(), plain.rx.Lines()) << round;
        }

        const auto check = [&](const std::vector<std::size_t>& cuts) {
            const auto split = rig();
            std::size_t from = 0;
            for (std::size_t cut : cuts) {
                split->Feed(std::string_view(stream).substr(from, cut - from));
                from = cut;
            }
            split->Feed(std::string_view(stream).substr(from));
            ASSERT_EQ(split->rx.Lines(), whole->rx.Lines()) << "round " << round;
            ASSERT_EQ(StylesOf(split->rx), StylesOf(whole->rx)) << "round " << round;
            ASSERT_EQ(split->aux.Lines(), whole->aux.Lines());
            ASSERT_EQ(split->render.rxControl.curY, whole->render.rxControl.curY);
        };
        for (std::size_t cut = 1; cut < stream.size(); ++cut) check({cut});
        std::vector<std::size_t> cuts;
        for (std::size_t at = 1; at < stream.size(); ++at)
            if (rng() % 3 == 0) cuts.push_back(at);
        check(cuts);
    }
}

TEST(RxRender, AnyInputKeepsBothWindowsConsistent) {
    std::mt19937 rng(2024);
    Rig r;
    r.render.SetMaxLines(0, 300);
    for (int chunk = 0; chunk < 3000; ++chunk) {
        switch (rng() % 40) {
            case 0:
                r.render.SetMode(rng() % 2 ? RxMode::Ascii : RxMode::Hex);
                break;
            case 1:
                r.render.SetColumns({rng() % 2 == 0, rng() % 2 == 0, rng() % 2 == 0, false});
                break;
            case 2:
                r.rx.SetCaretLine(static_cast<int>(rng() % 50));
                break;
            case 3:
                r.render.SetTextOptions({rng() % 2 == 0, rng() % 2 == 0, rng() % 2 == 0});
                break;
            default:
                break;
        }
        std::string bytes(rng() % 200, '\0');
        // Mostly escape-heavy noise, so sequences start and end inside and across chunks.
        for (char& c : bytes)
            c = static_cast<char>(rng() % 4 == 0 ? "\x1b[2JK\n\r\b"[rng() % 9] : rng());
        r.Feed(bytes);

        const tRxControl& c = r.render.rxControl;
        ASSERT_GE(c.curY, 1);
        ASSERT_LT(c.countRx, 16);
        ASSERT_LE(c.escape.size(), 64u);
        ASSERT_LE(r.aux.LineCount(), 300);
        if (r.render.Mode() == RxMode::Hex) {
            for (const std::string& line : r.rx.Lines()) ASSERT_EQ(line.size(), HEX_LINE_LENGTH);
        } else {
            // The line being edited is what the window's last line shows.
            if (r.render.TextOptions() != RxTextOptions{}) continue;
            ASSERT_EQ(c.memoLine, r.rx.LineCount() ? r.rx.Line(r.rx.LineCount() - 1) : "");
            for (const std::string& line : r.rx.Lines()) {
                for (char ch : line)
                    ASSERT_GE(static_cast<std::uint8_t>(ch), 32) << "control shown";
            }
        }
    }
}

}  // namespace
}  // namespace corvel
