// The settings dialog through its real widgets: what it shows, what each field reaches on OK,
// the log lines and their colours, and what Cancel leaves alone.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "comport/comport.h"
#include "comport/sim_port.h"
#include "config/dialog/config.h"
#include "config/temp_folder.h"
#include "host/fake_host.h"
#include "host/text_file.h"
#include "kmodem/u_kmodem.h"
#include "terminal/settings.h"
#include "terminal/settings_file.h"
#include "terminal/window/dialogs.h"

namespace corvel {
namespace {

constexpr std::int32_t kGreen = 0x00FF00;
constexpr std::int32_t kPurple = 0x800080;

// Records the colour each chooser started at.
class RecordingDialogs : public ScriptedDialogs {
  public:
    std::vector<QColor> startColors;
    bool ChooseColor(QWidget* parent, QColor& color) override {
        startColors.push_back(color);
        return ScriptedDialogs::ChooseColor(parent, color);
    }
};

struct LoggedLine {
    std::int32_t color;
    QString text;
    bool operator==(const LoggedLine&) const = default;
};

void PrintTo(const LoggedLine& l, std::ostream* os) {
    *os << "{" << l.color << ", \"" << l.text.toStdString() << "\"}";
}

// Types over the edit's text, key by key (characters beyond ASCII as text-only key events).
void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    if (text.isEmpty()) QTest::keyClick(edit, Qt::Key_Delete);
    for (const QChar ch : text) {
        if (ch.unicode() < 128) {
            QTest::keyClick(edit, ch.toLatin1());
        } else {
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        }
    }
}

// Clicks a button where its caption starts: a check box stretched by its layout only answers
// over its indicator and caption.
void Click(QAbstractButton* b) {
    QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(6, b->height() / 2));
}

class ConfigDialogTest : public ::testing::Test {
  protected:
    ConfigDialogTest() {
        ini = std::make_unique<tIniFile>(folder.File("tool_terminal.ini"));
        settings = DefaultSettings(folder.path());
    }

    ConfigTargets Targets() {
        return {driver,       kmodem,
                *ini,         settings,
                colorMessage, colorError,
                colorWarning, [this](std::int32_t c, const QString& t) { log.push_back({c, t}); }};
    }

    // Runs the Settings button: edit plays the user, then OK or Cancel is clicked.
    bool Run(const std::function<void(TfrmConfig&)>& edit, bool ok) {
        return RunConfigDialog(nullptr, dialogs, Targets(), [&](TfrmConfig& d) {
            d.show();
            if (edit) edit(d);
            Click(ok ? d.btnOk : d.btnCancel);
            return d.result();
        });
    }

    std::string File() const { return folder.Get("tool_terminal.ini"); }

    test::TempFolder folder;
    FakeHost host;
    SimPortRegistry ports;
    TCommPortDriver driver{host, ports.MakeIo()};
    tKmodem kmodem{host};
    std::unique_ptr<tIniFile> ini;
    Settings settings;
    std::int32_t colorMessage = kColorBlue;
    std::int32_t colorError = kColorRed;
    std::int32_t colorWarning = kColorYellow;
    std::vector<LoggedLine> log;
    RecordingDialogs dialogs;
};

