// Capture through the real window: over a real pseudo-terminal the file holds exactly what was
// sent, across Disconnect/Connect and a lost port; a failing file stops the capture with one
// line in the log while reception goes on.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QComboBox>
#include <chrono>
#include <fstream>
#include <iterator>

#include "terminal/window/capture_control.h"
#include "terminal/window/status_fields.h"
#include "window_fixture.h"

namespace corvel {
namespace {

std::string ReadFile(const QString& path) {
    std::ifstream f(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

int CountLogStarting(const std::vector<QString>& log, const QString& start) {
    int n = 0;
    for (const QString& l : log) n += l.startsWith(start) ? 1 : 0;
    return n;
}

class CapturePtyTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        OpenPty();
        TerminalOptions o = Options();
        o.makePortIo = nullptr;  // this platform's serial port
        Open(std::move(o));
    }
    void TearDown() override {
        w.reset();
        if (master_ >= 0) ::close(master_);
        WindowTest::TearDown();
    }
    void OpenPty() {
        char name[128] = {};
        int slave = -1;
        ASSERT_EQ(::openpty(&master_, &slave, name, nullptr, nullptr), 0);
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::close(slave);
        name_ = name;
        scan = {name_.toStdString()};
    }
    void Connect() {
        w->ScanComPorts();
        ClickConnect(name_, "115200");
        ASSERT_EQ(w->btnConnectTag, 1);
    }
    // Sends from the far end and polls until the capture has it all (or a real-time bound).
    void Send(const std::string& bytes) {
        const std::uint64_t before = w->capture->Writer().Size();
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (w->capture->Writer().Size() < before + bytes.size() &&
               std::chrono::steady_clock::now() < end)
            Poll();
    }

    int master_ = -1;
    QString name_;
};

TEST_F(CapturePtyTest, FileIsTheStreamAcrossReconnectAndALostPort) {
    std::string part1, part2;
    for (int i = 0; i < 256; ++i) part1 += static_cast<char>(i);
    for (int i = 0; i < 3000; ++i) part2 += static_cast<char>((i * 7) & 0xFF);
    const QString file = tmp.filePath("cap.bin");
    dialogs.files = {file};
    w->capture->cbxCaptureAtConnect->setChecked(true);
    Connect();
    EXPECT_TRUE(w->capture->Capturing());
    EXPECT_TRUE(LogHas("Capturing to " + file + " (raw, replaced)"));
    Send(part1);
    host.Advance(500);
    EXPECT_EQ(w->status->Text("capture").toStdString(), "Capture: cap.bin 256 B");
    QTest::mouseClick(w->btnConnect, Qt::LeftButton);
    EXPECT_FALSE(w->capture->Capturing());
    EXPECT_TRUE(w->status->Text("capture").isEmpty());
    EXPECT_EQ(ReadFile(file), part1);

    w->capture->cbxCaptureAppend->setChecked(true);
    Connect();
    Send(part2);
    // The far end goes away: the port is lost and the capture ends with it.
    ::close(master_);
    master_ = -1;
    for (int i = 0; i < 50 && w->btnConnectTag == 1; ++i) {
        Poll();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(w->btnConnectTag, 0);
    EXPECT_FALSE(w->capture->cbxCapture->isChecked());
    EXPECT_EQ(ReadFile(file), part1 + part2);
    EXPECT_EQ(dialogs.Count(ScriptedDialogs::Kind::SaveFile), 1);
    Close();
    // Remembered in a section of its own.
    EXPECT_EQ(Ini().ReadString("CAPTURE", "File", ""), file.toStdString());
    EXPECT_TRUE(Ini().ReadBool("CAPTURE", "AtConnect", false));
}

TEST_F(CapturePtyTest, CommandLineCaptureReplacesOnceThenAppends) {
    w.reset();
    const QString file = tmp.filePath("cli.bin");
    { std::ofstream(file.toStdString()) << "old"; }
    TerminalOptions o = Options();
    o.makePortIo = nullptr;
    o.captureFile = file;
    Open(std::move(o));
    Connect();
    Send("one\r\n");
    QTest::mouseClick(w->btnConnect, Qt::LeftButton);
    Connect();
    Send("two");
    Close();
    EXPECT_EQ(ReadFile(file), "one\r\ntwo");
}

TEST_F(WindowTest, AFailingFileStopsTheCaptureOnceAndReceptionGoesOn) {
    Open();
    ClickConnect("COM3", "115200");
    // An unwritable place refuses the start; the full disk fails on the first write.
    w->capture->edtCaptureFile->setText(tmp.filePath("missing/folder/x.log"));
    emit w->capture->edtCaptureFile->editingFinished();
    QTest::mouseClick(w->capture->cbxCapture, Qt::LeftButton);
    EXPECT_FALSE(w->capture->cbxCapture->isChecked());
    EXPECT_EQ(CountLogStarting(LogTexts(), "Cannot capture: "), 1);

    w->capture->edtCaptureFile->setText("/dev/full");
    emit w->capture->edtCaptureFile->editingFinished();
    QTest::mouseClick(w->capture->cbxCapture, Qt::LeftButton);
    ASSERT_TRUE(w->capture->Capturing());
    dev->RemoteWrite("hello\n");
    for (int i = 0; i < 20; ++i) {
        Poll();
        host.Advance(CaptureWriter::kFlushPeriodMs);
        // The writer thread runs in real time; give it its period now and then.
        if (w->capture->Capturing()) w->capture->Writer().Sync();
    }
    EXPECT_FALSE(w->capture->Capturing());
    EXPECT_FALSE(w->capture->cbxCapture->isChecked());
    EXPECT_EQ(CountLogStarting(LogTexts(), "Capture stopped: /dev/full"), 1);
    dev->RemoteWrite("world\n");
    Poll();
    ASSERT_GE(w->memoUartBox()->LineCount(), 2);
    EXPECT_EQ(w->memoUartBox()->Line(1), "world");
    EXPECT_EQ(w->btnConnectTag, 1);
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

TEST_F(WindowTest, ANameFromThePortAndTimeInTheChosenFolder) {
    Open();
    dialogs.folders = {tmp.path()};
    w->capture->cbxCaptureNaming->setCurrentIndex(1);
    QTest::mouseClick(w->capture->btnCaptureFile, Qt::LeftButton);
    w->capture->rbCaptureText->setChecked(true);
    ClickConnect("COM3", "115200");
    QTest::mouseClick(w->capture->cbxCapture, Qt::LeftButton);
    ASSERT_TRUE(w->capture->Capturing());
    const QString path = QString::fromStdString(w->capture->Writer().Options().path);
    EXPECT_TRUE(path.startsWith(tmp.path() + "/COM3-")) << path.toStdString();
    dev->RemoteWrite("ready\r\n");
    Poll();
    QTest::mouseClick(w->capture->cbxCapture, Qt::LeftButton);
    EXPECT_FALSE(w->capture->Capturing());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.startsWith("[") && text.endsWith("] ready\n")) << text.toStdString();
    Close();
    EXPECT_EQ(Ini().ReadString("CAPTURE", "Naming", ""), "Pattern");
    EXPECT_EQ(Ini().ReadString("CAPTURE", "Form", ""), "Text");
}

}  // namespace
}  // namespace corvel
