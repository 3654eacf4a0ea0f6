#include "terminal/window/elapsed_clock.h"

#include <QPalette>
#include <QTimer>

namespace corvel {

ElapsedClock::ElapsedClock(QWidget* parent) : QLCDNumber(8, parent), tick_(new QTimer(this)) {
    setSegmentStyle(QLCDNumber::Flat);
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
    // Half a second keeps the display within a second of the truth without drifting.
    tick_->setInterval(500);
    connect(tick_, &QTimer::timeout, this, [this] { ShowSeconds(since_.elapsed() / 1000); });
    ShowSeconds(0);
}

void ElapsedClock::Start() {
    since_.start();
    ShowSeconds(0);
    tick_->start();
}

void ElapsedClock::Stop() {
    if (!tick_->isActive()) return;
    tick_->stop();
    ShowSeconds(since_.elapsed() / 1000);
}

bool ElapsedClock::Running() const {
    return tick_->isActive();
}

void ElapsedClock::SetHighColor(const QColor& c) {
    high_ = c;
    QPalette p = palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Light, c);
    setPalette(p);
}

void ElapsedClock::SetLowColor(const QColor& c) {
    low_ = c;
    QPalette p = palette();
    p.setColor(QPalette::Dark, c);
    p.setColor(QPalette::Shadow, c);
    setPalette(p);
}

void ElapsedClock::ApplyBackground() {
    QPalette p = palette();
    p.setColor(QPalette::Window, low_);
    setPalette(p);
}

QColor ElapsedClock::BackgroundColor() const {
    return palette().color(QPalette::Window);
}

void ElapsedClock::ShowSeconds(qint64 seconds) {
    if (seconds < 0) seconds = 0;
    const qint64 h = (seconds / 3600) % 100;
    const qint64 m = (seconds / 60) % 60;
    const qint64 s = seconds % 60;
    display(QString("%1:%2:%3")
                .arg(h, 2, 10, QLatin1Char('0'))
                .arg(m, 2, 10, QLatin1Char('0'))
                .arg(s, 2, 10, QLatin1Char('0')));
}

}  // namespace corvel
