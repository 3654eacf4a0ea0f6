// The board's C Kmodem library fed an arbitrary line: its receiver, or its transmitter fed
// arbitrary replies. Single thread, fake millisecond counter.
//
// Input: 8 header bytes, then the bytes the line delivers.
//   [0] bit0 transmit (else receive), bit1 stutter (every other look finds nothing),
//       bit2 a storage failure at a chosen packet, bit3 cancel once the line is silent
//   [1..2] packet size the buffer is made for, little-endian, modulo 4097
//   [3] time-out in units of 10 ms (0 allowed)
//   [4..5] receiver: largest file accepted (x 16; 0xFFFF = no limit); transmitter: file length
//          modulo 8193
//   [6] transmitter's packet size below the buffer's (0 = the buffer's), or the failing packet
//   [7] poll_ms
//
// Checked for every input: the call returns, within its time-outs once the line is silent;
// the receiver stores packets in order, never past the announced size or its limit, and
// reports success only with the whole announced file stored; it sends nothing but ACK and
// CMD_CANCEL; the transmitter's output is an exact prefix of the file's frames plus a closing
// byte allowed by its result.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "kmodem_fw.h"

using namespace corvel::fuzz;

namespace {

struct Line {
    const std::uint8_t* in = nullptr;
    std::size_t inSize = 0;
    std::size_t pos = 0;
    bool stutter = false;
    bool skip = false;
    bool cancelWhenSilent = false;
    std::uint32_t clock = 0xFFFFF000u;  // wraps during the run: the library must not care
    std::uint64_t waitedSilent = 0;     // fake time spent waiting after the input ran out
    std::uint64_t looksSilent = 0;
    Bytes out;
    Bytes file;    // transmitter: what read serves
    Bytes stored;  // receiver: what write received
    std::uint32_t writes = 0;
    std::int64_t failPacket = -1;
    kmfw_ctx* ctx = nullptr;

