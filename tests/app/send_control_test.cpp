// Sending like a terminal through the window: terminal keys, paste and copy, the send-line
// formats, the CR line end, the history, pacing and local echo, each against the bytes that
// reach the simulated port and the settings that come back at the next start.

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QScrollBar>
#include <QSpinBox>
#include <fstream>

#include "terminal/window/send_control.h"
#include "window_fixture.h"

namespace corvel {
namespace {

class SendControlTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        OpenConnected();
    }
    void OpenConnected() {
        Open();
        w->show();
        ClickConnect("COM3", "9600");
        ASSERT_EQ(w->btnConnectTag, 1);
        Wire();
        s = w->sendControl.get();
    }
    void Reopen() {
        Close();
        OpenConnected();
    }
    void SendLine(const QString& text) {
        w->edtSend->setText(text);
        QTest::mouseClick(w->btnSend, Qt::LeftButton);
    }
    SendControl* s = nullptr;
};

TEST_F(SendControlTest, TerminalKeysSendXtermSequencesAndShiftPageScrolls) {
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        const char* bytes;
    };
    const Case cases[] = {
        {Qt::Key_Up, Qt::NoModifier, "\x1b[A"},
        {Qt::Key_Down, Qt::NoModifier, "\x1b[B"},
        {Qt::Key_Right, Qt::NoModifier, "\x1b[C"},
        {Qt::Key_Left, Qt::NoModifier, "\x1b[D"},
        {Qt::Key_Home, Qt::NoModifier, "\x1b[H"},
        {Qt::Key_End, Qt::NoModifier, "\x1b[F"},
        {Qt::Key_Insert, Qt::NoModifier, "\x1b[2~"},
        {Qt::Key_Delete, Qt::NoModifier, "\x1b[3~"},
        {Qt::Key_PageUp, Qt::NoModifier, "\x1b[5~"},
        {Qt::Key_PageDown, Qt::NoModifier, "\x1b[6~"},
        {Qt::Key_F1, Qt::NoModifier, "\x1bOP"},
        {Qt::Key_F4, Qt::NoModifier, "\x1bOS"},
        {Qt::Key_F5, Qt::NoModifier, "\x1b[15~"},
        {Qt::Key_F6, Qt::NoModifier, "\x1b[17~"},
        {Qt::Key_F11, Qt::NoModifier, "\x1b[23~"},
        {Qt::Key_F12, Qt::NoModifier, "\x1b[24~"},
        {Qt::Key_Up, Qt::ControlModifier, "\x1b[1;5A"},
        {Qt::Key_Delete, Qt::ShiftModifier, "\x1b[3;2~"},
        {Qt::Key_F1, Qt::AltModifier, "\x1b[1;3P"},
    };
    for (const Case& c : cases) {
        QTest::keyClick(w->memoUart, c.key, c.mods);
        EXPECT_EQ(Wire(), c.bytes) << c.key;
    }
    // Ctrl+C is still the board's interrupt.
    QTest::keyClick(w->memoUart, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Wire(), "\x03");

    // Shift+Page Up/Down move the receive window and send nothing.
    std::string many;
    for (int i = 0; i < 300; ++i) many += "line " + std::to_string(i) + "\r\n";
    dev->RemoteWrite(many);
    Poll();
    w->memoUart->Refresh();
    QScrollBar* bar = w->memoUart->verticalScrollBar();
    const int bottom = bar->value();
    ASSERT_GT(bottom, 0);
    QTest::keyClick(w->memoUart, Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_LT(bar->value(), bottom);
    QTest::keyClick(w->memoUart, Qt::Key_PageDown, Qt::ShiftModifier);
    EXPECT_EQ(bar->value(), bottom);
    EXPECT_EQ(Wire(), "");

    // Off, and remembered so.
    s->cbxTermKeys->setChecked(false);
    Reopen();
    EXPECT_FALSE(s->cbxTermKeys->isChecked());
    QTest::keyClick(w->memoUart, Qt::Key_Up);
    EXPECT_EQ(Wire(), "");
}

