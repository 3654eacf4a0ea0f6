// The adapter pulled out: the simulated port removed while the driver is idle, while getChar
// waits and while SendData waits. Each ends with one port-lost event, and afterwards nothing
// keeps working the port: the polling timer stops reading and the data paths return at once
// with one look at the port, so no loop of the driver's own can spin a core.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "comport/comport.h"
#include "comport/sim_port.h"
#include "host/fake_host.h"
#include "kmodem/u_kmodem.h"

namespace corvel {
namespace {

// Counts every operation the driver asks of the port layer.
class CountingIo : public ComPortIo {
  public:
    CountingIo(std::unique_ptr<ComPortIo> inner, std::uint64_t& calls)
        : in_(std::move(inner)), calls_(calls) {}
    bool Open(const std::string& name) override { return ++calls_, in_->Open(name); }
    bool IsOpen() const override { return in_->IsOpen(); }
    void Close() override { ++calls_, in_->Close(); }
    ComHandleValue Handle() const override { return in_->Handle(); }
    bool Adopt(ComHandleValue h) override { return ++calls_, in_->Adopt(h); }
    void Detach() override { ++calls_, in_->Detach(); }
    bool ApplySettings(const LineSettingsRecord& r) override {
        return ++calls_, in_->ApplySettings(r);
    }
    bool Purge(std::uint32_t f) override { return ++calls_, in_->Purge(f); }
    bool SetupQueues(std::uint32_t i, std::uint32_t o) override {
        return ++calls_, in_->SetupQueues(i, o);
    }
    bool SetNonBlockingTimeouts() override { return ++calls_, in_->SetNonBlockingTimeouts(); }
    std::int32_t Read(std::uint8_t* b, std::int32_t n) override {
        return ++calls_, in_->Read(b, n);
    }
    std::int32_t Write(const std::uint8_t* d, std::int32_t n) override {
        return ++calls_, in_->Write(d, n);
    }
    std::int32_t OutQueueCount() override { return ++calls_, in_->OutQueueCount(); }
    bool Escape(std::uint32_t f) override { return ++calls_, in_->Escape(f); }
    bool WaitReadable(std::uint32_t ms) override { return ++calls_, in_->WaitReadable(ms); }
    bool WaitWritable(std::uint32_t ms) override { return ++calls_, in_->WaitWritable(ms); }
    PortErrorKind LastErrorKind() const override { return in_->LastErrorKind(); }
    std::string LastErrorMessage() const override { return in_->LastErrorMessage(); }

  private:
    std::unique_ptr<ComPortIo> in_;
    std::uint64_t& calls_;
};

class DeviceLoss : public ::testing::Test {
  protected:
    void SetUp() override {
        dev->UseHost(host);
        reg.Add("COM7", dev);
        drv = std::make_unique<TCommPortDriver>(
            host, std::make_unique<CountingIo>(reg.MakeIo(), ioCalls));
        drv->SetComPort("COM7");
        drv->OnPortLost = [this](const std::string& m) { lost.push_back(m); };
    }

    // Pulls the adapter out `ms` from now, in the middle of whatever runs then.
    void UnplugIn(std::uint64_t ms) {
        unplugTimer = host.StartTimer(static_cast<std::uint32_t>(ms), [this] {
            dev->Unplug();
            host.StopTimer(unplugTimer);
        });
    }

