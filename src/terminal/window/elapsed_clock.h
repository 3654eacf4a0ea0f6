#pragma once
// Seven-segment display of the time since it was last started (hh:mm:ss). Lit segments take the
// high colour; the low colour is the colour of unlit segments and of the background.

#include <QColor>
#include <QElapsedTimer>
#include <QLCDNumber>

class QTimer;

namespace corvel {

class ElapsedClock : public QLCDNumber {
    Q_OBJECT
  public:
    explicit ElapsedClock(QWidget* parent = nullptr);

    void Start();
    void Stop();
    bool Running() const;

    void SetHighColor(const QColor& c);
    void SetLowColor(const QColor& c);
    // Paints the background with the low colour.
    void ApplyBackground();
    QColor HighColor() const { return high_; }
    QColor LowColor() const { return low_; }
    QColor BackgroundColor() const;

    // Shows a given number of seconds; the timer calls this with the time elapsed.
    void ShowSeconds(qint64 seconds);

  private:
    QTimer* tick_;
    QElapsedTimer since_;
    QColor high_;
    QColor low_;
};

}  // namespace corvel
