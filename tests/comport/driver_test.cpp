// The driver against the simulated port, on a fake clock: no sleeps, no races.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "comport/comport.h"
#include "comport/sim_port.h"
#include "host/fake_host.h"
#include "host/text_file.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

// A fresh folder of its own under the system's temporary folder; create_directory refuses a name
// already taken (mkdtemp is POSIX only).
fs::path MakeTempFolder(const std::string& prefix) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path p = fs::temp_directory_path() / (prefix + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) return p;
    }
    return {};
}

std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

const std::uint8_t* Bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        logDir = MakeTempFolder("corvel_comport_");
        ASSERT_FALSE(logDir.empty());
        dev->UseHost(host);
        reg.Add("COM3", dev);
        drv = std::make_unique<TCommPortDriver>(host, reg.MakeIo());
        drv->SetComPort("COM3");
        drv->LogFolder = logDir.string();
    }
    void TearDown() override {
        drv.reset();
        fs::remove_all(logDir);
    }
    fs::path LogFile() const { return logDir / "commPortlog.txt"; }
    // Fires the polling timer once, as its period elapsing would.
    void Tick() { host.Advance(drv->ComPortPollingDelay()); }
    Host::TimerId PollTimer() const {
        for (Host::TimerId id = 1; id < 100; ++id)
            if (host.IsTimerActive(id)) return id;
        return 0;
    }

    FakeHost host;
    SimPortRegistry reg;
    std::shared_ptr<SimDevice> dev = SimDevice::Make();
    std::unique_ptr<TCommPortDriver> drv;
    fs::path logDir;
};

TEST(ComPortTables, DefaultsOrdinalsAndRates) {
    FakeHost host;
    SimPortRegistry reg;
    TCommPortDriver d(host, reg.MakeIo());
    EXPECT_EQ(d.ComPort(), "COM1");
    EXPECT_EQ(d.ComPortSpeed(), 9600u);
    EXPECT_EQ(d.ComPortDataBits(), db8BITS);
    EXPECT_EQ(d.ComPortStopBits(), sb1BITS);
    EXPECT_EQ(d.ComPortParity(), ptNONE);
    EXPECT_EQ(d.ComPortHwHandshaking(), hhNONE);
    EXPECT_EQ(d.ComPortSwHandshaking(), shNONE);
    EXPECT_EQ(d.ComPortInBufSize(), 2048);
    EXPECT_EQ(d.ComPortOutBufSize(), 2048);
    EXPECT_EQ(d.ComPortPollingDelay(), 50);
    EXPECT_EQ(d.ComPortPollingGetChar, 100);
    EXPECT_TRUE(d.EnableDTROnOpen);
    EXPECT_EQ(d.OutputTimeout, 4000u);
    EXPECT_FALSE(d.UseDebug);
    EXPECT_FALSE(d.OnReceiveData());
    EXPECT_FALSE(d.Connected());
    EXPECT_EQ(d.ComHandle(), 0);
    EXPECT_EQ(d.OutFreeSpace(), 65535);
    EXPECT_EQ(host.ActiveTimerCount(), 0u);

    EXPECT_EQ(ptSPACE, 4);
    EXPECT_EQ(sb2BITS, 2);
    EXPECT_EQ(hhRTSCTS, 1);
    EXPECT_EQ(shXONXOFF, 1);
    ASSERT_EQ(ComPortBaudRates.size(), 28u);
    EXPECT_EQ(ComPortBaudRates.front(), 5u);
    EXPECT_EQ(ComPortBaudRates[7], 8192u);
    EXPECT_EQ(ComPortBaudRates.back(), 2304000u);
}

TEST_F(DriverTest, ConnectAppliesTheWholeRecordAndStartsPolling) {
    ASSERT_TRUE(drv->Connect());
    EXPECT_TRUE(drv->Connected());
    EXPECT_EQ(drv->ComHandle(), dev->Id());
    auto r = dev->GetRecords();
    ASSERT_EQ(r.settings.size(), 1u);
    LineSettingsRecord want;
    want.DCBlength = 28;
    want.BaudRate = 9600;
    want.Flags = 0x1 | 0x10;
    want.XonLim = 512;
    want.XoffLim = 512;
    want.ByteSize = 8;
    want.Parity = 0;
    want.StopBits = 0;
    want.XonChar = 0x11;
    want.XoffChar = 0x13;
    EXPECT_EQ(r.settings[0], want);
    EXPECT_EQ(r.purges, (std::vector<std::uint32_t>{0xF}));
    ASSERT_EQ(r.queueSizes.size(), 1u);
    EXPECT_EQ(r.queueSizes[0], (std::pair<std::uint32_t, std::uint32_t>(2048, 2048)));
    EXPECT_EQ(r.timeoutsSet, 1);
    EXPECT_TRUE(r.dtr);
    EXPECT_FALSE(r.rts);
    EXPECT_EQ(host.ActiveTimerCount(), 1u);

    // A second Connect keeps the port it has, whatever ComPort was set to.
    reg.Add("COM9", SimDevice::Make());
    drv->SetComPort("COM9");
    EXPECT_EQ(drv->ComPort(), "COM3");
    EXPECT_TRUE(drv->Connect());
    EXPECT_EQ(dev->GetRecords().opens, 1);

    drv->Disconnect();
    EXPECT_FALSE(drv->Connected());
    EXPECT_FALSE(dev->IsOpen());
    EXPECT_EQ(host.ActiveTimerCount(), 0u);
    EXPECT_FALSE(fs::exists(LogFile()));  // no debug, no file
}

