// File transfers through the real window and the real POSIX port, over a pseudo-terminal pair:
// the window holds the slave end, a writer or a Kmodem peer on its own thread holds the master.
// The files must arrive whole; the throughput is printed (never asserted). CORVEL_PTY_BYTES
// sets the size of the raw stream (default 2 MiB; the Kmodem files are a quarter of it).

#if defined(__linux__)

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <thread>

#include "host/std_host.h"
#include "kmodem/u_kmodem.h"
#include "terminal/window/file_transfer.h"
#include "terminal/window/qt_host.h"
#include "window_fixture.h"

namespace corvel {
namespace {

using Clock = std::chrono::steady_clock;

std::string RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen());
    return s;
}

std::string ReadFile(const QString& path) {
    std::ifstream f(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const QString& path, const std::string& bytes) {
    std::ofstream f(path.toStdString(), std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::size_t StreamSize() {
    const char* v = std::getenv("CORVEL_PTY_BYTES");
    const long long n = v ? std::atoll(v) : 0;
    return n > 0 ? static_cast<std::size_t>(n) : std::size_t{2} << 20;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool WriteAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

class HookedQtHost : public QtHost {
  public:
    void ProcessMessages() override {
        if (hook) hook();
        QtHost::ProcessMessages();
    }
    std::function<void()> hook;
};

// A Kmodem engine on the master end of the pty, on its own thread.
class PtyPeer {
  public:
    PtyPeer(int fd, std::uint16_t packageSize) : fd_(fd), packageSize_(packageSize) {}
    ~PtyPeer() { Join(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    void Run(bool transmit, std::string path, std::shared_future<void> go) {
        thread_ = std::thread([this, transmit, path, go] {
            StdHost h;
            tKmodem k(h);
            k.packageSize = packageSize_;
            k.timerOutValue = 12;
            k.kmodem_Out = [this](const std::uint8_t* c, std::int32_t n) {
                return WriteAll(fd_, reinterpret_cast<const char*>(c), static_cast<std::size_t>(n))
                           ? n
                           : 0;
            };
            k.kmodem_In = [this](std::uint8_t& c) {
                if (!ready_.exchange(true)) readyPromise_.set_value();
                if (pos_ == len_ && !Fill(100)) return false;
                c = buf_[pos_++];
                return true;
            };
            k.kmodem_Flush = [this](bool in, bool) {
                if (!in) return;
                pos_ = len_ = 0;
                while (Fill(0)) pos_ = len_ = 0;
            };
            go.wait();
            started = Clock::now();
            result = transmit ? k.TransmitFile(path) : k.ReceiveFile(path);
            ended = Clock::now();
            if (!ready_.exchange(true)) readyPromise_.set_value();
        });
    }
    void WaitReady() { readyPromise_.get_future().wait(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

    std::int32_t result = 1;
    Clock::time_point started, ended;

  private:
    bool Fill(int ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN)) return false;
        const ssize_t n = ::read(fd_, buf_, sizeof buf_);
        if (n <= 0) return false;
        pos_ = 0;
        len_ = static_cast<std::size_t>(n);
        return true;
    }

    int fd_;
    std::uint16_t packageSize_;
    std::thread thread_;
    std::atomic<bool> ready_{false};
    std::promise<void> readyPromise_;
    char buf_[4096];
    std::size_t pos_ = 0, len_ = 0;
};

class PtyTransferTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        char name[128] = {};
        ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(slave_, &t), 0);
        ::cfmakeraw(&t);
        ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &t), 0);
        scan = {name};
        TerminalOptions o = Options();
        o.makePortIo = nullptr;  // this platform's serial port
        o.host = &qhost_;
        Open(std::move(o));
        ClickConnect(name, "2000000");
        ASSERT_EQ(w->btnConnectTag, 1);
        ::close(slave_);
        slave_ = -1;
    }
    void TearDown() override {
        qhost_.hook = nullptr;
        w.reset();
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
        WindowTest::TearDown();
    }

    HookedQtHost qhost_;
    int master_ = -1;
    int slave_ = -1;
};

TEST_F(PtyTransferTest, RawReceiveKeepsUpWithAStreamAndLosesNothing) {
    const std::string data = RandomBytes(StreamSize(), 21);
    const QString dst = tmp.filePath("raw.bin");
    dialogs.files = {dst};
    std::thread writer;
    std::atomic<bool> written{false};
    Clock::time_point t0, t1, lastByte = Clock::now();
    std::uint32_t lastCount = 0;
    qhost_.hook = [&] {
        const Clock::time_point now = Clock::now();
        if (!writer.joinable()) {
            t0 = now;
            writer = std::thread([&] {
                WriteAll(master_, data.data(), data.size());
                written = true;
            });
        }
        if (w->fileTransfer->rawRxCount != lastCount) {
            lastCount = w->fileTransfer->rawRxCount;
            lastByte = now;
        }
        if (w->btnRxFileTag != 1) return;
        if (w->fileTransfer->rawRxCount >= data.size()) {
            t1 = now;
            w->fileTransfer->btnRxFileClick();
        } else if (written && now - lastByte > std::chrono::seconds(3)) {
            t1 = lastByte;  // bytes were lost: end rather than wait for ever
            w->fileTransfer->btnRxFileClick();
        }
    };
    w->fileTransfer->btnRxFileClick();
    writer.join();

    const std::string got = ReadFile(dst);
    const double s = Seconds(t1 - t0);
    std::printf(
        "[ figures  ] raw receive over a pty: %zu bytes in %.3f s = %.0f bytes/s, %zu lost\n",
        got.size(), s, static_cast<double>(got.size()) / s,
        data.size() - std::min(data.size(), got.size()));
    RecordProperty("raw_receive_bytes_per_s", static_cast<int>(got.size() / s));
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST_F(PtyTransferTest, KmodemBothWaysArriveWhole) {
    w->kmodem->enabled = true;
    const std::string data = RandomBytes(StreamSize() / 4, 22);
    const QString src = tmp.filePath("src.bin");
    WriteFile(src, data);
    for (std::uint16_t packet : {std::uint16_t{512}, std::uint16_t{4096}}) {
        SCOPED_TRACE(packet);
        w->kmodem->packageSize = packet;
        const QString mid = tmp.filePath("mid.bin");
        const QString back = tmp.filePath("back.bin");

        // The window sends.
        {
            PtyPeer peer(master_, packet);
            std::promise<void> now;
            now.set_value();
            peer.Run(false, mid.toStdString(), now.get_future().share());
            peer.WaitReady();
            dialogs.files = {src};
            const Clock::time_point t0 = Clock::now();
            w->fileTransfer->btnTxFileClick();
            const double s = Seconds(Clock::now() - t0);
            peer.Join();
            EXPECT_EQ(peer.result, KM_OK);
            const std::string got = ReadFile(mid);
            EXPECT_TRUE(got == data);
            std::printf(
                "[ figures  ] Kmodem send, %u-byte packets: %zu bytes in %.3f s = %.0f bytes/s%s\n",
                unsigned{packet}, data.size(), s, static_cast<double>(data.size()) / s,
                got == data ? "" : " (file differs)");
        }
        // The window receives; the peer starts once the window waits for it.
        {
            PtyPeer peer(master_, packet);
            std::promise<void> go;
            peer.Run(true, mid.toStdString(), go.get_future().share());
            bool started = false;
            qhost_.hook = [&] {
                if (!std::exchange(started, true)) go.set_value();
            };
            dialogs.files = {back};
            w->fileTransfer->btnRxFileClick();
            qhost_.hook = nullptr;
            peer.Join();
            EXPECT_EQ(peer.result, KM_OK);
            const std::string got = ReadFile(back);
            EXPECT_TRUE(got == data);
            const double s = Seconds(peer.ended - peer.started);
            std::printf(
                "[ figures  ] Kmodem receive, %u-byte packets: %zu bytes in %.3f s = %.0f "
                "bytes/s%s\n",
                unsigned{packet}, data.size(), s, static_cast<double>(data.size()) / s,
                got == data ? "" : " (file differs)");
        }
    }
}

}  // namespace
}  // namespace corvel

#endif
