#pragma once
// Test stand-ins for a board: a scripted link on a fake clock (single thread, no waiting), and a
// thread-safe byte pipe for running two ends on two threads.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <vector>

#include "kmodem_fw.h"

namespace corvel::fwtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    return b;
}

// What a well-behaved transmitter puts on the line for `file`.
inline Bytes Frames(const Bytes& file, std::size_t packet, bool finish = true) {
    Bytes f{0x01};
    for (int i = 0; i < 4; ++i) f.push_back(static_cast<std::uint8_t>(file.size() >> (8 * i)));
    for (std::size_t at = 0; at < file.size(); at += packet) {
        std::size_t s = std::min(packet, file.size() - at);
        f.insert(f.end(), {0x02, static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(s >> 8)});
        f.push_back(0x04);
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < s; ++i) {
            f.push_back(file[at + i]);
            sum = static_cast<std::uint8_t>(sum + file[at + i]);
        }
        f.push_back(sum);
    }
    if (finish) f.push_back(0x08);
    return f;
}

// One board on a scripted line. Input bytes are queued up front (or by the onPut hook, to answer
// what the library just sent); waiting for a byte that is not there moves the fake clock on by
// the whole wait, so time-outs happen at once and exactly.
struct ScriptPort {
    explicit ScriptPort(std::uint16_t packet = 512) : buf(KMFW_BUFFER_SIZE(packet)) {
        kmfw_init(&ctx, &kPort, this, buf.data(), static_cast<std::uint16_t>(buf.size()));
    }
    ScriptPort(const ScriptPort&) = delete;
    ScriptPort& operator=(const ScriptPort&) = delete;

    void Feed(const Bytes& b) { in.insert(in.end(), b.begin(), b.end()); }

    kmfw_ctx ctx{};
    Bytes buf;
    std::deque<std::uint8_t> in;
    Bytes out;
    std::vector<std::size_t> putSizes;  // length of each put_bytes call
    std::uint32_t clock = 1000;
    std::uint64_t waited = 0;         // total fake time spent waiting
    bool closed = false;              // get_byte reports a dead link once input runs dry
    std::size_t putLimit = SIZE_MAX;  // bytes accepted before put_bytes starts refusing
    Bytes file;                       // what read serves
    Bytes stored;                     // what write received, in order
    std::vector<std::uint32_t> writeOffsets;
    std::int64_t failReadAt = -1;   // read at this offset fails
    std::int64_t failWriteAt = -1;  // write at this offset fails
    bool cancel = false;
    std::function<bool(ScriptPort&)> cancelWhen;  // asked too, when set
    std::function<void(ScriptPort&)> onPut;       // runs after each put_bytes

    static std::int8_t GetByte(void* user, std::uint8_t* byte, std::uint32_t waitMs) {
        auto& p = *static_cast<ScriptPort*>(user);
        if (!p.in.empty()) {
            *byte = p.in.front();
            p.in.pop_front();
            return KMFW_IN_BYTE;
        }
        // A library that waited without limit would otherwise keep a test running for ever.
        if (p.closed || p.waited > 1000ull * 3600u * 24u) return KMFW_IN_CLOSED;
        p.clock += waitMs;
        p.waited += waitMs;
        return KMFW_IN_NONE;
    }
    static std::uint16_t PutBytes(void* user, const std::uint8_t* data, std::uint16_t len) {
        auto& p = *static_cast<ScriptPort*>(user);
        std::size_t room = p.putLimit - std::min(p.putLimit, p.out.size());
        std::size_t taken = std::min<std::size_t>(len, room);
        p.out.insert(p.out.end(), data, data + taken);
        p.putSizes.push_back(taken);
        if (p.onPut) p.onPut(p);
        return static_cast<std::uint16_t>(taken);
    }
    static std::uint32_t NowMs(void* user) { return static_cast<ScriptPort*>(user)->clock; }
    static std::uint8_t Read(void* user, std::uint32_t offset, std::uint8_t* dst,
                             std::uint16_t len) {
        auto& p = *static_cast<ScriptPort*>(user);
        if (static_cast<std::int64_t>(offset) == p.failReadAt) return 0;
        if (offset + len > p.file.size()) return 0;
        std::copy(p.file.begin() + offset, p.file.begin() + offset + len, dst);
        return 1;
    }
    static std::uint8_t Write(void* user, std::uint32_t offset, const std::uint8_t* src,
                              std::uint16_t len) {
        auto& p = *static_cast<ScriptPort*>(user);
        if (static_cast<std::int64_t>(offset) == p.failWriteAt) return 0;
        p.writeOffsets.push_back(offset);
        p.stored.insert(p.stored.end(), src, src + len);
        return 1;
    }
    static std::uint8_t Cancelled(void* user) {
        auto& p = *static_cast<ScriptPort*>(user);
        return p.cancel || (p.cancelWhen && p.cancelWhen(p));
    }