TEST_F(DriverTest, RecordFollowsLineProperties) {
    drv->EnableDTROnOpen = false;
    drv->SetComPortDataBits(db7BITS);
    drv->SetComPortParity(ptMARK);
    drv->SetComPortStopBits(sb1HALFBITS);
    drv->SetComPortSwHandshaking(shXONXOFF);
    drv->SetComPortSpeed(250000);
    EXPECT_TRUE(dev->GetRecords().settings.empty());  // closed: only stored
    ASSERT_TRUE(drv->Connect());
    auto s = dev->GetRecords().settings.back();
    EXPECT_EQ(s.Flags, 0x1u | 0x100u | 0x200u);
    EXPECT_EQ(s.BaudRate, 250000u);
    EXPECT_EQ(s.ByteSize, 7);
    EXPECT_EQ(s.Parity, 3);
    EXPECT_EQ(s.StopBits, 1);
    EXPECT_FALSE(dev->GetRecords().dtr);
    EXPECT_FALSE(dev->GetRecords().rts);

    drv->SetComPortHwHandshaking(hhRTSCTS);
    s = dev->GetRecords().settings.back();
    EXPECT_EQ(s.Flags, 0x1u | 0x4u | 0x2000u | 0x100u | 0x200u);
    EXPECT_TRUE(dev->GetRecords().rts);

    // Every writer re-applies and purges both ways, even with the same value.
    dev->RemoteWrite("pending");
    const auto before = dev->GetRecords();
    drv->SetComPortSpeed(250000);
    const auto after = dev->GetRecords();
    EXPECT_EQ(after.settings.size(), before.settings.size() + 1);
    EXPECT_EQ(after.purges.back(), 0xFu);
    EXPECT_EQ(after.queueSizes.size(), before.queueSizes.size() + 1);
    EXPECT_EQ(dev->RxQueued(), 0u);
}

TEST_F(DriverTest, BufferSizesAndNameChangeOnlyWhileClosed) {
    drv->SetComPortInBufSize(1024);
    drv->SetComPortOutBufSize(512);
    ASSERT_TRUE(drv->Connect());
    EXPECT_EQ(dev->GetRecords().settings[0].XonLim, 256);
    EXPECT_EQ(dev->GetRecords().settings[0].XoffLim, 256);
    EXPECT_EQ(dev->GetRecords().queueSizes[0].second, 512u);
    drv->SetComPortInBufSize(4000);
    drv->SetComPortOutBufSize(4000);
    drv->SetComPort("COM7");
    EXPECT_EQ(drv->ComPortInBufSize(), 1024);
    EXPECT_EQ(drv->ComPortOutBufSize(), 512);
    EXPECT_EQ(drv->ComPort(), "COM3");

    // Reallocation empties what getChar had buffered.
    dev->RemoteWrite("abc");
    std::uint8_t c = 0;
    ASSERT_TRUE(drv->getChar(c));
    drv->Disconnect();
    drv->SetComPortInBufSize(100);
    EXPECT_FALSE(drv->getChar(c));  // closed, and nothing left over
    EXPECT_EQ(drv->ComPortInBufSize(), 100);
}

TEST_F(DriverTest, PollingDelayRestartsTimerOnlyOnChange) {
    drv->SetComPortPollingDelay(10);
    ASSERT_TRUE(drv->Connect());
    ASSERT_EQ(host.ActiveTimerCount(), 1u);
    EXPECT_TRUE(host.IsTimerActive(1));
    EXPECT_EQ(host.TimerPeriod(1), 10u);
    drv->SetComPortPollingDelay(10);
    EXPECT_TRUE(host.IsTimerActive(1));
    drv->SetComPortPollingDelay(1);
    EXPECT_FALSE(host.IsTimerActive(1));
    EXPECT_TRUE(host.IsTimerActive(2));
    EXPECT_EQ(host.TimerPeriod(2), 1u);
    EXPECT_EQ(host.ActiveTimerCount(), 1u);
    drv->SetComPortPollingDelay(0);  // stored as given, but the timer never runs at 0 ms
    EXPECT_EQ(drv->ComPortPollingDelay(), 0);
    EXPECT_EQ(host.TimerPeriod(3), 1u);
}

TEST_F(DriverTest, OpenFailuresLeaveTheDriverClosed) {
    drv->UseDebug = true;
    dev->RefuseOpen(PortErrorKind::Busy);
    EXPECT_FALSE(drv->Connect());
    EXPECT_FALSE(drv->Connected());
    EXPECT_EQ(drv->LastErrorKind(), PortErrorKind::Busy);
    EXPECT_EQ(drv->CommPortLog.Count(), 1u);
    EXPECT_EQ(drv->CommPortLog.Last(), "Abrindo a porta COM3");
    drv->Disconnect();
    EXPECT_FALSE(fs::exists(LogFile()));
    EXPECT_EQ(host.ActiveTimerCount(), 0u);

    // Held by another driver.
    dev->RefuseOpen(PortErrorKind::None);
    TCommPortDriver other(host, reg.MakeIo());
    other.SetComPort("COM3");
    ASSERT_TRUE(other.Connect());
    EXPECT_FALSE(drv->Connect());
    EXPECT_EQ(drv->LastErrorKind(), PortErrorKind::Busy);

    drv->SetComPort("COM99");
    EXPECT_FALSE(drv->Connect());
    EXPECT_EQ(drv->LastErrorKind(), PortErrorKind::NotFound);

    // Operations on a closed port do nothing.
    drv->FlushBuffers(true, true);
    drv->ToggleDTR(true);
    EXPECT_EQ(drv->SendData(Bytes("x"), 1), 0);
    EXPECT_EQ(drv->OutFreeSpace(), 65535);
}

