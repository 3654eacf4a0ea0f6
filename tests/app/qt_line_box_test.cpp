#include "terminal/window/qt_line_box.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <memory>

#include "terminal/line_box_contract.h"

namespace corvel {
namespace {

// Owns the widget the box works on; the box itself is a child of the widget.
class OwnedQtLineBox : public LineBox {
  public:
    OwnedQtLineBox()
        : edit_(std::make_unique<QPlainTextEdit>()), box_(new QtLineBox(edit_.get())) {}
    int LineCount() const override { return box_->LineCount(); }
    std::string Line(int i) const override { return box_->Line(i); }
    void ReplaceLine(int i, std::string_view t) override { box_->ReplaceLine(i, t); }
    void AppendLine(std::string_view t) override { box_->AppendLine(t); }
    void AppendLines(const std::vector<std::string>& l) override { box_->AppendLines(l); }
    void RemoveLine(int i) override { box_->RemoveLine(i); }
    void Clear() override { box_->Clear(); }
    int CaretLine() const override { return box_->CaretLine(); }
    void Repaint() override { box_->Repaint(); }
    void ScrollToEnd() override { box_->ScrollToEnd(); }

  private:
    std::unique_ptr<QPlainTextEdit> edit_;
    QtLineBox* box_;
};

TEST(QtLineBox, KeepsTheLineBoxContract) {
    CheckLineBoxContract([] { return std::make_unique<OwnedQtLineBox>(); });
}

TEST(QtLineBox, LineBreaksInTextCannotSplitALineAndOutsideClearsAreSeen) {
    QPlainTextEdit edit;
    QtLineBox box(&edit);
    box.AppendLine(std::string("a\nb\rc\0d", 7));
    EXPECT_EQ(box.LineCount(), 1);
    EXPECT_EQ(box.Line(0).size(), 7u);
    box.AppendLines({"x\ny"});
    EXPECT_EQ(box.LineCount(), 2);

    // One empty line, then the widget emptied behind the box's back: no line at all.
    box.Clear();
    box.AppendLine("");
    EXPECT_EQ(box.LineCount(), 1);
    edit.clear();
    EXPECT_EQ(box.LineCount(), 0);
    box.AppendLine("z");
    EXPECT_EQ(box.LineCount(), 1);
    EXPECT_EQ(box.Line(0), "z");
}

TEST(QtLineBox, ASelectionHeldByTheUserSurvivesIncomingText) {
    QPlainTextEdit edit;
    edit.resize(300, 120);
    QtLineBox box(&edit);
    std::vector<std::string> lines;
    for (int i = 0; i < 200; ++i) lines.push_back("line " + std::to_string(i));
    box.AppendLines(lines);
    EXPECT_EQ(box.CaretLine(), 199);

    // The user selects part of line 3 and scrolls there.
    QTextCursor sel(edit.document());
    sel.setPosition(edit.document()->findBlockByNumber(3).position());
    sel.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    edit.setTextCursor(sel);
    edit.verticalScrollBar()->setValue(0);

    box.ReplaceLine(199, "line 199 changed");
    box.AppendLines({"more", "and more"});
    box.ScrollToEnd();
    EXPECT_EQ(edit.textCursor().selectedText(), "line 3");
    EXPECT_EQ(edit.verticalScrollBar()->value(), 0);
    EXPECT_EQ(box.CaretLine(), 3);
    EXPECT_EQ(box.Line(201), "and more");

    // Selection dropped: the caret follows the text again.
    QTextCursor plain = edit.textCursor();
    plain.clearSelection();
    edit.setTextCursor(plain);
    box.AppendLine("tail");
    EXPECT_EQ(box.CaretLine(), 202);
}

}  // namespace
}  // namespace corvel
