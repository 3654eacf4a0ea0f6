#include "terminal/window/qt_host.h"

#include <QApplication>
#include <algorithm>
#include <climits>

namespace corvel {

QtHost::QtHost() {
    clock_.start();
}

QtHost::~QtHost() {
    for (auto& [id, timer] : timers_) delete timer;
    for (QPointer<QTimer>& timer : retired_) delete timer.data();
}

std::uint64_t QtHost::NowMs() {
    return static_cast<std::uint64_t>(clock_.elapsed());
}

Host::TimerId QtHost::StartTimer(std::uint32_t periodMs, TickFn onTick) {
    TimerId id = nextId_++;
    if (id == 0) id = nextId_++;  // after wrapping: 0 never names a timer
    auto* timer = new QTimer;
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(std::min<std::uint32_t>(periodMs, INT32_MAX)));
    QObject::connect(timer, &QTimer::timeout, timer, [tick = std::move(onTick)] { tick(); });
    timers_[id] = timer;
    timer->start();
    return id;
}

void QtHost::StopTimer(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    QTimer* timer = it->second;
    timers_.erase(it);
    timer->stop();
    // The tick that asks for the stop may still be running inside this timer's signal.
    timer->deleteLater();
    std::erase_if(retired_, [](const QPointer<QTimer>& t) { return t.isNull(); });
    retired_.emplace_back(timer);
}

void QtHost::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtHost::WaitMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtHost::Beep() {
    QApplication::beep();
}

}  // namespace corvel