TEST_F(DriverTest, PurgeFlagsAndModemLines) {
    drv->EnableDTROnOpen = false;
    ASSERT_TRUE(drv->Connect());
    drv->FlushBuffers(false, false);
    drv->FlushBuffers(true, false);
    drv->FlushBuffers(false, true);
    auto r = dev->GetRecords();
    EXPECT_EQ(r.purges, (std::vector<std::uint32_t>{0xF, 0x0, 0xA, 0x5}));

    drv->ToggleDTR(true);
    drv->ToggleRTS(true);
    r = dev->GetRecords();
    EXPECT_TRUE(r.dtr);
    EXPECT_TRUE(r.rts);
    drv->ToggleDTR(false);
    drv->ToggleRTS(false);
    r = dev->GetRecords();
    EXPECT_EQ(r.escapes, (std::vector<std::uint32_t>{5, 3, 6, 4}));
    EXPECT_FALSE(r.dtr);
    EXPECT_FALSE(r.rts);
}

TEST_F(DriverTest, CallbackModeHandsOutChunksPerTick) {
    std::vector<std::string> chunks;
    TCommPortDriver* sender = nullptr;
    drv->SetOnReceiveData([&](TCommPortDriver* s, const std::uint8_t* p, std::int32_t n) {
        sender = s;
        chunks.emplace_back(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
    });
    drv->UseDebug = true;
    ASSERT_TRUE(drv->Connect());
    const auto logBefore = drv->CommPortLog.Count();
    Tick();
    EXPECT_TRUE(chunks.empty());
    EXPECT_EQ(drv->CommPortLog.Count(), logBefore);  // an empty tick logs nothing

    const std::string data = Pattern(300);
    dev->RemoteWrite(data);
    std::uint8_t c = 0;
    EXPECT_FALSE(drv->getChar(c));  // callback mode: refused at once, nothing read
    EXPECT_EQ(dev->RxQueued(), 300u);
    Tick();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0], data);
    EXPECT_EQ(sender, drv.get());
    EXPECT_EQ(drv->CommPortLog.Last(), "Poll RX. Recebido 300 bytes");

    // A fast line: the tick keeps reading while reads fill the buffer.
    drv->Disconnect();
    drv->SetComPortInBufSize(100);
    ASSERT_TRUE(drv->Connect());
    chunks.clear();
    const std::string burst = Pattern(250);
    dev->RemoteWrite(burst);
    Tick();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].size(), 100u);
    EXPECT_EQ(chunks[2].size(), 50u);
    EXPECT_EQ(chunks[0] + chunks[1] + chunks[2], burst);
    EXPECT_EQ(drv->CommPortLog.Last(), "Poll RX. Recebido 50 bytes");

    // Without a callback the tick reads nothing.
    drv->SetOnReceiveData(nullptr);
    dev->RemoteWrite("zz");
    Tick();
    EXPECT_EQ(dev->RxQueued(), 2u);
}

TEST_F(DriverTest, ATickWaitsForARefillOnlyWhileTheLineOutrunsItsReads) {
    std::vector<std::size_t> chunks;
    drv->SetOnReceiveData([&](TCommPortDriver*, const std::uint8_t*, std::int32_t n) {
        chunks.push_back(static_cast<std::size_t>(n));
    });
    drv->SetComPortInBufSize(100);
    ASSERT_TRUE(drv->Connect());

    // Two full buffers waiting, and more on its way: the tick stays for it rather than leaving
    // it to the next period (a port's queue is small; a fast line would overflow it).
    dev->RemoteWrite(Pattern(200));
    dev->ScheduleRemoteWrite(drv->ComPortPollingDelay() + 1, Pattern(30));
    Tick();
    EXPECT_EQ(chunks, (std::vector<std::size_t>{100, 100, 30}));

    // A slow line: the first short read ends the tick at once, later bytes wait for a tick.
    chunks.clear();
    dev->RemoteWrite(Pattern(50));
    dev->ScheduleRemoteWrite(drv->ComPortPollingDelay() + 1, Pattern(10));
    const std::uint64_t before = host.NowMs();
    Tick();
    EXPECT_EQ(chunks, std::vector<std::size_t>{50});
    EXPECT_EQ(host.NowMs() - before, drv->ComPortPollingDelay());  // no time spent waiting
    Tick();
    EXPECT_EQ(chunks, (std::vector<std::size_t>{50, 10}));
}

// A flood of 300 bytes a millisecond into a 2000-byte buffer: no read of a tick ever fills the
// buffer, yet the driver reads on every millisecond instead of waiting out the stored 50 ms with
// the queue filling, and goes back to the stored period once a tick finds the line quiet.
TEST_F(DriverTest, AFloodIsReadAtOnceWhateverTheFirstReadOfATickFinds) {
    std::size_t got = 0;
    drv->SetOnReceiveData(
        [&](TCommPortDriver*, const std::uint8_t*, std::int32_t n) { got += std::size_t(n); });
    ASSERT_EQ(drv->ComPortPollingDelay(), 50);
    ASSERT_TRUE(drv->Connect());
    for (int ms = 0; ms < 200; ++ms) dev->ScheduleRemoteWrite(std::uint64_t(ms), Pattern(300));
    host.Advance(50);  // the first look comes after the stored period
    std::size_t waiting = 0;
    for (int ms = 0; ms < 150; ++ms) {
        host.Advance(1);
        waiting = std::max(waiting, dev->RxQueued());
    }
    EXPECT_LE(waiting, 600u);
    host.Advance(10);
    EXPECT_EQ(got, 60000u);
    ASSERT_EQ(host.ActiveTimerCount(), 1u);
    EXPECT_EQ(host.TimerPeriod(PollTimer()), 50u);
}

