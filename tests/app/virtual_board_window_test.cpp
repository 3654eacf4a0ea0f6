// The first session of the README, done by a test: the real window with the real Qt host talks
// to the virtual board through the port list, sets Kmodem up with the preset meant for a board
// shell, and moves a file to the board and back.

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>

#include "board/ports.h"
#include "config/dialog/config.h"
#include "terminal/window/file_transfer.h"
#include "terminal/window/qt_host.h"
#include "window_fixture.h"

namespace corvel {
namespace {

std::string ReadAll(const QString& path) {
    std::ifstream f(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

class VirtualBoardWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        TerminalOptions o = Options();
        o.makePortIo = [] { return MakeAnyPortIo(); };
        o.scanPorts = [] { return ScanAllPorts(); };
        o.host = &qhost_;
        Open(std::move(o));
    }
    void TearDown() override {
        SetConfigModalRunForTests({});
        WindowTest::TearDown();
    }
    // The board answers from its own thread; let the window's timers run until the receive
    // window shows `text` (bounded, so a silent board fails the test instead of hanging it).
    bool WaitForReceived(const QString& text) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (w->memoUart->toPlainText().contains(text)) return true;
        }
        return false;
    }
    bool LogStartsWith(const QString& prefix) const {
        for (const ShownLine& l : Log())
            if (l.text.startsWith(prefix)) return true;
        return false;
    }

    QtHost qhost_;
};

TEST_F(VirtualBoardWindowTest, ShellAnswersAndAFileGoesToTheBoardAndBack) {
    ASSERT_GE(w->cbxPort->findText("SIM-BOARD"), 0);
    ASSERT_GE(w->cbxPort->findText("SIM-LOOP"), 0);

    // Settings: the preset for a microcontroller with a command shell.
    SetConfigModalRunForTests([](TfrmConfig& d) {
        EXPECT_EQ(d.btnStdModem1->text(), "Standard Values for uC");
        d.btnStdModem1->click();
        d.btnOk->click();
        return d.result();
    });
    QTest::mouseClick(w->btnConfig, Qt::LeftButton);
    EXPECT_TRUE(w->kmodem->enabled);
    EXPECT_EQ(w->kmodem->cmdTX, "rx");
    EXPECT_EQ(w->kmodem->cmdRX, "tx");
    EXPECT_TRUE(w->kmodem->cmd_useEcho);

    ClickConnect("SIM-BOARD", "921600");
    ASSERT_EQ(w->btnConnectTag, 1);

    // Typed keys go to the board, which echoes them and answers.
    for (char c : std::string("help\r")) w->memoUartKeyPress(static_cast<char16_t>(c));
    ASSERT_TRUE(WaitForReceived("help")) << w->memoUart->toPlainText().toStdString();
    ASSERT_TRUE(WaitForReceived("stream")) << w->memoUart->toPlainText().toStdString();

    // Send File: the window sends "rx", the board stores the file.
    std::mt19937 gen(7);
    std::string data(150000, '\0');
    for (char& c : data) c = static_cast<char>(gen());
    const QString src = tmp.filePath("firmware.bin");
    {
        std::ofstream f(src.toStdString(), std::ios::binary);
        f.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    dialogs.files = {src};
    w->fileTransfer->btnTxFileClick();
    EXPECT_TRUE(LogStartsWith("Transmission made successfully")) << LogTexts().back().toStdString();

    // The board says what it stored once the transfer is over; it is only then back at its
    // prompt, ready for the next command.
    ASSERT_TRUE(WaitForReceived("rx: stored")) << w->memoUart->toPlainText().toStdString();

    // Receive File: the window sends "tx", the board sends back its newest file.
    const QString back = tmp.filePath("back.bin");
    dialogs.files = {back};
    w->fileTransfer->btnRxFileClick();
    EXPECT_TRUE(LogStartsWith("Reception made successfully")) << LogTexts().back().toStdString();
    EXPECT_TRUE(ReadAll(back) == data);

    // The shell is still there afterwards.
    for (char c : std::string("ls\r")) w->memoUartKeyPress(static_cast<char16_t>(c));
    EXPECT_TRUE(WaitForReceived("recv1.bin")) << w->memoUart->toPlainText().toStdString();
}

// At 9600 baud the board's demo of the erase sequences reaches the window a few bytes per read,
// so every CR and erase sequence falls at the end of some read.
TEST_F(VirtualBoardWindowTest, TheEraseDemoAtASlowRateShowsNothingItErases) {
    ClickConnect("SIM-BOARD", "9600");
    ASSERT_EQ(w->btnConnectTag, 1);
    for (char c : std::string("ansi\r")) w->memoUartKeyPress(static_cast<char16_t>(c));
    ASSERT_TRUE(WaitForReceived("end of the window\n> "))
        << w->memoUart->toPlainText().toStdString();
    const QString shown = w->memoUart->toPlainText();
    EXPECT_FALSE(shown.contains("MUST NOT SHOW")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("      <- only blanks before the arrow")) << shown.toStdString();
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

// The board's usb-reset drops it off the list like a re-enumerating USB device; the window
// waits, reconnects on its own and shows the boot line the board prints on its return.
TEST_F(VirtualBoardWindowTest, AUsbResetOfTheBoardIsFollowedByAReconnect) {
    ClickConnect("SIM-BOARD", "115200");
    ASSERT_EQ(w->btnConnectTag, 1);
    for (char c : std::string("usb-reset 1200\r")) w->memoUartKeyPress(static_cast<char16_t>(c));
    ASSERT_TRUE(WaitForReceived("re-enumerating")) << w->memoUart->toPlainText().toStdString();
    ASSERT_TRUE(WaitForReceived("boot after USB reset")) << LogTexts().back().toStdString();
    EXPECT_EQ(w->btnConnectTag, 1);
    EXPECT_TRUE(LogHas("Port SIM-BOARD was lost (device removed?)"));
    EXPECT_TRUE(LogHas("Port SIM-BOARD went away"));
    EXPECT_TRUE(LogHas("Reconnected to SIM-BOARD"));
    EXPECT_TRUE(dialogs.Warnings().empty());
    // The shell answers again.
    for (char c : std::string("ls\r")) w->memoUartKeyPress(static_cast<char16_t>(c));
    EXPECT_TRUE(WaitForReceived("demo.txt")) << w->memoUart->toPlainText().toStdString();
}

}  // namespace
}  // namespace corvel
