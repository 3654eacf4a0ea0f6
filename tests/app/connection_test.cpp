// Connecting and disconnecting: the checks, the boxes and log lines, the button states and the
// loss of the device while connected.

#include <QCheckBox>
#include <QDialog>
#include <QListWidget>
#include <QPlainTextEdit>

#include "config/dialog/config.h"
#include "window_fixture.h"

namespace corvel {
namespace {

using ConnectionTest = WindowTest;

const QString kRtsWarning =
    "ATTENTION: If the other end of the communication is not connected during data "
    "transmission, the terminal will dead lock";
const QString kFtdiWarning = "ATTENTION: Only FTDIs support speeds above 115200 baudrate";

TEST_F(ConnectionTest, RefusalsLeaveTheWindowDisconnected) {
    auto busy = SimDevice::Make();
    busy->RefuseOpen(PortErrorKind::Busy);
    ports.Add("COM4", busy);
    auto locked = SimDevice::Make();
    locked->RefuseOpen(PortErrorKind::AccessDenied);
    ports.Add("COM5", locked);
    TfrmTerminal& win = Open();

    for (const char* baud : {"abc", "-1", "0", "", "-300"}) {
        ClickConnect("COM3", baud);
        EXPECT_EQ(dialogs.Warnings().back(), QString("Invalid baudrate %1").arg(baud));
    }
    // Port names compare exactly, case included; a port not in the list is refused.
    ClickConnect("com3", "9600");
    EXPECT_EQ(dialogs.Warnings().back(), "Invalid port com3");
    ClickConnect("COM9", "9600");
    EXPECT_EQ(dialogs.Warnings().back(), "Invalid port COM9");
    EXPECT_EQ(dev->GetRecords().opens, 0);
    EXPECT_EQ(win.uartDriver->ComPort(), "COM1");  // the driver was not touched

    ClickConnect("COM4", "9600");
    // The box says which of the two it is.
    EXPECT_EQ(dialogs.Warnings().back(),
              "Port COM4 is already in use or is not available\nIt is in use by another program.");
    EXPECT_TRUE(LogHas("Port COM4 is in use by another program"));
    EXPECT_EQ(win.uartDriver->ComPort(), "COM4");  // holds the values tried
    win.memoLog->clear();
    ClickConnect("COM5", "0x2580");  // hexadecimal is a number too
    EXPECT_EQ(dialogs.Warnings().back(),
              "Port COM5 is already in use or is not available\nPermission denied.");
    EXPECT_EQ(win.uartDriver->ComPortSpeed(), 9600u);
    ASSERT_EQ(Log().size(), 1u);
    EXPECT_EQ(Log()[0].text,
              "Permission denied: add your user to the group that owns COM5 (often dialout)");
    EXPECT_EQ(Log()[0].color, kRed);

    EXPECT_EQ(dialogs.Warnings().size(), 9u);
    EXPECT_EQ(win.btnConnectTag, 0);
    EXPECT_EQ(win.btnConnect->text(), "Connect");
    EXPECT_FALSE(win.btnSend->isEnabled());
    EXPECT_TRUE(win.cbxPort->isEnabled());
    EXPECT_FALSE(win.uartDriver->Connected());
}

TEST_F(ConnectionTest, ConnectAndDisconnectSetTheButtonStates) {
    TfrmTerminal& win = Open();
    win.show();
    win.memoLog->clear();
    ClickConnect("COM3", "115200");
    ASSERT_TRUE(dev->IsOpen());
    EXPECT_TRUE(dialogs.Warnings().empty());
    // 115200 itself gives no FTDI warning; the one line says what the port runs.
    EXPECT_EQ(LogTexts(), std::vector<QString>{"Connected to COM3 at 115200 baud, 8N1, flow "
                                               "control none, DTR off, RTS off"});
    EXPECT_EQ(dev->GetRecords().settings.back().BaudRate, 115200u);
    EXPECT_FALSE(dev->GetRecords().dtr);
    EXPECT_FALSE(dev->GetRecords().rts);
    EXPECT_EQ(win.btnConnect->text(), "Disconnect");
    EXPECT_EQ(win.btnConnectTag, 1);
    for (QWidget* on :
         std::initializer_list<QWidget*>{win.btnSend, win.btnRxFile, win.btnTxFile, win.strCmds})
        EXPECT_TRUE(on->isEnabled()) << on->objectName().toStdString();
    for (QWidget* off :
         std::initializer_list<QWidget*>{win.cbxPort, win.btnPort, win.cbxBaud, win.btnConfig})
        EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
    EXPECT_EQ(win.focusWidget(), win.memoUart);

    QTest::mouseClick(win.btnConnect, Qt::LeftButton);
    EXPECT_FALSE(dev->IsOpen());
    EXPECT_EQ(win.btnConnect->text(), "Connect");
    EXPECT_EQ(win.btnConnectTag, 0);
    for (QWidget* on : std::initializer_list<QWidget*>{win.cbxPort, win.btnPort, win.cbxBaud,
                                                       win.btnConfig, win.strCmds})
        EXPECT_TRUE(on->isEnabled()) << on->objectName().toStdString();
    for (QWidget* off : std::initializer_list<QWidget*>{win.btnSend, win.btnRxFile, win.btnTxFile})
        EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
}

TEST_F(ConnectionTest, FlowControlAndFastRatesWarnInOrder) {
    TfrmTerminal& win = Open();
    win.memoLog->clear();
    QTest::mouseClick(win.cbxRTSCTS, Qt::LeftButton);  // a click after start-up warns at once
    EXPECT_EQ(win.uartDriver->ComPortHwHandshaking(), hhRTSCTS);
    ASSERT_EQ(LogTexts(), std::vector<QString>{kRtsWarning});
    EXPECT_EQ(Log()[0].color, kYellow);

    win.memoLog->clear();
    ClickConnect("COM3", "128000");
    EXPECT_EQ(LogTexts(),
              (std::vector<QString>{kRtsWarning, kFtdiWarning,
                                    "Connected to COM3 at 128000 baud, 8N1, flow control "
                                    "RTS/CTS, DTR off, RTS by flow control"}));
    EXPECT_TRUE(dev->GetRecords().settings.back().Flags & kDcbOutxCtsFlow);

    // Switching it off while connected applies at once.
    const std::size_t applied = dev->GetRecords().settings.size();
    QTest::mouseClick(win.cbxRTSCTS, Qt::LeftButton);
    EXPECT_EQ(win.uartDriver->ComPortHwHandshaking(), hhNONE);
    EXPECT_EQ(dev->GetRecords().settings.size(), applied + 1);
    EXPECT_FALSE(dev->GetRecords().settings.back().Flags & kDcbOutxCtsFlow);
}

TEST_F(ConnectionTest, UpdateRebuildsTheListAndKeepsTheText) {
    TfrmTerminal& win = Open();
    win.cbxPort->setEditText("COM4");
    scan = {"COM3"};
    win.memoLog->clear();
    QTest::mouseClick(win.btnPort, Qt::LeftButton);
    EXPECT_EQ(LogTexts(), (std::vector<QString>{"FOUND COM PORTSS", "Found port COM3"}));
    EXPECT_EQ(win.cbxPort->count(), 1);
    EXPECT_EQ(win.cbxPort->currentText(), "COM4");
    QTest::mouseClick(win.btnConnect, Qt::LeftButton);
    EXPECT_EQ(dialogs.Warnings().back(), "Invalid port COM4");
}

TEST_F(ConnectionTest, LosingTheDeviceDisconnectsAsIfDisconnectWerePressed) {
    TfrmTerminal& win = Open();
    ClickConnect("COM3", "9600");
    ASSERT_EQ(win.btnConnectTag, 1);
    dev->RemoteWrite("before");
    Poll();
    EXPECT_EQ(win.memoUartBox()->Line(0), "before");

    win.memoLog->clear();
    dev->Unplug();
    Poll();
    Poll();  // a second failing tick must not report twice
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(win.btnConnectTag, 0);
    EXPECT_EQ(win.btnConnect->text(), "Connect");
    EXPECT_FALSE(win.uartDriver->Connected());
    EXPECT_FALSE(win.btnSend->isEnabled());
    EXPECT_TRUE(win.cbxPort->isEnabled());
    ASSERT_EQ(Log().size(), 3u);
    EXPECT_EQ(Log()[0].text, "Disconnected from COM3");
    EXPECT_EQ(Log()[1].text, "Port COM3 was lost (device removed?)");
    EXPECT_EQ(Log()[1].color, kRed);
    EXPECT_EQ(Log()[2].text, "Waiting for COM3 to come back");
    EXPECT_TRUE(dialogs.Warnings().empty());
    EXPECT_EQ(host.ActiveTimerCount(), 1u);  // the port list's watch, not the driver's polling

    // Plugged back in: connecting again works.
    auto again = SimDevice::Make();
    again->UseHost(host);
    ports.Add("COM3", again);
    QTest::mouseClick(win.btnConnect, Qt::LeftButton);
    EXPECT_EQ(win.btnConnectTag, 1);
    EXPECT_TRUE(again->IsOpen());
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

TEST_F(ConnectionTest, TheSettingsButtonRunsTheDialogOnlyWhileDisconnected) {
    int runs = 0;
    const ConfigModalRun previous = SetConfigModalRunForTests([&runs](TfrmConfig&) {
        ++runs;
        return int(QDialog::Accepted);
    });
    TfrmTerminal& win = Open();
    win.memoLog->clear();
    QTest::mouseClick(win.btnConfig, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(LogHas(QString::fromUtf8("Configurações salvas")));
    EXPECT_EQ(Ini().ReadInteger("UART", "POLLING RECEIVER", 0), 50);  // the dialog's keys

    ClickConnect("COM3", "9600");
    QTest::mouseClick(win.btnConfig, Qt::LeftButton);  // disabled: nothing happens
    EXPECT_EQ(runs, 1);
    SetConfigModalRunForTests(previous);
}

}  // namespace
}  // namespace corvel
