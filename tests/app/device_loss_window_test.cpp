// An adapter pulled out while the user types or while Kmodem sends: the window ends up
// disconnected with one clear line, the transfer's file closed, and it stays usable.

#include <fstream>

#include "terminal/window/file_transfer.h"
#include "window_fixture.h"

namespace corvel {
namespace {

class DeviceLossWindowTest : public WindowTest {
  protected:
    void OpenConnected() {
        Open();
        ClickConnect("COM3", "115200");
        ASSERT_EQ(w->btnConnectTag, 1);
    }
    void TearDown() override {
        host.onProcessMessages = nullptr;
        WindowTest::TearDown();
    }
    int Count(const QString& text) const {
        int n = 0;
        for (const ShownLine& l : Log()) n += l.text == text;
        return n;
    }
    void ExpectDisconnectedOnce() {
        QCoreApplication::processEvents();  // the window's queued report of the loss
        EXPECT_EQ(Count("Port COM3 was lost (device removed?)"), 1);
        EXPECT_EQ(w->btnConnectTag, 0);
        EXPECT_FALSE(w->uartDriver->Connected());
        EXPECT_FALSE(w->fileTransferActive);
        EXPECT_FALSE(w->btnSend->isEnabled());
        EXPECT_FALSE(w->btnTxFile->isEnabled());
        EXPECT_TRUE(w->btnConnect->isEnabled());
        EXPECT_TRUE(w->cbxPort->isEnabled());
    }
};

TEST_F(DeviceLossWindowTest, TypingIntoALostPortDisconnectsOnceThenSaysSo) {
    OpenConnected();
    dev->Unplug();
    w->memoUartKeyPress(u'a');
    ExpectDisconnectedOnce();
    // Later keys meet a closed port: the ordinary refusal, no second loss report.
    w->memoUartKeyPress(u'b');
    QCoreApplication::processEvents();
    EXPECT_EQ(Count("Port COM3 was lost (device removed?)"), 1);
    EXPECT_EQ(Count("UART disconnected"), 1);
    // Plugged back: the same port connects again.
    dev = SimDevice::Make();
    dev->UseHost(host);
    ports.Add("COM3", dev);
    ClickConnect("COM3", "115200");
    EXPECT_EQ(w->btnConnectTag, 1);
}

TEST_F(DeviceLossWindowTest, KmodemSendOnALostPortEndsWithTheWindowRestored) {
    OpenConnected();
    w->kmodem->enabled = true;
    const QString src = tmp.filePath("src.bin");
    {
        std::ofstream f(src.toStdString(), std::ios::binary);
        f << std::string(5000, 'k');
    }
    dialogs.files = {src};
    int pumps = 0;
    host.onProcessMessages = [&] {
        if (++pumps == 2) dev->Unplug();
        QCoreApplication::processEvents();
    };
    const auto before = host.NowMs();
    QTest::mouseClick(w->btnTxFile, Qt::LeftButton);
    host.onProcessMessages = nullptr;
    // Ended by the loss, not by waiting out the engine's time-out (5 units, 4.32 s).
    EXPECT_LT(host.NowMs() - before, 4000u);
    ExpectDisconnectedOnce();
    EXPECT_EQ(w->btnTxFile->text(), "Send file");  // the caption after a stop
    // The file was closed: it can be replaced at once.
    EXPECT_TRUE(QFile::remove(src));
}

}  // namespace
}  // namespace corvel
