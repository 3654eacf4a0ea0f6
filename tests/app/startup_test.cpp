// Start-up and shut-down: what the window shows from the settings file (or without one), and
// what it writes back at exit.

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLCDNumber>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>

#include "help/help.h"
#include "terminal/window/elapsed_clock.h"
#include "window_fixture.h"

namespace corvel {
namespace {

using StartupTest = WindowTest;

TEST_F(StartupTest, FirstStartShowsTheDefaultsAndWritesTheFileAtExit) {
    ASSERT_FALSE(QFileInfo::exists(IniPath()));
    TfrmTerminal& win = Open();
    win.show();

    EXPECT_EQ(win.windowTitle(), "Corvel v2.6");
#if defined(Q_OS_WIN)
    EXPECT_EQ(win.cbxPort->currentText(), "COM1");
#else
    EXPECT_EQ(win.cbxPort->currentText(), "/dev/ttyS0");
#endif
    EXPECT_EQ(win.cbxBaud->currentText(), "9600");
    EXPECT_EQ(win.cbxBaud->count(), 28);
    EXPECT_EQ(win.cbxBaud->itemText(16), "128000");
    EXPECT_EQ(win.rgrCmdTGroup->checkedId(), 0);
    EXPECT_EQ(win.SendTerminator, "\n");
    EXPECT_TRUE(win.cbxSend->isChecked());
    EXPECT_TRUE(win.cbxRet->isChecked());
    EXPECT_FALSE(win.cbxRTSCTS->isChecked());
    EXPECT_EQ(win.uartDriver->ComPortHwHandshaking(), hhNONE);
    EXPECT_FALSE(win.pnlUartAux->isVisibleTo(&win));
    EXPECT_TRUE(win.cbxASCII->isChecked());
    EXPECT_FALSE(win.kmodem->enabled);
    EXPECT_EQ(win.kmodem->timerOutValue, 5);
    EXPECT_EQ(win.kmodem->packageSize, 512);
    EXPECT_EQ(win.uartDriver->ComPortPollingDelay(), 50);
    EXPECT_EQ(win.uartDriver->ComPortPollingGetChar, 100);
    EXPECT_FALSE(win.uartDriver->EnableDTROnOpen);
    EXPECT_EQ(win.ListIndex, -1);
    EXPECT_EQ(win.pageControl->currentIndex(), 0);
    EXPECT_EQ(win.pageControl->tabText(0), "Communication Port");
    EXPECT_EQ(win.pageControl->tabText(1), "Command Send Settings");
    EXPECT_EQ(win.frameGeometry().size(), QSize(1035, 736));
    EXPECT_EQ(win.frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(win.memoLog->height(), 83);
    EXPECT_EQ(win.lblRate->text(), "0 Kbytes/S");
    EXPECT_FALSE(win.VrClock->Running());
    EXPECT_EQ(win.VrClock->BackgroundColor(), kBlue);
    EXPECT_EQ(win.VrClock->HighColor(), QColor(0, 255, 255));
    EXPECT_EQ(win.btnConnect->text(), "Connect");

    // Disconnected layout.
    EXPECT_FALSE(win.btnSend->isEnabled());
    EXPECT_FALSE(win.btnRxFile->isEnabled());
    EXPECT_FALSE(win.btnTxFile->isEnabled());
    EXPECT_TRUE(win.btnConfig->isEnabled());
    EXPECT_TRUE(win.cbxPort->isEnabled());

    // Every control the other parts of the window look up by name is there.
    for (const char* name :
         {"pageControl",   "cbxPort",     "btnPort",        "cbxBaud",       "btnConnect",
          "rgrCmdT",       "cbxSend",     "cbxRet",         "cbxRTSCTS",     "cbxASCII",
          "cbxHEX",        "cbxWordWrap", "cbxViewRX_CHAR", "cbxViewRX_DEC", "cbxViewRX_HEX",
          "cbxViewRX_BIN", "memoUart",    "pnlUartAux",     "memoUartAux",   "edtSend",
          "btnSend",       "btnMemAdd",   "btnRxFile",      "btnTxFile",     "barProgress",
          "VrClock",       "lblRate",     "memoLog",        "strFiles",      "strCmds",
          "cbxSendCmd",    "btnConfig",   "btnHelp",        "btnQuit"})
        EXPECT_NE(win.findChild<QWidget*>(name), nullptr) << name;

    // The log starts with the port scan: a yellow heading and one blue line per port.
    const std::vector<ShownLine> log = Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].text, "FOUND COM PORTSS");
    EXPECT_EQ(log[0].color, kYellow);
    EXPECT_EQ(log[1].text, "Found port COM3");
    EXPECT_EQ(log[1].color, kBlue);
    EXPECT_EQ(log[3].text, "Found port COM5");
    EXPECT_EQ(win.cbxPort->count(), 3);

