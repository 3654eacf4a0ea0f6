#include "xymodem/xymodem.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "host/codepage.h"
#include "kmodem/u_kmodem.h"

namespace corvel {

namespace {

constexpr const char* kRateIdle = "0 Kbytes/S";
constexpr std::int32_t kBlock = 0;
constexpr std::int32_t kEot = 1;
constexpr std::int32_t kBad = -1;
// How long a start request must stand alone before a sender believes it: a 'C' inside the
// text a board prints after its start command is no request.
constexpr std::uint32_t kQuietStartMs = 100;
constexpr std::uint32_t kQuietEotMs = 100;
constexpr int kSilentEotTries = 3;
constexpr std::uint64_t kMaxDrainMs = 10000;
constexpr int kCrcTriesBeforeSum = 3;
constexpr std::size_t kReadChunk = 4096;

std::string Printf(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Printf(const char* fmt, ...) {
    char buf[512];
    std::va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    if (n < 0) return {};
    return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
}

std::uint8_t Sum8(const std::uint8_t* p, std::size_t n) {
    unsigned s = 0;
    for (std::size_t i = 0; i < n; ++i) s += p[i];
    return static_cast<std::uint8_t>(s);
}

}  // namespace

const char* XyProtocolKey(XyProtocol p) {
    switch (p) {
        case XyProtocol::Xmodem:
            return "xmodem";
        case XyProtocol::XmodemCrc:
            return "xmodem-crc";
        case XyProtocol::Xmodem1k:
            return "xmodem-1k";
        case XyProtocol::Ymodem:
            return "ymodem";
    }
    return "xmodem";
}

const char* XyProtocolTitle(XyProtocol p) {
    switch (p) {
        case XyProtocol::Xmodem:
            return "XMODEM";
        case XyProtocol::XmodemCrc:
            return "XMODEM-CRC";
        case XyProtocol::Xmodem1k:
            return "XMODEM-1K";
        case XyProtocol::Ymodem:
            return "YMODEM";
    }
    return "XMODEM";
}

bool XyProtocolFromKey(const std::string& key, XyProtocol& out) {
    for (XyProtocol p :
         {XyProtocol::Xmodem, XyProtocol::XmodemCrc, XyProtocol::Xmodem1k, XyProtocol::Ymodem})
        if (key == XyProtocolKey(p)) {
            out = p;
            return true;
        }
    return false;
}

struct tXymodem::Packet {
    std::uint8_t number = 0;
    bool numbered = false;  // the number and its complement arrived intact
    std::size_t size = 0;
    std::uint8_t data[1024];
};

tXymodem::tXymodem(Host& host, tXyProgress bp, tXyText lbl)
    : host_(host), barProgress_(std::move(bp)), lblRate_(std::move(lbl)) {}

tXymodem::~tXymodem() {
    StopRate();
}

XyStore& tXymodem::Store() {
    return store ? *store : XyDiskStore();
}

// ---------------------------------------------------------------------------------------------
// The line

bool tXymodem::Fill() {
    if (inPos_ < in_.size()) return true;
    in_.resize(kReadChunk);
    inPos_ = 0;
    std::int32_t n = 0;
    if (xy_Read) {
        n = xy_Read(in_.data(), static_cast<std::int32_t>(in_.size()));
    } else if (xy_In && xy_In(in_[0])) {
        n = 1;
    }
    in_.resize(static_cast<std::size_t>(std::max<std::int32_t>(n, 0)));
    return !in_.empty();
}

std::int32_t tXymodem::Get(std::uint32_t timeoutMs) {
    if (canceled) return XY_USER_CANCEL;
    if (Fill()) return in_[inPos_++];
    const std::uint64_t start = host_.NowMs();
    for (;;) {
        if (host_.NowMs() - start >= timeoutMs) return XY_TIMEOUT;
        host_.ProcessMessages();
        if (canceled) return XY_USER_CANCEL;
        if (Fill()) return in_[inPos_++];
    }
}

void tXymodem::Put(const std::uint8_t* p, std::size_t n) {
    if (xy_Out) xy_Out(p, static_cast<std::int32_t>(n));
}

void tXymodem::PurgeInput() {
    in_.clear();
    inPos_ = 0;
    if (xy_Flush) xy_Flush(true, false);
}

// After a bad block the rest of it, and whatever the noise added, must go before we ask again;
// the line falling quiet says the sender is waiting for our answer.
void tXymodem::DrainQuiet() {
    const std::uint64_t start = host_.NowMs();
    while (host_.NowMs() - start < kMaxDrainMs) {
        const std::int32_t c = Get(charTimeoutMs);
        if (c < 0) return;
    }
}

void tXymodem::SendCancel() {
    // More than two: a receiver in the middle of a block takes the first ones as data.
    static const std::uint8_t cancel[] = {XY_CAN, XY_CAN, XY_CAN, XY_CAN,
                                          XY_CAN, XY_CAN, XY_CAN, XY_CAN};
    Put(cancel, sizeof cancel);
}

std::int32_t tXymodem::SendStartCommand() {
    if (cmdStart.empty()) return XY_OK;
    std::string bytes;
    for (char32_t cp : DecodeUtf8(cmdStart)) bytes.push_back(static_cast<char>(cp & 0xFF));
    bytes += cmd_terminator == 0 ? "\n" : cmd_terminator == 2 ? "\r" : "\r\n";
    for (char ch : bytes) {
        Put(static_cast<std::uint8_t>(ch));
        if (cmd_useEcho) {
            const std::int32_t echo = Get(charTimeoutMs * 5);
            if (echo < 0) return echo == XY_USER_CANCEL ? XY_USER_CANCEL : XY_NO_ECHO;
        }
    }
    return XY_OK;
}

// ---------------------------------------------------------------------------------------------
// Rate and progress

void tXymodem::Label(const std::string& s) {
    if (lblRate_) lblRate_(s);
}

void tXymodem::StartRate() {
    if (rateTimer_) return;
    calcByteRate_ = 0;
    rateTicked_ = false;
    rateStartMs_ = host_.NowMs();
    rateTimer_ = host_.StartTimer(1000, [this] {
        const std::uint32_t kb = calcByteRate_ / 1024;
        Label(Printf("%u Kbytes/S", kb));
        maxByteRate = std::max(maxByteRate, kb);
        calcByteRate_ = 0;
        rateTicked_ = true;
    });
}

void tXymodem::StopRate() {
    if (!rateTimer_) return;
    host_.StopTimer(std::exchange(rateTimer_, 0));
    // A transfer over before the meter's first tick: its bytes over its time, not "0".
    if (!rateTicked_) maxByteRate = KBytesPerSecond(bytesDone, host_.NowMs() - rateStartMs_);
}

void tXymodem::Progress() {
    if (!barProgress_ || fileSize == 0) return;
    barProgress_(static_cast<int>(std::min<std::uint64_t>(100, fileDone * 100 / fileSize)));
}

// ---------------------------------------------------------------------------------------------
// Blocks

std::int32_t tXymodem::ReadPacket(Packet& p, std::uint32_t headerTimeoutMs, bool crc) {
    const std::uint64_t deadline = host_.NowMs() + headerTimeoutMs;
    bool afterCan = false;
    for (;;) {
        const std::uint64_t now = host_.NowMs();
        const std::int32_t c =
            Get(afterCan ? charTimeoutMs
                         : static_cast<std::uint32_t>(now >= deadline ? 0 : deadline - now));
        if (c == XY_TIMEOUT && afterCan) {
            afterCan = false;
            continue;
        }
        if (c < 0) return c;
        if (c == XY_CAN) {
            if (afterCan) return XY_CANCEL_REMOTE;
            afterCan = true;
            continue;
        }
        afterCan = false;
        if (c == XY_EOT) {
            // A sender waits after its EOT; one followed at once by more bytes is noise, or
            // data of a block whose head was lost.
            const std::int32_t next = Get(kQuietEotMs);
            if (next == XY_USER_CANCEL) return next;
            if (next < 0) return kEot;
            --inPos_;  // looked at, not taken
            continue;
        }
        if (c == XY_SOH || c == XY_STX) {
            p.size = c == XY_SOH ? 128 : 1024;
            break;
        }
        // Anything else is noise or text before the first block.
        if (host_.NowMs() >= deadline) return XY_TIMEOUT;
    }
    std::uint8_t head[2];
    std::uint8_t check[2];
    const std::size_t checkLen = crc ? 2 : 1;
    const auto take = [&](std::uint8_t* to, std::size_t n) -> std::int32_t {
        for (std::size_t i = 0; i < n;) {
            if (inPos_ == in_.size()) {
                const std::int32_t c = Get(charTimeoutMs);
                if (c < 0) return c;
                to[i++] = static_cast<std::uint8_t>(c);
                continue;
            }
            const std::size_t part = std::min(n - i, in_.size() - inPos_);
            std::memcpy(to + i, in_.data() + inPos_, part);
            inPos_ += part;
            i += part;
        }
        return 0;
    };
    p.numbered = false;
    for (auto [to, n] :
         {std::pair{head, std::size_t{2}}, std::pair{p.data, p.size}, std::pair{check, checkLen}}) {
        const std::int32_t r = take(to, n);
        if (r == XY_USER_CANCEL) return r;
        if (r < 0) return kBad;
        if (to == head) {
            p.numbered = static_cast<std::uint8_t>(head[0] + head[1]) == 0xFF;
            p.number = head[0];
        }
    }
    if (static_cast<std::uint8_t>(head[0] + head[1]) != 0xFF) return kBad;
    if (crc) {
        const std::uint16_t want = XyCrc16(p.data, p.size);
        if (check[0] != (want >> 8) || check[1] != (want & 0xFF)) return kBad;
    } else if (check[0] != Sum8(p.data, p.size)) {
        return kBad;
    }
    p.number = head[0];
    return kBlock;
}

// The answer to what we sent: ACK, NAK, a timeout or a cancel. Requests to start ('C') and other
// bytes are ignored: stale requests sit in the line behind every first block.
std::int32_t tXymodem::WaitReply(std::uint32_t timeoutMs) {
    const std::uint64_t deadline = host_.NowMs() + timeoutMs;
    bool afterCan = false;
    for (;;) {
        const std::uint64_t now = host_.NowMs();
        const std::int32_t c =
            Get(static_cast<std::uint32_t>(now >= deadline ? 0 : deadline - now));
        if (c < 0) return c;
        if (c == XY_CAN) {
            if (afterCan) return XY_CANCEL_REMOTE;
            afterCan = true;
            continue;
        }
        afterCan = false;
        if (c == XY_ACK || c == XY_NAK) return c;
        if (host_.NowMs() >= deadline) return XY_TIMEOUT;
    }
}

std::int32_t tXymodem::WaitStart(bool& crc, bool quietCheck) {
    const std::uint64_t start = host_.NowMs();
    const std::uint32_t limit = quietCheck ? startTimeoutMs : ackTimeoutMs;
    bool afterCan = false;
    for (;;) {
        const std::uint64_t now = host_.NowMs();
        if (now - start >= limit) return XY_NO_START;
        const std::int32_t c = Get(static_cast<std::uint32_t>(limit - (now - start)));
        if (c == XY_TIMEOUT) return XY_NO_START;
        if (c < 0) return c;
        if (c == XY_CAN) {
            if (afterCan) return XY_CANCEL_REMOTE;
            afterCan = true;
            continue;
        }
        afterCan = false;
        if (c != XY_CRC_REQUEST && c != XY_NAK) continue;
        if (quietCheck) {
            const std::int32_t next = Get(kQuietStartMs);
            if (next == XY_USER_CANCEL) return next;
            if (next >= 0 && next != c) continue;
        }
        crc = c == XY_CRC_REQUEST;
        // Requests repeated while nobody listened would read as answers to the first block.
        // Only these go: a CAN among them would already have ended the wait.
        PurgeInput();
        return XY_OK;
    }
}

std::int32_t tXymodem::SendBlock(std::uint8_t number, const std::uint8_t* data, std::size_t n,
                                 bool crc) {
    std::uint8_t frame[3 + 1024 + 2];
    frame[0] = n == 128 ? XY_SOH : XY_STX;
    frame[1] = number;
    frame[2] = static_cast<std::uint8_t>(~number);
    std::memcpy(frame + 3, data, n);
    std::size_t len = 3 + n;
    if (crc) {
        const std::uint16_t c = XyCrc16(data, n);
        frame[len++] = static_cast<std::uint8_t>(c >> 8);
        frame[len++] = static_cast<std::uint8_t>(c);
    } else {
        frame[len++] = Sum8(data, n);
    }
    for (int errors = 0;;) {
        Put(frame, len);
        const std::int32_t r = WaitReply(ackTimeoutMs);
        if (r == XY_ACK) return XY_OK;
        if (r == XY_USER_CANCEL || r == XY_CANCEL_REMOTE) return r;
        if (++errors > retries) return r == XY_TIMEOUT ? XY_TIMEOUT : XY_RETRIES;
    }
}

// Every block has been acknowledged when we get here, so the receiver holds the whole file. A
// receiver that takes the EOT and leaves at once may have its ACK lost with it (a pseudo-terminal
// dropped with its last bytes still queued, a USB adapter unplugged): lrzsz's rx was seen to exit
// with success, file complete, while we heard nothing. Waiting out every retry would then turn a
// finished transfer into a failure minutes later, so a few EOTs met by silence end the file with
// a warning instead; a NAK still means the receiver is there and gets the full retries.
std::int32_t tXymodem::SendEot() {
    for (int errors = 0, silent = 0;;) {
        Put(XY_EOT);
        const std::int32_t r = WaitReply(ackTimeoutMs);
        if (r == XY_ACK) return XY_OK;
        if (r == XY_USER_CANCEL || r == XY_CANCEL_REMOTE) return r;
        silent = r == XY_TIMEOUT ? silent + 1 : 0;
        if (silent >= kSilentEotTries) {
            eotUnanswered = true;
            return XY_OK;
        }
        if (++errors > retries) return r == XY_TIMEOUT ? XY_TIMEOUT : XY_RETRIES;
    }
}

// ---------------------------------------------------------------------------------------------
// Sending

// Every file has been acknowledged by now; some receivers leave without acknowledging the empty
// block 0 that ends the batch, so only a NAK makes us send it again.
std::int32_t tXymodem::SendBatchEnd(bool crc) {
    const std::vector<std::uint8_t> end = XyHeaderBlock({});
    std::uint8_t frame[3 + 128 + 2] = {XY_SOH, 0, 0xFF};
    std::memcpy(frame + 3, end.data(), 128);
    const std::uint16_t sum = XyCrc16(end.data(), 128);
    frame[131] = crc ? static_cast<std::uint8_t>(sum >> 8) : Sum8(end.data(), 128);
    frame[132] = static_cast<std::uint8_t>(sum);
    for (int errors = 0;;) {
        Put(frame, crc ? 133 : 132);
        const std::int32_t r = WaitReply(charTimeoutMs * 2);
        if (r == XY_ACK || r == XY_TIMEOUT) return XY_OK;
        if (r == XY_USER_CANCEL || r == XY_CANCEL_REMOTE) return r;
        if (++errors > retries) return XY_RETRIES;
    }
}

std::int32_t tXymodem::SendOneFile(const std::string& path, bool ymodem, bool& crc, bool first) {
    XyFileInfo info;
    std::unique_ptr<XyReader> reader = Store().OpenRead(path, info);
    currentFile = path;
    fileSize = info.size;
    fileDone = 0;
    if (barProgress_) barProgress_(0);

    std::int32_t r = WaitStart(crc, first);
    if (r != XY_OK) return r;
    if (ymodem) {
        const std::vector<std::uint8_t> header = XyHeaderBlock(info);
        if ((r = SendBlock(0, header.data(), header.size(), crc)) != XY_OK) return r;
        if ((r = WaitStart(crc, false)) != XY_OK) return r;
    }
    StartRate();
    const bool big = (ymodem || protocol == XyProtocol::Xmodem1k) && crc;
    std::uint8_t block[1024];
    std::uint8_t lastNumber = 0;
    std::size_t lastSize = 0;
    for (std::uint8_t number = 1;; ++number) {
        std::size_t want = 128;
        if (big && (fileSize <= fileDone || fileSize - fileDone > 896)) want = 1024;
        // A YMODEM receiver keeps only the announced size: a file that grew since is cut here.
        if (ymodem)
            want = static_cast<std::size_t>(std::min<std::uint64_t>(want, fileSize - fileDone));
        const std::size_t n = want ? reader->Read(block, want) : 0;
        if (n == 0) break;
        const std::size_t size = n <= 128 ? 128 : 1024;
        std::memset(block + n, XY_PAD, size - n);
        if ((r = SendBlock(number, block, size, crc)) != XY_OK) return r;
        lastNumber = number;
        lastSize = size;
        fileDone += n;
        bytesDone += n;
        calcByteRate_ += static_cast<std::uint32_t>(n);
        Progress();
        host_.ProcessMessages();
        if (canceled) return XY_USER_CANCEL;
    }
    // The ACK taken for the last block may have been a copy of an earlier one (a line that
    // doubles a byte): then the receiver's NAK for the last block is still on its way, and an
    // EOT now would end the file without it. A moment of quiet settles it.
    // An empty file's EOT would follow the receiver's request at once: lrzsz's rb lost one sent
    // a fraction of a millisecond after its 'C' and sat 14 s before asking again. The same
    // moment lets the receiver get ready.
    for (int repeats = 0;;) {
        const std::int32_t c = Get(kQuietEotMs);
        if (c == XY_TIMEOUT) break;
        if (c == XY_USER_CANCEL) return c;
        if (c == XY_CAN && Get(charTimeoutMs) == XY_CAN) return XY_CANCEL_REMOTE;
        if (c != XY_NAK || lastSize == 0) continue;
        if (++repeats > retries) return XY_RETRIES;
        if ((r = SendBlock(lastNumber, block, lastSize, crc)) != XY_OK) return r;
    }
    if ((r = SendEot()) != XY_OK) return r;
    if (barProgress_) barProgress_(100);
    filesDone.push_back(path);
    return XY_OK;
}

std::int32_t tXymodem::TransmitFiles(const std::vector<std::string>& files) {
    maxByteRate = 0;
    bytesDone = fileSize = fileDone = 0;
    filesDone.clear();
    eotUnanswered = false;
    currentFile.clear();
    target_.clear();
    const bool ymodem = protocol == XyProtocol::Ymodem;
    if (files.empty()) return XY_NO_FILE;
    if (!ymodem && files.size() != 1) return XY_ONE_FILE;
    // No purge of the input here: a receiver started first has already asked for the file, and
    // its request is what we wait for. Stale requests go once the first is taken.
    if (xy_Flush) xy_Flush(false, true);
    in_.clear();
    inPos_ = 0;
    if (const std::int32_t r = SendStartCommand(); r != XY_OK) return r;

    std::int32_t r = XY_OK;
    try {
        bool crc = true;
        for (std::size_t i = 0; i < files.size() && r == XY_OK; ++i)
            r = SendOneFile(files[i], ymodem, crc, i == 0);
        if (r == XY_OK && ymodem) {
            r = WaitStart(crc, false);
            if (r == XY_OK) r = SendBatchEnd(crc);
        }
    } catch (...) {
        SendCancel();
        StopRate();
        Label(kRateIdle);
        throw;
    }
    if (r != XY_OK && r != XY_CANCEL_REMOTE) SendCancel();
    StopRate();
    Label(kRateIdle);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Receiving

std::int32_t tXymodem::ReceiveData(std::unique_ptr<XyWriter>& out, const std::string& path,
                                   bool ymodem, bool crc, const XyFileInfo& info) {
    currentFile = path;
    fileSize = info.hasSize ? info.size : 0;
    fileDone = 0;
    if (barProgress_) barProgress_(0);
    // XMODEM's last block is held back until the next block or the end says it was the last,
    // so that its padding can be counted (and dropped when asked).
    std::vector<std::uint8_t> held;
    const bool cut = ymodem && info.hasSize;
    const auto store = [&](const std::uint8_t* p, std::size_t n) {
        if (!out) out = Store().Create(path);
        return out->Write(p, n);
    };

    std::uint8_t request = crc ? XY_CRC_REQUEST : XY_NAK;
    const bool fallBack = !ymodem && protocol != XyProtocol::Xmodem;
    const std::uint64_t begun = host_.NowMs();
    int requests = 1;
    int errors = 0;
    bool started = false;
    bool eotOnce = false;
    bool owed = false;
    std::uint8_t expected = 1;
    Packet p;
    Put(request);
    for (;;) {
        if (canceled) return XY_USER_CANCEL;
        const std::int32_t r = ReadPacket(p, started ? blockTimeoutMs : startIntervalMs, crc);
        if (r == XY_USER_CANCEL || r == XY_CANCEL_REMOTE) return r;
        if (r == XY_TIMEOUT) {
            if (!started) {
                if (!ymodem && host_.NowMs() - begun >= startTimeoutMs) return XY_NO_START;
                if (ymodem && ++errors > retries) return XY_TIMEOUT;
                // A sender that knows only the sum never answers 'C'.
                if (fallBack && crc && ++requests > kCrcTriesBeforeSum) {
                    crc = false;
                    request = XY_NAK;
                }
                Put(request);
                continue;
            }
            if (++errors > retries) return XY_TIMEOUT;
            Put(XY_NAK);
            continue;
        }
        if (r == kBad) {
            // The sender did send the block due: it owes it to us whatever comes next.
            if (p.numbered && p.number == expected) owed = true;
            if (++errors > retries) return XY_RETRIES;
            DrainQuiet();
            Put(started ? XY_NAK : request);
            continue;
        }
        if (r == kEot) {
            // An EOT instead of the block we asked again for: the sender took an answer meant
            // for an earlier block as ours. Ending here would lose that block.
            if (owed) {
                if (++errors > retries) return XY_RETRIES;
                Put(XY_NAK);
                continue;
            }
            // XMODEM has no size to check against: a lone noise byte must not end the file, so
            // the first EOT is refused and only its repeat believed.
            if (!ymodem && !eotOnce) {
                eotOnce = true;
                Put(XY_NAK);
                continue;
            }
            if (!ymodem) {
                std::size_t pads = 0;
                while (pads < held.size() && held[held.size() - 1 - pads] == XY_PAD) ++pads;
                paddingSeen = static_cast<std::uint32_t>(pads);
                paddingStripped = stripPadding && pads > 0;
                const std::size_t keep = held.size() - (paddingStripped ? pads : 0);
                if (!store(held.data(), keep)) return XY_NO_ROOM;
                fileDone -= held.size() - keep;
                bytesDone -= held.size() - keep;
            } else if (!out && !store(nullptr, 0)) {
                return XY_NO_ROOM;
            }
            Put(XY_ACK);
            if (cut && fileDone < info.size) {
                announced = info.size;
                return XY_SHORT_FILE;
            }
            out->Close(info.mtime);
            out.reset();
            filesDone.push_back(path);
            if (barProgress_) barProgress_(100);
            return XY_OK;
        }
        eotOnce = false;
        if (p.number == expected) {
            owed = false;
            started = true;
            errors = 0;
            std::size_t n = p.size;
            if (cut) n = static_cast<std::size_t>(std::min<std::uint64_t>(n, info.size - fileDone));
            if (ymodem) {
                if (!store(p.data, n)) return XY_NO_ROOM;
            } else {
                if (!held.empty() && !store(held.data(), held.size())) return XY_NO_ROOM;
                held.assign(p.data, p.data + n);
            }
            fileDone += n;
            bytesDone += n;
            calcByteRate_ += static_cast<std::uint32_t>(p.size);
            ++expected;
            Put(XY_ACK);
            Progress();
            host_.ProcessMessages();
            continue;
        }
        if (p.number == static_cast<std::uint8_t>(expected - 1)) {
            // Our ACK was lost and the sender repeats the block: it is already stored.
            Put(XY_ACK);
            if (!started) Put(request);
            continue;
        }
        return XY_SYNC_ERROR;
    }
}

std::int32_t tXymodem::ReceiveFiles(const std::string& target) {
    maxByteRate = 0;
    bytesDone = fileSize = fileDone = 0;
    filesDone.clear();
    currentFile.clear();
    refusedName.clear();
    paddingSeen = 0;
    paddingStripped = false;
    announced = 0;
    target_ = target;
    const bool ymodem = protocol == XyProtocol::Ymodem;
    if (xy_Flush) xy_Flush(true, true);
    in_.clear();
    inPos_ = 0;
    if (const std::int32_t r = SendStartCommand(); r != XY_OK) return r;

    std::int32_t r = XY_OK;
    std::unique_ptr<XyWriter> out;
    try {
        StartRate();
        if (!ymodem) {
            r = ReceiveData(out, target, false, protocol != XyProtocol::Xmodem, {});
        } else {
            for (bool first = true; r == XY_OK; first = false) {
                // Block 0 of the next file, or the empty one that ends the batch.
                const std::uint64_t begun = host_.NowMs();
                int errors = 0;
                Packet p;
                XyFileInfo info;
                bool got = false;
                Put(XY_CRC_REQUEST);
                while (!got && r == XY_OK) {
                    if (canceled) {
                        r = XY_USER_CANCEL;
                        break;
                    }
                    const std::int32_t k = ReadPacket(p, startIntervalMs, true);
                    if (k == XY_USER_CANCEL || k == XY_CANCEL_REMOTE) {
                        r = k;
                    } else if (k == XY_TIMEOUT || k == kBad || k == kEot) {
                        if (first && k == XY_TIMEOUT) {
                            if (host_.NowMs() - begun >= startTimeoutMs) r = XY_NO_START;
                        } else if (++errors > retries) {
                            r = k == XY_TIMEOUT ? XY_TIMEOUT : XY_RETRIES;
                        }
                        if (r != XY_OK) break;
                        if (k == kBad) DrainQuiet();
                        // An EOT repeated because our ACK was lost still wants its ACK.
                        Put(k == kEot                  ? XY_ACK
                            : first || k == XY_TIMEOUT ? XY_CRC_REQUEST
                                                       : XY_NAK);
                    } else if (p.number != 0) {
                        r = XY_SYNC_ERROR;
                    } else if (!XyParseHeader(p.data, p.size, info)) {
                        r = XY_BAD_HEADER;
                    } else {
                        got = true;
                    }
                }
                if (r != XY_OK) break;
                if (info.name.empty()) {
                    Put(XY_ACK);
                    break;
                }
                if (!XySafeName(info.name)) {
                    refusedName = info.name;
                    r = XY_BAD_NAME;
                    break;
                }
                Put(XY_ACK);
                r = ReceiveData(out, Store().Join(target, info.name), true, true, info);
            }
        }
    } catch (...) {
        SendCancel();
        StopRate();
        Label(kRateIdle);
        out.reset();
        throw;
    }
    if (r != XY_OK && r != XY_CANCEL_REMOTE) SendCancel();
    if (out) {
        // Keep what arrived, as the other transfers do; the result says it is not whole.
        try {
            out->Close(0);
        } catch (...) {
            StopRate();
            Label(kRateIdle);
            throw;
        }
    }
    StopRate();
    Label(kRateIdle);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Results

XyReport tXymodem::ResultReport(std::int32_t code, bool transmit) const {
    const char* title = XyProtocolTitle(protocol);
    const auto error = [&](const std::string& text) {
        return XyReport{std::string(title) + ": " + text, XyReportKind::Error};
    };
    const auto what = [&]() -> std::string {
        if (filesDone.size() == 1 && protocol != XyProtocol::Ymodem) return filesDone[0];
        return Printf("%llu file%s", static_cast<unsigned long long>(filesDone.size()),
                      filesDone.size() == 1 ? "" : "s");
    };
    switch (code) {
        case XY_OK: {
            std::string text = Printf("%s: %s %s (%llu bytes) with the maximum rate of %u KBytes/S",
                                      title, transmit ? "sent" : "received", what().c_str(),
                                      static_cast<unsigned long long>(bytesDone), maxByteRate);
            if (!transmit && protocol == XyProtocol::Ymodem) text += " into " + target_;
            if (!transmit && protocol != XyProtocol::Ymodem) {
                if (paddingSeen == 0)
                    text += "; no 0x1A padding at the end";
                else if (paddingStripped)
                    text += Printf("; %u bytes of 0x1A padding removed from the end", paddingSeen);
                else
                    text += Printf("; the file ends in %u bytes of 0x1A, padding or data, kept",
                                   paddingSeen);
            }
            if (transmit && eotUnanswered)
                text += "; warning: the receiver never acknowledged the end of the file";
            return {text, XyReportKind::Message};
        }
        case XY_CANCEL_REMOTE:
            return error("Transfer canceled remotely");
        case XY_USER_CANCEL:
            return error("User cancellation");
        case XY_SYNC_ERROR:
            return error("Sync error: a block out of order");
        case XY_TIMEOUT:
            return error(transmit ? "No receiver response" : "No response from transmitter");
        case XY_NO_ECHO:
            return error("Echo command not received");
        case XY_RETRIES:
            return error("Too many errors on one block, transfer abandoned");
        case XY_NO_START:
            return error(transmit ? "No receiver asked for the file"
                                  : "No transmitter started sending");
        case XY_BAD_NAME:
            return error("Refused the file name \"" + refusedName +
                         "\": it would be stored outside the chosen folder");
        case XY_BAD_HEADER:
            return error("Unreadable file header block");
        case XY_SHORT_FILE:
            return error(Printf("Incomplete file: received %llu of %llu bytes",
                                static_cast<unsigned long long>(fileDone),
                                static_cast<unsigned long long>(announced)));
        case XY_NO_ROOM:
            return error("No room for the file");
        case XY_ONE_FILE:
            return error("sends exactly one file; use YMODEM for several");
        case XY_NO_FILE:
            return error("No file to send");
        default:
            return error(Printf("Unknown error: %d", code));
    }
}

}  // namespace corvel