TEST_F(DriverTest, CallbackThatChangesTheDriverEndsTheTick) {
    drv->SetComPortInBufSize(100);
    ASSERT_TRUE(drv->Connect());
    int calls = 0;
    drv->SetOnReceiveData([&](TCommPortDriver* s, const std::uint8_t*, std::int32_t) {
        ++calls;
        s->Disconnect();
    });
    dev->RemoteWrite(Pattern(300));
    Tick();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(drv->Connected());

    // Replacing itself mid-call: the old callback finishes safely, the new one waits a tick.
    ASSERT_TRUE(drv->Connect());
    calls = 0;
    int second = 0;
    std::string captured = "alive";
    drv->SetOnReceiveData([&, captured](TCommPortDriver* s, const std::uint8_t*, std::int32_t) {
        ++calls;
        s->SetOnReceiveData([&](TCommPortDriver*, const std::uint8_t*, std::int32_t) { ++second; });
        EXPECT_EQ(captured, "alive");  // this closure must still exist here
    });
    dev->RemoteWrite(Pattern(300));
    Tick();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(second, 0);
    Tick();
    EXPECT_EQ(second, 2);  // 200 bytes left: two full chunks, then an empty read

    // A callback that pumps messages does not get a nested tick on the same buffer.
    int depth = 0, maxDepth = 0;
    drv->SetOnReceiveData([&](TCommPortDriver*, const std::uint8_t*, std::int32_t) {
        maxDepth = std::max(maxDepth, ++depth);
        host.Advance(200);  // several polling periods
        --depth;
    });
    dev->RemoteWrite(Pattern(150));
    host.FireTimer(PollTimer());
    EXPECT_EQ(maxDepth, 1);
    // That callback took longer than a tick may: the window got its turn, the rest comes at
    // the next tick.
    EXPECT_EQ(dev->RxQueued(), 50u);
    Tick();
    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(dev->RxQueued(), 0u);
}

TEST_F(DriverTest, GetCharWaitsBoundedAndKeepsLateBytes) {
    drv->UseDebug = true;
    ASSERT_TRUE(drv->Connect());
    std::uint8_t c = 0;

    // Nothing arrives: false a little after the limit, without real time passing.
    std::uint64_t t0 = host.NowMs();
    EXPECT_FALSE(drv->getChar(c));
    EXPECT_EQ(host.NowMs() - t0, 101u);
    EXPECT_EQ(drv->CommPortLog.Last(), "GETC: timeout 101 > 100 : 0 bytes");

    // Ten bytes at once: ten calls served from one read, then a fresh wait.
    dev->RemoteWrite("0123456789");
    std::string got;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(drv->getChar(c));
        got += static_cast<char>(c);
    }
    EXPECT_EQ(got, "0123456789");
    EXPECT_EQ(drv->CommPortLog.Last(), "GETC: ReadFile com 10 bytes");
    EXPECT_FALSE(drv->getChar(c));

    // Bytes arriving mid-wait are returned when they arrive.
    dev->ScheduleRemoteWrite(40, "A");
    t0 = host.NowMs();
    ASSERT_TRUE(drv->getChar(c));
    EXPECT_EQ(c, 'A');
    EXPECT_EQ(host.NowMs() - t0, 40u);

    // Bytes fetched by the read that times out stay for the next calls, in order.
    dev->ScheduleRemoteWrite(101, "xyz");
    EXPECT_FALSE(drv->getChar(c));
    EXPECT_EQ(drv->CommPortLog.Last(), "GETC: timeout 101 > 100 : 3 bytes");
    got.clear();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(drv->getChar(c));
        got += static_cast<char>(c);
    }
    EXPECT_EQ(got, "xyz");

    // Writing OnReceiveData (even "no callback") drops what getChar had buffered.
    dev->RemoteWrite("lost");
    ASSERT_TRUE(drv->getChar(c));
    drv->SetOnReceiveData(nullptr);
    EXPECT_EQ(drv->CommPortLog.Last(), "OnReceiveData = NIL");
    EXPECT_FALSE(drv->getChar(c));

    // Closed: leftovers are still handed out, then false.
    dev->RemoteWrite("ab");
    ASSERT_TRUE(drv->getChar(c));
    drv->Disconnect();
    ASSERT_TRUE(drv->getChar(c));
    EXPECT_EQ(c, 'b');
    EXPECT_FALSE(drv->getChar(c));

    // A failing read ends the call at once.
    ASSERT_TRUE(drv->Connect());
    dev->FailReads(1);
    t0 = host.NowMs();
    EXPECT_FALSE(drv->getChar(c));
    EXPECT_EQ(host.NowMs(), t0);
    EXPECT_FALSE(drv->PortLost());
}