TEST_F(ConfigDialogTest, WindowPagesAndTexts) {
    TfrmConfig d(dialogs);
    EXPECT_EQ(d.windowTitle(), "Settings");
    EXPECT_EQ(d.size(), QSize(491, 610));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    ASSERT_EQ(d.PageControl1->count(), 2);
    EXPECT_EQ(d.PageControl1->tabText(0), "Terminal");
    EXPECT_EQ(d.PageControl1->tabText(1), "Modem");
    EXPECT_EQ(d.PageControl1->currentIndex(), 0);
    EXPECT_TRUE(d.btnOk->isDefault());
    EXPECT_EQ(d.btnOk->text(), "OK");
    EXPECT_EQ(d.btnCancel->text(), "Cancel");

    QStringList labels;
    for (QLabel* l : d.findChildren<QLabel*>()) labels << l->text();
    for (const char* text :
         {"Time between polling of the UART port for reception of characters. The smaller the "
          "processing power requires the micro. Minimum time 1 ms",
          "Waiting time for read receipt by getChar function used in file exchange. Minimum time "
          "1 ms",
          "Size of the receive and transmit buffers. 1024 bytes minimum",
          "Use UART port debugging. This creates a LOG file named commPortlog.txt in the main "
          "directory of the Terminal. The LOG file will be created when the port is disconnected",
          "Color of normal messages in the LOG window", "Color of error messages in the LOG window",
          "Color of the warning messages in the LOG window",
          "Maximum waiting time for data coming from the UART. Value from 1 to 9",
          "Size in bytes of the data packets. 256 bytes minimum",
          "ATTENTION: Both the receiver and the transmitter must have the same data packet size",
          "Command to be sent to the transmitter to start reception. Leave blank if you do not "
          "need to send any commands.",
          "Command to be sent to the receiver to start transmission. Leave blank if you do not "
          "need to send any commands.",
          "If the terminal of the other end of the communication uses or does not echo",
          "Use debugging. This creates LOG files called KmodemLogRX.txt and KmodemLogTX.txt in "
          "the main directory of the Terminal",
          "ms", "Bytes", "Seconds", "Command"}) {
        EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
    }
    EXPECT_EQ(d.grpTimerOut->title(), "  TimerOut  ");
    EXPECT_EQ(d.grpPackageSize->title(), "  Data Package Size  ");
    EXPECT_EQ(d.grpCmdRX->title(), "  Transmitter Control  ");
    EXPECT_EQ(d.grpCmdTX->title(), "  Receiver Command  ");
    EXPECT_EQ(d.grpEco->title(), "  Terminal with Eco ");
    EXPECT_EQ(d.rgrCmdT->title(),
              "  What is the Command Finisher Character of the Other Point of Communication  ");
    EXPECT_TRUE(d.grpCmdRX->isAncestorOf(d.edtCmdRX));
    EXPECT_TRUE(d.grpCmdTX->isAncestorOf(d.edtCmdTX));
    EXPECT_EQ(d.rgrCmdTGroup->button(0)->text(), "LF (\\n)");
    EXPECT_EQ(d.rgrCmdTGroup->button(1)->text(), "CR+ LF (\\r\\n)");
    EXPECT_EQ(d.rgrCmdTGroup->button(2)->text(), "CR (\\r)");
    EXPECT_EQ(d.cbxKmodemEn->text(), "Use Flow Control (KMODEM)");
    EXPECT_EQ(d.cbxEco->text(), "Uses echoes in commands");
    EXPECT_EQ(d.btnStdTerminal->text(), "Default Values");
    EXPECT_EQ(d.btnStdModem1->text(), "Standard Values for uC");
    EXPECT_EQ(d.btnStdModem2->text(), "Default Values between Terminals");
    EXPECT_TRUE(d.edtColorMessage->isReadOnly());
    EXPECT_EQ(d.btnColorMessage->text(), "...");
    EXPECT_TRUE(d.tsTerminal->isAncestorOf(d.btnStdTerminal));
    EXPECT_TRUE(d.tsModem->isAncestorOf(d.btnStdModem2));

    // The wrapped caption toggles its box like the box's own caption would.
    d.show();
    QTest::mouseClick(d.lblUartDebug, Qt::LeftButton);
    EXPECT_TRUE(d.cbxUartDebug->isChecked());
    d.PageControl1->setCurrentIndex(1);
    QTest::mouseClick(d.lblKmodemDebug, Qt::LeftButton);
    EXPECT_TRUE(d.cbxKmodemDebug->isChecked());
}

