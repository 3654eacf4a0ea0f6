#include "terminal/window/rx_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "terminal/line_box_contract.h"

namespace corvel {
namespace {

std::vector<std::string> Numbered(int from, int count) {
    std::vector<std::string> lines;
    for (int i = from; i < from + count; ++i) lines.push_back("line " + std::to_string(i));
    return lines;
}

// The point in the viewport where a line of a view in its first rows is drawn.
QPoint RowPoint(const RxView& view, int row, int x = 6) {
    return QPoint(
        x, 4 + row * view.fontMetrics().lineSpacing() + view.fontMetrics().lineSpacing() / 2);
}

// An unwrapped view on screen, 300 pixels wide.
class ShownRxView : public ::testing::Test {
  protected:
    void Show(int height) {
        view.resize(300, height);
        view.setLineWrapMode(RxView::NoWrap);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    RxView view;
};

TEST(RxView, KeepsTheLineBoxContract) {
    CheckLineBoxContract([] { return std::make_unique<RxView>(); });
}

TEST(RxView, KeepsBytesAsTheyCameAndCopiesThemAsText) {
    RxView view;
    view.AppendLine(std::string("a\tb\0c\xE9", 6));
    view.AppendLines({"", "last"});
    EXPECT_EQ(view.LineCount(), 3);
    EXPECT_EQ(view.Line(0), std::string("a\tb\0c\xE9", 6));
    EXPECT_EQ(view.toPlainText(), QString::fromLatin1("a\tb\0c\xE9\n\nlast", 12));

    view.selectAll();
    EXPECT_EQ(view.selectedText(), view.toPlainText());
    view.Clear();
    EXPECT_FALSE(view.hasSelection());
    EXPECT_EQ(view.toPlainText(), "");
}

TEST_F(ShownRxView, FollowsTheEndOncePerFrameAndDrawsOnlyWhatShows) {
    ASSERT_NO_FATAL_FAILURE(Show(120));
    view.AppendLines(Numbered(0, 200));
    // Writes do not touch the bars at once: a flood of chunks costs one update per frame.
    EXPECT_TRUE(view.RefreshPending());
    view.Refresh();
    QScrollBar* bar = view.verticalScrollBar();
    EXPECT_GT(bar->maximum(), 150);
    EXPECT_EQ(bar->value(), bar->maximum());

    // A line of the longest kind the renderer writes: cut to the viewport when drawn, and the
    // horizontal bar reaches its end.
    view.AppendLine(std::string(16384, 'x') + "END");
    view.Refresh();
    EXPECT_GT(view.horizontalScrollBar()->maximum(), 16384 * 4);
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
    const QImage picture = view.viewport()->grab().toImage();
    EXPECT_FALSE(picture.isNull());

    // Wrapping: no horizontal range, and the last line still ends the view.
    view.setLineWrapMode(RxView::WidgetWidth);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(bar->maximum(), view.LineCount() - 1);  // the long line fills the view alone
}

TEST_F(ShownRxView, ASelectionHeldByTheUserSurvivesIncomingTextAndDroppedLines) {
    ASSERT_NO_FATAL_FAILURE(Show(120));
    view.AppendLines(Numbered(0, 200));
    view.Refresh();
    EXPECT_EQ(view.CaretLine(), 199);

    // The user scrolls to the top and drags across "line 3" with the mouse.
    view.verticalScrollBar()->setValue(0);
    const int end = view.fontMetrics().horizontalAdvance("line 3") + 4 + 2;
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, RowPoint(view, 3, 2));
    QMouseEvent move(QEvent::MouseMove, RowPoint(view, 3, end),
                     view.viewport()->mapToGlobal(RowPoint(view, 3, end)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &move);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, RowPoint(view, 3, end));
    ASSERT_EQ(view.selectedText(), "line 3");

