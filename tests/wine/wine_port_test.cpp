// The Win32 port layer and the driver on a real COM port, run under Wine with COMn mapped to a
// pseudo-terminal whose far end echoes every byte back (scripts/test-windows sets that up and
// names the port in CORVEL_WINE_PORT). Without that variable every case is skipped.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comport/comport.h"
#include "comport/port_scan.h"
#include "host/std_host.h"

namespace corvel {
namespace {

std::string PortName() {
    const char* p = std::getenv("CORVEL_WINE_PORT");
    return p ? p : "";
}

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return v;
}

class WinePort : public ::testing::Test {
  protected:
    void SetUp() override {
        port = PortName();
        if (port.empty()) GTEST_SKIP() << "CORVEL_WINE_PORT is not set";
        drv.SetComPort(port);
        drv.SetComPortSpeed(115200);
        drv.EnableDTROnOpen = false;
        ASSERT_TRUE(drv.Connect()) << drv.LastErrorMessage();
    }

    HANDLE Handle() const { return reinterpret_cast<HANDLE>(drv.ComHandle()); }

    DCB State() const {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        EXPECT_TRUE(::GetCommState(Handle(), &dcb)) << ::GetLastError();
        return dcb;
    }

    // Bytes waiting in the receive queue, as ClearCommError reports them.
    DWORD InQueue() const {
        DWORD errors = 0;
        COMSTAT st{};
        EXPECT_TRUE(::ClearCommError(Handle(), &errors, &st)) << ::GetLastError();
        return st.cbInQue;
    }

    // Reads with getChar until n bytes came or nothing came for a second.
    std::vector<std::uint8_t> Receive(std::size_t n) {
        std::vector<std::uint8_t> got;
        std::uint64_t lastByte = host.NowMs();
        while (got.size() < n && host.NowMs() - lastByte < 1000) {
            std::uint8_t c = 0;
            if (drv.getChar(c)) {
                got.push_back(c);
                lastByte = host.NowMs();
            }
        }
        return got;
    }

    // Sends in pieces and collects the echo between them, so neither direction of the
    // pseudo-terminal ever fills up.
    std::vector<std::uint8_t> EchoRoundTrip(const std::vector<std::uint8_t>& data,
                                            std::size_t piece) {
        std::vector<std::uint8_t> back;
        for (std::size_t at = 0; at < data.size(); at += piece) {
            const auto n = static_cast<std::int32_t>(std::min(piece, data.size() - at));
            EXPECT_EQ(drv.SendData(data.data() + at, n), n);
            const auto got = Receive(static_cast<std::size_t>(n));
            back.insert(back.end(), got.begin(), got.end());
            if (got.size() != static_cast<std::size_t>(n)) break;
        }
        return back;
    }

    std::string port;
    StdHost host;
    TCommPortDriver drv{host, MakeSystemPortIo()};
};

TEST_F(WinePort, TheScanListsThePortDeclaredInTheRegistry) {
    const auto ports = ScanSerialPorts();
    EXPECT_NE(std::find(ports.begin(), ports.end(), port), ports.end())
        << "the registry's serial port map does not list " << port;
}

TEST_F(WinePort, OpeningAppliesTheLineSettingsAndSpeedChangesReadBack) {
    DCB dcb = State();
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);

    drv.SetComPortSpeed(9600);
    EXPECT_EQ(State().BaudRate, 9600u);
    drv.SetComPortSpeed(921600);
    EXPECT_EQ(State().BaudRate, 921600u);
}

TEST_F(WinePort, ARateThePortDidNotTakeIsReportedAsAFailure) {
    LineSettingsRecord r = drv.BuildLineSettings();
    r.BaudRate = 250000;  // not a standard rate: some drivers accept it without applying it
    const bool applied = drv.Io().ApplySettings(r);
    const DWORD actual = State().BaudRate;
    std::printf("[   INFO   ] 250000 baud: ApplySettings %s, the port runs at %lu baud%s%s\n",
                applied ? "succeeded" : "failed", static_cast<unsigned long>(actual),
                applied ? "" : ": ", applied ? "" : drv.LastErrorMessage().c_str());
    EXPECT_EQ(applied, actual == 250000u);
    if (!applied) {
        EXPECT_NE(drv.LastErrorMessage().find("250000"), std::string::npos);
    }
    // The port still works at the rate it kept.
    const auto data = Pattern(100);
    EXPECT_EQ(EchoRoundTrip(data, 100), data);
}

TEST_F(WinePort, EveryByteValueGoesOutAndComesBackInOrder) {
    const auto data = Pattern(256 * 1024);
    const std::uint64_t start = host.NowMs();
    const auto back = EchoRoundTrip(data, 2048);
    const auto ms = std::max<std::uint64_t>(1, host.NowMs() - start);
    ASSERT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data) << "the echo differs from what was sent";
    std::printf("[   INFO   ] echo of %zu bytes in %llu ms (%.0f KB/s each way)\n", data.size(),
                static_cast<unsigned long long>(ms),
                static_cast<double>(data.size()) / 1024.0 / (static_cast<double>(ms) / 1000.0));
}

