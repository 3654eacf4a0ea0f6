// The terminal's Kmodem receiver fed an arbitrary line, in pull mode on a fake clock.
//
// Input: 4 header bytes, then the bytes the line delivers.
//   [0] bit0 debug logs, bit1 start command "tx", bit2 echo, bits3-4 terminator,
//       bit5 stutter (every other read finds nothing, so waits and time-outs run mid-frame)
//   [1] timerOutValue (255 = no limit)
//   [2..3] packageSize, little-endian (values below 256 must be refused)
//
// Checked for every input: the transfer ends, and within its time-out once the line falls
// silent; only the start command and ACKs are sent; a success means a file of whole packets holding
// at least the announced size; the rate timer is stopped; nothing is thrown.

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "fuzz_support.h"
#include "host/fake_host.h"
#include "kmodem/u_kmodem.h"

using namespace corvel;
using namespace corvel::fuzz;

namespace {
constexpr std::uint64_t kPumpStepMs = 100;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint8_t flags = data[0];
    const std::int32_t timeOut = data[1];
    const auto packageSize = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
    const std::uint8_t* line = data + 4;
    const std::size_t lineSize = size - 4;

    FakeHost host;
    host.autoAdvanceMs = kPumpStepMs;
    tKmodem km(host);
    km.useDebug = flags & 1;
    km.cmdRX = (flags & 2) ? "tx" : "";
    km.cmd_useEcho = flags & 4;
    km.cmd_terminator = static_cast<std::uint8_t>((flags >> 3) & 3);
    km.timerOutValue = timeOut;
    km.packageSize = packageSize;
    km.logFolder = ScratchDir().string();
    const bool stutter = flags & 0x20;

    std::size_t pos = 0;
    bool skip = false;
    Bytes sent;
    int flushes = 0;
    km.kmodem_In = [&](std::uint8_t& c) {
        if (stutter) {
            skip = !skip;
            if (skip) return false;
        }
        if (pos >= lineSize) return false;
        c = line[pos++];
        return true;
    };
    km.kmodem_Out = [&](const std::uint8_t* c, std::int32_t n) {
        sent.insert(sent.end(), c, c + n);
        return n;
    };
    km.kmodem_Flush = [&](bool, bool) { ++flushes; };

    // Once the line is silent the receiver must give up within one time-out. The first command
    // is awaited without a limit, as is everything with timerOutValue 255: there the user gives
    // up for it.
    const std::uint64_t limitMs = std::uint64_t{static_cast<std::uint32_t>(timeOut)} * 864;
    std::uint64_t silentSince = 0;
    bool silent = false;
    const std::uint64_t maxPumps = 4 * lineSize + 2000;
    host.onProcessMessages = [&] {
        FUZZ_CHECK(host.processMessagesCalls < maxPumps + limitMs / kPumpStepMs);
        if (pos < lineSize) return;
        if (!silent) {
            silent = true;
            silentSince = host.NowMs();
        }
        if (timeOut == KM_NO_TIMEOUT || km.State() == tSts::GET_SIZE_FILE) km.canceled = true;
        FUZZ_CHECK(host.NowMs() - silentSince <= limitMs + 3 * kPumpStepMs);
    };

    const std::string out = ScratchFile("rx.bin");
    std::error_code ec;
    std::filesystem::remove(out, ec);
    std::int32_t r = 0;
    try {
        r = km.ReceiveFile(out);
    } catch (...) {
        FUZZ_CHECK(!"a receive into a writable folder threw");
    }

    switch (r) {
        case KM_OK:
        case KM_CANCEL_REMOTE:
        case KM_USER_CANCEL:
        case KM_SYNC_ERROR:
        case KM_FILE_EMPTY:
        case KM_TIMEOUT:
        case KM_CHECKSUM_ERROR:
        case KM_PACKAGE_SIZE:
        case KM_INCOMPLETE:
        case KM_NO_ECHO:
            break;
        default:
            FUZZ_CHECK(!"unexpected result code");
    }
    FUZZ_CHECK(host.ActiveTimerCount() == 0);
    FUZZ_CHECK(!km.RateTimerRunning());

    if (r == KM_PACKAGE_SIZE) {
        FUZZ_CHECK(packageSize < KM_MIN_PACKAGE_SIZE);
        FUZZ_CHECK(sent.empty() && flushes == 0);
        FUZZ_CHECK(!std::filesystem::exists(out));
        return 0;
    }
    FUZZ_CHECK(packageSize >= KM_MIN_PACKAGE_SIZE);
    FUZZ_CHECK(flushes == 1);

    // What went out: the start command (when set), then nothing but ACKs.
    std::size_t cmdLen = 0;
    if (!km.cmdRX.empty()) {
        Bytes cmd{'t', 'x'};
        if (km.cmd_terminator == 0)
            cmd.push_back('\n');
        else if (km.cmd_terminator == 2)
            cmd.push_back('\r');
        else
            cmd.insert(cmd.end(), {'\r', '\n'});
        cmdLen = std::min(sent.size(), cmd.size());
        FUZZ_CHECK(Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(cmdLen)) ==
                   Bytes(cmd.begin(), cmd.begin() + static_cast<std::ptrdiff_t>(cmdLen)));
        if (r != KM_NO_ECHO && r != KM_USER_CANCEL) FUZZ_CHECK(cmdLen == cmd.size());
    }
    for (std::size_t i = cmdLen; i < sent.size(); ++i) FUZZ_CHECK(sent[i] == ACK);

    if (!std::filesystem::exists(out)) {
        // Only a start command that failed keeps the file from being created.
        FUZZ_CHECK(r == KM_NO_ECHO || r == KM_USER_CANCEL);
        return 0;
    }
    // The file holds every data byte that arrived: whole packets, plus the start of one cut
    // short. A success leaves no partial packet and at least the announced size.
    const auto fileSize = std::filesystem::file_size(out);
    FUZZ_CHECK(fileSize >= km.BytesReceived());
    if (r == KM_OK) FUZZ_CHECK(fileSize == km.BytesReceived() && fileSize >= km.FileSize());
    return 0;
}
