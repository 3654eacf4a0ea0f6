// The XMODEM/YMODEM receiver fed an arbitrary line on a fake clock.
//
// Input: 1 header byte, then the bytes the line delivers.
//   [0] bits0-1 protocol (xmodem, xmodem-crc, xmodem-1k, ymodem), bit2 strip padding,
//       bit3 stutter (every other read finds nothing, so the waits run mid-block)
//
// Checked for every input: the transfer ends once the line falls silent, within its retry
// bound; it sends only requests, ACK, NAK and CAN; YMODEM stores only inside its folder; a
// success stored every file it names; nothing is thrown.

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "fuzz_support.h"
#include "host/fake_host.h"
#include "xymodem/xymodem.h"

using namespace corvel;
using namespace corvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    const std::uint8_t* line = data + 1;
    const std::size_t lineSize = size - 1;

    FakeHost host;
    host.autoAdvanceMs = 50;
    tXymodem xy(host);
    xy.protocol = static_cast<XyProtocol>(flags & 3);
    xy.stripPadding = flags & 4;
    const bool stutter = flags & 8;
    std::size_t at = 0;
    bool skip = false;
    bool onlyAnswers = true;
    xy.xy_In = [&](std::uint8_t& c) {
        if (stutter && (skip = !skip)) return false;
        if (at >= lineSize) return false;
        c = line[at++];
        return true;
    };
    xy.xy_Out = [&](const std::uint8_t* c, std::int32_t n) {
        for (std::int32_t i = 0; i < n; ++i)
            if (c[i] != XY_ACK && c[i] != XY_NAK && c[i] != XY_CAN && c[i] != XY_CRC_REQUEST)
                onlyAnswers = false;
        return n;
    };
    xy.xy_Flush = [](bool, bool) {};
    // Silence after the input: the start wait, then every retry, then nothing more.
    const std::uint64_t limit = host.NowMs() + 4 * lineSize * 50 + xy.startTimeoutMs +
                                std::uint64_t(xy.retries + 2) * (xy.blockTimeoutMs + 12000);
    host.onProcessMessages = [&] { FUZZ_CHECK(host.NowMs() < limit); };

    const std::filesystem::path dir = ScratchDir() / "xyrx";
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    const std::string target =
        xy.protocol == XyProtocol::Ymodem ? dir.string() : (dir / "rx.bin").string();
    std::int32_t r = 0;
    try {
        r = xy.ReceiveFiles(target);
    } catch (...) {
        FUZZ_CHECK(!"a receive into a writable folder threw");
    }
    FUZZ_CHECK(onlyAnswers);
    FUZZ_CHECK(r <= 0);
    if (r == XY_OK)
        for (const std::string& f : xy.filesDone) FUZZ_CHECK(std::filesystem::exists(f));
    // Nothing lands beside the folder, whatever names came.
    for (const auto& e : std::filesystem::directory_iterator(ScratchDir(), ec))
        FUZZ_CHECK(e.path().filename() == "xyrx");
    return 0;
}
