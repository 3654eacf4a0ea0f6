// The line controls of the window against the simulated port on the fake clock: format and line
// levels restored from the file and the command line, live DTR/RTS, the reset pulse and BREAK,
// the modem indicators and the status bar's counts.

#include <QComboBox>
#include <QMouseEvent>
#include <QSpinBox>
#include <QStatusBar>

#include "terminal/window/line_control.h"
#include "terminal/window/status_fields.h"
#include "window_fixture.h"

namespace corvel {
namespace {

using LineControlTest = WindowTest;

TEST_F(LineControlTest, FormatAndLinesComeFromTheFileOrTheCommandLineForOneRun) {
    WriteIni(
        "[LINE]\nFORMAT=7E2\nXONXOFF=1\nDTR=1\nRTS=0\nPULSE LINE=RTS\nPULSE ACTIVE=0\n"
        "PULSE MS=50\nBREAK MS=300\n");
    TfrmTerminal& win = Open();
    LineControl& lc = *win.lineControl;
    EXPECT_EQ(lc.cbxParity->currentText(), "E");
    EXPECT_EQ(lc.edtBreakMs->value(), 300);
    EXPECT_EQ(lc.cbxPulseLine->currentText(), "RTS");
    win.memoLog->clear();
    ClickConnect("COM3", "9600");
    ASSERT_TRUE(dev->IsOpen());
    const auto r = dev->GetRecords();
    // DTR is in the first record of the open: no moment without it.
    EXPECT_EQ(r.settings.front().Flags & kDcbDtrControlEnable, kDcbDtrControlEnable);
    const LineSettingsRecord& rec = r.settings.back();
    EXPECT_EQ(rec.ByteSize, 7);
    EXPECT_EQ(rec.Parity, ptEVEN);
    EXPECT_EQ(rec.StopBits, sb2BITS);
    EXPECT_EQ(rec.Flags & (kDcbOutX | kDcbInX), kDcbOutX | kDcbInX);
    EXPECT_TRUE(r.dtr);
    EXPECT_FALSE(r.rts);
    EXPECT_EQ(LogTexts(), std::vector<QString>{"Connected to COM3 at 9600 baud, 7E2, flow "
                                               "control XON/XOFF, DTR on, RTS off"});
    EXPECT_FALSE(lc.cbxDataBits->isEnabled());  // like the baud rate, fixed while connected
    EXPECT_EQ(win.status->Text("port"), "COM3 9600 7E2");
    Close();

    TerminalOptions o = Options();
    o.line.format = ParseLineFormat("8O1");
    o.line.dtr = false;
    TfrmTerminal& again = Open(o);
    EXPECT_EQ(again.lineControl->Current().format, *ParseLineFormat("8O1"));
    EXPECT_FALSE(again.lineControl->cbxDTR->isChecked());
    EXPECT_TRUE(again.lineControl->cbxXonXoff->isChecked());  // from the file still
    Close();
    // The command line's values were for that run; a damaged value is named and replaced.
    EXPECT_EQ(Ini().ReadString("LINE", "FORMAT", ""), "7E2");
    EXPECT_TRUE(Ini().ReadBool("LINE", "DTR", false));
    WriteIni("[LINE]\nFORMAT=8N9\n");
    Open();
    EXPECT_TRUE(LogHas("Settings [LINE] FORMAT = \"8N9\" is not valid; using the default"));
    EXPECT_EQ(w->lineControl->Current().format, LineFormat{});
}

TEST_F(LineControlTest, LinesPulsesBreakIndicatorsAndCountsWhileConnected) {
    TfrmTerminal& win = Open();
    win.show();
    LineControl& lc = *win.lineControl;
    EXPECT_EQ(win.status->Text("state"), "disconnected");
    EXPECT_FALSE(lc.btnReset->isEnabled());
    ClickConnect("COM3", "115200");
    EXPECT_EQ(win.status->Text("state"), "connected");
    EXPECT_EQ(win.status->Text("modem"), QString::fromUtf8("CTS ●  DSR ○  DCD ○  RI ○"));

    // DTR and RTS change at once; a reset pulse (DTR on for 100 ms) comes back to rest.
    QTest::mouseClick(lc.cbxRTS, Qt::LeftButton);
    EXPECT_TRUE(dev->GetRecords().rts);
    QTest::mouseClick(lc.btnReset, Qt::LeftButton);
    EXPECT_TRUE(dev->GetRecords().dtr);
    EXPECT_FALSE(lc.btnReset->isEnabled());
    host.Advance(99);
    EXPECT_TRUE(dev->GetRecords().dtr);
    host.Advance(1);
    EXPECT_FALSE(dev->GetRecords().dtr);
    EXPECT_TRUE(dev->GetRecords().rts);
    EXPECT_TRUE(LogHas("Reset: DTR on for 100 ms"));
    // With DTR resting on, a pulse to on would do nothing: said, not done.
    QTest::mouseClick(lc.cbxDTR, Qt::LeftButton);
    host.Advance(LineControl::kRefreshMs);
    QTest::mouseClick(lc.btnReset, Qt::LeftButton);
    EXPECT_TRUE(LogHas("DTR already rests on: a pulse to on would change nothing"));
    EXPECT_EQ(dev->GetRecords().dtrRises, 2u);

    QTest::mouseClick(lc.btnBreak, Qt::LeftButton);
    EXPECT_TRUE(dev->GetRecords().breakOn);
    host.Advance(250);
    EXPECT_EQ(dev->GetRecords().breaks, 1u);
    EXPECT_EQ(dev->GetRecords().lastBreakMs, 250u);

    // RTS/CTS takes RTS over: its box is off meanwhile.
    QTest::mouseClick(win.cbxRTSCTS, Qt::LeftButton);
    EXPECT_FALSE(lc.cbxRTS->isEnabled());
    QTest::mouseClick(win.cbxRTSCTS, Qt::LeftButton);
    EXPECT_TRUE(lc.cbxRTS->isEnabled());
    EXPECT_TRUE(dev->GetRecords().rts);  // back to its box's level

    dev->SetModemInputs({false, true, false, true});
    host.Advance(LineControl::kRefreshMs);
    EXPECT_EQ(win.status->Text("modem"), QString::fromUtf8("CTS ○  DSR ●  DCD ○  RI ●"));
    dev->SetNoModemStatus(true);
    host.Advance(LineControl::kRefreshMs);
    EXPECT_EQ(win.status->Text("modem"), "CTS DSR DCD RI unavailable");

    // The counts are the bytes that crossed, both ways; a click resets them.
    std::string stream(3000, 'x');
    dev->RemoteWrite(stream);
    win.edtSend->setText("hello");
    QTest::mouseClick(win.btnSend, Qt::LeftButton);
    host.Advance(LineControl::kRefreshMs);
    EXPECT_EQ(Wire(), "hello\n");
    EXPECT_EQ(win.status->Text("counts"), "RX 3000  TX 6");
    auto* counts = win.statusBar()->findChild<QLabel*>("status_counts");
    ASSERT_NE(counts, nullptr);
    QTest::mouseClick(counts, Qt::LeftButton);
    EXPECT_EQ(win.status->Text("counts"), "RX 0  TX 0");

    // A format the device refuses is reported, not kept quietly.
    dev->RefuseSettings(true);
    QTest::mouseClick(lc.cbxXonXoff, Qt::LeftButton);
    EXPECT_TRUE(LogHas("The port did not take the line settings: settings refused"));
    dev->RefuseSettings(false);

    QTest::mouseClick(win.btnConnect, Qt::LeftButton);
    EXPECT_TRUE(LogHas("Disconnected from COM3"));
    EXPECT_EQ(win.status->Text("state"), "disconnected");
    EXPECT_EQ(win.status->Text("modem"), "");
    EXPECT_EQ(host.ActiveTimerCount(), 1u);  // the port list's watch; none of ours
}

}  // namespace
}  // namespace corvel
