// Find in the receive window and the log, driven through the window's own controls.
#include <QImage>
#include <QScrollBar>
#include <QToolButton>

#include "terminal/window/search_bar.h"
#include "terminal/window/send_control.h"
#include "window_fixture.h"

namespace corvel {
namespace {

class SearchTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        WriteIni("[LIMITS]\nRX LINES=50\n");
        Open();
        w->resize(1025, 706);
        w->show();
        w->activateWindow();  // F3 is a shortcut of the active window
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        ClickConnect("COM3", "115200");
    }
    void Receive(const std::string& bytes) {
        dev->RemoteWrite(bytes);
        Poll();
        w->memoUartBox()->Refresh();
    }
    // The line the receive window shows at its top, and how many fit.
    int TopLine() const { return w->memoUart->verticalScrollBar()->value(); }
    int Page() const { return w->memoUart->verticalScrollBar()->pageStep(); }
    bool ShowsHighlight() {
        QCoreApplication::processEvents();
        const QImage image = w->memoUart->viewport()->grab().toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == QColor(255, 230, 80)) return true;
        return false;
    }
    SearchBar& Bar() { return *w->search; }
};

TEST_F(SearchTest, ReceiveWindowMatchesAcrossTheScrollbackAfterLinesWereDropped) {
    // 200 lines through a 50-line window (the last one is the empty line after the last line
    // end): lines 0..150 are gone. "Boot" is on every 10th line, also on dropped ones.
    std::string stream;
    for (int i = 0; i < 200; ++i)
        stream += (i % 10 == 5 ? "U-Boot line " : "line ") + std::to_string(i) + "\n";
    Receive(stream);
    ASSERT_EQ(w->memoUartBox()->Line(0), "line 151");
    RxView* rx = w->memoUart;
    const auto lineOfSelection = [&] {
        const std::string line = rx->Line(rx->SelectionLine());
        return line.rfind("U-Boot line ", 0) == 0 ? std::stoi(line.substr(12)) : -1;
    };

    QTest::mouseClick(Bar().btnFindOpen, Qt::LeftButton);
    ASSERT_TRUE(Bar().pnlFind->isVisible());
    EXPECT_EQ(w->focusWidget(), Bar().edtFind);
    QTest::keyClicks(Bar().edtFind, "boot");
    EXPECT_TRUE(ShowsHighlight());  // 185 and 195 are in view at the followed end
    // Backwards from the end, then round the start, each brought into view.
    for (int expected : {195, 185, 175, 165, 155, 195}) {
        QTest::keyClick(Bar().edtFind, Qt::Key_Return, Qt::ShiftModifier);
        EXPECT_EQ(rx->selectedText(), "Boot");
        EXPECT_EQ(lineOfSelection(), expected);
        const int index = expected - 151;
        EXPECT_LE(TopLine(), index);
        EXPECT_GT(TopLine() + Page(), index);
    }
    QTest::mouseClick(Bar().btnFindNext, Qt::LeftButton);  // forwards, round the end
    EXPECT_EQ(lineOfSelection(), 155);
    QTest::mouseClick(Bar().btnFindNext, Qt::LeftButton);
    EXPECT_EQ(lineOfSelection(), 165);
    EXPECT_TRUE(ShowsHighlight());  // 175 beside the selected one
    // Lines arriving meanwhile leave the view on the match as older lines drop under it.
    Receive("more\n");
    EXPECT_EQ(lineOfSelection(), 165);
    EXPECT_LE(TopLine(), rx->SelectionLine());
    EXPECT_GT(TopLine() + Page(), rx->SelectionLine());
    QTest::mouseClick(Bar().btnFindNext, Qt::LeftButton);
    EXPECT_EQ(lineOfSelection(), 175);
    EXPECT_TRUE(Bar().lblFind->text().isEmpty());

    // Case rules, then nothing found: the selection stays and the row says so.
    QTest::mouseClick(Bar().cbxFindCase, Qt::LeftButton);
    Bar().edtFind->setText("BOOT");
    EXPECT_FALSE(ShowsHighlight());
    QTest::keyClick(Bar().edtFind, Qt::Key_Return);
    EXPECT_EQ(Bar().lblFind->text(), "Not found");
    EXPECT_EQ(lineOfSelection(), 175);
    Bar().edtFind->setText("line 145");  // only on a dropped line
    EXPECT_FALSE(Bar().Find(false));
    QTest::keyClick(Bar().edtFind, Qt::Key_Escape);
    EXPECT_FALSE(Bar().pnlFind->isVisible());
    EXPECT_EQ(w->focusWidget(), w->memoUart);
    Bar().edtFind->setText("boot");
    EXPECT_FALSE(ShowsHighlight());  // a closed row highlights nothing
}

TEST_F(SearchTest, LogSearchAndF3LeavesTheTerminalKeyToThePort) {
    w->print_Log(w->ColorMessage, "first Alarm");
    w->print_Log(w->ColorMessage, "quiet");
    w->print_Log(w->ColorMessage, "second alarm");
    Bar().Open(1);
    QTest::keyClicks(Bar().edtFind, "alarm");
    EXPECT_EQ(w->memoLog->extraSelections().size(), 2);
    QTest::keyClick(Bar().edtFind, Qt::Key_F3);
    const auto selected = [this] { return w->memoLog->textCursor(); };
    EXPECT_EQ(selected().selectedText(), "Alarm");
    QTest::keyClick(Bar().edtFind, Qt::Key_F3);
    EXPECT_EQ(selected().block().text(), "second alarm");
    QTest::keyClick(Bar().edtFind, Qt::Key_F3);  // round the end
    EXPECT_EQ(selected().block().text(), "first Alarm");
    QTest::keyClick(Bar().edtFind, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(selected().block().text(), "second alarm");
    QTest::mouseClick(Bar().cbxFindCase, Qt::LeftButton);
    Bar().edtFind->setText("Alarm");
    EXPECT_EQ(w->memoLog->extraSelections().size(), 1);

    // In the receive window with terminal keys on, F3 is a key for the board.
    Wire();
    w->memoUart->setFocus();
    ASSERT_TRUE(w->sendControl->cbxTermKeys->isChecked());
    QTest::keyClick(w->memoUart, Qt::Key_F3);
    EXPECT_EQ(Wire(), "\x1bOR");
    EXPECT_EQ(selected().block().text(), "second alarm");
    // With terminal keys off it finds from there too.
    w->sendControl->cbxTermKeys->setChecked(false);
    QTest::keyClick(w->memoUart, Qt::Key_F3);
    EXPECT_EQ(Wire(), "");
    EXPECT_EQ(selected().block().text(), "first Alarm");
}

}  // namespace
}  // namespace corvel