    EXPECT_FALSE(QFileInfo::exists(IniPath()));  // nothing is written before the exit
    Close();

    const tIniFile ini = Ini();
    EXPECT_EQ(ini.ReadInteger("WINDOWS", "W", 0), 1035);
    EXPECT_EQ(ini.ReadInteger("WINDOWS", "H", 0), 736);
    EXPECT_EQ(ini.ReadInteger("UART", "BAUDRATE", 0), 9600);
    EXPECT_EQ(ini.ReadInteger("RGR", "CMD TERMINATOR", -9), 0);
    EXPECT_EQ(ini.ReadString("MEM RX COLOR", "COLOR", ""), "-16777211");
    EXPECT_EQ(ini.ReadString("FONT_STRFILES", "Size", ""), "8");
    EXPECT_EQ(ini.ReadString("FONT_STRPATHS", "CharSet", ""), "1");
    EXPECT_EQ(ini.ReadInteger("LIST_FILES", "ITEM_INDEX", 0), -1);
    EXPECT_EQ(ini.ReadString("DIR", "PATHS", ""), tmp.path().toStdString());
    EXPECT_TRUE(ini.ReadBool("CBX", "CBX SEND", false));
    // Keys of the settings dialog are not the exit's to write.
    EXPECT_FALSE(ini.ValueExists("UART", "POLLING RECEIVER"));
    EXPECT_FALSE(ini.ValueExists("COLOR", "REPORT MESSAGE"));
}

TEST_F(StartupTest, CraftedSettingsAreReadWithTheFileRulesAndWrittenBack) {
    QDir(tmp.path()).mkdir("lists");
    const QString lists = tmp.filePath("lists");
    for (const char* name : {"b.cmds", "A.cmds", "c.cmds"}) {
        QFile f(lists + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(name) + "-zeta\r\n" + name + "-alpha\r\n");
    }
    WriteIni(QString("; kept as it is\r\n"
                     "[color]\r\n"
                     "report message=0x8000\r\n"
                     "Report Error=$FF\r\n"
                     "REPORT WARNING=yellowish\r\n"
                     "VRCLOCK DISPLAY LOW=32768\r\n"
                     "[uart]\r\n"
                     "port=COM4\r\n"
                     "BaudRate=0x1C200\r\n"
                     "POLLING RECEIVER=70000\r\n"
                     "POLLING RECEIVER GETCHAR=abc\r\n"
                     "KEY_RETURN=0\r\n"
                     "[RGR]\r\nCMD TERMINATOR=5\r\n"
                     "[CBX]\r\nCBX RX HEX=1\r\nCBX RX BIN=yes\r\nCBX RTSCTS=1\r\nCBX SEND=0\r\n"
                     "[KMODEM]\r\nENABLED=1\r\nTIMEROUT=$10\r\nPACKAGE_SIZE=1024\r\n"
                     "CMD_TX=rx file\r\nCMD_TERMINATOR=300\r\n"
                     "[MEM RX FONT]\r\nSize=20\r\n"
                     "[MEM RX COLOR]\r\nCOLOR=blue\r\n"
                     "[MEM LOG COLOR]\r\nCOLOR=0xFF\r\n"
                     "[EDITS]\r\nSEND=AT+GMR\r\n"
                     "[DIR]\r\nPATHS=%1\r\n"
                     "[LIST_FILES]\r\nITEM_INDEX=7\r\n"
                     "[WINDOWS]\r\nW=1100\r\nH=700\r\nL=100000\r\nT=20\r\n"
                     "[MINE]\r\nkey=value\r\n")
                 .arg(lists));
    TfrmTerminal& win = Open();
    win.show();

    EXPECT_EQ(win.ColorMessage, 32768);
    EXPECT_EQ(win.ColorError, 255);
    EXPECT_EQ(win.ColorWarning, 65535);  // not a number: the default
    EXPECT_EQ(win.VrClock->BackgroundColor(), QColor(0, 128, 0));
    EXPECT_EQ(win.cbxPort->currentText(), "COM4");
    EXPECT_EQ(win.cbxBaud->currentText(), "115200");
    EXPECT_EQ(win.uartDriver->ComPortPollingDelay(), 50);   // out of its 16 bits
    EXPECT_EQ(win.uartDriver->ComPortPollingGetChar, 100);  // not a number
    EXPECT_FALSE(win.cbxRet->isChecked());
    EXPECT_EQ(win.rgrCmdTGroup->checkedId(), 1);
    EXPECT_EQ(win.SendTerminator, "\r\n");
    EXPECT_TRUE(win.cbxViewRX_HEX->isChecked());
    EXPECT_FALSE(win.cbxViewRX_BIN->isChecked());
    EXPECT_TRUE(win.pnlUartAux->isVisibleTo(&win));
    EXPECT_EQ(win.pnlUartAux->width(), 54);
    // RTS/CTS restored silently: the warning is armed only once start-up is over.
    EXPECT_TRUE(win.cbxRTSCTS->isChecked());
    EXPECT_EQ(win.uartDriver->ComPortHwHandshaking(), hhRTSCTS);
    EXPECT_FALSE(
        LogHas("ATTENTION: If the other end of the communication is not connected "
               "during data transmission, the terminal will dead lock"));
    EXPECT_FALSE(win.cbxSend->isChecked());
    EXPECT_TRUE(win.kmodem->enabled);
    EXPECT_EQ(win.kmodem->timerOutValue, 16);
    EXPECT_EQ(win.kmodem->packageSize, 1024);
    EXPECT_EQ(win.kmodem->cmdTX, "rx file");
    EXPECT_EQ(win.kmodem->cmd_terminator, 0);  // 300 does not fit its 8 bits
    // A font section with only "Size" changes only the size.
    EXPECT_EQ(win.memoUartFont.size, 20);
    EXPECT_EQ(win.memoUartFont.name, "Tahoma");
    EXPECT_EQ(win.memoUartFont.color, kColorSystemWindowText);
    EXPECT_EQ(win.memoUart->font().pointSize(), 20);
    EXPECT_EQ(win.edtSend->font().pointSize(), 20);
    EXPECT_EQ(win.memoUartColor, kColorSystemWindow);  // "blue" is not a colour value
    EXPECT_EQ(win.memoLogColor, 255);
    EXPECT_EQ(win.edtSend->text(), "AT+GMR");
    // ITEM_INDEX past the end selects the last list; lists sort without regard to case.
    ASSERT_EQ(win.strFiles->count(), 3);
    EXPECT_EQ(win.strFiles->item(0)->text(), "A.cmds");
    EXPECT_EQ(win.ListIndex, 2);
    EXPECT_EQ(win.strFiles->currentRow(), 2);
    ASSERT_EQ(win.strCmds->count(), 2);
    EXPECT_EQ(win.strCmds->item(0)->text(), "c.cmds-alpha");
    // Off every screen: moved to 0, 0 with its size.
    EXPECT_EQ(win.frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(win.frameGeometry().size(), QSize(1100, 700));

    win.strCmds->addItem("typed at run time");
    Close();

    const tIniFile ini = Ini();
    EXPECT_EQ(ini.ReadString("UART", "PORT", ""), "COM4");
    EXPECT_EQ(ini.ReadString("UART", "BAUDRATE", ""), "115200");
    EXPECT_EQ(ini.ReadString("UART", "POLLING RECEIVER", ""), "70000");  // untouched at exit
    EXPECT_EQ(ini.ReadString("RGR", "CMD TERMINATOR", ""), "1");
    EXPECT_EQ(ini.ReadString("CBX", "CBX RX BIN", ""), "0");
    EXPECT_EQ(ini.ReadString("MEM RX COLOR", "COLOR", ""), "-16777211");
    EXPECT_EQ(ini.ReadString("MEM RX FONT", "Name", ""), "Tahoma");
    EXPECT_EQ(ini.ReadString("MEM RX FONT", "Size", ""), "20");
    EXPECT_EQ(ini.ReadString("MEM LOG COLOR", "COLOR", ""), "255");
    EXPECT_EQ(ini.ReadString("LIST_FILES", "ITEM_INDEX", ""), "2");
    EXPECT_EQ(ini.ReadString("WINDOWS", "L", ""), "0");
    EXPECT_EQ(ini.ReadString("WINDOWS", "T", ""), "0");
    EXPECT_EQ(ini.ReadString("WINDOWS", "W", ""), "1100");
    EXPECT_EQ(ini.ReadString("MINE", "key", ""), "value");
    // The current list is written back at exit, sorted, CR LF after each line.
    QFile list(lists + "/c.cmds");
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    EXPECT_EQ(list.readAll(), QByteArray("c.cmds-alpha\r\nc.cmds-zeta\r\ntyped at run time\r\n"));
}

TEST_F(StartupTest, ListIndexAndWindowPositionArePulledIntoRange) {
    for (const char* name : {"one.cmds", "two.cmds", "three.cmds"}) {
        QFile f(tmp.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    WriteIni(QString("[LIST_FILES]\nITEM_INDEX=-5\n[WINDOWS]\nL=%1\nT=%2\nW=700\nH=500\n")
                 .arg(screen.left() + 10)
                 .arg(screen.top() + 5));
    {
        TfrmTerminal& win = Open();
        win.show();
        EXPECT_EQ(win.ListIndex, 0);
        EXPECT_EQ(win.strFiles->currentItem()->text(), "one.cmds");
        // Inside the screens: kept.
        EXPECT_EQ(win.frameGeometry().topLeft(), QPoint(screen.left() + 10, screen.top() + 5));
        Close();
    }
    WriteIni(QString("[WINDOWS]\nT=%1\nL=-4000\nW=2000000000\nH=-7\n").arg(screen.height() + 1));
    {
        TfrmTerminal& win = Open();
        win.show();
        EXPECT_EQ(win.frameGeometry().topLeft(), QPoint(0, 0));
        EXPECT_LE(win.width(), 16384);  // absurd sizes are cut to what a screen could show
        EXPECT_GE(win.height(), 1);
        Close();
    }
}

TEST_F(StartupTest, LogLinesAreColouredAndPrintedLiterallyWhenAsked) {
    TfrmTerminal& win = Open();
    win.memoLog->clear();
    EXPECT_EQ(win.printf_Log(win.ColorError, "Port %s at %u", "COM9", 115200u),
              "Port COM9 at 115200");
    EXPECT_EQ(win.print_Log(win.ColorWarning, "100% done %s"), "100% done %s");
    const std::vector<ShownLine> log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, "Port COM9 at 115200");
    EXPECT_EQ(log[0].color, kRed);
    EXPECT_EQ(log[1].text, "100% done %s");
    EXPECT_EQ(log[1].color, kYellow);
}

TEST_F(StartupTest, CommandLineValuesServeThisRunOnly) {
    WriteIni("[UART]\nPORT=COM3\nBAUDRATE=19200\n");
    auto far = SimDevice::Make();
    far->UseHost(host);
    ports.Add("/dev/ttyACM7", far);
    TerminalOptions o = Options();
    o.port = "/dev/ttyACM7";
    o.baud = "230400";
    o.connectAtStart = true;
    TfrmTerminal& win = Open(std::move(o));
    EXPECT_EQ(win.cbxPort->currentText(), "/dev/ttyACM7");
    EXPECT_EQ(win.cbxBaud->currentText(), "230400");
    // The scan still ran, and the named port joined its list.
    EXPECT_TRUE(LogHas("Found port COM3"));
    EXPECT_EQ(win.cbxPort->count(), 4);
    EXPECT_EQ(win.cbxPort->itemText(3), "/dev/ttyACM7");
    EXPECT_EQ(win.btnConnectTag, 0);  // connecting waits for the window to show
    win.show();
    EXPECT_EQ(win.btnConnectTag, 1);
    EXPECT_TRUE(far->IsOpen());
    EXPECT_EQ(win.uartDriver->ComPortSpeed(), 230400u);
    EXPECT_TRUE(LogHas("ATTENTION: Only FTDIs support speeds above 115200 baudrate"));
    Close();

    const tIniFile ini = Ini();
    EXPECT_EQ(ini.ReadString("UART", "PORT", ""), "COM3");
    EXPECT_EQ(ini.ReadString("UART", "BAUDRATE", ""), "19200");
}

TEST_F(StartupTest, AListThatCannotBeReadIsReportedAndNotOverwritten) {
    QFile big(tmp.filePath("huge.cmds"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(qint64(kMaxCmdsFileBytes) + 1));  // sparse: costs no disk
    big.close();
    TfrmTerminal& win = Open();
    ASSERT_EQ(dialogs.Errors().size(), 1u);
    EXPECT_TRUE(dialogs.Errors()[0].contains("huge.cmds")) << dialogs.Errors()[0].toStdString();
    EXPECT_EQ(win.ListIndex, 0);
    EXPECT_EQ(win.strCmds->count(), 0);
    win.strCmds->addItem("not to be written over the unread list");
    Close();
    EXPECT_EQ(QFileInfo(tmp.filePath("huge.cmds")).size(), qint64(kMaxCmdsFileBytes) + 1);
    EXPECT_EQ(Ini().ReadInteger("LIST_FILES", "ITEM_INDEX", -1), 0);
}

TEST_F(StartupTest, UnwritableSettingsAtExitAreReportedNotLost) {
    TerminalOptions o = Options();
    o.settingsPath = tmp.filePath("missing-folder/tool_terminal.ini");
    Open(std::move(o));
    Close();
    ASSERT_EQ(dialogs.Errors().size(), 1u);
    EXPECT_TRUE(dialogs.Errors()[0].contains("missing-folder"))
        << dialogs.Errors()[0].toStdString();
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

TEST_F(StartupTest, HelpAndExitButtons) {
    QString title;
    auto previous =
        SetHelpModalRunForTests([&title](TfrmHelp& help) { title = help.windowTitle(); });
    TfrmTerminal& win = Open();
    win.show();
    QTest::mouseClick(win.btnHelp, Qt::LeftButton);
    SetHelpModalRunForTests(previous);
    EXPECT_EQ(title, "Ajuda");

    QTest::mouseClick(win.btnQuit, Qt::LeftButton);
    EXPECT_FALSE(win.isVisible());
    EXPECT_FALSE(QFileInfo::exists(IniPath()));  // written when the window is destroyed
    Close();
    EXPECT_TRUE(QFileInfo::exists(IniPath()));
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

// Start and exit again and again, as a user does: the window comes back where it was, the same
// size, and the stored values do not move; the log keeps the height the user gave it; outer
// values edited by hand still win over the remembered place; a maximised window comes back
// maximised.
TEST_F(StartupTest, TheWindowComesBackAsItWasLeft) {
    const auto cycle = [&](const std::function<void(TfrmTerminal&)>& whileOpen) {
        TfrmTerminal& win = Open();
        win.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&win));
        if (whileOpen) whileOpen(win);
        Close();
        const tIniFile ini = Ini();
        std::string values;
        for (const char* key : {"W", "H", "L", "T"})
            values += ini.ReadString("WINDOWS", key, "?") + " ";
        values += ini.ReadString("WINDOW PLACEMENT", "LOG HEIGHT", "?");
        return values;
    };
    const std::string first = cycle([](TfrmTerminal& win) {
        win.move(40, 30);
        win.resize(990, 650);
        const QList<int> sizes = win.splLog->sizes();
        win.splLog->setSizes({sizes[0] + sizes[1] - 150, 150});
    });
    // Outer values: the frame is part of them.
    EXPECT_EQ(first, "994 654 40 30 150");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(cycle([](TfrmTerminal& win) {
                      EXPECT_EQ(win.frameGeometry().topLeft(), QPoint(40, 30));
                      EXPECT_EQ(win.size(), QSize(990, 650));
                      EXPECT_EQ(win.memoLog->height(), 150);
                  }),
                  first);
    }

    tIniFile edited = Ini();
    edited.WriteInteger("WINDOWS", "W", 950);
    cycle([](TfrmTerminal& win) { EXPECT_EQ(win.frameGeometry().size(), QSize(950, 654)); });

    // Maximised: back maximised, inside the screen.
    cycle([](TfrmTerminal& win) { win.showMaximized(); });
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (int i = 0; i < 2; ++i) {
        cycle([&](TfrmTerminal& win) {
            EXPECT_TRUE(win.isMaximized());
            EXPECT_TRUE(screen.contains(win.frameGeometry())) << "cycle " << i;
        });
    }
}

}  // namespace
}  // namespace corvel
