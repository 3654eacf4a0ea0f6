// The terminal's Kmodem transmitter fed arbitrary replies, in pull mode on a fake clock.
//
// Input: 7 header bytes, then the bytes the peer answers with.
//   [0] bit0 debug logs, bit1 start command "rx", bit2 echo, bits3-4 terminator, bit5 stutter
//   [1] timerOutValue (255 = no limit)
//   [2..3] packageSize, little-endian
//   [4..5] file length, little-endian, taken modulo 4097
//   [6] seed of the file's bytes
//
// Checked for every input: the transfer ends, and within its time-out once the peer falls
// silent; what goes out is the start command, then a prefix of the exact frames of the file cut
// at a packet's end, then CMD_FINISH only after the whole file, CMD_CANCEL only after a bad reply
// or a cancel, nothing after a time-out; the rate timer is stopped; nothing is thrown.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_kmodem.h"

using namespace corvel;
using namespace corvel::fuzz;

namespace {

Bytes FileBytes(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    std::uint32_t x = 0x9E3779B9u ^ seed;
    for (auto& v : b) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(x >> 24);
    }
    return b;
}

// Frames of the whole file, and the offsets at which each data frame ends.
Bytes Frames(const Bytes& file, std::size_t packet, std::vector<std::size_t>& packetEnds) {
    Bytes f{CMD_GET_SIZE_FILE};
    for (int i = 0; i < 4; ++i) f.push_back(static_cast<std::uint8_t>(file.size() >> (8 * i)));
    packetEnds.push_back(f.size());
    for (std::size_t at = 0; at < file.size(); at += packet) {
        const std::size_t s = std::min(packet, file.size() - at);
        f.insert(f.end(), {CMD_SIZE_DATA, static_cast<std::uint8_t>(s),
                           static_cast<std::uint8_t>(s >> 8), CMD_DATA});
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < s; ++i) {
            f.push_back(file[at + i]);
            sum = static_cast<std::uint8_t>(sum + file[at + i]);
        }
        f.push_back(sum);
        packetEnds.push_back(f.size());
    }
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 7) return 0;
    const std::uint8_t flags = data[0];
    const std::int32_t timeOut = data[1];
    const auto packageSize = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
    const std::size_t fileLen = static_cast<std::size_t>(data[4] | (data[5] << 8)) % 4097;
    const Bytes file = FileBytes(fileLen, data[6]);
    const std::uint8_t* replies = data + 7;
    const std::size_t repliesSize = size - 7;

    FakeHost host;
    host.autoAdvanceMs = kPumpStepMs;
    tKmodem km(host);
    ConfigureEngine(km, flags, timeOut, packageSize);
    km.cmdTX = (flags & 2) ? "rx" : "";

    const std::string path = ScratchFile("tx.bin");
    WriteFileBytes(path, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));

    FarEnd far{replies, repliesSize, static_cast<bool>(flags & 0x20)};
    far.Bind(km);
    const Bytes& sent = far.sent;
    CheckSilenceEnds(host, km, far, timeOut, 4 * repliesSize + 4 * fileLen + 2000,
                     [&] { return timeOut == KM_NO_TIMEOUT; });

    std::int32_t r = 0;
    try {
        r = km.TransmitFile(path);
    } catch (...) {
        FUZZ_CHECK(!"a transmit of a readable file threw");
    }
    FUZZ_CHECK(host.ActiveTimerCount() == 0);

    if (r == KM_PACKAGE_SIZE) {
        FUZZ_CHECK(packageSize < KM_MIN_PACKAGE_SIZE && sent.empty());
        return 0;
    }
    FUZZ_CHECK(packageSize >= KM_MIN_PACKAGE_SIZE);

    std::size_t at = 0;
    if (!km.cmdTX.empty()) {
        Bytes cmd{'r', 'x'};
        if (km.cmd_terminator == 0)
            cmd.push_back('\n');
        else if (km.cmd_terminator == 2)
            cmd.push_back('\r');
        else
            cmd.insert(cmd.end(), {'\r', '\n'});
        at = std::min(sent.size(), cmd.size());
        FUZZ_CHECK(
            std::equal(cmd.begin(), cmd.begin() + static_cast<std::ptrdiff_t>(at), sent.begin()));
        // An echo that fails (or a cancel meanwhile) ends the transfer inside the command.
        if (r == KM_NO_ECHO || (r == KM_USER_CANCEL && sent.size() <= cmd.size())) return 0;
        FUZZ_CHECK(at == cmd.size());
    }
    FUZZ_CHECK(r != KM_NO_ECHO);
    if (r == KM_FILE_EMPTY) {
        FUZZ_CHECK(fileLen == 0 && sent.size() == at);
        return 0;
    }
    FUZZ_CHECK(fileLen > 0);

    std::vector<std::size_t> packetEnds;
    const Bytes frames = Frames(file, packageSize, packetEnds);
    const std::size_t rest = sent.size() - at;
    // The frames part: everything but a possible closing byte.
    const bool closing = r == KM_OK || r == KM_ACK_ERROR || r == KM_USER_CANCEL;
    FUZZ_CHECK(!closing || rest >= 1);
    const std::size_t framesLen = closing ? rest - 1 : rest;
    FUZZ_CHECK(framesLen <= frames.size());
    FUZZ_CHECK(std::equal(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(framesLen),
                          sent.begin() + static_cast<std::ptrdiff_t>(at)));
    switch (r) {
        case KM_OK:
            FUZZ_CHECK(framesLen == frames.size());
            FUZZ_CHECK(sent.back() == CMD_FINISH);
            FUZZ_CHECK(km.BytesSent() == fileLen);
            break;
        case KM_ACK_ERROR:
            FUZZ_CHECK(sent.back() == CMD_CANCEL);
            FUZZ_CHECK(std::find(packetEnds.begin(), packetEnds.end(), framesLen) !=
                       packetEnds.end());
            break;
        case KM_USER_CANCEL:
            // A cancel may cut in after a length frame too.
            FUZZ_CHECK(sent.back() == CMD_CANCEL);
            break;
        case KM_TIMEOUT:
            FUZZ_CHECK(std::find(packetEnds.begin(), packetEnds.end(), framesLen) !=
                       packetEnds.end());
            break;
        default:
            FUZZ_CHECK(!"unexpected result code");
    }
    return 0;
}