TEST_F(ConfigDialogTest, FilledFromTheValuesInUse) {
    driver.SetComPortPollingDelay(17);
    driver.ComPortPollingGetChar = 33;
    driver.SetComPortInBufSize(2500);
    driver.SetComPortOutBufSize(3000);
    driver.UseDebug = true;
    kmodem.enabled = true;
    kmodem.useDebug = true;
    kmodem.timerOutValue = 9;
    kmodem.packageSize = 1000;
    kmodem.cmdTX = "go ação";
    kmodem.cmdRX = "";
    kmodem.cmd_useEcho = false;
    kmodem.cmd_terminator = 2;
    colorMessage = kGreen;
    colorError = kColorSystemWindow;
    // The stored record differs from the driver: the driver wins.
    settings.pollingDelay = 99;

    Run(
        [&](TfrmConfig& d) {
            EXPECT_EQ(d.edtTimeoutPolling->text(), "17");
            EXPECT_EQ(d.edtTimeoutGetChar->text(), "33");
            EXPECT_EQ(d.edtUartBuffer->text(), "3000");  // the output buffer stands for both
            EXPECT_TRUE(d.cbxUartDebug->isChecked());
            EXPECT_TRUE(d.cbxKmodemEn->isChecked());
            EXPECT_TRUE(d.cbxKmodemDebug->isChecked());
            EXPECT_EQ(d.edtTimerOut->text(), "9");
            EXPECT_EQ(d.edtPackageSize->text(), "1000");
            EXPECT_EQ(d.edtCmdTX->text(), QString::fromUtf8("go ação"));
            EXPECT_EQ(d.edtCmdRX->text(), "");
            EXPECT_FALSE(d.cbxEco->isChecked());
            EXPECT_EQ(d.rgrCmdTGroup->checkedId(), 2);
            EXPECT_EQ(d.SwatchColor(d.edtColorMessage), kGreen);
            EXPECT_EQ(d.SwatchColor(d.edtColorError), kColorSystemWindow);
            EXPECT_EQ(d.SwatchColor(d.edtColorWarning), kColorYellow);
            EXPECT_EQ(d.edtColorMessage->palette().color(d.edtColorMessage->backgroundRole()),
                      QColor(0, 255, 0));
            EXPECT_TRUE(d.edtTimerOut->isEnabled());
        },
        false);

    // Kmodem reads every other terminator as CR LF; the dialog says so.
    kmodem.cmd_terminator = 7;
    Run([&](TfrmConfig& d) { EXPECT_EQ(d.rgrCmdTGroup->checkedId(), 1); }, false);
}

TEST_F(ConfigDialogTest, KmodemFieldsFollowTheSwitch) {
    kmodem.enabled = false;
    Run(
        [&](TfrmConfig& d) {
            d.PageControl1->setCurrentIndex(1);
            const std::vector<QWidget*> followers = {d.edtTimerOut, d.edtPackageSize, d.edtCmdRX,
                                                     d.edtCmdTX,    d.cbxEco,         d.rgrCmdT};
            auto expectEnabled = [&](bool on) {
                for (QWidget* w : followers)
                    EXPECT_EQ(w->isEnabled(), on) << w->objectName().toStdString();
                EXPECT_TRUE(d.cbxKmodemDebug->isEnabled());
                EXPECT_TRUE(d.btnStdModem1->isEnabled());
                EXPECT_TRUE(d.btnStdModem2->isEnabled());
            };
            expectEnabled(false);
            // A disabled field takes no typing.
            QTest::keyClicks(d.edtPackageSize, "9");
            EXPECT_EQ(d.edtPackageSize->text(), "512");
            Click(d.cbxKmodemEn);
            expectEnabled(true);
            Click(d.cbxKmodemEn);
            expectEnabled(false);
            // A preset checks the switch, and the fields follow.
            Click(d.btnStdModem2);
            expectEnabled(true);
        },
        false);
}

