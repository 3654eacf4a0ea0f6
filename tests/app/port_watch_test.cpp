// The port list as devices come and go: descriptions, the remembered device found under a new
// name, and the automatic reconnect after a loss, through simulated ports and a real
// pseudo-terminal that is closed and created again.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "comport/comport.h"
#include "terminal/window/port_watch.h"
#include "terminal/window/status_fields.h"
#include "window_fixture.h"

namespace corvel {
namespace {

class PortWatchTest : public WindowTest {
  protected:
    TerminalOptions Options() {
        TerminalOptions o = WindowTest::Options();
        o.describePorts = [this](const std::vector<std::string>& names) {
            std::vector<PortInfo> out;
            for (const std::string& n : names) {
                PortInfo p = usb.count(n) ? usb[n] : PortInfo{};
                p.name = n;
                out.push_back(p);
            }
            return out;
        };
        return o;
    }
    using WindowTest::Open;
    TfrmTerminal& Open() { return Open(Options()); }
    static PortInfo Board(const std::string& serial) {
        return {"", true, {0x2E8A, 0x000A, serial, 0}, "Acme", "Widget", "cdc_acm"};
    }
    // The adapter goes: its port fails, the window reports the loss and starts waiting.
    void Lose() {
        dev->Unplug();
        Poll();
        QCoreApplication::processEvents();
        ASSERT_EQ(w->btnConnectTag, 0);
    }
    // The device comes back as name: a fresh device registered and listed.
    void PlugIn(const std::string& name) {
        dev = SimDevice::Make();
        dev->UseHost(host);
        ports.Add(name, dev);
        if (std::find(scan.begin(), scan.end(), name) == scan.end()) scan.push_back(name);
    }
    void Rescan() { host.Advance(PortWatch::kRescanMs); }
    QString Status() { return w->status->Text("reconnect"); }

