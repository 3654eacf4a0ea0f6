#include "host/std_host.h"

#include <vector>

namespace corvel {

StdHost::StdHost() : start_(std::chrono::steady_clock::now()) {}

std::uint64_t StdHost::NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start_)
                                          .count());
}

Host::TimerId StdHost::StartTimer(std::uint32_t periodMs, TickFn onTick) {
    const TimerId id = nextId_++;
    timers_[id] = Timer{periodMs ? periodMs : 1, NowMs() + periodMs, std::move(onTick)};
    return id;
}

void StdHost::StopTimer(TimerId id) {
    timers_.erase(id);
}

void StdHost::ProcessMessages() {
    const std::uint64_t now = NowMs();
    std::vector<TimerId> due;
    for (const auto& [id, t] : timers_)
        if (t.due <= now) due.push_back(id);
    for (TimerId id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end()) continue;  // stopped by an earlier tick
        // A late timer fires once, not once per missed period, as window-system timers do.
        it->second.due = now + it->second.period;
        TickFn tick = it->second.tick;
        tick();
    }
}

}  // namespace corvel
