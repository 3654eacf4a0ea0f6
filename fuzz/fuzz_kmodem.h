#pragma once
// What the two engine harnesses share: the engine set up from the header bytes, the far end as
// the engine sees it, and the check that a silent line ends the transfer within its time-out.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "fuzz_support.h"
#include "host/fake_host.h"
#include "kmodem/u_kmodem.h"

namespace corvel::fuzz {

// Fake time moves this much at every pump of the engine.
constexpr std::uint64_t kPumpStepMs = 100;

// Header bits both harnesses read: flags bit0 debug logs, bit2 echo, bits3-4 terminator.
inline void ConfigureEngine(tKmodem& km, std::uint8_t flags, std::int32_t timeOut,
                            std::uint16_t packageSize) {
    km.useDebug = flags & 1;
    km.cmd_useEcho = flags & 4;
    km.cmd_terminator = static_cast<std::uint8_t>((flags >> 3) & 3);
    km.timerOutValue = timeOut;
    km.packageSize = packageSize;
    km.logFolder = ScratchDir().string();
}

// The far end: delivers the given bytes (with stutter, every other read finds nothing, so waits
// and time-outs run mid-frame) and keeps what the engine sends.
struct FarEnd {
    FarEnd(const std::uint8_t* data, std::size_t length, bool stutters)
        : bytes(data), size(length), stutter(stutters) {}

    const std::uint8_t* bytes;
    std::size_t size;
    bool stutter;
    std::size_t pos = 0;
    bool skip = false;
    Bytes sent;

    bool Drained() const { return pos >= size; }

    // Binds the engine's In and Out to this end, and Flush to nothing.
    void Bind(tKmodem& km) {
        km.kmodem_In = [this](std::uint8_t& c) {
            if (stutter) {
                skip = !skip;
                if (skip) return false;
            }
            if (pos >= size) return false;
            c = bytes[pos++];
            return true;
        };
        km.kmodem_Out = [this](const std::uint8_t* c, std::int32_t n) {
            sent.insert(sent.end(), c, c + n);
            return n;
        };
        km.kmodem_Flush = [](bool, bool) {};
    }
};

// Once the far end has nothing more the engine must give up within one time-out; where it
// waits without a limit (cancelNow says so) the test cancels for the user. The pumps are bounded
// by maxPumps plus the time-out.
inline void CheckSilenceEnds(FakeHost& host, tKmodem& km, const FarEnd& far, std::int32_t timeOut,
                             std::uint64_t maxPumps, std::function<bool()> cancelNow) {
    const std::uint64_t limitMs = std::uint64_t{static_cast<std::uint32_t>(timeOut)} * 864;
    host.onProcessMessages = [&host, &km, &far, limitMs, maxPumps, cancelNow = std::move(cancelNow),
                              silent = false, silentSince = std::uint64_t{0}]() mutable {
        FUZZ_CHECK(host.processMessagesCalls < maxPumps + limitMs / kPumpStepMs);
        if (!far.Drained()) return;
        if (!silent) {
            silent = true;
            silentSince = host.NowMs();
        }
        if (cancelNow()) km.canceled = true;
        FUZZ_CHECK(host.NowMs() - silentSince <= limitMs + 3 * kPumpStepMs);
    };
}

}  // namespace corvel::fuzz
