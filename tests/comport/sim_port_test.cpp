// The simulated port on its own: a linked pair across threads, the drain rate on a fake clock,
// bytes that arrive at their own time and readers that wait for a whole frame.

#include "comport/sim_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "host/fake_host.h"

namespace corvel {
namespace {

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + i / 256) & 0xFF);
    return s;
}

TEST(SimPort, PairCarriesBytesBetweenThreadsInRealTime) {
    auto [a, b] = SimDevice::MakePair();
    SimPortRegistry reg;
    reg.Add("A", a);
    reg.Add("B", b);
    auto ioA = reg.MakeIo();
    auto ioB = reg.MakeIo();
    ASSERT_TRUE(ioA->Open("A"));
    ASSERT_TRUE(ioB->Open("B"));
    ioA->SetupQueues(1024, 1024);
    ioB->SetupQueues(1024, 1024);
    b->SetDrainRate(64);  // a slow-ish line, so the queue really fills and drains

    const std::string data = Pattern(20000);
    // The far end echoes everything back, as a board would.
    std::thread peer([&] {
        std::uint8_t buf[700];
        std::size_t echoed = 0;
        while (echoed < data.size()) {
            if (!ioB->WaitReadable(2000)) break;
            const std::int32_t n = ioB->Read(buf, sizeof buf);
            ASSERT_GE(n, 0);
            for (std::int32_t off = 0; off < n;) {
                const std::int32_t w = ioB->Write(buf + off, n - off);
                ASSERT_GE(w, 0);
                if (w == 0) {
                    ASSERT_TRUE(ioB->WaitWritable(2000));
                }
                off += w;
            }
            echoed += static_cast<std::size_t>(n);
        }
    });
    std::string back;
    std::size_t sent = 0;
    std::uint8_t buf[512];
    while (back.size() < data.size()) {
        if (sent < data.size()) {
            const std::int32_t w = ioA->Write(
                reinterpret_cast<const std::uint8_t*>(data.data()) + sent,
                static_cast<std::int32_t>(std::min<std::size_t>(300, data.size() - sent)));
            ASSERT_GE(w, 0);
            sent += static_cast<std::size_t>(w);
        }
        ioA->WaitReadable(5);
        const std::int32_t n = ioA->Read(buf, sizeof buf);
        ASSERT_GE(n, 0);
        back.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
        if (n == 0 && !ioA->WaitReadable(3000) && sent == data.size()) break;
    }
    peer.join();
    EXPECT_EQ(back, data);
}

TEST(SimPort, DrainRateAndFaultsOnTheFakeClock) {
    FakeHost host;
    auto dev = SimDevice::Make();
    dev->UseHost(host);
    SimPortRegistry reg;
    reg.Add("P", dev);
    auto io = reg.MakeIo();
    ASSERT_TRUE(io->Open("P"));
    io->SetupQueues(100, 100);
    dev->SetDrainRate(10);
    const std::string data = Pattern(250);
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
    EXPECT_EQ(io->Write(p, 250), 100);  // the queue holds 100
    EXPECT_EQ(io->OutQueueCount(), 100);
    host.Advance(3);
    EXPECT_EQ(io->OutQueueCount(), 70);
    EXPECT_EQ(dev->RemoteRead(), data.substr(0, 30));
    const std::uint64_t t0 = host.NowMs();
    EXPECT_TRUE(io->WaitWritable(1000));  // room already
    EXPECT_EQ(host.NowMs(), t0);
    EXPECT_TRUE(dev->RemoteWait(70, 1000));
    EXPECT_EQ(host.NowMs() - t0, 7u);  // 70 more bytes at 10 per ms

    // Held off by CTS (only with CTS flow control on): nothing drains, waits time out.
    LineSettingsRecord r;
    r.Flags = kDcbBinary | kDcbOutxCtsFlow;
    io->ApplySettings(r);
    dev->SetCts(false);
    EXPECT_EQ(io->Write(p, 250), 100);
    EXPECT_FALSE(io->WaitWritable(50));
    EXPECT_EQ(io->OutQueueCount(), 100);
    dev->SetCts(true);
    EXPECT_TRUE(io->WaitWritable(50));

    // Read faults, then loss of the device.
    dev->RemoteWrite("abc");
    dev->FailReads(1);
    std::uint8_t buf[8];
    EXPECT_EQ(io->Read(buf, 8), -1);
    EXPECT_EQ(io->LastErrorKind(), PortErrorKind::Other);
    EXPECT_EQ(io->Read(buf, 8), 3);
    dev->Unplug();
    EXPECT_TRUE(io->WaitReadable(1000));  // wakes at once to let the read report it
    EXPECT_EQ(io->Read(buf, 8), -1);
    EXPECT_EQ(io->LastErrorKind(), PortErrorKind::DeviceLost);
    EXPECT_EQ(io->Write(p, 1), -1);
    io->Close();
    EXPECT_FALSE(io->Open("P"));
    EXPECT_FALSE(io->Open("nowhere"));
    EXPECT_EQ(io->LastErrorKind(), PortErrorKind::NotFound);
}

