#pragma once
// The window's line controls: frame format, XON/XOFF, DTR and RTS, the reset pulse and BREAK,
// the modem indicators and the connection's status-bar fields. Built into the main window's
// pages by a few hooks; reads and writes its own settings section [LINE].

#include <QObject>
#include <optional>

#include "host/host.h"
#include "terminal/line_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace corvel {

class TfrmTerminal;
class tIniFile;

class LineControl : public QObject {
  public:
    LineControl(TfrmTerminal& window, LineOverrides overrides);
    ~LineControl() override;

    // Around the connect and disconnect of the Connect button.
    void BeforeConnect();
    void AfterConnect();
    void AfterDisconnect();
    void WriteSettings(tIniFile& ini);
    // The choices as the controls show them.
    LineSettings Current() const;
    // Brings the status fields and the buttons' states up to date (also a few times a second
    // while connected).
    void Refresh();

    void btnResetClick();
    void btnBreakClick();
    void cbxDTRClick();
    void cbxRTSClick();
    void cbxXonXoffClick();

    QComboBox* cbxDataBits = nullptr;
    QComboBox* cbxParity = nullptr;
    QComboBox* cbxStopBits = nullptr;
    QCheckBox* cbxXonXoff = nullptr;
    QCheckBox* cbxDTR = nullptr;
    QCheckBox* cbxRTS = nullptr;
    QPushButton* btnReset = nullptr;
    QPushButton* btnBreak = nullptr;
    QToolButton* btnLineOptions = nullptr;
    QComboBox* cbxPulseLine = nullptr;
    QComboBox* cbxPulseLevel = nullptr;
    QSpinBox* edtPulseMs = nullptr;
    QSpinBox* edtBreakMs = nullptr;

    static constexpr std::uint32_t kRefreshMs = 250;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Build();
    void Show(const LineSettings& s);
    void ReportSettingsWrite();
    void StopTimer();
    void Log(std::int32_t color, const QString& text);

    TfrmTerminal& w_;
    LineOverrides overrides_;
    LineSettings stored_;  // as read from the file
    Host::TimerId timer_ = 0;
    QLabel* countsLabel_ = nullptr;
    std::string lastNote_;  // the note already logged on this connection
};

}  // namespace corvel
