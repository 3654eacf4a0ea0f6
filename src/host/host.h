#pragma once
// The few services the core asks of whatever runs it: a monotonic clock, periodic timers delivered
// on the caller's (UI) thread, a way to let pending events run during long operations, and a beep.
// The window supplies a Qt implementation; tests use FakeHost; headless tools use StdHost.

#include <cstdint>
#include <functional>

namespace corvel {

class Host {
  public:
    using TimerId = std::uint32_t;  // 0 never names a timer
    using TickFn = std::function<void()>;

    virtual ~Host() = default;

    // Milliseconds on a clock that never goes back and does not wrap at midnight.
    virtual std::uint64_t NowMs() = 0;

    // Calls onTick every periodMs milliseconds on the thread that pumps this host, until stopped.
    virtual TimerId StartTimer(std::uint32_t periodMs, TickFn onTick) = 0;
    // Stopping 0 or an unknown id does nothing.
    virtual void StopTimer(TimerId id) = 0;

    // Lets pending events (timer ticks, clicks...) run, then returns.
    virtual void ProcessMessages() = 0;
    // Like ProcessMessages, but first waits (without using the processor) until an event is
    // due. For waits that a timer of the caller's will end; a host that cannot wait just
    // processes what is pending.
    virtual void WaitMessages() { ProcessMessages(); }

    virtual void Beep() = 0;
};

}  // namespace corvel
