#include "sim_line.h"

#include <algorithm>
#include <stdexcept>

namespace corvel::reliability {

namespace {
// Simulated time after which a run counts as stuck: far beyond any time-out the ends use.
constexpr std::uint64_t kStuckAfterMs = 24ull * 3600 * 1000;
}  // namespace

SimLine::SimLine(std::uint32_t seed) : rng_(seed) {}

void SimLine::Put(int from, const std::uint8_t* data, std::size_t size) {
    const int to = 1 - from;
    const FaultRates& r = rates_[from];
    FaultCounts& n = faults_[from];
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint64_t index = n.bytes++;
        std::uint8_t b = data[i];
        if (auto it = targeted_[from].find(index); it != targeted_[from].end()) {
            if (it->second != b) ++n.corrupted;
            Send(to, it->second, 0);
            continue;
        }
        if (r.drop > 0 && unit(rng_) < r.drop) {
            ++n.dropped;
            continue;
        }
        if (r.corrupt > 0 && unit(rng_) < r.corrupt) {
            b = static_cast<std::uint8_t>(b ^ (1 + rng_() % 255));
            ++n.corrupted;
        }
        std::uint64_t extra = 0;
        if (r.delay > 0 && unit(rng_) < r.delay) {
            extra = 1 + rng_() % std::max<std::uint32_t>(1, r.maxDelayMs);
            ++n.delayed;
        }
        Send(to, b, extra);
        if (r.duplicate > 0 && unit(rng_) < r.duplicate) {
            Send(to, b, 0);
            ++n.duplicated;
        }
    }
}

void SimLine::Send(int to, std::uint8_t byte, std::uint64_t extraDelayMs) {
    End& e = ends_[to];
    // A stall holds back everything behind it: bytes on a serial line never overtake.
    const std::uint64_t at = std::max(e.lineFreeAt, now_ + kLatencyMs + extraDelayMs);
    e.lineFreeAt = at;
    e.inbox.push_back({at, byte});
}

bool SimLine::Get(int to, std::uint8_t& byte, std::uint64_t waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    End& e = ends_[to];
    const std::uint64_t deadline = waitMs == kForever ? kForever : now_ + waitMs;
    for (;;) {
        if (!e.inbox.empty() && e.inbox.front().at <= now_) {
            byte = e.inbox.front().byte;
            e.inbox.pop_front();
            e.lastNews = std::max(e.lastNews, now_);
            return true;
        }
        if (now_ >= deadline || e.cancel) return false;
        e.waiting = true;
        e.wakeAt = deadline;
        Schedule(to, lock);
        WaitForTurn(to, lock);
        e.waiting = false;
    }
}

void SimLine::DropArrived(int to) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& in = ends_[to].inbox;
    while (!in.empty() && in.front().at <= now_) in.pop_front();
}

std::uint64_t SimLine::NextEvent(int end) const {
    const End& e = ends_[end];
    if (e.done) return kForever;
    if (!e.started) return now_;
    std::uint64_t t = e.wakeAt;
    if (!e.inbox.empty()) t = std::min(t, std::max(now_, e.inbox.front().at));
    return t;
}

void SimLine::Schedule(int from, std::unique_lock<std::mutex>&) {
    std::uint64_t t[2];
    bool giveUp[2] = {false, false};
    for (int i = 0; i < 2; ++i) {
        t[i] = NextEvent(i);
        // A silent line, a finished peer, and an end still waiting: the user gives up on it.
        const End& e = ends_[i];
        const End& peer = ends_[1 - i];
        if (!e.done && e.started && peer.done && e.inbox.empty() && !e.cancel) {
            const std::uint64_t g = std::max(now_, peer.endAt + giveUpMs_);
            if (g <= t[i]) {
                t[i] = g;
                giveUp[i] = true;
            }
        }
    }
    if (t[0] == kForever && t[1] == kForever) {
        running_ = -1;
        cv_.notify_all();
        return;
    }
    // The earlier event goes first; on a tie the other end than the one yielding.
    const int next = t[0] < t[1] ? 0 : t[1] < t[0] ? 1 : 1 - from;
    now_ = std::max(now_, t[next]);
    if (giveUp[next]) {
        ends_[next].cancel = true;
        ends_[next].lastNews = now_;
    }
    if (now_ > kStuckAfterMs) {
        stuck_ = true;
        ends_[0].cancel = ends_[1].cancel = true;
    }
    ends_[next].started = true;
    running_ = next;
    cv_.notify_all();
}

void SimLine::WaitForTurn(int end, std::unique_lock<std::mutex>& lock) {
    cv_.wait(lock, [&] { return running_ == end; });
}

void SimLine::Run(const std::function<void()>& end0, const std::function<void()>& end1,
                  std::uint64_t giveUpMs) {
    giveUpMs_ = giveUpMs;
    auto body = [this](int id, const std::function<void()>& fn) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            WaitForTurn(id, lock);
        }
        fn();
        std::unique_lock<std::mutex> lock(mutex_);
        ends_[id].done = true;
        ends_[id].endAt = now_;
        Schedule(id, lock);
    };
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ends_[0].started = true;
        running_ = 0;
    }
    std::thread t0(body, 0, std::cref(end0));
    std::thread t1(body, 1, std::cref(end1));
    t0.join();
    t1.join();
}

Host::TimerId SimLineHost::StartTimer(std::uint32_t periodMs, TickFn onTick) {
    const TimerId id = next_++;
    timers_[id] = Timer{periodMs, line_.Now() + periodMs, std::move(onTick)};
    return id;
}

void SimLineHost::ProcessMessages() {
    const std::uint64_t now = line_.Now();
    for (auto it = timers_.begin(); it != timers_.end();) {
        const TimerId id = it->first;
        if (it->second.due <= now) {
            it->second.due = now + std::max<std::uint32_t>(1, it->second.period);
            TickFn tick = it->second.tick;
            tick();
            it = timers_.upper_bound(id);  // the tick may have stopped timers
        } else {
            ++it;
        }
    }
}

}  // namespace corvel::reliability
