// Bytes both ways: the send line and typed keys onto the wire, received chunks into the windows.

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>

#include <random>

#include "terminal/window/send_control.h"
#include "window_fixture.h"

namespace corvel {
namespace {

class SendTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        Open();
        w->show();
        ClickConnect("COM3", "9600");
        ASSERT_EQ(w->btnConnectTag, 1);
        Wire();
    }
    void TypeChar(char16_t c) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
        QCoreApplication::sendEvent(w->memoUart, &press);
    }
};

TEST_F(SendTest, TheSendLineGoesOutWithTheChosenTermination) {
    w->edtSend->setText("AT");
    QTest::mouseClick(w->btnSend, Qt::LeftButton);
    EXPECT_EQ(Wire(), "AT\n");
    QTest::mouseClick(w->rgrCmdTGroup->button(1), Qt::LeftButton);  // takes effect at once
    QTest::mouseClick(w->btnSend, Qt::LeftButton);
    EXPECT_EQ(Wire(), "AT\r\n");
    w->cbxSend->setChecked(false);
    QTest::mouseClick(w->btnSend, Qt::LeftButton);
    EXPECT_EQ(Wire(), "AT");
    EXPECT_EQ(w->edtSend->text(), "AT");  // kept for sending again

    // Enter presses Send once the text has changed (Send is then the default button).
    w->cbxSend->setChecked(true);
    w->edtSend->setText("ATI");
    EXPECT_TRUE(w->IsDefaultButton());
    QTest::keyClick(w->edtSend, Qt::Key_Return);
    EXPECT_EQ(Wire(), "ATI\r\n");

    // An empty line sends nothing, termination or not.
    w->edtSend->clear();
    QTest::mouseClick(w->btnSend, Qt::LeftButton);
    EXPECT_EQ(Wire(), "");

    // The line goes out in the 8-bit code page: the euro sign has a code there, U+0100 has not.
    w->edtSend->setText(QString::fromUtf8("€ é Ā"));
    w->cbxSend->setChecked(false);
    QTest::mouseClick(w->btnSend, Qt::LeftButton);
    EXPECT_EQ(Wire(), std::string("\x80 \xE9 ?"));

    // Refused while a transfer runs, with a line in the log.
    w->fileTransferActive = true;
    w->memoLog->clear();
    w->btnSendClick();
    EXPECT_EQ(Wire(), "");
    EXPECT_EQ(LogTexts(),
              std::vector<QString>{"Command ignored, there are an file being transferred"});
}

TEST_F(SendTest, KeysTypedInTheReceiveWindowGoOutOneByteEach) {
    QTest::keyClick(w->memoUart, 'a');
    QTest::keyClick(w->memoUart, Qt::Key_Return);
    w->cbxRet->setChecked(false);
    QTest::keyClick(w->memoUart, Qt::Key_Return);
    QTest::keyClick(w->memoUart, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(w->memoUart, Qt::Key_Tab);
    QTest::keyClick(w->memoUart, Qt::Key_Backspace);
    QTest::keyClick(w->memoUart, Qt::Key_Escape);
    TypeChar(0x00E9);  // é: its own code
    TypeChar(0x0141);  // Ł: only the low 8 bits go out
    EXPECT_EQ(Wire(), std::string("a\n\r\x03\t\b\x1b\xE9\x41", 9));
    EXPECT_EQ(w->focusWidget(), w->memoUart);  // Tab did not move the focus away

    // The control characters a terminal keyboard makes with Ctrl beyond A to Z.
    for (Qt::Key key :
         {Qt::Key_At, Qt::Key_Space, Qt::Key_BracketLeft, Qt::Key_Backslash, Qt::Key_BracketRight,
          Qt::Key_AsciiCircum, Qt::Key_Underscore, Qt::Key_Backspace})
        QTest::keyClick(w->memoUart, key, Qt::ControlModifier);
    EXPECT_EQ(Wire(), std::string("\0\0\x1b\x1c\x1d\x1e\x1f\x7f", 8));

    // With terminal keys off, navigation keys do nothing here and send nothing.
    w->sendControl->cbxTermKeys->setChecked(false);
    QTest::keyClick(w->memoUart, Qt::Key_Left);
    QTest::keyClick(w->memoUart, Qt::Key_Delete);
    QTest::keyClick(w->memoUart, Qt::Key_PageUp);
    EXPECT_EQ(Wire(), "");
    EXPECT_EQ(w->memoUartBox()->LineCount(), 0);  // nothing echoed locally
}

TEST_F(SendTest, TypingIsRefusedWhileDisconnectedOrTransferring) {
    QTest::mouseClick(w->btnConnect, Qt::LeftButton);  // disconnect
    w->memoLog->clear();
    QTest::keyClicks(w->memoUart, "ab");
    EXPECT_EQ(LogTexts(), (std::vector<QString>{"UART disconnected", "UART disconnected"}));
    EXPECT_EQ(Log()[0].color, kYellow);

    ClickConnect("COM3", "9600");
    w->fileTransferActive = true;
    w->memoLog->clear();
    QTest::keyClick(w->memoUart, 'x');
    QTest::keyClick(w->memoUart, Qt::Key_Down);
    EXPECT_EQ(LogTexts(),
              (std::vector<QString>{"Command ignored, file is being transferred",
                                    "Command ignored, there are an file is being transferred",
                                    "Command ignored, file is being transferred"}));
    EXPECT_EQ(Wire(), "");
}

class ReceiveTest : public SendTest {};

TEST_F(ReceiveTest, ChunksRenderInAsciiModeWithTheCaretOnTheNewestText) {
    dev->RemoteWrite("abc\r12\n");
    Poll();
    dev->RemoteWrite("50%\r");
    Poll();
    dev->RemoteWrite("60%\x07");
    Poll();
    RxView* rx = w->memoUartBox();
    ASSERT_EQ(rx->LineCount(), 2);
    EXPECT_EQ(rx->Line(0), "12c");
    // The CR that ended one read returns the cursor for the next one.
    EXPECT_EQ(rx->Line(1), "60%");
    EXPECT_EQ(rx->CaretLine(), 1);
    EXPECT_EQ(host.beeps, 1);

    // ESC [ 2 J empties the window; text after it starts the new first line.
    dev->RemoteWrite("old\n\x1b[2Jnew \xE9");
    Poll();
    ASSERT_EQ(rx->LineCount(), 1);
    EXPECT_EQ(rx->Line(0), "new \xE9");
    EXPECT_EQ(w->memoUart->toPlainText(), QString::fromUtf8("new é"));
}

// The real receive road (port, driver tick, renderer, view): whatever way the reads split a
// stream, the window shows what the stream in one read shows.
TEST_F(ReceiveTest, AnySplitOfAStreamShowsTheSameWindow) {
    const std::vector<std::string> pieces = {
        "ab",       "c",       " ",      "\xe9",    "\r",      "\n",      "\b",     "\x07",
        "\t",       "\x1b",    "\x1b[",  "\x1b[K",  "\x1b[1K", "\x1b[2K", "\x1b[J", "\x1b[2J",
        "\x1b[31m", "\x1b[0m", "\x1b(B", "\x1b[1;", "m",       "50%\r",   "\x1b\r", "["};
    std::mt19937 rng(1616);
    RxView* rx = w->memoUartBox();
    const auto show = [&](const std::string& stream, const std::vector<std::size_t>& cuts) {
        // A CR ends any sequence left open; then a clean window.
        dev->RemoteWrite("\r");
        Poll();
        w->ClearRx();
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            dev->RemoteWrite(stream.substr(from, cut - from));
            Poll();
            from = cut;
        }
        dev->RemoteWrite(stream.substr(from));
        Poll();
        std::vector<std::string> lines;
        for (int i = 0; i < rx->LineCount(); ++i) lines.push_back(rx->Line(i));
        return lines;
    };
    for (int round = 0; round < 40; ++round) {
        std::string stream;
        for (int i = 0, n = 2 + static_cast<int>(rng() % 10); i < n; ++i)
            stream += pieces[rng() % pieces.size()];
        const auto whole = show(stream, {});
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<std::size_t> cuts;
            for (std::size_t at = 1; at < stream.size(); ++at)
                if (rng() % (trial + 2) == 0) cuts.push_back(at);
            ASSERT_EQ(show(stream, cuts), whole) << "round " << round << " trial " << trial;
        }
    }
}