struct FakePair {
    FakeHost host;
    std::shared_ptr<SimDevice> a, b;
    SimPortRegistry reg;
    std::unique_ptr<ComPortIo> ioA = reg.MakeIo(), ioB = reg.MakeIo();

    explicit FakePair(std::uint32_t bytesPerMs) {
        std::tie(a, b) = SimDevice::MakePair();
        a->UseHost(host);
        reg.Add("A", a);
        reg.Add("B", b);
        EXPECT_TRUE(ioA->Open("A"));
        EXPECT_TRUE(ioB->Open("B"));
        ioA->SetupQueues(4096, 4096);
        a->SetDrainRate(bytesPerMs);
    }
    void Send(const std::string& s) {
        EXPECT_EQ(ioA->Write(reinterpret_cast<const std::uint8_t*>(s.data()),
                             static_cast<std::int32_t>(s.size())),
                  static_cast<std::int32_t>(s.size()));
    }
};

TEST(SimPort, ReaderOfAFrameWakesOnceItIsInOrTheLineGoesQuiet) {
    {
        // 40 bytes at 10 per ms: all in after 4 ms, and not a byte early.
        FakePair p(10);
        p.Send(Pattern(40));
        const std::uint64_t t0 = p.host.NowMs();
        EXPECT_TRUE(p.ioB->WaitForBytes(40, 1000));
        EXPECT_EQ(p.host.NowMs() - t0, 4u);
        EXPECT_EQ(p.b->RxQueued(), 40u);
    }
    {
        // A frame shorter than the reader expected: it wakes when the last byte is in.
        FakePair p(10);
        p.Send(Pattern(25));
        const std::uint64_t t0 = p.host.NowMs();
        EXPECT_TRUE(p.ioB->WaitForBytes(2000, 1000));
        EXPECT_EQ(p.host.NowMs() - t0, 3u);
        EXPECT_EQ(p.b->RxQueued(), 25u);
    }
    {
        // A write that joins a busy line queues behind what is still on it.
        FakePair p(10);
        p.Send(Pattern(15));
        p.host.Advance(1);
        p.Send(Pattern(15));
        EXPECT_TRUE(p.ioB->WaitForBytes(30, 1000));
        EXPECT_EQ(p.host.NowMs() - 1000, 3u);
    }
    {
        // Nothing on its way: the wait ends at its time-out; a lost device wakes it at once.
        FakePair p(10);
        const std::uint64_t t0 = p.host.NowMs();
        EXPECT_FALSE(p.ioB->WaitForBytes(5, 50));
        EXPECT_EQ(p.host.NowMs() - t0, 50u);
        p.Send(Pattern(100));
        p.b->Unplug();
        EXPECT_TRUE(p.ioB->WaitForBytes(100, 1000));
        EXPECT_EQ(p.host.NowMs() - t0, 50u);
    }
    {
        // Held off by CTS, the far end is quiet: what arrived is taken, not waited on.
        FakePair p(10);
        LineSettingsRecord r;
        r.Flags = kDcbBinary | kDcbOutxCtsFlow;
        p.ioA->ApplySettings(r);
        p.Send(Pattern(30));
        p.host.Advance(1);
        p.a->SetCts(false);
        const std::uint64_t t0 = p.host.NowMs();
        EXPECT_TRUE(p.ioB->WaitForBytes(30, 1000));
        EXPECT_EQ(p.host.NowMs(), t0);
        EXPECT_EQ(p.b->RxQueued(), 10u);
    }
}

TEST(SimPort, BytesArriveAtTheirOwnTimeInRealTime) {
    // 300 bytes per ms: byte k is readable k / 300 ms after the write, never before, and a whole
    // frame wakes its reader once. The clock of the line is finer than a millisecond, so the
    // reader may wake before a millisecond has passed; it must never have more than the line
    // could carry by then.
    auto [a, b] = SimDevice::MakePair();
    a->SetDrainRate(300);
    SimPortRegistry reg;
    reg.Add("A", a);
    reg.Add("B", b);
    auto ioA = reg.MakeIo();
    auto ioB = reg.MakeIo();
    ASSERT_TRUE(ioA->Open("A"));
    ASSERT_TRUE(ioB->Open("B"));
    ioA->SetupQueues(4096, 4096);
    const std::string data = Pattern(1500);  // 5 ms on the line
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    ASSERT_EQ(ioA->Write(reinterpret_cast<const std::uint8_t*>(data.data()), 1500), 1500);
    std::string got;
    std::uint8_t buf[256];
    while (got.size() < data.size()) {
        ASSERT_TRUE(ioB->WaitForBytes(100, 2000));
        const std::int32_t n = ioB->Read(buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        EXPECT_LE(static_cast<double>(got.size()), us * 0.3 + 1.0) << got.size();
    }
    EXPECT_EQ(got, data);
}

}  // namespace
}  // namespace corvel