TEST_F(ConfigDialogTest, OkAppliesEveryFieldAndWritesTheFile) {
    kmodem.cmdTX = "old";
    kmodem.cmd_useEcho = true;
    dialogs.colors = {QColor(0, 255, 0), QColor(128, 0, 128), std::nullopt};
    const bool ok = Run(
        [&](TfrmConfig& d) {
            Type(d.edtTimeoutPolling, "7");
            Type(d.edtTimeoutGetChar, "250");
            Type(d.edtUartBuffer, "8192");
            Click(d.cbxUartDebug);
            Click(d.btnColorMessage);
            Click(d.btnColorError);
            Click(d.btnColorWarning);  // chooser cancelled
            d.PageControl1->setCurrentIndex(1);
            Click(d.cbxKmodemEn);
            Type(d.edtTimerOut, "0");
            Type(d.edtPackageSize, "8182");
            Type(d.edtCmdRX, QString::fromUtf8("começa"));
            Type(d.edtCmdTX, "");
            Click(d.cbxEco);
            Click(d.rgrCmdTGroup->button(2));
            Click(d.cbxKmodemDebug);
        },
        true);
    ASSERT_TRUE(ok);

    // Each chooser started at its swatch's colour.
    ASSERT_EQ(dialogs.startColors.size(), 3u);
    EXPECT_EQ(dialogs.startColors[0], QColor(0, 0, 255));
    EXPECT_EQ(dialogs.startColors[1], QColor(255, 0, 0));
    EXPECT_EQ(dialogs.startColors[2], QColor(255, 255, 0));

    EXPECT_EQ(colorMessage, kGreen);
    EXPECT_EQ(colorError, kPurple);
    EXPECT_EQ(colorWarning, kColorYellow);
    EXPECT_EQ(driver.ComPortPollingDelay(), 7);
    EXPECT_EQ(driver.ComPortPollingGetChar, 250);
    EXPECT_EQ(driver.ComPortInBufSize(), 8192);
    EXPECT_EQ(driver.ComPortOutBufSize(), 8192);
    EXPECT_TRUE(driver.UseDebug);
    EXPECT_TRUE(kmodem.enabled);
    EXPECT_EQ(kmodem.timerOutValue, 0);
    EXPECT_EQ(kmodem.packageSize, 8182);
    EXPECT_EQ(kmodem.cmdRX, "começa");
    EXPECT_EQ(kmodem.cmdTX, "");
    EXPECT_FALSE(kmodem.cmd_useEcho);
    EXPECT_EQ(kmodem.cmd_terminator, 2);
    EXPECT_TRUE(kmodem.useDebug);

    EXPECT_EQ(log, (std::vector<LoggedLine>{{kGreen, QString::fromUtf8("Configurações salvas")}}));

    // The window's record and the file hold the same values.
    EXPECT_EQ(settings.colorMessage, kGreen);
    EXPECT_EQ(settings.bufferInSize, 8192);
    EXPECT_EQ(settings.kmodemCmdRx, "começa");
    Settings reread = DefaultSettings(folder.path());
    LoadSettings(tIniFile(folder.File("tool_terminal.ini")), reread);
    EXPECT_EQ(reread, settings);
    const std::string file = File();
    for (const char* line :
         {"[COLOR]", "REPORT MESSAGE=65280", "REPORT ERROR=8388736", "REPORT WARNING=65535",
          "[UART]", "POLLING RECEIVER=7", "POLLING RECEIVER GETCHAR=250", "BUFFER IN SIZE=8192",
          "BUFFER OUT SIZE=8192", "[KMODEM]", "TIMEROUT=0", "PACKAGE_SIZE=8182",
          "CMD_TERMINATOR=2"}) {
        EXPECT_NE(file.find(line), std::string::npos) << line;
    }
    // Only the dialog's keys: nothing kept for exit is written here.
    EXPECT_EQ(file.find("BAUDRATE"), std::string::npos);
}