TEST_F(ReceiveTest, HexModeAndSideColumnsFollowTheSwitches) {
    QTest::mouseClick(w->cbxViewRX_CHAR, Qt::LeftButton);
    QTest::mouseClick(w->cbxViewRX_DEC, Qt::LeftButton);
    QTest::mouseClick(w->cbxViewRX_HEX, Qt::LeftButton);
    QTest::mouseClick(w->cbxViewRX_BIN, Qt::LeftButton);
    EXPECT_TRUE(w->pnlUartAux->isVisible());
    EXPECT_EQ(w->pnlUartAux->width(), 186);

    dev->RemoteWrite("A\r");
    Poll();
    RxView* aux = w->memoUartAuxBox();
    ASSERT_EQ(aux->LineCount(), 2);
    EXPECT_EQ(aux->Line(0), "A    65 0x41 01000001");
    EXPECT_EQ(aux->Line(1), "CR   13 0x0D 00001101");

    QTest::mouseClick(w->cbxHEX, Qt::LeftButton);
    EXPECT_EQ(w->memoUartBox()->LineCount(), 0);  // a mode change empties the window
    EXPECT_EQ(aux->LineCount(), 2);               // but not the side window
    dev->RemoteWrite("0123456789");
    Poll();
    dev->RemoteWrite("ABCDEFGHIJ");
    Poll();
    RxView* rx = w->memoUartBox();
    ASSERT_EQ(rx->LineCount(), 2);
    EXPECT_EQ(rx->Line(0), "30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46  : 0123456789ABCDEF");
    EXPECT_EQ(rx->Line(1).substr(0, 12), "47 48 49 4A ");
    EXPECT_EQ(rx->Line(1).substr(48), " : GHIJ            ");
    EXPECT_EQ(aux->LineCount(), 22);

    // Columns off: the panel hides and the side window empties.
    for (QCheckBox* c : {w->cbxViewRX_CHAR, w->cbxViewRX_DEC, w->cbxViewRX_HEX})
        QTest::mouseClick(c, Qt::LeftButton);
    EXPECT_EQ(w->pnlUartAux->width(), 84);
    EXPECT_EQ(aux->LineCount(), 0);
    QTest::mouseClick(w->cbxViewRX_BIN, Qt::LeftButton);
    EXPECT_FALSE(w->pnlUartAux->isVisible());

    // "Line break": only the vertical bar while wrapping, both while not.
    QTest::mouseClick(w->cbxWordWrap, Qt::LeftButton);
    EXPECT_EQ(w->memoUart->lineWrapMode(), RxView::WidgetWidth);
    EXPECT_EQ(w->memoUart->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QTest::mouseClick(w->cbxWordWrap, Qt::LeftButton);
    EXPECT_EQ(w->memoUart->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(w->memoUart->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

}  // namespace
}  // namespace corvel
