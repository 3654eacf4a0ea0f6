#pragma once
// A host whose clock only moves when a test says so. Timers fire from Advance() (or FireTimer),
// never by themselves, so tests of time-outs need no sleeping and have no races.

#include <cstdint>
#include <functional>
#include <map>

#include "host/host.h"

namespace corvel {

class FakeHost : public Host {
  public:
    std::uint64_t NowMs() override { return now_; }

    TimerId StartTimer(std::uint32_t periodMs, TickFn onTick) override;
    void StopTimer(TimerId id) override;
    void ProcessMessages() override;
    // Jumps the clock to the next timer that is due (or by autoAdvanceMs when none runs).
    void WaitMessages() override;
    void Beep() override { ++beeps; }

    // Moves the clock forward, firing every timer whose deadline is reached, in time order.
    void Advance(std::uint64_t ms);
    // Fires one timer now, as if its period had elapsed (the clock does not move).
    void FireTimer(TimerId id);

    bool IsTimerActive(TimerId id) const { return timers_.count(id) != 0; }
    std::size_t ActiveTimerCount() const { return timers_.size(); }
    // When the next timer is due; UINT64_MAX when none runs. Lets code that jumps the clock
    // stop where a tick may change the world (a simulated device unplugged by a timer).
    std::uint64_t NextTimerDueMs() const;
    std::uint32_t TimerPeriod(TimerId id) const;

    // Each ProcessMessages call runs onProcessMessages (when set), then advances the clock by
    // autoAdvanceMs. This lets a test play the user (a click during a transfer) and lets waiting
    // loops that pump messages reach their time-outs without real time passing.
    std::function<void()> onProcessMessages;
    std::uint64_t autoAdvanceMs = 0;

    std::uint64_t processMessagesCalls = 0;
    int beeps = 0;

  private:
    struct Timer {
        std::uint32_t period;
        std::uint64_t due;
        TickFn tick;
    };
    std::uint64_t now_ = 1000;
    TimerId nextId_ = 1;
    std::map<TimerId, Timer> timers_;
};

}  // namespace corvel