// Forwards to the simulated port and counts the reads and waits the driver asks for.
class CountingIo : public ComPortIo {
  public:
    explicit CountingIo(std::unique_ptr<ComPortIo> in) : in_(std::move(in)) {}
    bool Open(const std::string& n) override { return in_->Open(n); }
    bool IsOpen() const override { return in_->IsOpen(); }
    void Close() override { in_->Close(); }
    ComHandleValue Handle() const override { return in_->Handle(); }
    bool Adopt(ComHandleValue h) override { return in_->Adopt(h); }
    void Detach() override { in_->Detach(); }
    bool ApplySettings(const LineSettingsRecord& r) override { return in_->ApplySettings(r); }
    bool Purge(std::uint32_t f) override { return in_->Purge(f); }
    bool SetupQueues(std::uint32_t i, std::uint32_t o) override { return in_->SetupQueues(i, o); }
    bool SetNonBlockingTimeouts() override { return in_->SetNonBlockingTimeouts(); }
    std::int32_t Read(std::uint8_t* b, std::int32_t n) override {
        ++reads;
        return in_->Read(b, n);
    }
    std::int32_t Write(const std::uint8_t* d, std::int32_t n) override { return in_->Write(d, n); }
    std::int32_t OutQueueCount() override { return in_->OutQueueCount(); }
    bool Escape(std::uint32_t f) override { return in_->Escape(f); }
    bool WaitReadable(std::uint32_t ms) override { return in_->WaitReadable(ms); }
    bool WaitWritable(std::uint32_t ms) override { return in_->WaitWritable(ms); }
    bool WaitForBytes(std::uint32_t count, std::uint32_t ms) override {
        wanted.push_back(count);
        return in_->WaitForBytes(count, ms);
    }
    PortErrorKind LastErrorKind() const override { return in_->LastErrorKind(); }
    std::string LastErrorMessage() const override { return in_->LastErrorMessage(); }

    int reads = 0;
    std::vector<std::uint32_t> wanted;

  private:
    std::unique_ptr<ComPortIo> in_;
};

TEST_F(DriverTest, ReadsWaitFirstOnceTheQueueWasEmptiedAndBlocksWaitForTheirFrame) {
    auto [a, b] = SimDevice::MakePair();
    a->UseHost(host);
    a->SetDrainRate(10);  // bytes per ms
    reg.Add("A", a);
    reg.Add("B", b);
    auto counting = std::make_unique<CountingIo>(reg.MakeIo());
    CountingIo& io = *counting;
    TCommPortDriver rx(host, std::move(counting));
    rx.SetComPort("B");
    ASSERT_TRUE(rx.Connect());
    auto ioA = reg.MakeIo();
    ASSERT_TRUE(ioA->Open("A"));
    ioA->SetupQueues(4096, 4096);
    auto send = [&](const std::string& s) {
        ASSERT_EQ(ioA->Write(Bytes(s), static_cast<std::int32_t>(s.size())),
                  static_cast<std::int32_t>(s.size()));
    };

    // The first look after connecting reads at once; what it finds is served from the buffer.
    send("hi");
    host.Advance(1);
    std::uint8_t c = 0;
    ASSERT_TRUE(rx.getChar(c));
    ASSERT_TRUE(rx.getChar(c));
    EXPECT_EQ(c, 'i');
    EXPECT_EQ(io.reads, 1);

    // That read emptied the queue: the next one waits first, then reads once.
    io.reads = 0;
    send("x");
    ASSERT_TRUE(rx.getChar(c));
    EXPECT_EQ(c, 'x');
    EXPECT_EQ(io.reads, 1);
    EXPECT_EQ(io.wanted, (std::vector<std::uint32_t>{1}));

    // A block waits for the whole frame (50 bytes, 5 ms on this line) and reads it in one go.
    io.reads = 0;
    io.wanted.clear();
    const std::string frame = Pattern(50);
    send(frame);
    const std::uint64_t t0 = host.NowMs();
    std::uint8_t buf[64] = {};
    EXPECT_EQ(rx.getBlock(buf, 50), 50);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 50), frame);
    EXPECT_EQ(host.NowMs() - t0, 5u);
    EXPECT_EQ(io.reads, 1);
    EXPECT_EQ(io.wanted, (std::vector<std::uint32_t>{50}));

    // A shorter frame than asked for is taken once the line is quiet; blocks and single bytes
    // share one buffer, in order.
    send("abcdef");
    EXPECT_EQ(rx.getBlock(buf, 4), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
    ASSERT_TRUE(rx.getChar(c));
    EXPECT_EQ(c, 'e');
    EXPECT_EQ(rx.getBlock(buf, 64), 1);
    EXPECT_EQ(buf[0], 'f');

    // Nothing comes: 0 after the getChar wait; no buffer or no room takes nothing.
    const std::uint64_t t1 = host.NowMs();
    EXPECT_EQ(rx.getBlock(buf, 64), 0);
    EXPECT_EQ(host.NowMs() - t1, 101u);
    EXPECT_EQ(rx.getBlock(nullptr, 64), 0);
    EXPECT_EQ(rx.getBlock(buf, 0), 0);

    // In callback mode the polling tick owns the port.
    send("z");
    rx.SetOnReceiveData([](TCommPortDriver*, const std::uint8_t*, std::int32_t) {});
    EXPECT_EQ(rx.getBlock(buf, 64), 0);
    rx.SetOnReceiveData(nullptr);

    // A device lost while a block waits is reported once and ends the wait at once.
    std::vector<std::string> lost;
    rx.OnPortLost = [&](const std::string& m) { lost.push_back(m); };
    EXPECT_EQ(rx.getBlock(buf, 64), 1);  // the "z" the tick did not take
    b->Unplug();
    const std::uint64_t t2 = host.NowMs();
    EXPECT_EQ(rx.getBlock(buf, 64), 0);
    EXPECT_EQ(host.NowMs(), t2);
    EXPECT_EQ(lost.size(), 1u);
}