TEST_F(WinePort, ClearCommErrorCountsReceivedBytesAndPurgeDiscardsThem) {
    const std::string text = "0123456789";
    ASSERT_EQ(drv.SendData(reinterpret_cast<const std::uint8_t*>(text.data()), 10), 10);
    const std::uint64_t start = host.NowMs();
    while (InQueue() < 10 && host.NowMs() - start < 2000) ::Sleep(1);
    EXPECT_EQ(InQueue(), 10u);
    EXPECT_EQ(drv.OutFreeSpace(), drv.ComPortOutBufSize());  // a pty drains at once

    drv.FlushBuffers(true, false);
    EXPECT_EQ(InQueue(), 0u);
    std::uint8_t c = 0;
    EXPECT_FALSE(drv.getChar(c));  // nothing left to read
    // The line still carries what comes next.
    const auto data = Pattern(300);
    EXPECT_EQ(EchoRoundTrip(data, 300), data);
}

TEST_F(WinePort, ModemLinesAPtyLacksAreToleratedAndThePortKeepsWorking) {
    drv.ToggleDTR(true);
    drv.ToggleRTS(true);
    drv.ToggleDTR(false);
    drv.ToggleRTS(false);
    std::printf("[   INFO   ] after the modem-line calls: %s\n", drv.LastErrorMessage().c_str());
    EXPECT_TRUE(drv.Connected());
    EXPECT_FALSE(drv.PortLost());
    // The next settings write keeps working too (the layer keeps its record in step).
    drv.SetComPortSpeed(57600);
    EXPECT_EQ(State().BaudRate, 57600u);
    const auto data = Pattern(500);
    EXPECT_EQ(EchoRoundTrip(data, 500), data);
}

TEST_F(WinePort, BreakAndModemStatusAsFarAsWineGoes) {
    // SetCommBreak / ClearCommBreak and GetCommModemStatus: what Wine on a pty refuses is
    // printed, and nothing of it may cost the connection.
    const bool started = drv.SendBreak(20);
    std::printf("[   INFO   ] BREAK: %s\n",
                started ? "SetCommBreak taken" : drv.LastErrorMessage().c_str());
    const std::uint64_t until = host.NowMs() + 200;
    while (drv.BreakActive() && host.NowMs() < until) host.ProcessMessages();
    EXPECT_FALSE(drv.BreakActive());
    ModemStatus st;
    const bool known = drv.GetModemStatus(st);
    std::printf("[   INFO   ] modem status: %s\n",
                known ? "GetCommModemStatus taken" : drv.LastErrorMessage().c_str());
    EXPECT_TRUE(drv.Connected());
    const auto data = Pattern(200);
    EXPECT_EQ(EchoRoundTrip(data, 200), data);
}

TEST_F(WinePort, ThePollingTimerHandsOverEveryChunkInOrder) {
    std::vector<std::uint8_t> got;
    int calls = 0;
    drv.SetComPortPollingDelay(1);
    drv.SetOnReceiveData([&](TCommPortDriver*, const std::uint8_t* p, std::int32_t n) {
        ++calls;
        got.insert(got.end(), p, p + n);
    });
    const auto data = Pattern(20000);
    for (std::size_t at = 0; at < data.size(); at += 1000) {
        ASSERT_EQ(drv.SendData(data.data() + at, 1000), 1000);
        const std::uint64_t start = host.NowMs();
        while (got.size() < at + 1000 && host.NowMs() - start < 2000) {
            host.ProcessMessages();
            ::Sleep(1);
        }
    }
    drv.SetOnReceiveData(nullptr);
    EXPECT_GT(calls, 0);
    EXPECT_TRUE(got == data) << got.size() << " bytes came back of " << data.size();
}

TEST_F(WinePort, ClosingReleasesThePortForTheNextOpen) {
    drv.Disconnect();
    EXPECT_FALSE(drv.Connected());
    ASSERT_TRUE(drv.Connect()) << drv.LastErrorMessage();
    const auto data = Pattern(64);
    EXPECT_EQ(EchoRoundTrip(data, 64), data);
}

TEST(WinePortMissing, OpeningAnAbsentPortFailsWithNotFound) {
    if (PortName().empty()) GTEST_SKIP() << "CORVEL_WINE_PORT is not set";
    auto io = MakeSystemPortIo();
    EXPECT_FALSE(io->Open("COM250"));
    EXPECT_EQ(io->LastErrorKind(), PortErrorKind::NotFound) << io->LastErrorMessage();
    EXPECT_FALSE(io->IsOpen());
    EXPECT_EQ(io->Read(nullptr, 0), -1);  // operations on a closed port fail, never crash
}

}  // namespace
}  // namespace corvel