TEST_F(ConfigDialogTest, RejectedNumbersAreReplacedAndReportedInTheNewErrorColour) {
    kmodem.enabled = true;
    colorMessage = kColorSystemWindow;  // untouched swatch: stays a system colour
    dialogs.colors = {QColor(128, 0, 128), QColor(0, 255, 0)};
    Run(
        [&](TfrmConfig& d) {
            Type(d.edtTimeoutPolling, "0");
            Type(d.edtTimeoutGetChar, "abc");
            Type(d.edtUartBuffer, "70000");  // above 16 bits: rejected like a small one
            Click(d.btnColorError);
            Click(d.btnColorWarning);
            Type(d.edtTimerOut, "soon");
            Type(d.edtPackageSize, "60000");
        },
        true);

    const std::vector<LoggedLine> expected = {
        {kPurple, "UART polling timeout is invalid, setting to 50 ms"},
        {kPurple, "The getChar function timeout is invalid, setting to 100 ms"},
        {kPurple,
         "The size of the UART buffers must be greater than 1024 bytes, set to 2048 bytes"},
        // The rejected buffer makes the packet limit 2048 - 10.
        {kPurple,
         "The Kmodem packet size is invalid, the value can not be higher than the UART "
         "buffer. Adjusted for 2038 bytes"},
        {kColorSystemWindow, QString::fromUtf8("Configurações salvas")}};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(driver.ComPortPollingDelay(), 50);
    EXPECT_EQ(driver.ComPortPollingGetChar, 100);
    EXPECT_EQ(driver.ComPortInBufSize(), 2048);
    EXPECT_EQ(driver.ComPortOutBufSize(), 2048);
    EXPECT_EQ(kmodem.timerOutValue, 1);
    EXPECT_EQ(kmodem.packageSize, 2038);
    // The swatches are applied and stored even though every number was refused.
    EXPECT_EQ(colorError, kPurple);
    EXPECT_EQ(colorWarning, kGreen);
    EXPECT_EQ(colorMessage, kColorSystemWindow);
    const std::string file = File();
    EXPECT_NE(file.find("REPORT MESSAGE=-16777211"), std::string::npos);
    EXPECT_NE(file.find("REPORT ERROR=8388736"), std::string::npos);
    EXPECT_NE(file.find("POLLING RECEIVER=50"), std::string::npos);
    EXPECT_NE(file.find("PACKAGE_SIZE=2038"), std::string::npos);

    // A packet below the minimum, with everything else accepted.
    log.clear();
    Run([&](TfrmConfig& d) { Type(d.edtPackageSize, "255"); }, true);
    EXPECT_EQ(log, (std::vector<LoggedLine>{
                       {kPurple,
                        "The Kmodem packet size is invalid, the minimum value is 256 "
                        "bytes. Adjusted to 512 bytes"},
                       {kColorSystemWindow, QString::fromUtf8("Configurações salvas")}}));
    EXPECT_EQ(kmodem.packageSize, 512);
}

TEST_F(ConfigDialogTest, PresetsFeedTheChecksOfTheSameOk) {
    driver.SetComPortOutBufSize(2048);
    colorWarning = kPurple;
    // "Standard Values for uC" asks for 2048 bytes: too much for a 2048-byte buffer.
    Run(
        [&](TfrmConfig& d) {
            Click(d.btnStdModem1);
            EXPECT_TRUE(d.cbxKmodemEn->isChecked());
            EXPECT_EQ(d.edtTimerOut->text(), "6");
            EXPECT_EQ(d.edtPackageSize->text(), "2048");
            EXPECT_EQ(d.edtCmdRX->text(), "tx");
            EXPECT_EQ(d.edtCmdTX->text(), "rx");
            EXPECT_TRUE(d.cbxEco->isChecked());
            EXPECT_EQ(d.rgrCmdTGroup->checkedId(), 0);
            EXPECT_FALSE(d.cbxKmodemDebug->isChecked());
        },
        true);
    EXPECT_EQ(kmodem.packageSize, 2038);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text,
              "The Kmodem packet size is invalid, the value can not be higher than "
              "the UART buffer. Adjusted for 2038 bytes");
    EXPECT_EQ(kmodem.cmdRX, "tx");

    // With "Default Values" as well the buffer is 4096 and 2048 is kept.
    log.clear();
    Run(
        [&](TfrmConfig& d) {
            Click(d.btnStdTerminal);
            EXPECT_EQ(d.edtTimeoutPolling->text(), "50");
            EXPECT_EQ(d.edtTimeoutGetChar->text(), "100");
            EXPECT_EQ(d.edtUartBuffer->text(), "4096");
            EXPECT_FALSE(d.cbxUartDebug->isChecked());
            EXPECT_EQ(d.SwatchColor(d.edtColorWarning), kPurple);  // colours untouched
            Click(d.btnStdModem2);
            EXPECT_EQ(d.edtCmdRX->text(), "");
            EXPECT_EQ(d.edtCmdTX->text(), "");
            EXPECT_FALSE(d.cbxEco->isChecked());
        },
        true);
    EXPECT_EQ(log,
              (std::vector<LoggedLine>{{kColorBlue, QString::fromUtf8("Configurações salvas")}}));
    EXPECT_EQ(driver.ComPortOutBufSize(), 4096);
    EXPECT_EQ(kmodem.packageSize, 2048);
    EXPECT_EQ(kmodem.cmdRX, "");
    EXPECT_FALSE(kmodem.cmd_useEcho);
}