TEST_F(DriverTest, SendDataWritesInPiecesWithinFreeSpace) {
    drv->UseDebug = true;
    ASSERT_TRUE(drv->Connect());
    dev->SetDrainRate(100);  // bytes per ms
    const std::string data = Pattern(5000);
    EXPECT_EQ(drv->SendData(Bytes(data), 5000), 5000);
    EXPECT_EQ(drv->CommPortLog.Last(), "Enviados 5000 bytes na porta COM");
    ASSERT_TRUE(dev->RemoteWait(5000, 1000));
    EXPECT_EQ(dev->RemoteRead(), data);
    const auto writes = dev->GetRecords().writes;
    EXPECT_GE(writes.size(), 3u);
    for (auto w : writes) EXPECT_LE(w, 2048);

    EXPECT_EQ(drv->SendData(Bytes(data), 0), 0);
    EXPECT_EQ(drv->SendData(Bytes(data), -5), 0);
    EXPECT_EQ(drv->SendData(nullptr, 10), 0);
    EXPECT_EQ(drv->CommPortLog.Last(), "Enviados 0 bytes na porta COM");
    EXPECT_EQ(dev->GetRecords().writes.size(), writes.size());

    EXPECT_TRUE(drv->SendString("hello"));
    EXPECT_TRUE(drv->SendZString("world"));
    EXPECT_TRUE(drv->SendZString(nullptr));
    ASSERT_TRUE(dev->RemoteWait(10, 100));
    EXPECT_EQ(dev->RemoteRead(), "helloworld");
    EXPECT_EQ(drv->OutFreeSpace(), 2048);
}

// A frame far longer than the OS takes at once on a slow line (a byte a millisecond, 256 bytes of
// room), and one held off by CTS: while a transfer runs, the send lets the window run at least
// every 20 ms; the wire gets the same bytes in the same order. A disconnect from the window in
// between ends the send.
TEST_F(DriverTest, ALongSendLetsTheWindowRunBetweenPieces) {
    drv->SetComPortOutBufSize(256);
    drv->SetComPortHwHandshaking(hhRTSCTS);
    ASSERT_TRUE(drv->Connect());
    dev->SetDrainRate(1);
    drv->PumpWhileSending = true;
    std::vector<std::uint64_t> pumps;
    host.onProcessMessages = [&] { pumps.push_back(host.NowMs()); };
    const auto widestGap = [&](std::uint64_t from) {
        std::uint64_t widest = 0;
        for (std::uint64_t t : pumps) widest = std::max(widest, t - std::exchange(from, t));
        return std::max(widest, host.NowMs() - from);
    };

    const std::string frame = Pattern(3000);
    std::uint64_t start = host.NowMs();
    EXPECT_EQ(drv->SendData(Bytes(frame), 3000), 3000);
    EXPECT_GE(pumps.size(), (3000u - 256u) / 21u);
    EXPECT_LE(widestGap(start), 21u);
    std::string wire;
    while (wire.size() < frame.size() && dev->RemoteWait(1, 1000)) wire += dev->RemoteRead();
    EXPECT_EQ(wire, frame);

    // Held off by CTS for two seconds, under the 4 s stall limit.
    pumps.clear();
    dev->SetCts(false);
    host.onProcessMessages = [&] {
        pumps.push_back(host.NowMs());
        if (host.NowMs() - start >= 2000) dev->SetCts(true);
    };
    start = host.NowMs();
    EXPECT_EQ(drv->SendData(Bytes(frame), 1000), 1000);
    EXPECT_LE(widestGap(start), 21u);
    EXPECT_GE(host.NowMs() - start, 2000u);

    // The user disconnects while the send waits.
    host.onProcessMessages = [&] { drv->Disconnect(); };
    EXPECT_LT(drv->SendData(Bytes(frame), 3000), 3000);
    EXPECT_FALSE(drv->Connected());

    // Outside a transfer a send waits as before, without pumping.
    ASSERT_TRUE(drv->Connect());
    dev->SetDrainRate(1);
    drv->PumpWhileSending = false;
    pumps.clear();
    host.onProcessMessages = [&] { pumps.push_back(host.NowMs()); };
    EXPECT_EQ(drv->SendData(Bytes(frame), 1000), 1000);
    EXPECT_TRUE(pumps.empty());
}

