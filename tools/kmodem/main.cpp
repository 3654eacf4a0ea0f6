// corvel-kmodem: sends or receives one file with Kmodem, on the terminal's own serial driver and
// protocol engine, for machines without a desktop.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "board/ports.h"
#include "comport/comport.h"
#include "console.h"
#include "host/std_host.h"
#include "host/text_file.h"
#include "kmodem/u_kmodem.h"
#include "options.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

namespace {

using corvel::tool::Options;

constexpr int kExitError = 1;

int Fail(const std::string& message) {
    std::fprintf(stderr, "corvel-kmodem: %s\n", message.c_str());
    return kExitError;
}

std::string Size(double bytes) {
    char buf[32];
    if (bytes >= 1024.0 * 1024.0)
        std::snprintf(buf, sizeof buf, "%.2f MB", bytes / (1024.0 * 1024.0));
    else if (bytes >= 1024.0)
        std::snprintf(buf, sizeof buf, "%.1f KB", bytes / 1024.0);
    else
        std::snprintf(buf, sizeof buf, "%.0f B", bytes);
    return buf;
}

std::string Clock(double seconds) {
    const auto s = static_cast<long long>(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
    return buf;
}

// The progress bar on a terminal, or nothing until the summary line.
class Progress {
  public:
    Progress(corvel::Host& host, bool sending)
        : host_(host), sending_(sending), tty_(corvel::tool::StderrIsTerminal()) {}

    void Bind(const corvel::tKmodem& k) { k_ = &k; }

    std::uint64_t Done() const { return sending_ ? k_->BytesSent() : k_->BytesReceived(); }

    // The engine reports progress after each step; the clock starts once the size is known,
    // so a receiver's wait for its transmitter does not count.
    void OnStep() {
        if (startMs_ == 0 && k_->FileSize() != 0) startMs_ = host_.NowMs();
    }

    void Tick() {
        const std::uint64_t now = host_.NowMs();
        if (!tty_ || startMs_ == 0) return;
        const std::uint64_t total = k_->FileSize();
        const std::uint64_t done = std::min<std::uint64_t>(Done(), total);
        const double secs = static_cast<double>(now - startMs_) / 1000.0;
        const double rate = secs > 0.2 ? static_cast<double>(done) / secs : 0.0;
        const int percent = static_cast<int>(done * 100 / total);
        constexpr int kWidth = 30;
        std::string bar(static_cast<std::size_t>(percent * kWidth / 100), '#');
        bar.resize(kWidth, '.');
        std::string left = "--:--";
        if (rate > 0) left = Clock(static_cast<double>(total - done) / rate);
        std::fprintf(stderr, "\r%3d%% [%s] %s of %s  %s/s  %s left   ", percent, bar.c_str(),
                     Size(static_cast<double>(done)).c_str(),
                     Size(static_cast<double>(total)).c_str(), Size(rate).c_str(), left.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }

    void Finish() {
        if (drawn_) {
            Tick();
            std::fputc('\n', stderr);
        }
        const std::uint64_t done = Done();
        if (startMs_ == 0 || done == 0) return;
        const double secs = std::max(0.001, static_cast<double>(host_.NowMs() - startMs_) / 1000.0);
        std::fprintf(stderr, "%s %llu bytes in %.2f s (%s/s)\n", sending_ ? "sent" : "received",
                     static_cast<unsigned long long>(done), secs,
                     Size(static_cast<double>(done) / secs).c_str());
    }

  private:
    corvel::Host& host_;
    const corvel::tKmodem* k_ = nullptr;
    bool sending_;
    bool tty_;
    bool drawn_ = false;
    std::uint64_t startMs_ = 0;
};

// Refuses, before anything goes on the line, a file the engine could not open.
bool CheckFile(const Options& o, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path = corvel::PathFromUtf8(o.file);
    const fs::file_status st = fs::status(path, ec);
    if (fs::is_directory(st)) {
        error = o.file + " is a folder";
        return false;
    }
    // Opening a FIFO here would wait for its far end for ever; the engine opens it without
    // waiting and reports what it finds.
    if (fs::is_fifo(st)) return true;
#ifdef _WIN32
    std::FILE* f = _wfopen(path.c_str(), o.mode == Options::Mode::Send ? L"rb" : L"ab");
#else
    std::FILE* f = std::fopen(path.c_str(), o.mode == Options::Mode::Send ? "rb" : "ab");
#endif
    if (!f) {
        error = std::string("cannot ") + (o.mode == Options::Mode::Send ? "read " : "write ") +
                o.file + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(f);
    return true;
}

int Transfer(const Options& o) {
    corvel::StdHost host;
    corvel::TCommPortDriver driver(host, corvel::MakeAnyPortIo());
    driver.SetComPort(o.port);
    driver.SetComPortSpeed(o.baud);
    driver.SetComPortHwHandshaking(o.rtscts ? corvel::hhRTSCTS : corvel::hhNONE);
    // A packet goes out in one piece; reading in big chunks costs fewer system calls.
    const auto buffer = static_cast<std::uint16_t>(
        std::clamp<std::uint32_t>(std::uint32_t{o.packetSize} + 10, 2048, 0xFFFF));
    driver.SetComPortOutBufSize(buffer);
    driver.SetComPortInBufSize(std::max<std::uint16_t>(buffer, 16384));
    // Raising DTR resets or reprograms some boards.
    driver.EnableDTROnOpen = false;

    const bool sending = o.mode == Options::Mode::Send;
    Progress progress(host, sending);
    corvel::tKmodem k(host, [&](int) { progress.OnStep(); });
    progress.Bind(k);
    bool lost = false;
    std::string lostMessage;
    driver.OnPortLost = [&](const std::string& message) {
        lost = true;
        lostMessage = message;
        k.canceled = true;  // ends the engine's wait at once instead of at its time-out
    };
    if (!driver.Connect()) return Fail("cannot open " + o.port + ": " + driver.LastErrorMessage());
    // Only once the port is ours, so that a wrong port leaves no empty file behind.
    std::string error;
    if (!CheckFile(o, error)) return Fail(error);

    k.packageSize = o.packetSize;
    k.timerOutValue = o.timeout;
    k.cmd_terminator = o.terminator;
    k.cmd_useEcho = o.echo;
    k.useDebug = o.debug;
    // A frame longer than the port takes at once still lets the Ctrl+C watch run.
    driver.PumpWhileSending = true;
    (sending ? k.cmdTX : k.cmdRX) = o.startCommand;
    // A length frame is held back and goes out in one write with the frame after it (the data
    // frame): the same bytes in the same order, but the far end wakes once per packet, not twice.
    std::vector<std::uint8_t> held;
    const auto sendHeld = [&] {
        if (held.empty()) return;
        driver.SendData(held.data(), static_cast<std::int32_t>(held.size()));
        held.clear();
    };
    k.kmodem_Out = [&](const std::uint8_t* c, std::int32_t n) -> std::int32_t {
        if (held.empty() && n == 3 && c[0] == corvel::CMD_SIZE_DATA) {
            held.assign(c, c + n);
            return n;
        }
        if (held.empty()) return driver.SendData(c, n);
        const auto before = static_cast<std::int32_t>(held.size());
        held.insert(held.end(), c, c + n);
        const std::int32_t sent =
            driver.SendData(held.data(), static_cast<std::int32_t>(held.size()));
        held.clear();
        return std::max<std::int32_t>(0, sent - before);
    };
    k.kmodem_In = [&](std::uint8_t& c) {
        sendHeld();
        return driver.getChar(c);
    };
    k.kmodem_Read = [&](std::uint8_t* buf, std::int32_t max) {
        sendHeld();
        return driver.getBlock(buf, max);
    };
    k.kmodem_Flush = [&](bool in, bool out) {
        sendHeld();
        driver.FlushBuffers(in, out);
    };

    const auto watch = host.StartTimer(50, [&] {
        if (corvel::tool::CancelRequested()) k.canceled = true;
    });
    const auto draw = host.StartTimer(250, [&] { progress.Tick(); });

    std::int32_t code = 0;
    try {
        code = sending ? k.TransmitFile(o.file) : k.ReceiveFile(o.file);
        sendHeld();
    } catch (const std::exception& e) {
        host.StopTimer(watch);
        host.StopTimer(draw);
        progress.Finish();
        driver.Disconnect();
        return Fail(e.what());
    }
    host.StopTimer(watch);
    host.StopTimer(draw);
    progress.Finish();
    try {
        driver.Disconnect();
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    if (lost) return Fail("lost the port " + o.port + " (" + lostMessage + ")");

    const auto report = k.ResultReport(
        code, sending ? corvel::KmodemDirection::Transmit : corvel::KmodemDirection::Receive);
    std::fprintf(stderr, "%s\n", report.text.c_str());
    return code < 0 ? -code : code;
}

// The arguments as UTF-8 on Windows, where argv holds them in the ANSI code page and a file
// name with other characters would arrive garbled; as given elsewhere.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide) {
        std::vector<std::string> out;
        for (int i = 1; i < count; ++i) {
            const int n =
                ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
            std::string s(static_cast<std::size_t>(std::max(n, 1)), '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, s.data(), n, nullptr, nullptr);
            s.resize(std::strlen(s.c_str()));
            out.push_back(std::move(s));
        }
        ::LocalFree(wide);
        return out;
    }
#endif
    return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = Arguments(argc, argv);
    Options o;
    std::string error;
    if (!corvel::tool::ParseOptions(args, o, error)) {
        std::fprintf(stderr, "corvel-kmodem: %s\nTry 'corvel-kmodem --help'.\n", error.c_str());
        return kExitError;
    }
    if (o.mode == Options::Mode::Help) {
        std::fputs(corvel::tool::HelpText().c_str(), stdout);
        return 0;
    }
    if (o.mode == Options::Mode::Version) {
        std::puts("corvel-kmodem " CORVEL_VERSION);
        return 0;
    }
    corvel::tool::InstallCancelHandler();
    try {
        return Transfer(o);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
