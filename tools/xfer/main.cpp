// corvel-xfer: XMODEM and YMODEM transfers from the command line, on the terminal's own serial
// driver and protocol engine, for flashing and fetching without a desktop.

#include <algorithm>
#include <cstdio>
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
#include "options.h"
#include "xymodem/xymodem.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

namespace {

using corvel::xfer::Options;

int Fail(const std::string& message, int status = corvel::xfer::kExitUsage) {
    std::fprintf(stderr, "corvel-xfer: %s\n", message.c_str());
    return status;
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

// A progress line on a terminal (percent where the size is known), nothing elsewhere.
class Progress {
  public:
    Progress(corvel::Host& host, const corvel::tXymodem& xy)
        : host_(host), xy_(xy), tty_(corvel::tool::StderrIsTerminal()) {}

    void Tick() {
        const std::uint64_t now = host_.NowMs();
        if (startMs_ == 0 && xy_.bytesDone > 0) startMs_ = now;
        if (!tty_ || startMs_ == 0) return;
        const double secs = static_cast<double>(now - startMs_) / 1000.0;
        const double rate = secs > 0.2 ? static_cast<double>(xy_.bytesDone) / secs : 0.0;
        std::string name =
            std::filesystem::path(corvel::PathFromUtf8(xy_.currentFile)).filename().string();
        if (name.size() > 24) name = name.substr(0, 21) + "...";
        if (xy_.fileSize > 0) {
            const auto percent =
                static_cast<int>(std::min<std::uint64_t>(100, xy_.fileDone * 100 / xy_.fileSize));
            std::fprintf(stderr, "\r%s %3d%% %s of %s  %s/s   ", name.c_str(), percent,
                         Size(static_cast<double>(xy_.fileDone)).c_str(),
                         Size(static_cast<double>(xy_.fileSize)).c_str(), Size(rate).c_str());
        } else {
            std::fprintf(stderr, "\r%s %s  %s/s   ", name.c_str(),
                         Size(static_cast<double>(xy_.fileDone)).c_str(), Size(rate).c_str());
        }
        std::fflush(stderr);
        drawn_ = true;
    }

    void Finish(bool sending) {
        if (drawn_) {
            Tick();
            std::fputc('\n', stderr);
        }
        if (startMs_ == 0 || xy_.bytesDone == 0) return;
        const double secs = std::max(0.001, static_cast<double>(host_.NowMs() - startMs_) / 1000.0);
        std::fprintf(stderr, "%s %llu bytes in %.2f s (%s/s)\n", sending ? "sent" : "received",
                     static_cast<unsigned long long>(xy_.bytesDone), secs,
                     Size(static_cast<double>(xy_.bytesDone) / secs).c_str());
    }

  private:
    corvel::Host& host_;
    const corvel::tXymodem& xy_;
    bool tty_;
    bool drawn_ = false;
    std::uint64_t startMs_ = 0;
};

// Refuses, before anything goes on the line, what the engine could not read or write.
bool CheckFiles(const Options& o, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (o.mode == Options::Mode::Receive && !o.dir.empty()) {
        if (!fs::is_directory(corvel::PathFromUtf8(o.dir), ec)) {
            error = o.dir + " is not a folder";
            return false;
        }
        return true;
    }
    for (const std::string& file : o.files) {
        const fs::path path = corvel::PathFromUtf8(file);
        const fs::file_status st = fs::status(path, ec);
        if (fs::is_directory(st)) {
            error = file + " is a folder";
            return false;
        }
        if (o.mode == Options::Mode::Send && !fs::is_regular_file(st)) {
            error = "cannot read " + file + ": no such file";
            return false;
        }
    }
    return true;
}

int Transfer(const Options& o) {
    corvel::StdHost host;
    corvel::TCommPortDriver driver(host, corvel::MakeAnyPortIo());
    driver.SetComPort(o.port);
    driver.SetComPortSpeed(o.baud);
    driver.SetComPortHwHandshaking(o.rtscts ? corvel::hhRTSCTS : corvel::hhNONE);
    driver.SetComPortOutBufSize(4096);  // a whole 1K block in one write
    driver.SetComPortInBufSize(16384);
    // Raising DTR resets or reprograms some boards.
    driver.EnableDTROnOpen = false;

    std::string error;
    if (!CheckFiles(o, error)) return Fail(error);
    const bool sending = o.mode == Options::Mode::Send;
    corvel::tXymodem xy(host);
    Progress progress(host, xy);
    bool lost = false;
    std::string lostMessage;
    driver.OnPortLost = [&](const std::string& message) {
        lost = true;
        lostMessage = message;
        xy.canceled = true;
    };
    if (!driver.Connect()) return Fail("cannot open " + o.port + ": " + driver.LastErrorMessage());

    xy.protocol = o.protocol;
    xy.cmdStart = o.startCommand;
    xy.cmd_terminator = o.terminator;
    xy.cmd_useEcho = o.echo;
    xy.stripPadding = o.stripPadding;
    xy.startTimeoutMs = o.waitSeconds * 1000;
    xy.xy_Out = [&](const std::uint8_t* c, std::int32_t n) { return driver.SendData(c, n); };
    xy.xy_In = [&](std::uint8_t& c) { return driver.getChar(c); };
    xy.xy_Read = [&](std::uint8_t* buf, std::int32_t max) { return driver.getBlock(buf, max); };
    xy.xy_Flush = [&](bool in, bool out) { driver.FlushBuffers(in, out); };

    const auto watch = host.StartTimer(50, [&] {
        if (corvel::tool::CancelRequested()) xy.canceled = true;
    });
    const auto draw = host.StartTimer(250, [&] { progress.Tick(); });
    const auto stop = [&] {
        host.StopTimer(watch);
        host.StopTimer(draw);
        progress.Finish(sending);
    };

    std::int32_t code = 0;
    try {
        code = sending ? xy.TransmitFiles(o.files)
                       : xy.ReceiveFiles(o.dir.empty() ? o.files[0] : o.dir);
    } catch (const std::exception& e) {
        stop();
        driver.Disconnect();
        return Fail(e.what());
    }
    stop();
    try {
        driver.Disconnect();
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    if (lost)
        return Fail("lost the port " + o.port + " (" + lostMessage + ")",
                    corvel::xfer::kExitPortLost);
    std::fprintf(stderr, "%s\n", xy.ResultReport(code, sending).text.c_str());
    return corvel::xfer::ExitStatus(code);
}

std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    // argv holds the ANSI code page there; names travel as UTF-8 through the program.
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
    const std::vector<std::string> args = Arguments(argc, argv);
    Options o;
    std::string error;
    if (!corvel::xfer::ParseOptions(args, o, error)) {
        std::fprintf(stderr, "corvel-xfer: %s\nTry 'corvel-xfer --help'.\n", error.c_str());
        return corvel::xfer::kExitUsage;
    }
    if (o.mode == Options::Mode::Help) {
        std::fputs(corvel::xfer::HelpText().c_str(), stdout);
        return 0;
    }
    if (o.mode == Options::Mode::Version) {
        std::puts("corvel-xfer " CORVEL_VERSION);
        return 0;
    }
    corvel::tool::InstallCancelHandler();
    try {
        return Transfer(o);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