    view.ReplaceLine(199, "line 199 changed");
    view.AppendLines({"more", "and more"});
    view.ScrollToEnd();
    view.Refresh();
    EXPECT_EQ(view.selectedText(), "line 3");
    EXPECT_EQ(view.verticalScrollBar()->value(), 0);
    // The caret is where the last write ended, whatever the user selects.
    EXPECT_EQ(view.CaretLine(), 201);
    EXPECT_EQ(view.Line(201), "and more");

    // The window at its line limit drops the oldest lines: the selection and the view stay on
    // the same text.
    view.RemoveFirstLines(2);
    view.Refresh();
    EXPECT_EQ(view.selectedText(), "line 3");
    EXPECT_EQ(view.CaretLine(), 199);
    EXPECT_EQ(view.Line(view.verticalScrollBar()->value()), "line 2");
    // Dropping the selected line itself leaves nothing selected.
    view.RemoveFirstLines(2);
    EXPECT_FALSE(view.hasSelection());

    // Selection dropped by a click: the caret follows the text again, and so does the view.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, RowPoint(view, 0));
    view.AppendLine("tail");
    EXPECT_EQ(view.CaretLine(), view.LineCount() - 1);
    view.ScrollToEnd();
    view.Refresh();
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
}

TEST_F(ShownRxView, SelectionAcrossLinesCopiesThemJoinedByLineBreaks) {
    ASSERT_NO_FATAL_FAILURE(Show(200));
    view.AppendLines({"first", "second", "third"});
    view.Refresh();
    view.verticalScrollBar()->setValue(0);
    const int x = view.fontMetrics().horizontalAdvance("thi") + 4;
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, RowPoint(view, 0, 4 + 1));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, RowPoint(view, 0, 4 + 1));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(view, 2, x));
    EXPECT_EQ(view.selectedText(), "first\nsecond\nthi");
    // An erase-below from the board removes the lines under the caret: a selection must not
    // move it, or the selected lines and everything after them would go.
    EXPECT_EQ(view.CaretLine(), 2);
    view.RemoveLine(1);
    EXPECT_EQ(view.selectedText(), "first\nthi");
}

// The rightmost column of row 0 of the view's picture that holds a pixel of text.
int RightmostTextPixel(RxView& view) {
    const QImage image = view.viewport()->grab().toImage();
    const QColor base = view.palette().color(QPalette::Base);
    const int top = 4, bottom = 4 + view.fontMetrics().lineSpacing();
    for (int x = image.width() - 1; x >= 0; --x) {
        for (int y = top; y < bottom && y < image.height(); ++y)
            if (image.pixelColor(x, y) != base) return x;
    }
    return -1;
}

// Whatever the font, an unwrapped line is drawn up to the view's right edge, and the horizontal
// range takes the view to the line's last character.
TEST(RxView, DrawsALongLineWholeInAnyFont) {
    for (const char* family : {"DejaVu Sans", "DejaVu Sans Mono"}) {
        SCOPED_TRACE(family);
        RxView view;
        view.resize(600, 80);
        view.setLineWrapMode(RxView::NoWrap);
        view.setFont(QFont(family, 10));
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        std::string line;
        for (int i = 0; i < 200; ++i) line += "ilmWx0.:#"[i % 9];
        view.AppendLine(line);
        view.Refresh();
        const int width = view.viewport()->width();
        EXPECT_GE(RightmostTextPixel(view), width - 4 - 16);

        QScrollBar* h = view.horizontalScrollBar();
        const int textWidth = view.fontMetrics().horizontalAdvance(QString::fromLatin1(line));
        EXPECT_GE(h->maximum() + width, textWidth + 4);
        EXPECT_LE(h->maximum() + width, textWidth + 2 * 4 + 8);
        h->setValue(h->maximum());
        view.Refresh();
        // The line's last character ends at the right margin.
        EXPECT_GE(RightmostTextPixel(view), width - 4 - 16);
        EXPECT_LE(RightmostTextPixel(view), width - 2);
    }
}

}  // namespace
}  // namespace corvel