    std::map<std::string, PortInfo> usb;
};

TEST_F(PortWatchTest, ReconnectsWithTheSameSettingsAndShowsWhatTheBoardSaysFirst) {
    Open();
    // The switch sits in the port row beside Connect, clear of the other controls.
    w->show();
    QCheckBox* box = w->portWatch->cbxReconnect;
    EXPECT_TRUE(box->isVisible());
    for (QWidget* other : {static_cast<QWidget*>(w->lblPort), static_cast<QWidget*>(w->cbxPort),
                           static_cast<QWidget*>(w->btnConnect)})
        EXPECT_FALSE(box->geometry().intersects(other->geometry()))
            << other->objectName().toStdString();
    ClickConnect("COM3", "115200");
    ASSERT_EQ(w->btnConnectTag, 1);
    Lose();
    EXPECT_EQ(Status(), "waiting for COM3");
    ports.Remove("COM3");
    scan = {"COM4"};
    Rescan();
    EXPECT_TRUE(LogHas("Port COM3 went away"));
    EXPECT_EQ(w->btnConnectTag, 0);
    EXPECT_TRUE(dialogs.Warnings().empty());

    w->cbxBaud->setEditText("fast");  // typed meanwhile: no box, the old rate is used
    PlugIn("COM3");
    Rescan();
    ASSERT_EQ(w->btnConnectTag, 1);
    EXPECT_TRUE(LogHas("Reconnected to COM3"));
    EXPECT_EQ(Status(), "");
    EXPECT_EQ(dev->GetRecords().settings.back().BaudRate, 115200u);
    dev->RemoteWrite("boot v2\r\n");
    Poll();
    EXPECT_EQ(w->memoUartBox()->Line(0), "boot v2");
    EXPECT_TRUE(dialogs.Warnings().empty());

    // A device that comes back refusing opens (permissions not yet set) is tried again, quietly.
    Lose();
    PlugIn("COM3");
    dev->RefuseOpen(PortErrorKind::AccessDenied);
    Rescan();
    Rescan();
    EXPECT_EQ(w->btnConnectTag, 0);
    EXPECT_TRUE(dialogs.Warnings().empty());
    EXPECT_EQ(w->cbxPort->currentText(), "COM3");
    dev->RefuseOpen(PortErrorKind::None);
    Rescan();
    EXPECT_EQ(w->btnConnectTag, 1);

    // The user's own click ends the watching; so does turning the option off.
    Lose();
    QTest::mouseClick(w->btnConnect, Qt::LeftButton);  // the device is still gone: refused
    EXPECT_FALSE(w->portWatch->Watching());
    EXPECT_EQ(Status(), "");
    PlugIn("COM3");
    Rescan();
    EXPECT_EQ(w->btnConnectTag, 0);
}

TEST_F(PortWatchTest, TheRememberedBoardIsFollowedToItsNewName) {
    usb["COM3"] = Board("AAA1");
    usb["COM4"] = Board("BBB2");  // its twin, with another serial number
    Open();
    EXPECT_EQ(w->cbxPort->itemData(0, Qt::ToolTipRole).toString(),
              "Acme Widget, serial AAA1, USB 2E8A:000A, interface 0, driver cdc_acm");
    w->cbxPort->setEditText("COM4");
    EXPECT_EQ(w->cbxPort->toolTip(),
              "Acme Widget, serial BBB2, USB 2E8A:000A, interface 0, driver cdc_acm");
    ClickConnect("COM3", "9600");
    ASSERT_EQ(w->btnConnectTag, 1);
    Lose();
    EXPECT_EQ(Status(), "waiting for Widget (serial AAA1)");
    // The board resets and re-enumerates as COM7; the twin at COM4 is left alone.
    ports.Remove("COM3");
    scan = {"COM4", "COM5"};
    usb.erase("COM3");
    Rescan();
    EXPECT_EQ(w->btnConnectTag, 0);
    usb["COM7"] = Board("AAA1");
    PlugIn("COM7");
    Rescan();
    ASSERT_EQ(w->btnConnectTag, 1);
    EXPECT_EQ(w->uartDriver->ComPort(), "COM7");
    EXPECT_EQ(w->cbxPort->currentText(), "COM7");
    EXPECT_TRUE(LogHas("Widget (serial AAA1) is now at COM7 (was COM3)"));
    EXPECT_TRUE(LogHas("Reconnected to COM7"));
    Close();
    EXPECT_EQ(Ini().ReadString("USB", "DEVICE", ""), "2E8A:000A:00:AAA1");
    EXPECT_TRUE(Ini().ReadBool("USB", "RECONNECT", false));

    // Next start: the stored PORT is COM7 but the board now sits at COM9.
    usb.erase("COM7");
    usb["COM9"] = Board("AAA1");
    scan = {"COM4", "COM9"};
    Open();
    EXPECT_EQ(w->cbxPort->currentText(), "COM9");
    EXPECT_TRUE(LogHas("Widget (serial AAA1) is now at COM9 (was COM7)"));
    // Connecting to a port that is no USB device forgets the board.
    ports.Add("COM4", SimDevice::Make());
    usb.erase("COM4");
    ClickConnect("COM4", "9600");
    ASSERT_EQ(w->btnConnectTag, 1);
    w->portWatch->cbxReconnect->setChecked(false);
    Close();
    EXPECT_EQ(Ini().ReadString("USB", "DEVICE", "x"), "");
    EXPECT_FALSE(Ini().ReadBool("USB", "RECONNECT", true));
}

TEST_F(PortWatchTest, TheListFollowsDevicesButNotUnderAnOpenPopup) {
    Open();
    w->show();
    w->cbxPort->setEditText("COM");
    w->cbxPort->showPopup();
    scan = {"COM3", "COM8"};
    host.Advance(PortWatch::kIdleRescanMs);
    EXPECT_EQ(w->cbxPort->count(), 3);  // held back while the user picks
    w->cbxPort->hidePopup();
    host.Advance(PortWatch::kRescanMs);
    ASSERT_EQ(w->cbxPort->count(), 2);
    EXPECT_EQ(w->cbxPort->itemText(1), "COM8");
    EXPECT_EQ(w->cbxPort->currentText(), "COM");  // what the user typed stays
    EXPECT_TRUE(LogHas("Port COM8 arrived"));
    EXPECT_TRUE(LogHas("Port COM4 went away"));
    EXPECT_TRUE(LogHas("Port COM5 went away"));
}

// A pseudo-terminal reached through a fixed link, as socat makes them: the link is removed when
// the far end goes and made again for the new pair.
class LinkedPty {
  public:
    explicit LinkedPty(std::string linkPath) : link(std::move(linkPath)) {}
    ~LinkedPty() { Close(); }
    bool Create() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return false;
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::close(slave);
        std::error_code ec;
        std::filesystem::remove(link, ec);
        std::filesystem::create_symlink(name, link, ec);
        return !ec;
    }
    void Close() {
        if (master >= 0) ::close(master);
        master = -1;
        std::error_code ec;
        std::filesystem::remove(link, ec);
    }
    void Send(const std::string& s) const {
        ASSERT_EQ(::write(master, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }

    std::string link;
    int master = -1;
};

TEST_F(PortWatchTest, ARealPtyClosedAndCreatedAgainIsReconnected) {
    LinkedPty pty(tmp.filePath("board").toStdString());
    ASSERT_TRUE(pty.Create());
    TerminalOptions o = Options();
    o.makePortIo = [] { return MakeSystemPortIo(); };
    o.scanPorts = [&pty] {
        std::error_code ec;
        return std::filesystem::exists(pty.link, ec) ? std::vector<std::string>{pty.link}
                                                     : std::vector<std::string>{};
    };
    o.describePorts = {};  // this system's own description: nothing for a pty
    Open(std::move(o));
    const QString link = QString::fromStdString(pty.link);
    ClickConnect(link, "115200");
    ASSERT_EQ(w->btnConnectTag, 1);

    // Reads until the text shows or two seconds pass: the kernel hands pty bytes over on its own
    // schedule.
    auto waitFor = [this](const QString& text) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < until) {
            Poll();
            QCoreApplication::processEvents();
            if (w->memoUart->toPlainText().contains(text)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    };
    pty.Send("first life\r\n");
    ASSERT_TRUE(waitFor("first life"));

    pty.Close();  // the board resets: its port and link vanish
    for (int i = 0; i < 100 && w->btnConnectTag == 1; ++i) {
        Poll();
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(w->btnConnectTag, 0);
    EXPECT_EQ(w->status->Text("reconnect"), "waiting for " + link);
    Rescan();
    EXPECT_EQ(w->btnConnectTag, 0);

    ASSERT_TRUE(pty.Create());
    Rescan();
    ASSERT_EQ(w->btnConnectTag, 1);
    EXPECT_TRUE(LogHas("Reconnected to " + link));
    pty.Send("second life\r\n");  // right after the return
    EXPECT_TRUE(waitFor("second life"));
    EXPECT_TRUE(dialogs.Warnings().empty());
}

}  // namespace
}  // namespace corvel