TEST_F(ConfigDialogTest, CancelAfterPresetsChangesNothing) {
    kmodem.cmdRX = "keep";
    kmodem.enabled = false;
    const Settings before = settings;
    dialogs.colors = {QColor(0, 255, 0)};

    // Cancel button, Escape and closing the window all count as Cancel.
    const std::vector<std::function<void(TfrmConfig&)>> ways = {
        [](TfrmConfig& d) { Click(d.btnCancel); },
        [](TfrmConfig& d) { QTest::keyClick(&d, Qt::Key_Escape); },
        [](TfrmConfig& d) { d.close(); }};
    for (const auto& closeIt : ways) {
        const bool ok = RunConfigDialog(nullptr, dialogs, Targets(), [&](TfrmConfig& d) {
            d.show();
            Click(d.btnStdTerminal);
            Click(d.btnStdModem1);
            Click(d.btnStdModem2);
            Click(d.btnColorMessage);
            Type(d.edtTimeoutPolling, "0");
            closeIt(d);
            EXPECT_FALSE(d.isVisible());
            return d.result();
        });
        EXPECT_FALSE(ok);
    }
    const LoggedLine cancelled{kColorBlue, QString::fromUtf8("Configurações cancelada")};
    EXPECT_EQ(log, (std::vector<LoggedLine>{cancelled, cancelled, cancelled}));
    EXPECT_EQ(colorMessage, kColorBlue);
    EXPECT_EQ(driver.ComPortPollingDelay(), 50);
    EXPECT_EQ(driver.ComPortInBufSize(), 2048);
    EXPECT_FALSE(kmodem.enabled);
    EXPECT_EQ(kmodem.cmdRX, "keep");
    EXPECT_EQ(settings, before);
    EXPECT_FALSE(std::filesystem::exists(folder.File("tool_terminal.ini")));
}

TEST_F(ConfigDialogTest, UnwritableFileIsNotReportedAsSaved) {
    ini = std::make_unique<tIniFile>(folder.File("missing-folder/tool_terminal.ini"));
    EXPECT_THROW(Run([&](TfrmConfig& d) { Type(d.edtTimeoutPolling, "0"); }, true), FileError);
    // The values are in force and the refusal was reported; "saved" was not claimed.
    EXPECT_EQ(driver.ComPortPollingDelay(), 50);
    EXPECT_EQ(log, (std::vector<LoggedLine>{
                       {kColorRed, "UART polling timeout is invalid, setting to 50 ms"}}));
}

TEST_F(ConfigDialogTest, TestHookReplacesTheModalRun) {
    int runs = 0;
    const ConfigModalRun previous = SetConfigModalRunForTests([&](TfrmConfig& d) {
        ++runs;
        EXPECT_EQ(d.parentWidget(), nullptr);
        Type(d.edtTimeoutGetChar, "42");
        return int(QDialog::Accepted);
    });
    EXPECT_TRUE(RunConfigDialog(nullptr, dialogs, Targets()));
    SetConfigModalRunForTests(previous);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(driver.ComPortPollingGetChar, 42);
}

}  // namespace
}  // namespace corvel
