#pragma once
// Sending like a terminal, beyond the one byte per typed character: the send line's formats
// (text, hex, escapes) and its history, the CR-only line end, paste and copy in the receive
// window, the keys that send terminal sequences, local echo, and pacing for boards without flow
// control. Everything the send line, the command lists, pastes and typed keys send goes through
// one paced sender, so bytes leave in the order they were asked for and one Stop ends them all.
//
// Its settings live in [SEND] and [SEND HISTORY] of the settings file; [RGR] CMD TERMINATOR keeps
// its stored meaning (0 LF, anything else CR LF) and the CR choice is a key of its own.

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "terminal/paced_send.h"
#include "terminal/send_format.h"

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QRadioButton;
class QSpinBox;

namespace corvel {

class TfrmTerminal;
class tIniFile;

class SendControl : public QObject {
    Q_OBJECT
  public:
    static constexpr int kHistorySize = 100;
    static constexpr std::size_t kPasteAskAbove = 4096;
    // The id of the CR-only item in the termination group.
    static constexpr int kTerminatorCr = 2;

    // Adds its controls to the window and reads its settings. Built after the window's start-up.
    explicit SendControl(TfrmTerminal& window);
    ~SendControl() override;

    void ReadSettings(const tIniFile& ini);
    void WriteSettings(tIniFile& ini) const;

    // A command of the send line (remembered in the history) or of a list: read in the chosen
    // format, the termination appended when "Send Termination" is on, and sent. A line that
    // does not parse is refused with one log line and nothing is sent. The caller has checked
    // the port and the transfer flag.
    void SendCommand(const QString& text, bool fromSendLine);
    // One typed byte; behind whatever is still being sent.
    void SendTyped(std::uint8_t byte);
    // The clipboard (or the X11 selection) as typed text, after a question when it is long.
    void Paste(bool selection);
    // A key pressed in the receive window that this class handles (copy, paste, scrolling,
    // terminal keys); false leaves the key to the window's own handling.
    bool ReceiveWindowKey(QKeyEvent* ke);
    // A block of a raw file send: paced when pacing is on, waiting with the window alive until
    // it is out or keepGoing says no. Returns the bytes written.
    std::int32_t WriteFileBlock(const std::uint8_t* data, std::int32_t size,
                                const std::function<bool()>& keepGoing);

    bool Busy() const { return paced_.Busy(); }
    // Drops what a paced send has not sent yet.
    void Stop();

    SendFormat Format() const;
    Pacing CurrentPacing() const;
    const QStringList& History() const { return history_; }

    // Controls (object names equal these member names).
    QComboBox* cbxSendFormat = nullptr;
    QRadioButton* rgrCmdT_CR = nullptr;
    QCheckBox* cbxLocalEcho = nullptr;
    QCheckBox* cbxTermKeys = nullptr;
    QSpinBox* edtCharDelay = nullptr;
    QSpinBox* edtLineDelay = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void Queue(std::string_view bytes);
    void Echo(std::string_view bytes);
    void Remember(const QString& line);
    void WalkHistory(int step);
    void UpdateSendButton();
    // Copes with a transfer or a disconnect that came while a paced send was waiting.
    bool MayWrite();

    TfrmTerminal& w;
    tPacedSender paced_;
    bool inFileSend_ = false;
    // While a file block waits: asked before each piece, so a Stop click sends nothing more.
    const std::function<bool()>* fileKeepGoing_ = nullptr;
    bool echoAfterCr_ = false;
    QStringList history_;  // newest first
    int historyPos_ = -1;
    QString draft_;  // the line being typed before walking the history
};

}  // namespace corvel
