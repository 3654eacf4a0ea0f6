#include "terminal/rx_Control.h"

#include <gtest/gtest.h>

#include "terminal/mem_line_box.h"

namespace corvel {
namespace {

using Lines = std::vector<std::string>;

TEST(RxControl, LoadsAndEditsTheLastLine) {
    MemLineBox box;
    box.AppendLines({"", "abcdef"});
    tRxControl rx(box);
    EXPECT_EQ(rx.curY, 1);
    EXPECT_EQ(rx.countRx, 0);
    EXPECT_FALSE(rx.escapeInit);

    rx.capLine(0);
    EXPECT_EQ(rx.memoLine, "");
    EXPECT_EQ(rx.curY, 1);

    rx.capLine(1);
    EXPECT_EQ(rx.curY, 7);
    rx.insertChar('g');  // at the end: appends
    EXPECT_EQ(rx.memoLine, "abcdefg");
    EXPECT_EQ(rx.curY, 8);

    rx.capLine(1);
    rx.curY = 1;         // after a CR
    rx.insertChar('X');  // inside: overwrites, never shifts
    EXPECT_EQ(rx.memoLine, "Xbcdef");
    EXPECT_EQ(rx.curY, 2);
    rx.insertChar(0xE9);
    EXPECT_EQ(rx.memoLine,
              "X\xE9"
              "cdef");

    rx.capLine(1);
    rx.curY = 4;
    rx.deleteChar(3);
    EXPECT_EQ(rx.memoLine, "abdef");
    EXPECT_EQ(rx.curY, 3);

    rx.curY = 1;
    rx.deleteChar(0);  // column 1: nothing
    rx.deleteChar(1);
    EXPECT_EQ(rx.memoLine, "abdef");
    EXPECT_EQ(rx.curY, 1);
    EXPECT_EQ(box.Lines(), (Lines{"", "abcdef"}));  // nothing is written until replaceLine
}

TEST(RxControl, RefusesToIndexOutsideTheLine) {
    MemLineBox box;
    tRxControl rx(box);
    rx.memoLine = "abc";
    rx.curY = 3;
    rx.deleteChar(7);
    rx.deleteChar(-2);
    EXPECT_EQ(rx.memoLine, "abc");
    EXPECT_EQ(rx.curY, 3);
    rx.curY = 40;  // broken by a caller: the byte lands at the end of the line
    rx.insertChar('d');
    EXPECT_EQ(rx.memoLine, "abcd");
    EXPECT_EQ(rx.curY, 5);
    rx.curY = -5;
    rx.insertChar('e');
    EXPECT_EQ(rx.memoLine, "abcde");
    rx.capLine(12);  // no such line
    EXPECT_EQ(rx.memoLine, "");
    EXPECT_EQ(rx.curY, 1);
}

TEST(RxControl, ReplaceLineWritesBackAndOpensLines) {
    MemLineBox box;
    tRxControl rx(box);
    rx.replaceLine(false);  // empty line: nothing written
    EXPECT_EQ(box.LineCount(), 0);
    EXPECT_EQ(box.edits, 0);

    rx.replaceLine(true);  // empty window, empty line: two empty lines
    EXPECT_EQ(box.Lines(), (Lines{"", ""}));
    EXPECT_EQ(rx.curY, 1);

    rx.insertChar('h');
    rx.insertChar('i');
    rx.replaceLine(false);
    EXPECT_EQ(box.Lines(), (Lines{"", "hi"}));
    EXPECT_EQ(rx.memoLine, "");
    EXPECT_EQ(rx.curY, 3);  // left for the next chunk to set

    rx.capLine(1);
    rx.replaceLine(true);
    EXPECT_EQ(box.Lines(), (Lines{"", "hi", ""}));
    EXPECT_EQ(box.CaretLine(), 2);

    MemLineBox empty;
    tRxControl first(empty);
    first.insertChar('x');
    first.replaceLine(false);  // no line yet: appended
    EXPECT_EQ(empty.Lines(), Lines{"x"});
}

TEST(RxControl, CleaningKeepsAnEscapeSequenceInProgress) {
    MemLineBox box;
    tRxControl rx(box);
    rx.memoLine = "abc";
    rx.curY = 2;
    rx.countRx = 9;
    rx.escapeInit = true;
    rx.escape = "[1";
    rx.ControlClean();
    EXPECT_EQ(rx.memoLine, "");
    EXPECT_EQ(rx.curY, 1);
    EXPECT_EQ(rx.countRx, 0);
    EXPECT_TRUE(rx.escapeInit);
    EXPECT_EQ(rx.escape, "[1");
}

}  // namespace
}  // namespace corvel
