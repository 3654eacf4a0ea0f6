#pragma once
// The core's host services on the Qt event loop: timers are QTimers on the UI thread, pumping is
// processEvents, the clock is a monotonic QElapsedTimer.

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <map>
#include <vector>

#include "host/host.h"

namespace corvel {

class QtHost : public Host {
  public:
    QtHost();
    ~QtHost() override;
    QtHost(const QtHost&) = delete;
    QtHost& operator=(const QtHost&) = delete;

    std::uint64_t NowMs() override;
    TimerId StartTimer(std::uint32_t periodMs, TickFn onTick) override;
    void StopTimer(TimerId id) override;
    void ProcessMessages() override;
    void WaitMessages() override;
    void Beep() override;

  private:
    QElapsedTimer clock_;
    TimerId nextId_ = 1;
    std::map<TimerId, QTimer*> timers_;
    // Stopped timers waiting for deferred deletion; freed here if the loop never gets to them.
    std::vector<QPointer<QTimer>> retired_;
};

}  // namespace corvel
