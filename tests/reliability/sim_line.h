#pragma once
// A serial line between two blocking protocol ends, on a simulated clock, with a seeded plan of
// line faults.
//
// Each end runs on its own thread, but only one runs at a time: an end that waits for a byte
// hands the line over, and when both wait the clock jumps to the next moment something can
// happen (a byte arrives or a wait runs out). So a run is deterministic for its seed, time-outs
// cost no real time, and a whole transfer takes a few milliseconds.
//
// Faults are applied as bytes are put on the line: a byte can be dropped, corrupted (xor with a
// random non-zero mask), duplicated or delayed (the line stalls, so order is kept as on a UART).
// A plan can also name exact byte positions of one direction to corrupt.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "host/host.h"

namespace corvel::reliability {

using Bytes = std::vector<std::uint8_t>;

struct FaultRates {
    double drop = 0;
    double corrupt = 0;
    double duplicate = 0;
    double delay = 0;
    std::uint32_t maxDelayMs = 0;
};

// What the line did to the bytes one end put on it.
struct FaultCounts {
    std::uint64_t bytes = 0;
    std::uint64_t dropped = 0;
    std::uint64_t corrupted = 0;
    std::uint64_t duplicated = 0;
    std::uint64_t delayed = 0;
    std::uint64_t Total() const { return dropped + corrupted + duplicated + delayed; }
};

class SimLine {
  public:
    static constexpr std::uint64_t kLatencyMs = 1;
    static constexpr std::uint64_t kForever = ~std::uint64_t{0};

    explicit SimLine(std::uint32_t seed);
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Faults on the bytes end `from` puts on the line.
    void SetRates(int from, const FaultRates& rates) { rates_[from] = rates; }
    // Byte number `index` (counting from 0) of what end `from` puts is replaced by value.
    void CorruptAt(int from, std::uint64_t index, std::uint8_t value) {
        targeted_[from][index] = value;
    }

    // Runs two ends to completion. End 0 starts first and gets the line until it first waits
    // (a receiver must be listening before the transmitter starts). An end whose peer has ended
    // and that keeps waiting on a silent line is cancelled after giveUpMs, as a user would.
    void Run(const std::function<void()>& end0, const std::function<void()>& end1,
             std::uint64_t giveUpMs);

    // --- Called from an end's own thread, while it has the line ---
    void Put(int from, const std::uint8_t* data, std::size_t size);
    // A byte that has arrived, waiting up to waitMs of simulated time for one.
    bool Get(int to, std::uint8_t& byte, std::uint64_t waitMs);
    // Drops the bytes that have arrived at end `to` and are not read yet.
    void DropArrived(int to);
    std::uint64_t Now() const { return now_; }
    bool CancelRequested(int end) const { return ends_[end].cancel; }

    // --- Results, after Run ---
    std::uint64_t EndTime(int end) const { return ends_[end].endAt; }
    // The last moment the end had news: a byte read, or the cancel.
    std::uint64_t LastNews(int end) const { return ends_[end].lastNews; }
    bool WasCancelled(int end) const { return ends_[end].cancel; }
    const FaultCounts& Faults(int from) const { return faults_[from]; }
    // True when the run hit the safety limit of simulated time (an end that never ends).
    bool Stuck() const { return stuck_; }

  private:
    struct Arrival {
        std::uint64_t at;
        std::uint8_t byte;
    };
    struct End {
        bool started = false;
        bool waiting = false;
        bool done = false;
        bool cancel = false;
        std::uint64_t wakeAt = 0;
        std::uint64_t endAt = 0;
        std::uint64_t lastNews = 0;
        std::deque<Arrival> inbox;
        std::uint64_t lineFreeAt = 0;  // arrival time of the last byte sent towards this end
    };

    void Send(int to, std::uint8_t byte, std::uint64_t extraDelayMs);
    std::uint64_t NextEvent(int end) const;
    // Hands the line to the end that can go on first, moving the clock; called with the lock.
    void Schedule(int from, std::unique_lock<std::mutex>& lock);
    void WaitForTurn(int end, std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable cv_;
    int running_ = -1;
    std::uint64_t now_ = 0;
    std::uint64_t giveUpMs_ = 0;
    bool stuck_ = false;
    End ends_[2];
    FaultRates rates_[2];
    FaultCounts faults_[2];
    std::map<std::uint64_t, std::uint8_t> targeted_[2];
    std::mt19937_64 rng_;
};

// A host for the terminal's engine on the line's clock: its timers fire when the engine lets
// messages run, and nothing else happens there.
class SimLineHost : public Host {
  public:
    explicit SimLineHost(SimLine& line) : line_(line) {}
    std::uint64_t NowMs() override { return line_.Now(); }
    TimerId StartTimer(std::uint32_t periodMs, TickFn onTick) override;
    void StopTimer(TimerId id) override { timers_.erase(id); }
    void ProcessMessages() override;
    void Beep() override {}
    std::size_t ActiveTimers() const { return timers_.size(); }

  private:
    struct Timer {
        std::uint32_t period;
        std::uint64_t due;
        TickFn tick;
    };
    SimLine& line_;
    TimerId next_ = 1;
    std::map<TimerId, Timer> timers_;
};

}  // namespace corvel::reliability