TEST_F(SendControlTest, PasteSendsTypedLinesInTheCodePageAndCopyTakesTheSelection) {
    QClipboard* clip = QGuiApplication::clipboard();
    clip->setText(QString::fromUtf8("ls -l\r\npwd\rcaf\u00e9 \u20ac\n"));
    // Line ends become what Enter sends: LF while "ENTER key = LF" is checked, else CR.
    QTest::keyClick(w->memoUart, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Wire(), "ls -l\npwd\ncaf\xe9 \x80\n");
    w->cbxRet->setChecked(false);
    QTest::keyClick(w->memoUart, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Wire(), "ls -l\rpwd\rcaf\xe9 \x80\r");
    // Middle click: the selection where the system has one, else the clipboard.
    clip->setText("help\n");
    QTest::mouseClick(w->memoUart->viewport(), Qt::MiddleButton);
    EXPECT_EQ(Wire(), "help\r");
    // Ctrl+V is still a control character.
    QTest::keyClick(w->memoUart, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Wire(), "\x16");

    // Above 4 KB the user is asked first; No sends nothing.
    const QString big(5000, 'x');
    clip->setText(big);
    dialogs.answers = {false, true};
    QTest::keyClick(w->memoUart, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Wire(), "");
    QTest::keyClick(w->memoUart, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Wire(), std::string(5000, 'x'));
    EXPECT_EQ(dialogs.Count(ScriptedDialogs::Kind::Question), 2);

    // Copy takes what is selected in the receive window.
    dev->RemoteWrite("board says hi");
    Poll();
    w->memoUart->selectAll();
    QTest::keyClick(w->memoUart, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(clip->text(), "board says hi");
    EXPECT_EQ(Wire(), "");

    // Refused while a transfer runs.
    w->fileTransferActive = true;
    QTest::keyClick(w->memoUart, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Wire(), "");
    EXPECT_TRUE(LogHas("Command ignored, there are an file being transferred"));
    w->fileTransferActive = false;
}

TEST_F(SendControlTest, FormatsApplyToTheSendLineAndTheListsAndBadLinesSendNothing) {
    s->cbxSendFormat->setCurrentIndex(static_cast<int>(SendFormat::Hex));
    SendLine("01 02 ff");
    EXPECT_EQ(Wire(), std::string("\x01\x02\xff\n", 4));
    w->cbxSend->setChecked(false);
    SendLine("0x55 0xAA");
    EXPECT_EQ(Wire(), "\x55\xAA");

    w->memoLog->clear();
    SendLine("01 0g");
    EXPECT_EQ(Wire(), "");
    EXPECT_EQ(LogTexts(),
              std::vector<QString>{"Not sent: not a hex digit at column 5 of the hex line"});
    EXPECT_EQ(Log()[0].color, kRed);

    s->cbxSendFormat->setCurrentIndex(static_cast<int>(SendFormat::Escapes));
    SendLine(R"(AT\r\n\e\x00)");
    EXPECT_EQ(Wire(), std::string("AT\r\n\x1b\x00", 6));

    // A command of a list goes through the same reading.
    w->cbxSendCmd->setChecked(true);
    w->strCmds->addItem(R"(reset\r)");
    const QRect r = w->strCmds->visualItemRect(w->strCmds->item(0));
    QTest::mouseClick(w->strCmds->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    QTest::mouseDClick(w->strCmds->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    EXPECT_EQ(Wire(), "reset\r");

    Reopen();
    EXPECT_EQ(s->Format(), SendFormat::Escapes);
    EXPECT_EQ(Ini().ReadInteger("SEND", "FORMAT", -1), 2);
}

TEST_F(SendControlTest, CrLineEndIsAKeyOfItsOwnAndTheStoredTerminatorKeepsItsMeaning) {
    Close();
    WriteIni("[RGR]\nCMD TERMINATOR=7\n");
    OpenConnected();
    EXPECT_TRUE(w->rgrCmdTGroup->button(1)->isChecked());  // 7 has always meant CR LF
    QTest::mouseClick(s->rgrCmdT_CR, Qt::LeftButton);
    SendLine("AT");
    EXPECT_EQ(Wire(), "AT\r");
    Reopen();
    EXPECT_TRUE(s->rgrCmdT_CR->isChecked());
    SendLine("AT");
    EXPECT_EQ(Wire(), "AT\r");
    EXPECT_EQ(Ini().ReadInteger("RGR", "CMD TERMINATOR", -1), 7);
    EXPECT_TRUE(Ini().ReadBool("SEND", "TERMINATOR CR", false));
    // Back to LF: the old key says so again and the new one no longer overrides it.
    QTest::mouseClick(w->rgrCmdTGroup->button(0), Qt::LeftButton);
    Reopen();
    EXPECT_TRUE(w->rgrCmdTGroup->button(0)->isChecked());
    EXPECT_EQ(Ini().ReadInteger("RGR", "CMD TERMINATOR", -1), 0);
}

TEST_F(SendControlTest, HistoryWalksTheLastHundredLinesAndSurvivesARestart) {
    for (int i = 1; i <= 105; ++i) SendLine(QString("cmd %1").arg(i));
    SendLine("cmd 50");  // sent again: it moves to the front, once
    Wire();
    w->edtSend->setText("draft");
    auto up = [&] { QTest::keyClick(w->edtSend, Qt::Key_Up); };
    auto down = [&] { QTest::keyClick(w->edtSend, Qt::Key_Down); };
    up();
    EXPECT_EQ(w->edtSend->text(), "cmd 50");
    up();
    EXPECT_EQ(w->edtSend->text(), "cmd 105");
    down();
    down();
    EXPECT_EQ(w->edtSend->text(), "draft");  // the line being typed comes back
    EXPECT_EQ(Wire(), "");                   // walking sends nothing

    Reopen();
    ASSERT_EQ(s->History().size(), SendControl::kHistorySize);
    EXPECT_EQ(s->History().front(), "cmd 50");
    EXPECT_EQ(s->History().back(), "cmd 6");
    for (int i = 0; i < 200; ++i) up();  // stops at the oldest
    EXPECT_EQ(w->edtSend->text(), "cmd 6");
}

TEST_F(SendControlTest, PacingSpacesTheBytesOnTheClockAndStopDropsTheRest) {
    s->edtCharDelay->setValue(10);
    s->edtLineDelay->setValue(100);
    const std::uint64_t t0 = host.NowMs();
    SendLine("ab");  // "ab\n"
    EXPECT_EQ(Wire(), "a");
    EXPECT_EQ(w->btnSend->text(), "Stop");
    host.Advance(10);
    EXPECT_EQ(Wire(), "b");
    host.Advance(10);
    EXPECT_EQ(Wire(), "\n");
    EXPECT_EQ(w->btnSend->text(), "Send");
    // The next line waits out the pause after the line end; typed keys queue behind it.
    SendLine("cd");
    QTest::keyClick(w->memoUart, 'z');
    host.Advance(109);
    EXPECT_EQ(Wire(), "");
    host.Advance(1);
    EXPECT_EQ(Wire(), "c");
    EXPECT_EQ(host.NowMs() - t0, 130u);
    QTest::mouseClick(w->btnSend, Qt::LeftButton);  // Stop
    host.Advance(1000);
    EXPECT_EQ(Wire(), "");
    EXPECT_TRUE(LogHas("Sending stopped, 3 bytes not sent"));
    EXPECT_EQ(w->btnSend->text(), "Send");

    // A disconnect ends a paced send quietly.
    SendLine("xyz");
    EXPECT_EQ(Wire(), "x");
    QTest::mouseClick(w->btnConnect, Qt::LeftButton);
    host.Advance(1000);
    EXPECT_EQ(Wire(), "");
    EXPECT_FALSE(s->Busy());

    ClickConnect("COM3", "9600");
    Reopen();
    EXPECT_EQ(s->CurrentPacing().charDelayMs, 10u);
    EXPECT_EQ(s->CurrentPacing().lineDelayMs, 100u);
}

TEST_F(SendControlTest, RawFileSendIsPacedWithTheWindowAliveAndItsStopWorks) {
    const QString path = tmp.filePath("lines.txt");
    {
        std::ofstream f(path.toStdString(), std::ios::binary);
        f << "one\ntwo\nthree\n";
    }
    s->edtLineDelay->setValue(50);
    dialogs.files = {path};
    int pumps = 0;
    host.onProcessMessages = [&] { ++pumps; };
    const std::uint64_t t0 = host.NowMs();
    QTest::mouseClick(w->btnTxFile, Qt::LeftButton);
    EXPECT_EQ(Wire(), "one\ntwo\nthree\n");
    EXPECT_GE(host.NowMs() - t0, 100u);
    EXPECT_GE(pumps, 2);
    EXPECT_TRUE(LogHas("Transmitted 14 bytes with maximum rate of 0 KBytes/Sec"));

    // Stopped by its button while it waits between lines.
    host.Advance(1000);
    dialogs.files = {path};
    pumps = 0;
    host.onProcessMessages = [&] {
        if (++pumps == 1) QTest::mouseClick(w->btnTxFile, Qt::LeftButton);
    };
    QTest::mouseClick(w->btnTxFile, Qt::LeftButton);
    host.onProcessMessages = {};
    EXPECT_EQ(Wire(), "one\n");
    EXPECT_TRUE(LogHas("Transmission canceled"));
    EXPECT_FALSE(s->Busy());
    EXPECT_EQ(w->btnTxFileTag, 0);
}

TEST_F(SendControlTest, LocalEchoShowsWhatIsSentAsAnEchoingBoardWould) {
    s->cbxLocalEcho->setChecked(true);
    w->cbxRet->setChecked(false);
    QTest::keyClicks(w->memoUart, "hi");
    QTest::keyClick(w->memoUart, Qt::Key_Return);  // CR: shown as a new line
    SendLine("ver");                               // "ver\n"
    w->cbxSend->setChecked(false);
    SendLine("x");
    EXPECT_EQ(Wire(), "hi\rver\nx");
    RxView* rx = w->memoUartBox();
    ASSERT_EQ(rx->LineCount(), 3);
    EXPECT_EQ(rx->Line(0), "hi");
    EXPECT_EQ(rx->Line(1), "ver");
    EXPECT_EQ(rx->Line(2), "x");
    Reopen();
    EXPECT_TRUE(s->cbxLocalEcho->isChecked());
}

}  // namespace
}  // namespace corvel