TEST_F(DriverTest, SendDataGivesUpAfterAStallNotASlowLine) {
    drv->UseDebug = true;
    drv->SetComPortHwHandshaking(hhRTSCTS);
    ASSERT_TRUE(drv->Connect());
    dev->SetCts(false);
    const std::string data = Pattern(5000);
    std::uint64_t t0 = host.NowMs();
    EXPECT_EQ(drv->SendData(Bytes(data), 5000), 2048);
    EXPECT_EQ(host.NowMs() - t0, 4001u);
    EXPECT_EQ(drv->CommPortLog.Last(), "Timeout em enviar dados na porta COM");
    EXPECT_EQ(drv->OutFreeSpace(), 0);

    // Held with nothing written yet: 0.
    EXPECT_EQ(drv->SendData(Bytes(data), 10), 0);

    // A slow but moving line never times out: 1 byte/ms against a 100 ms stall limit.
    drv->FlushBuffers(false, true);
    dev->SetCts(true);
    dev->SetDrainRate(1);
    drv->OutputTimeout = 100;
    t0 = host.NowMs();
    EXPECT_EQ(drv->SendData(Bytes(data), 5000), 5000);
    EXPECT_GE(host.NowMs() - t0, 2900u);

    // A queue that reports room but takes nothing (a pty's habit) still ends at the time-out.
    ASSERT_TRUE(dev->RemoteWait(5000, 10000));
    dev->RemoteRead();
    dev->SetReportEmptyOutQueue(true);
    dev->SetCts(false);
    t0 = host.NowMs();
    EXPECT_EQ(drv->SendData(Bytes(data), 5000), 2048);  // the device's own queue fills
    EXPECT_EQ(host.NowMs() - t0, 101u);
}

TEST_F(DriverTest, DeviceLossIsReportedOnceAndPollingStaysQuiet) {
    std::vector<std::string> lost;
    drv->OnPortLost = [&](const std::string& m) { lost.push_back(m); };
    int calls = 0;
    drv->SetOnReceiveData([&](TCommPortDriver*, const std::uint8_t*, std::int32_t) { ++calls; });
    ASSERT_TRUE(drv->Connect());
    dev->Unplug();
    Tick();
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_FALSE(lost[0].empty());
    EXPECT_TRUE(drv->PortLost());
    for (int i = 0; i < 5; ++i) Tick();
    EXPECT_EQ(lost.size(), 1u);
    EXPECT_EQ(calls, 0);

    // The data paths fail fast instead of waiting out their time-outs.
    const std::uint64_t t0 = host.NowMs();
    EXPECT_EQ(drv->SendData(Bytes("abc"), 3), 0);
    drv->SetOnReceiveData(nullptr);
    std::uint8_t c;
    EXPECT_FALSE(drv->getChar(c));
    EXPECT_EQ(host.NowMs(), t0);
    EXPECT_EQ(lost.size(), 1u);

    drv->Disconnect();
    EXPECT_FALSE(drv->Connected());
    EXPECT_FALSE(drv->Connect());  // the device is gone
    EXPECT_EQ(drv->LastErrorKind(), PortErrorKind::NotFound);

    // Found in the middle of a send, through a pull-mode reader too.
    auto dev2 = SimDevice::Make();
    dev2->UseHost(host);
    reg.Add("COM4", dev2);
    drv->SetComPort("COM4");
    ASSERT_TRUE(drv->Connect());
    EXPECT_FALSE(drv->PortLost());
    dev2->Unplug();
    EXPECT_FALSE(drv->getChar(c));
    EXPECT_EQ(lost.size(), 2u);

    // And by a send.
    drv->Disconnect();
    auto dev3 = SimDevice::Make();
    dev3->UseHost(host);
    reg.Add("COM5", dev3);
    drv->SetComPort("COM5");
    ASSERT_TRUE(drv->Connect());
    dev3->Unplug();
    EXPECT_EQ(drv->SendData(Bytes("abc"), 3), 0);
    EXPECT_EQ(lost.size(), 3u);
}

TEST_F(DriverTest, DebugLogIsSavedWithCrLfAtEachDisconnect) {
    drv->UseDebug = true;
    drv->SetOnReceiveData([](TCommPortDriver*, const std::uint8_t*, std::int32_t) {});
    ASSERT_TRUE(drv->Connect());
    dev->RemoteWrite("hi");
    Tick();
    drv->SetOnReceiveData(nullptr);
    drv->SendData(Bytes("ok"), 2);
    drv->Disconnect();
    const std::vector<std::string> first = {
        "OnReceiveData = Função do usuário", "Abrindo a porta COM3",
        "Poll RX. Recebido 2 bytes",         "OnReceiveData = NIL",
        "Enviados 2 bytes na porta COM",     "Fechando a porta COM3"};
    EXPECT_EQ(drv->CommPortLog.Count(), first.size());
    EXPECT_EQ(ReadFile(LogFile()),
              "OnReceiveData = Fun\xE7\xE3o do usu\xE1rio\r\nAbrindo a porta COM3\r\n"
              "Poll RX. Recebido 2 bytes\r\nOnReceiveData = NIL\r\n"
              "Enviados 2 bytes na porta COM\r\nFechando a porta COM3\r\n");

    // The next session rewrites the file with everything since the start, closing line last.
    ASSERT_TRUE(drv->Connect());
    drv->Disconnect();
    const std::string text = ReadFile(LogFile());
    EXPECT_EQ(
        text.rfind("Abrindo a porta COM3\r\nFechando a porta COM3\r\n"),
        text.size() - std::string("Abrindo a porta COM3\r\nFechando a porta COM3\r\n").size());
    EXPECT_EQ(drv->CommPortLog.Count(), first.size() + 2);

    // Destruction disconnects and saves too; an unwritable folder does not stop the close.
    ASSERT_TRUE(drv->Connect());
    drv->LogFolder = (logDir / "missing" / "folder").string();
    EXPECT_THROW(drv->Disconnect(), FileError);
    EXPECT_FALSE(drv->Connected());
    ASSERT_TRUE(drv->Connect());
    drv.reset();
    EXPECT_FALSE(dev->IsOpen());
}

