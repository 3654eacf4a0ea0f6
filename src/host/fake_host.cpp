#include "host/fake_host.h"

#include <algorithm>

namespace corvel {

Host::TimerId FakeHost::StartTimer(std::uint32_t periodMs, TickFn onTick) {
    const TimerId id = nextId_++;
    timers_[id] = Timer{periodMs, now_ + periodMs, std::move(onTick)};
    return id;
}

void FakeHost::StopTimer(TimerId id) {
    timers_.erase(id);
}

std::uint32_t FakeHost::TimerPeriod(TimerId id) const {
    auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second.period;
}

std::uint64_t FakeHost::NextTimerDueMs() const {
    std::uint64_t next = UINT64_MAX;
    for (const auto& [id, t] : timers_) next = std::min(next, t.due);
    return next;
}

void FakeHost::ProcessMessages() {
    ++processMessagesCalls;
    if (onProcessMessages) onProcessMessages();
    if (autoAdvanceMs) Advance(autoAdvanceMs);
}

void FakeHost::WaitMessages() {
    ++processMessagesCalls;
    if (onProcessMessages) onProcessMessages();
    const std::uint64_t next = NextTimerDueMs();
    if (next != UINT64_MAX)
        Advance(next > now_ ? next - now_ : 0);
    else if (autoAdvanceMs)
        Advance(autoAdvanceMs);
}

void FakeHost::Advance(std::uint64_t ms) {
    const std::uint64_t target = now_ + ms;
    for (;;) {
        // The earliest due timer at or before the target; ties go to the lower id.
        TimerId best = 0;
        std::uint64_t bestDue = target + 1;
        for (const auto& [id, t] : timers_) {
            if (t.due < bestDue) {
                best = id;
                bestDue = t.due;
            }
        }
        if (best == 0) break;
        // A tick may itself advance the clock (a wait inside a tick); time never goes back.
        now_ = std::max(now_, bestDue);
        Timer& t = timers_[best];
        // A zero period would fire forever at one instant; treat it as 1 ms like real timers do.
        t.due += t.period ? t.period : 1;
        TickFn tick = t.tick;  // the tick may stop or restart its own timer
        tick();
    }
    now_ = std::max(now_, target);
}

void FakeHost::FireTimer(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    TickFn tick = it->second.tick;
    tick();
}

}  // namespace corvel
