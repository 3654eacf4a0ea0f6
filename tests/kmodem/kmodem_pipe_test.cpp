// A transmitter and a receiver on two threads, each with its own host, talking through an
// in-memory line: the protocol end to end, and how fast it goes.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/std_host.h"
#include "kmodem/u_kmodem.h"
#include "kmodem_support.h"

namespace corvel {
namespace {

using kmtest::Bytes;

// One direction of the line. A reader takes everything queued at once, as a driver drains the
// OS queue into its own buffer.
class BytePipe {
  public:
    void Write(const std::uint8_t* p, std::size_t n) {
        {
            std::lock_guard<std::mutex> lock(m_);
            q_.insert(q_.end(), p, p + n);
        }
        cv_.notify_one();
    }
    // Swaps the queued bytes into `into` (which must be empty); waits a little when none are.
    bool TakeAll(Bytes& into, std::chrono::microseconds wait) {
        std::unique_lock<std::mutex> lock(m_);
        if (q_.empty()) cv_.wait_for(lock, wait, [&] { return !q_.empty(); });
        if (q_.empty()) return false;
        into.swap(q_);
        return true;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_);
        q_.clear();
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    Bytes q_;
};

// One end of the line, bound to a tKmodem like the serial driver would be.
class LineEnd {
  public:
    LineEnd(BytePipe& in, BytePipe& out) : in_(in), out_(out) {}

    void Bind(tKmodem& k) {
        k.kmodem_Out = [this](const std::uint8_t* c, std::int32_t n) {
            out_.Write(c, static_cast<std::size_t>(n));
            return n;
        };
        k.kmodem_In = [this](std::uint8_t& c) {
            if (pos_ == cache_.size()) {
                cache_.clear();
                pos_ = 0;
                // The driver's short read wait.
                if (!in_.TakeAll(cache_, std::chrono::milliseconds(1))) return false;
            }
            c = cache_[pos_++];
            return true;
        };
        k.kmodem_Flush = [this](bool inBuf, bool) {
            if (inBuf) {
                cache_.clear();
                pos_ = 0;
                in_.Clear();
            }
            flushed.store(true);
        };
    }
    std::atomic<bool> flushed{false};

  private:
    BytePipe& in_;
    BytePipe& out_;
    Bytes cache_;
    std::size_t pos_ = 0;
};

struct Outcome {
    std::int32_t tx;
    std::int32_t rx;
    double seconds;
};

// Runs one transfer of `file` with the given packet size; the receiver starts first, as it must.
Outcome Transfer(const kmtest::TempDir& dir, const Bytes& file, std::uint16_t packageSize) {
    const std::string src = dir / "src.bin";
    const std::string dst = dir / "dst.bin";
    kmtest::WriteBytes(src, file);
    BytePipe toRx, toTx;
    LineEnd rxEnd(toRx, toTx), txEnd(toTx, toRx);

    auto rxResult = std::async(std::launch::async, [&] {
        StdHost host;
        tKmodem km(host);
        km.packageSize = packageSize;
        km.timerOutValue = 5;
        rxEnd.Bind(km);
        return km.ReceiveFile(dst);
    });
    while (!rxEnd.flushed.load()) std::this_thread::yield();

    const auto t0 = std::chrono::steady_clock::now();
    std::int32_t tx = 0;
    {
        StdHost host;
        tKmodem km(host);
        km.packageSize = packageSize;
        txEnd.Bind(km);
        tx = km.TransmitFile(src);
    }
    // An empty file sends nothing at all; play the transmitter's user ending the receiver.
    if (tx == KM_FILE_EMPTY) {
        const std::uint8_t finish = CMD_FINISH;
        toRx.Write(&finish, 1);
    }
    const std::int32_t rx = rxResult.get();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return {tx, rx, s};
}

TEST(KmodemEndToEnd, FilesArriveByteForByte) {
    kmtest::TempDir dir;
    std::uint32_t seed = 1;
    for (std::uint16_t ps : {std::uint16_t{256}, std::uint16_t{512}, std::uint16_t{2038}}) {
        std::vector<std::size_t> sizes = {
            0, 1, 255, 256, ps, std::size_t{ps} + 1u, 3 * std::size_t{ps} + 7};
        for (int i = 0; i < 2; ++i) sizes.push_back(std::mt19937(++seed)() % (512u << 10));
        if (ps == 2038) sizes.push_back((3u << 20) + 12345);
        for (std::size_t n : sizes) {
            const Bytes file = kmtest::RandomBytes(n, ++seed);
            const Outcome o = Transfer(dir, file, ps);
            EXPECT_EQ(o.tx, n ? KM_OK : KM_FILE_EMPTY) << ps << " " << n;
            EXPECT_EQ(o.rx, KM_OK) << ps << " " << n;
            EXPECT_EQ(kmtest::ReadBytes(dir / "dst.bin"), file) << ps << " " << n;
        }
    }
}

TEST(KmodemEndToEnd, ThroughputAtLargestPackets) {
    kmtest::TempDir dir;
#ifdef NDEBUG
    const Bytes file = kmtest::RandomBytes(4u << 20, 77);
    const std::vector<std::uint16_t> sizes = {512, 2038};
#else
    // Unoptimised builds only show that the figure is produced.
    const Bytes file = kmtest::RandomBytes(1u << 20, 77);
    const std::vector<std::uint16_t> sizes = {2038};
#endif
    for (std::uint16_t ps : sizes) {
        const Outcome o = Transfer(dir, file, ps);
        ASSERT_EQ(o.tx, KM_OK);
        ASSERT_EQ(o.rx, KM_OK);
        const double mbps = double(file.size()) / (1024.0 * 1024.0) / o.seconds;
        std::printf("[ figure   ] packageSize %u: %zu bytes in %.3f s = %.1f MiB/s\n", unsigned{ps},
                    file.size(), o.seconds, mbps);
        RecordProperty("MiBps_" + std::to_string(ps), std::to_string(mbps));
    }
}

}  // namespace
}  // namespace corvel
