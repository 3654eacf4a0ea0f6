#include "terminal/mem_line_box.h"

#include <gtest/gtest.h>

#include "line_box_contract.h"

namespace corvel {
namespace {

using Lines = std::vector<std::string>;

TEST(MemLineBox, KeepsTheLineBoxContract) {
    CheckLineBoxContract([] { return std::make_unique<MemLineBox>(); });
}

TEST(MemLineBox, CaretFollowsRemovalsAndUserPlacement) {
    MemLineBox box;
    box.AppendLines({"a", "b", "c", "d"});
    box.SetCaretLine(2);
    box.RemoveLine(0);  // above the caret: the caret stays on "c"
    EXPECT_EQ(box.CaretLine(), 1);
    box.RemoveLine(2);  // below it: no change
    EXPECT_EQ(box.CaretLine(), 1);
    box.RemoveLine(1);  // its own line: the caret stays within the box
    EXPECT_EQ(box.CaretLine(), 0);
    box.SetCaretLine(99);
    EXPECT_EQ(box.CaretLine(), 0);
    box.SetCaretLine(-3);
    EXPECT_EQ(box.CaretLine(), 0);
}

TEST(MemLineBox, LineLimitDropsOldestWholeLines) {
    MemLineBox box;
    box.AppendLines({"1", "2", "3", "4"});
    box.SetCaretLine(3);
    box.SetMaxLines(3);
    EXPECT_EQ(box.Lines(), (Lines{"2", "3", "4"}));
    EXPECT_EQ(box.CaretLine(), 2);
    box.AppendLine("5");
    EXPECT_EQ(box.Lines(), (Lines{"3", "4", "5"}));
    box.AppendLines({"6", "7", "8", "9", "10"});
    EXPECT_EQ(box.Lines(), (Lines{"8", "9", "10"}));
    EXPECT_EQ(box.CaretLine(), 2);
    box.SetMaxLines(0);
    box.AppendLines({"11", "12"});
    EXPECT_EQ(box.LineCount(), 5);
    EXPECT_EQ(box.Text(), "8\n9\n10\n11\n12");
}

}  // namespace
}  // namespace corvel
