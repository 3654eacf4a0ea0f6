#pragma once
// A host for programs without a window (the command-line tool, threaded tests): a steady clock,
// and timers that fire from ProcessMessages when they are due. Single-threaded.

#include <chrono>
#include <cstdint>
#include <map>

#include "host/host.h"

namespace corvel {

class StdHost : public Host {
  public:
    StdHost();
    std::uint64_t NowMs() override;
    TimerId StartTimer(std::uint32_t periodMs, TickFn onTick) override;
    void StopTimer(TimerId id) override;
    void ProcessMessages() override;
    void Beep() override {}

  private:
    struct Timer {
        std::uint32_t period;
        std::uint64_t due;
        TickFn tick;
    };
    std::chrono::steady_clock::time_point start_;
    TimerId nextId_ = 1;
    std::map<TimerId, Timer> timers_;
};

}  // namespace corvel