TEST_F(DriverTest, SetComHandleAdoptsAndDetaches) {
    drv->SetComHandle(dev->Id());
    EXPECT_TRUE(drv->Connected());
    EXPECT_EQ(host.ActiveTimerCount(), 1u);
    EXPECT_TRUE(dev->GetRecords().settings.empty());  // adopted as it is
    drv->SetComHandle(dev->Id());                     // same handle: nothing
    EXPECT_EQ(host.ActiveTimerCount(), 1u);
    drv->SetComHandle(kInvalidComHandle);
    EXPECT_FALSE(drv->Connected());
    EXPECT_EQ(host.ActiveTimerCount(), 0u);
    EXPECT_EQ(dev->GetRecords().closes, 0);  // detached, not closed
    EXPECT_TRUE(dev->IsOpen());
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

TEST_F(DriverTest, ToggledLinesSurviveSettingsWritesAndPulsesReturnToRest) {
    drv->EnableDTROnOpen = false;
    drv->EnableRTSOnOpen = true;
    ASSERT_TRUE(drv->Connect());
    auto r = dev->GetRecords();
    EXPECT_FALSE(r.dtr);
    EXPECT_TRUE(r.rts);  // in the first record: no glitch after the open
    EXPECT_EQ(r.settings.back().Flags & (kDcbRtsControlEnable | kDcbDtrControlEnable),
              kDcbRtsControlEnable);
    drv->ToggleDTR(true);
    drv->ToggleRTS(false);
    // A flow-control change rewrites the record; it must not drop DTR (a board's reset).
    drv->SetComPortSwHandshaking(shXONXOFF);
    r = dev->GetRecords();
    EXPECT_TRUE(r.dtr);
    EXPECT_FALSE(r.rts);
    EXPECT_EQ(r.dtrRises, 1u);
    EXPECT_TRUE(drv->LineState(TComPortLine::DTR));

    // Active-low reset on DTR: off for 100 ms, then back on, on the host clock.
    ASSERT_TRUE(drv->PulseLine(TComPortLine::DTR, false, 100));
    EXPECT_FALSE(drv->PulseLine(TComPortLine::RTS, true, 10));  // one at a time
    EXPECT_FALSE(dev->GetRecords().dtr);
    host.Advance(99);
    EXPECT_FALSE(dev->GetRecords().dtr);
    host.Advance(1);
    EXPECT_TRUE(dev->GetRecords().dtr);
    EXPECT_EQ(dev->GetRecords().dtrRises, 2u);
    EXPECT_FALSE(drv->PulseActive());
    // RTS/CTS drives RTS: no pulse there.
    drv->SetComPortHwHandshaking(hhRTSCTS);
    EXPECT_FALSE(drv->PulseLine(TComPortLine::RTS, true, 10));

    ASSERT_TRUE(drv->SendBreak(250));
    EXPECT_TRUE(dev->GetRecords().breakOn);
    EXPECT_FALSE(drv->SendBreak(10));
    host.Advance(250);
    r = dev->GetRecords();
    EXPECT_FALSE(r.breakOn);
    EXPECT_EQ(r.breaks, 1u);
    EXPECT_EQ(r.lastBreakMs, 250u);
    // A disconnect during a BREAK ends it.
    ASSERT_TRUE(drv->SendBreak(1000));
    drv->Disconnect();
    EXPECT_FALSE(dev->GetRecords().breakOn);
    EXPECT_FALSE(drv->BreakActive());
    EXPECT_FALSE(drv->SendBreak(10));
    // The next connection starts from the configured levels again.
    ASSERT_TRUE(drv->Connect());
    EXPECT_FALSE(dev->GetRecords().dtr);
}

TEST_F(DriverTest, ModemStatusCountersAndRefusedSettings) {
    ModemStatus st;
    EXPECT_FALSE(drv->GetModemStatus(st));  // closed
    ASSERT_TRUE(drv->Connect());
    dev->SetModemInputs({false, true, true, false});
    ASSERT_TRUE(drv->GetModemStatus(st));
    EXPECT_EQ(st, (ModemStatus{false, true, true, false}));
    dev->SetNoModemStatus(true);
    EXPECT_FALSE(drv->GetModemStatus(st));

    // Every byte that crossed, by whichever road: polling, getChar and sends.
    std::string got;
    drv->SetOnReceiveData([&](TCommPortDriver*, const std::uint8_t* p, std::int32_t n) {
        got.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
    });
    dev->RemoteWrite(Pattern(5000));
    for (int i = 0; i < 5; ++i) Tick();
    EXPECT_EQ(got.size(), 5000u);
    drv->SetOnReceiveData({});
    dev->RemoteWrite("ab");
    std::uint8_t c = 0;
    EXPECT_TRUE(drv->getChar(c));
    EXPECT_EQ(drv->SendData(Bytes(Pattern(3000)), 3000), 3000);
    EXPECT_EQ(drv->BytesReceived(), 5002u);
    EXPECT_EQ(drv->BytesSent(), 3000u);
    drv->ResetByteCounts();
    EXPECT_EQ(drv->BytesReceived() + drv->BytesSent(), 0u);

    EXPECT_TRUE(drv->SettingsProblem().empty());
    dev->RefuseSettings(true);
    drv->SetComPortParity(ptEVEN);
    EXPECT_EQ(drv->SettingsProblem(), "settings refused");
    dev->RefuseSettings(false);
    drv->SetComPortParity(ptNONE);
    EXPECT_TRUE(drv->SettingsProblem().empty());
}

}  // namespace
}  // namespace corvel