    bool Silent() const { return pos >= inSize; }
};

std::int8_t GetByte(void* user, std::uint8_t* byte, std::uint32_t waitMs) {
    auto& l = *static_cast<Line*>(user);
    if (l.stutter) {
        l.skip = !l.skip;
        if (l.skip) {
            l.clock += std::min<std::uint32_t>(waitMs, 1);  // a look costs a little time
            return KMFW_IN_NONE;
        }
    }
    if (!l.Silent()) {
        *byte = l.in[l.pos++];
        return KMFW_IN_BYTE;
    }
    // A receiver waiting for its first command waits for ever by default: there the link dies.
    if (l.ctx->state == KMFW_GET_SIZE_FILE && !l.cancelWhenSilent) return KMFW_IN_CLOSED;
    ++l.looksSilent;
    FUZZ_CHECK(l.looksSilent < 1000000);  // a wait that never advances time would spin here
    // Even a mere look takes a moment on a real board; a clock that never moved would make any
    // time-out unreachable.
    const std::uint32_t spent = std::max<std::uint32_t>(waitMs, 1);
    l.clock += spent;
    l.waitedSilent += spent;
    return KMFW_IN_NONE;
}

std::uint16_t PutBytes(void* user, const std::uint8_t* data, std::uint16_t len) {
    auto& l = *static_cast<Line*>(user);
    l.out.insert(l.out.end(), data, data + len);
    return len;
}

std::uint32_t NowMs(void* user) {
    return static_cast<Line*>(user)->clock;
}

std::uint8_t Read(void* user, std::uint32_t offset, std::uint8_t* dst, std::uint16_t len) {
    auto& l = *static_cast<Line*>(user);
    FUZZ_CHECK(std::size_t{offset} + len <= l.file.size());
    if (l.failPacket >= 0 && offset / std::max<std::uint32_t>(1, l.ctx->packet_size) ==
                                 static_cast<std::uint64_t>(l.failPacket))
        return 0;
    std::copy(l.file.begin() + offset, l.file.begin() + offset + len, dst);
    return 1;
}

std::uint8_t Write(void* user, std::uint32_t offset, const std::uint8_t* src, std::uint16_t len) {
    auto& l = *static_cast<Line*>(user);
    FUZZ_CHECK(offset == l.stored.size());
    if (static_cast<std::int64_t>(l.writes++) == l.failPacket) return 0;
    l.stored.insert(l.stored.end(), src, src + len);
    return 1;
}

std::uint8_t Cancelled(void* user) {
    auto& l = *static_cast<Line*>(user);
    return l.cancelWhenSilent && l.Silent() && l.looksSilent > 0;
}

constexpr kmfw_port kPort{GetByte, PutBytes, NowMs, Read, Write, Cancelled};

void CheckReceive(Line& l, kmfw_ctx& ctx, std::int16_t r, std::uint32_t limit) {
    switch (r) {
        case KMFW_OK:
            // A finish before any size frame is a success with nothing stored, as in the
            // terminal's receiver.
            FUZZ_CHECK(ctx.done == ctx.file_size);
            break;
        case KMFW_CANCEL_REMOTE:
        case KMFW_USER_CANCEL:
        case KMFW_SYNC_ERROR:
        case KMFW_FILE_EMPTY:
        case KMFW_TIMEOUT:
        case KMFW_CHECKSUM_ERROR:
        case KMFW_PACKAGE_SIZE:
        case KMFW_INCOMPLETE:
        case KMFW_TOO_LARGE:
        case KMFW_PACKET_TOO_BIG:
        case KMFW_STORAGE_ERROR:
        case KMFW_LINK_ERROR:
            break;
        default:
            FUZZ_CHECK(!"unexpected result code");
    }
    FUZZ_CHECK(l.stored.size() == ctx.done);
    FUZZ_CHECK(ctx.done <= ctx.file_size || ctx.done == 0);
    FUZZ_CHECK(ctx.done <= limit);
    for (std::uint8_t b : l.out) FUZZ_CHECK(b == KMFW_ACK || b == KMFW_CMD_CANCEL);
}

void CheckTransmit(const Line& l, const kmfw_ctx& ctx, std::int16_t r) {
    const Bytes& file = l.file;
    const std::size_t packet = ctx.packet_size;
    if (r == KMFW_PACKAGE_SIZE || r == KMFW_PACKET_TOO_BIG || r == KMFW_FILE_EMPTY) {
        FUZZ_CHECK(l.out.empty());
        return;
    }
    // The exact frames, and where each packet's data frame ends.
    Bytes frames{KMFW_CMD_GET_SIZE_FILE};
    for (int i = 0; i < 4; ++i) frames.push_back(static_cast<std::uint8_t>(file.size() >> (8 * i)));
    std::vector<std::size_t> ends{frames.size()};
    for (std::size_t at = 0; at < file.size(); at += packet) {
        const std::size_t s = std::min(packet, file.size() - at);
        frames.insert(frames.end(), {KMFW_CMD_SIZE_DATA, static_cast<std::uint8_t>(s),
                                     static_cast<std::uint8_t>(s >> 8), KMFW_CMD_DATA});
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < s; ++i) {
            frames.push_back(file[at + i]);
            sum = static_cast<std::uint8_t>(sum + file[at + i]);
        }
        frames.push_back(sum);
        ends.push_back(frames.size());
    }
    const bool closing =
        r == KMFW_OK || r == KMFW_ACK_ERROR || r == KMFW_USER_CANCEL || r == KMFW_STORAGE_ERROR;
    if (r == KMFW_USER_CANCEL && l.out.empty()) return;  // cancelled before anything went out
    FUZZ_CHECK(!closing || !l.out.empty());
    const std::size_t n = closing ? l.out.size() - 1 : l.out.size();
    FUZZ_CHECK(n <= frames.size());
    FUZZ_CHECK(
        std::equal(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(n), l.out.begin()));
    const bool atPacketEnd = std::find(ends.begin(), ends.end(), n) != ends.end();
    switch (r) {
        case KMFW_OK:
            FUZZ_CHECK(n == frames.size() && l.out.back() == KMFW_CMD_FINISH);
            FUZZ_CHECK(ctx.done == file.size());
            break;
        case KMFW_ACK_ERROR:
        case KMFW_USER_CANCEL:
        case KMFW_STORAGE_ERROR:
            FUZZ_CHECK(atPacketEnd && l.out.back() == KMFW_CMD_CANCEL);
            break;
        case KMFW_TIMEOUT:
            FUZZ_CHECK(atPacketEnd);
            break;
        default:
            FUZZ_CHECK(!"unexpected result code");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    const std::uint8_t flags = data[0];
    const bool transmit = flags & 1;
    const std::size_t bufPacket = static_cast<std::size_t>(data[1] | (data[2] << 8)) % 4097;
    const std::uint32_t timeoutMs = std::uint32_t{data[3]} * 10;
    const std::uint32_t field = static_cast<std::uint32_t>(data[4] | (data[5] << 8));

    Line l;
    l.in = data + 8;
    l.inSize = size - 8;
    l.stutter = flags & 2;
    l.cancelWhenSilent = flags & 8;
    Bytes buf(KMFW_BUFFER_SIZE(bufPacket));
    kmfw_ctx ctx{};
    l.ctx = &ctx;
    kmfw_init(&ctx, &kPort, &l, buf.data(), static_cast<std::uint16_t>(buf.size()));
    ctx.timeout_ms = timeoutMs;
    ctx.poll_ms = data[7];

    if (transmit) {
        if (data[6] != 0) ctx.packet_size = static_cast<std::uint16_t>(ctx.packet_size - data[6]);
        if (flags & 4) l.failPacket = data[6] % 4;
        l.file.resize(field % 8193);
        for (std::size_t i = 0; i < l.file.size(); ++i)
            l.file[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        const std::int16_t r = kmfw_transmit(&ctx, static_cast<std::uint32_t>(l.file.size()));
        CheckTransmit(l, ctx, r);
    } else {
        if (flags & 4) l.failPacket = data[6] % 4;
        const std::uint32_t limit = field == 0xFFFF ? 0xFFFFFFFFu : field * 16u;
        ctx.max_file_size = limit;
        const std::int16_t r = kmfw_receive(&ctx);
        CheckReceive(l, ctx, r, limit);
    }
    // After the line fell silent: at most a few time-outs (the refusal of a packet reads the rest
    // of its frame, then waits for the closing byte), each bounded by timeout_ms plus one poll
    // and the first look.
    FUZZ_CHECK(l.waitedSilent <= 3 * (std::uint64_t{timeoutMs} + ctx.poll_ms + 2));
    return 0;
}
