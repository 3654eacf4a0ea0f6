#pragma once
// What every LineBox must do, checked the same way for the in-memory box and for the widget
// adapters: call CheckLineBoxContract with a factory of fresh, empty boxes from inside a TEST.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "terminal/line_box.h"

namespace corvel {

inline std::vector<std::string> LinesOf(const LineBox& box) {
    std::vector<std::string> lines;
    for (int i = 0; i < box.LineCount(); ++i) lines.push_back(box.Line(i));
    return lines;
}

inline void CheckLineBoxContract(const std::function<std::unique_ptr<LineBox>()>& make) {
    using Lines = std::vector<std::string>;
    {
        SCOPED_TRACE("an empty box has no lines; an empty append gives one empty line");
        auto box = make();
        EXPECT_EQ(box->LineCount(), 0);
        EXPECT_EQ(box->CaretLine(), 0);
        box->AppendLine("");
        EXPECT_EQ(LinesOf(*box), Lines{""});
        box->AppendLine("");
        EXPECT_EQ(LinesOf(*box), (Lines{"", ""}));
        EXPECT_EQ(box->CaretLine(), 1);
    }
    {
        SCOPED_TRACE("every write leaves the caret on the line written");
        auto box = make();
        box->AppendLine("first");
        box->AppendLine("second");
        box->AppendLine("third");
        EXPECT_EQ(box->CaretLine(), 2);
        box->ReplaceLine(1, "2nd");
        EXPECT_EQ(box->CaretLine(), 1);
        box->AppendLines({"fourth", "", "sixth"});
        EXPECT_EQ(LinesOf(*box), (Lines{"first", "2nd", "third", "fourth", "", "sixth"}));
        EXPECT_EQ(box->CaretLine(), 5);
        box->ReplaceLine(5, "");
        EXPECT_EQ(box->Line(5), "");
        EXPECT_EQ(box->LineCount(), 6);
    }
    {
        SCOPED_TRACE("removal, clearing and an empty batch");
        auto box = make();
        box->AppendLines({"a", "b", "c", "d"});
        box->RemoveLine(3);
        box->RemoveLine(1);
        EXPECT_EQ(LinesOf(*box), (Lines{"a", "c"}));
        box->AppendLines({});
        EXPECT_EQ(LinesOf(*box), (Lines{"a", "c"}));
        box->RemoveLine(0);
        box->RemoveLine(0);
        EXPECT_EQ(box->LineCount(), 0);
        box->AppendLines({"x", "y"});
        box->Repaint();
        box->ScrollToEnd();
        EXPECT_EQ(LinesOf(*box), (Lines{"x", "y"}));
        box->Clear();
        EXPECT_EQ(box->LineCount(), 0);
        EXPECT_EQ(box->CaretLine(), 0);
        box->AppendLine("after");
        EXPECT_EQ(LinesOf(*box), Lines{"after"});
    }
    {
        SCOPED_TRACE("indexes outside the box are ignored");
        auto box = make();
        box->ReplaceLine(0, "ghost");
        box->RemoveLine(0);
        EXPECT_EQ(box->LineCount(), 0);
        EXPECT_EQ(box->Line(0), "");
        box->AppendLine("only");
        box->ReplaceLine(1, "x");
        box->ReplaceLine(-1, "x");
        box->RemoveLine(5);
        box->RemoveLine(-1);
        EXPECT_EQ(LinesOf(*box), Lines{"only"});
        EXPECT_EQ(box->Line(-1), "");
        EXPECT_EQ(box->Line(1), "");
    }
    {
        SCOPED_TRACE("every byte the renderers write comes back unchanged");
        // 32..255: DEL, the C1 range and the no-break space included; runs of spaces kept.
        std::string all;
        for (int b = 32; b < 256; ++b) all += static_cast<char>(b);
        const std::string spaced = "  two  spaces   ";
        auto box = make();
        box->AppendLine(all);
        box->AppendLines({spaced, all});
        box->ReplaceLine(0, spaced);
        EXPECT_EQ(LinesOf(*box), (Lines{spaced, spaced, all}));
    }
    {
        SCOPED_TRACE("a large batch");
        auto box = make();
        Lines lines;
        for (int i = 0; i < 5000; ++i) lines.push_back(std::to_string(i));
        box->AppendLine("head");
        box->AppendLines(lines);
        EXPECT_EQ(box->LineCount(), 5001);
        EXPECT_EQ(box->Line(5000), "4999");
        EXPECT_EQ(box->Line(1), "0");
        EXPECT_EQ(box->CaretLine(), 5000);
    }
}

}  // namespace corvel