    // After the loss: ten simulated seconds of polling and a few calls of each data path touch
    // the port at most once per call, take no simulated time and raise no second event.
    void ExpectQuietAfterLoss() {
        ASSERT_EQ(lost.size(), 1u);
        EXPECT_FALSE(lost[0].empty());
        EXPECT_TRUE(drv->PortLost());
        const std::uint64_t before = ioCalls;
        host.Advance(10'000);
        EXPECT_EQ(ioCalls, before) << "the polling timer kept reading a lost port";

        const auto receive = drv->OnReceiveData();
        drv->SetOnReceiveData(nullptr);
        const std::uint64_t t0 = host.NowMs();
        for (int i = 0; i < 10; ++i) {
            std::uint8_t c = 0;
            const std::uint64_t calls = ioCalls;
            EXPECT_FALSE(drv->getChar(c));
            EXPECT_LE(ioCalls - calls, 1u);
            const std::uint8_t data[3] = {1, 2, 3};
            const std::uint64_t sendCalls = ioCalls;
            EXPECT_EQ(drv->SendData(data, 3), 0);
            EXPECT_LE(ioCalls - sendCalls, 1u);
        }
        EXPECT_EQ(host.NowMs(), t0);
        EXPECT_EQ(lost.size(), 1u);
        drv->SetOnReceiveData(receive);
        drv->Disconnect();
        EXPECT_FALSE(drv->Connected());
    }

    FakeHost host;
    SimPortRegistry reg;
    std::shared_ptr<SimDevice> dev = SimDevice::Make();
    std::uint64_t ioCalls = 0;
    std::unique_ptr<TCommPortDriver> drv;
    std::vector<std::string> lost;
    Host::TimerId unplugTimer = 0;
};

TEST_F(DeviceLoss, WhileIdleThePollingTimerReportsItOnce) {
    int chunks = 0;
    drv->SetOnReceiveData([&](TCommPortDriver*, const std::uint8_t*, std::int32_t) { ++chunks; });
    ASSERT_TRUE(drv->Connect());
    dev->RemoteWrite("hi");
    host.Advance(drv->ComPortPollingDelay());
    EXPECT_EQ(chunks, 1);
    UnplugIn(500);
    host.Advance(500 + drv->ComPortPollingDelay());
    ExpectQuietAfterLoss();
    EXPECT_EQ(chunks, 1);
}

TEST_F(DeviceLoss, WhileGetCharWaitsItEndsTheWait) {
    ASSERT_TRUE(drv->Connect());
    drv->ComPortPollingGetChar = 1000;
    UnplugIn(40);
    const std::uint64_t t0 = host.NowMs();
    std::uint8_t c = 0;
    EXPECT_FALSE(drv->getChar(c));
    EXPECT_LT(host.NowMs() - t0, 1000u) << "the wait ran to its end on a lost port";
    ExpectQuietAfterLoss();
}

TEST_F(DeviceLoss, WhileSendDataWaitsItEndsTheSend) {
    drv->SetComPortHwHandshaking(hhRTSCTS);
    ASSERT_TRUE(drv->Connect());
    dev->SetCts(false);  // the far end holds us off: the send waits for room
    drv->OutputTimeout = 4000;
    UnplugIn(40);
    const std::vector<std::uint8_t> data(5000, 0x55);
    const std::uint64_t t0 = host.NowMs();
    EXPECT_LT(drv->SendData(data.data(), 5000), 5000);
    EXPECT_LT(host.NowMs() - t0, 4000u) << "the send waited out its stall time-out";
    ExpectQuietAfterLoss();
}

// A Kmodem transfer bound to the driver the way the window binds it (the lost-port event stops
// the transfer): both directions end at once with a clean result and no busy loop.
TEST_F(DeviceLoss, KmodemTransfersOnALostPortEndPromptly) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("corvel_loss_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    for (bool transmit : {false, true}) {
        SCOPED_TRACE(transmit ? "transmit" : "receive");
        auto device = SimDevice::Make();
        device->UseHost(host);
        const std::string name = transmit ? "COM8" : "COM9";
        reg.Add(name, device);
        drv->Disconnect();
        drv->SetComPort(name);
        lost.clear();
        ASSERT_TRUE(drv->Connect());

        tKmodem km(host);
        drv->OnPortLost = [&](const std::string& m) {
            lost.push_back(m);
            km.canceled = true;
        };
        km.kmodem_In = [&](std::uint8_t& c) { return drv->getChar(c); };
        km.kmodem_Out = [&](const std::uint8_t* c, std::int32_t n) { return drv->SendData(c, n); };
        km.kmodem_Flush = [&](bool i, bool o) { drv->FlushBuffers(i, o); };
        unplugTimer = host.StartTimer(300, [&] {
            device->Unplug();
            host.StopTimer(unplugTimer);
        });

        const std::string file = (folder / "file.bin").string();
        std::int32_t r = 0;
        const std::uint64_t t0 = host.NowMs();
        const std::uint64_t calls0 = ioCalls;
        if (transmit) {
            {
                std::FILE* f = std::fopen(file.c_str(), "wb");
                ASSERT_NE(f, nullptr);
                std::vector<char> data(5000, 'k');
                std::fwrite(data.data(), 1, data.size(), f);
                std::fclose(f);
            }
            r = km.TransmitFile(file);  // waits for the first reply when the adapter goes
        } else {
            r = km.ReceiveFile(file);  // waits, without limit, for the first frame
        }
        EXPECT_EQ(r, KM_USER_CANCEL);
        EXPECT_EQ(lost.size(), 1u);
        EXPECT_LT(host.NowMs() - t0, 1000u);
        EXPECT_LT(ioCalls - calls0, 200u) << "the transfer kept working a lost port";
        EXPECT_EQ(host.ActiveTimerCount(), 1u);  // only the driver's polling timer
        drv->Disconnect();
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace corvel
