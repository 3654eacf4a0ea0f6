// Kmodem on a modelled line: two engines, each on its own serial driver and thread, joined by the
// simulated port pair draining at a UART's byte rate, with the receiver taking a fixed turnaround
// before each reply (the time a board needs to check and store a packet). Prints the transfer
// rate and the stop-and-wait bound for that line as "key=value" lines.
//
//   kmodem_line_bench [--baud N] [--turnaround-us T] [--bound-turnaround-us T] [--packet S]
//                     [--bytes N]
//
// The bound: each packet costs S + 6 bytes on the wire (length frame, data frame, reply) and one
// turnaround, so no stop-and-wait sender can beat S / ((S + 6) / R + T) with R = baud / 10.

#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "comport/comport.h"
#include "comport/sim_port.h"
#include "host/std_host.h"
#include "kmodem/u_kmodem.h"

namespace {

using namespace corvel;
using Clock = std::chrono::steady_clock;

struct Args {
    std::uint32_t baud = 3000000;
    std::uint32_t turnaroundUs = 1000;
    // Turnaround the bound is computed for; by default the one applied. The simulated line
    // delivers each byte at its own time, so the applied turnaround is the only one there is.
    std::int64_t boundTurnaroundUs = -1;
    std::uint16_t packet = 2038;
    std::size_t bytes = 1u << 20;
};

Args Parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        const long long v = std::atoll(argv[i + 1]);
        if (k == "--baud") {
            a.baud = static_cast<std::uint32_t>(v);
        } else if (k == "--turnaround-us") {
            a.turnaroundUs = static_cast<std::uint32_t>(v);
        } else if (k == "--bound-turnaround-us") {
            a.boundTurnaroundUs = v;
        } else if (k == "--packet") {
            a.packet = static_cast<std::uint16_t>(v);
        } else if (k == "--bytes") {
            a.bytes = static_cast<std::size_t>(v);
        } else {
            std::fprintf(stderr, "kmodem_line_bench: unknown option %s\n", k.c_str());
            std::exit(2);
        }
    }
    return a;
}

// Waits until `until` without oversleeping much: sleep most of it, spin the rest.
void WaitUntil(Clock::time_point until) {
    const auto slack = std::chrono::microseconds(150);
    if (Clock::now() + slack < until) std::this_thread::sleep_until(until - slack);
    while (Clock::now() < until) {
    }
}

// The simulated line keeps its time by sleeping until the next byte is due. Linux lets a timed
// sleep run up to 50 us late by default, several times per packet: more than the engines' own
// cost. A line model has to keep its time, so both threads ask for exact wake-ups.
void ExactWakeUps() {
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

void Bind(tKmodem& k, TCommPortDriver& d) {
    k.kmodem_Out = [&d](const std::uint8_t* c, std::int32_t n) { return d.SendData(c, n); };
    k.kmodem_In = [&d](std::uint8_t& c) { return d.getChar(c); };
    k.kmodem_Read = [&d](std::uint8_t* buf, std::int32_t max) { return d.getBlock(buf, max); };
    k.kmodem_Flush = [&d](bool in, bool out) { d.FlushBuffers(in, out); };
}

void Setup(TCommPortDriver& d, const std::string& port, std::uint32_t baud, std::uint16_t packet) {
    d.SetComPort(port);
    d.SetComPortSpeed(baud);
    d.EnableDTROnOpen = false;
    const auto buffer =
        static_cast<std::uint16_t>(std::clamp<std::uint32_t>(packet + 10u, 2048u, 0xFFFFu));
    d.SetComPortOutBufSize(buffer);
    d.SetComPortInBufSize(std::max<std::uint16_t>(buffer, 16384));
}

}  // namespace

int main(int argc, char** argv) {
    const Args a = Parse(argc, argv);
    const double bytesPerSec = a.baud / 10.0;
    const auto bytesPerMs = static_cast<std::uint32_t>(bytesPerSec / 1000.0);

    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("corvel_line_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path src = dir / "src.bin";
    const fs::path dst = dir / "dst.bin";
    {
        std::vector<char> data(a.bytes);
        std::mt19937 rng(5);
        for (char& c : data) c = static_cast<char>(rng());
        std::ofstream(src, std::ios::binary).write(data.data(), static_cast<long>(data.size()));
    }

    auto [devA, devB] = SimDevice::MakePair();
    devA->SetDrainRate(bytesPerMs);
    devB->SetDrainRate(bytesPerMs);
    SimPortRegistry ports;
    ports.Add("LINE-A", devA);
    ports.Add("LINE-B", devB);

    std::atomic<bool> receiverReady{false};
    std::int32_t rxCode = 1;
    std::thread receiver([&] {
        ExactWakeUps();
        StdHost host;
        TCommPortDriver d(host, ports.MakeIo());
        Setup(d, "LINE-B", a.baud, a.packet);
        if (!d.Connect()) {
            receiverReady = true;
            return;
        }
        tKmodem k(host);
        Bind(k, d);
        // The board answers each packet once it has checked and stored it.
        k.kmodem_Out = [&d, &a](const std::uint8_t* c, std::int32_t n) {
            WaitUntil(Clock::now() + std::chrono::microseconds(a.turnaroundUs));
            return d.SendData(c, n);
        };
        k.packageSize = a.packet;
        receiverReady = true;
        rxCode = k.ReceiveFile(dst.string());
        d.Disconnect();
    });
    while (!receiverReady) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    ExactWakeUps();
    StdHost host;
    TCommPortDriver d(host, ports.MakeIo());
    Setup(d, "LINE-A", a.baud, a.packet);
    if (!d.Connect()) {
        std::fprintf(stderr, "kmodem_line_bench: cannot open the simulated port\n");
        receiver.join();
        return 1;
    }
    tKmodem k(host);
    Bind(k, d);
    k.packageSize = a.packet;
    const auto t0 = Clock::now();
    const std::int32_t txCode = k.TransmitFile(src.string());
    receiver.join();
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    d.Disconnect();

    std::ifstream f1(src, std::ios::binary), f2(dst, std::ios::binary);
    const std::string s1((std::istreambuf_iterator<char>(f1)), {});
    const std::string s2((std::istreambuf_iterator<char>(f2)), {});
    const bool same = s1 == s2;
    fs::remove_all(dir);

    const double s = a.packet;
    const double t =
        static_cast<double>(a.boundTurnaroundUs >= 0 ? a.boundTurnaroundUs : a.turnaroundUs);
    const double bound = s / ((s + 6.0) / bytesPerSec + t * 1e-6);
    const double rate = static_cast<double>(a.bytes) / secs;
    std::printf(
        "packet=%u\nbytes=%zu\ntx_code=%d\nrx_code=%d\nidentical=%d\nseconds=%.3f\n"
        "kb_per_s=%.1f\nbound_kb_per_s=%.1f\nof_bound_pct=%.1f\n",
        a.packet, a.bytes, txCode, rxCode, same ? 1 : 0, secs, rate / 1000.0, bound / 1000.0,
        rate / bound * 100.0);
    return txCode == 0 && rxCode == 0 && same ? 0 : 1;
}