    static constexpr kmfw_port kPort{GetByte, PutBytes, NowMs, Read, Write, Cancelled};
};

// A one-way byte stream between two threads. Close() wakes the reader, which then sees a dead
// link once the queued bytes are gone.
class BytePipe {
  public:
    void Push(const std::uint8_t* data, std::size_t len) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            bytes_.insert(bytes_.end(), data, data + len);
        }
        cv_.notify_one();
    }
    std::int8_t Pop(std::uint8_t& byte, std::uint32_t waitMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (bytes_.empty() && !closed_ && waitMs > 0)
            cv_.wait_for(lock, std::chrono::milliseconds(waitMs),
                         [this] { return !bytes_.empty() || closed_; });
        if (!bytes_.empty()) {
            byte = bytes_.front();
            bytes_.pop_front();
            return KMFW_IN_BYTE;
        }
        return closed_ ? KMFW_IN_CLOSED : KMFW_IN_NONE;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.clear();
    }
    bool Empty() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_.empty();
    }
    void Close() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        cv_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::uint8_t> bytes_;
    bool closed_ = false;
};

// One board end on real threads: reads from `in`, writes to `out`, a file in memory.
struct PipeBoard {
    PipeBoard(BytePipe& inPipe, BytePipe& outPipe, std::uint16_t packet)
        : in(inPipe), out(outPipe), buf(KMFW_BUFFER_SIZE(packet)) {
        kmfw_init(&ctx, &kPort, this, buf.data(), static_cast<std::uint16_t>(buf.size()));
    }
    PipeBoard(const PipeBoard&) = delete;
    PipeBoard& operator=(const PipeBoard&) = delete;

    BytePipe& in;
    BytePipe& out;
    kmfw_ctx ctx{};
    Bytes buf;
    Bytes file;
    Bytes stored;
    Bytes sent;  // everything this board put on the line

    static std::int8_t GetByte(void* user, std::uint8_t* byte, std::uint32_t waitMs) {
        return static_cast<PipeBoard*>(user)->in.Pop(*byte, waitMs);
    }
    static std::uint16_t PutBytes(void* user, const std::uint8_t* data, std::uint16_t len) {
        auto& b = *static_cast<PipeBoard*>(user);
        b.sent.insert(b.sent.end(), data, data + len);
        b.out.Push(data, len);
        return len;
    }
    static std::uint32_t NowMs(void*) {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
    static std::uint8_t Read(void* user, std::uint32_t offset, std::uint8_t* dst,
                             std::uint16_t len) {
        auto& b = *static_cast<PipeBoard*>(user);
        if (offset + len > b.file.size()) return 0;
        std::copy(b.file.begin() + offset, b.file.begin() + offset + len, dst);
        return 1;
    }
    static std::uint8_t Write(void* user, std::uint32_t offset, const std::uint8_t* src,
                              std::uint16_t len) {
        auto& b = *static_cast<PipeBoard*>(user);
        if (offset != b.stored.size()) return 0;
        b.stored.insert(b.stored.end(), src, src + len);
        return 1;
    }

    static constexpr kmfw_port kPort{GetByte, PutBytes, NowMs, Read, Write, nullptr};
};

}  // namespace corvel::fwtest
