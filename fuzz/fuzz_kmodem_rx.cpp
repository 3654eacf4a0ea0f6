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

#include "fuzz_kmodem.h"

using namespace corvel;
using namespace corvel::fuzz;

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
    ConfigureEngine(km, flags, timeOut, packageSize);
    km.cmdRX = (flags & 2) ? "tx" : "";

    FarEnd far{line, lineSize, static_cast<bool>(flags & 0x20)};
    far.Bind(km);
    Bytes& sent = far.sent;
    int flushes = 0;
    km.kmodem_Flush = [&](bool, bool) { ++flushes; };
    // The first command is awaited without a limit, as is everything with timerOutValue 255:
    // there the user gives up for it.
    CheckSilenceEnds(host, km, far, timeOut, 4 * lineSize + 2000,
                     [&] { return timeOut == KM_NO_TIMEOUT || km.State() == tSts::GET_SIZE_FILE; });

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
