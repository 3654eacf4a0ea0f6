#pragma once
// The "Capture" page of the main window: a switch that copies everything received into a file
// (chosen with a save dialog, or named from the port and the time in a chosen folder), raw or as
// time-stamped text lines, appended or replacing. "Capture at connect" starts one at every
// Connect; a capture ends at Disconnect, at the switch, at a lost port and at exit. Its choices
// live in the [CAPTURE] section of the settings file; the status bar shows the file and its size.
//
// It listens on the window's receive listeners, so it keeps exactly what the receive window is
// given: bytes read by a file transfer go to the transfer's own file, not here.

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "terminal/capture.h"
#include "terminal/receive_listeners.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace corvel {

class TfrmTerminal;

class CaptureControl : public QObject {
    Q_OBJECT
  public:
    // commandLineFile: `--capture FILE`, a raw capture from every Connect of this run (the first
    // replaces the file, later ones append), not remembered.
    CaptureControl(TfrmTerminal& window, std::optional<QString> commandLineFile);
    ~CaptureControl() override;

    // Hooks of the main window's connection.
    void Connected();
    void Disconnected();

    void cbxCaptureClick();
    void btnCaptureFileClick();
    bool Capturing() const { return writer_.Active(); }
    CaptureWriter& Writer() { return writer_; }

    QWidget* tsCapture = nullptr;
    QCheckBox* cbxCapture = nullptr;
    QComboBox* cbxCaptureNaming = nullptr;  // 0: the file below; 1: port and time in the folder
    QLineEdit* edtCaptureFile = nullptr;
    QPushButton* btnCaptureFile = nullptr;
    QRadioButton* rbCaptureRaw = nullptr;
    QRadioButton* rbCaptureText = nullptr;
    QCheckBox* cbxCaptureAppend = nullptr;
    QCheckBox* cbxCaptureAtConnect = nullptr;

  private:
    void Begin(const CaptureOptions& options);
    void End();
    // The path of the next capture from the page; empty when the user dismissed the dialog.
    QString NextPath();
    void ReadSettings();
    void WriteSettings();
    void ShowStatus();
    void ShowSwitch(bool on);

    TfrmTerminal& w;
    CaptureWriter writer_;
    ReceiveListeners::Id listener_ = 0;
    std::optional<QString> commandLineFile_;
    bool commandLineStarted_ = false;
    bool loading_ = false;
    QString folder_;  // remembered apart from the file
    QString file_;
    std::uint32_t statusTimer_ = 0;
};

}  // namespace corvel
