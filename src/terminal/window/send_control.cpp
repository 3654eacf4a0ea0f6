#include "terminal/window/send_control.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <algorithm>

#include "host/codepage.h"
#include "terminal/settings_file.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/key_chars.h"
#include "terminal/window/rx_view.h"
#include "terminal/window/terminal.h"

namespace corvel {

namespace {

constexpr const char* kSection = "SEND";
constexpr const char* kHistorySection = "SEND HISTORY";
constexpr int kMaxDelayMs = 10000;

const char* const kFormatNames[] = {"Text", "Hex", "Escapes"};

// The box layout that holds w, searched from root down.
QBoxLayout* LayoutHolding(QLayout* root, QWidget* w) {
    if (!root) return nullptr;
    if (root->indexOf(w) >= 0) return qobject_cast<QBoxLayout*>(root);
    for (int i = 0; i < root->count(); ++i) {
        if (QBoxLayout* found = LayoutHolding(root->itemAt(i)->layout(), w)) return found;
        if (QWidget* child = root->itemAt(i)->widget())
            if (QBoxLayout* found = LayoutHolding(child->layout(), w)) return found;
    }
    return nullptr;
}

bool IsCtrl(Qt::KeyboardModifiers m) {
#if defined(Q_OS_MACOS)
    return m & Qt::MetaModifier;
#else
    return m & Qt::ControlModifier;
#endif
}

}  // namespace

SendControl::SendControl(TfrmTerminal& window)
    : QObject(&window),
      w(window),
      paced_(window.host(), [this](const std::uint8_t* data, std::int32_t size) {
          return MayWrite() ? w.uartDriver->SendData(data, size) : 0;
      }) {
    BuildControls();
    paced_.onWritten = [this](std::string_view bytes) { Echo(bytes); };
    paced_.onStall = [this](std::size_t written, std::size_t dropped) {
        // A disconnect or a transfer has said why already.
        const bool stopped = fileKeepGoing_ && !(*fileKeepGoing_)();
        if (w.uartDriver->Connected() && (!w.fileTransferActive || inFileSend_) && !stopped)
            w.ReportShortSend(static_cast<std::int32_t>(written),
                              static_cast<std::int32_t>(written + dropped));
        UpdateSendButton();
    };
    paced_.onIdle = [this] { UpdateSendButton(); };
    if (w.iniFile) ReadSettings(*w.iniFile);
}

SendControl::~SendControl() = default;

void SendControl::BuildControls() {
    // Beside the send line: the format it is read in.
    cbxSendFormat = new QComboBox(w.centralWidget());
    cbxSendFormat->setObjectName("cbxSendFormat");
    for (const char* name : kFormatNames) cbxSendFormat->addItem(name);
    cbxSendFormat->setToolTip(
        "How the send line and the list commands are read:\n"
        "Text: as typed\nHex: bytes, e.g. 01 02 ff, 0x55 0xAA or 55AA\n"
        "Escapes: text with \\r \\n \\t \\e \\xNN \\\\");
    if (QBoxLayout* bar = LayoutHolding(w.btnSend->parentWidget()->layout(), w.btnSend))
        bar->insertWidget(bar->indexOf(w.btnSend), cbxSendFormat);

    // The third line end.
    rgrCmdT_CR = new QRadioButton("CR (\\r) (#13)", w.rgrCmdT);
    rgrCmdT_CR->setObjectName("rgrCmdT_CR");
    w.rgrCmdTGroup->addButton(rgrCmdT_CR, kTerminatorCr);
    // Under the other two: a third item in their row would widen the page, and so the window.
    delete w.rgrCmdT->layout();
    auto* items = new QGridLayout(w.rgrCmdT);
    items->addWidget(w.rgrCmdTGroup->button(0), 0, 0);
    items->addWidget(w.rgrCmdTGroup->button(1), 0, 1);
    items->addWidget(rgrCmdT_CR, 1, 0);

    // The page of send settings: echo, terminal keys and pacing in a column of their own.
    cbxLocalEcho = new QCheckBox("Local echo", w.tsSend);
    cbxLocalEcho->setObjectName("cbxLocalEcho");
    cbxLocalEcho->setToolTip("Show what is sent in the receive window, as an echoing board would");
    cbxTermKeys = new QCheckBox("Terminal keys", w.tsSend);
    cbxTermKeys->setObjectName("cbxTermKeys");
    cbxTermKeys->setToolTip(
        "Arrows, Home, End, Insert, Delete, Page Up/Down and F1-F12 in the receive window send "
        "their VT100/xterm sequences");
    auto spin = [this](const char* name, const char* tip) {
        auto* s = new QSpinBox(w.tsSend);
        s->setObjectName(name);
        s->setRange(0, kMaxDelayMs);
        s->setSuffix(" ms");
        s->setToolTip(tip);
        s->setMaximumWidth(72);
        return s;
    };
    edtCharDelay = spin("edtCharDelay", "Pause after each character sent (0 = none)");
    edtLineDelay = spin("edtLineDelay", "Pause after each line sent (0 = none)");
    auto* pacingRow = new QHBoxLayout;
    pacingRow->setContentsMargins(0, 0, 0, 0);
    auto* lblPacing = new QLabel("Pause char", w.tsSend);
    lblPacing->setObjectName("lblPacing");
    auto* lblLine = new QLabel("line", w.tsSend);
    lblLine->setObjectName("lblLineDelay");
    pacingRow->addWidget(lblPacing);
    pacingRow->addWidget(edtCharDelay);
    pacingRow->addWidget(lblLine);
    pacingRow->addWidget(edtLineDelay);
    auto* column = new QVBoxLayout;
    column->addWidget(cbxLocalEcho);
    column->addWidget(cbxTermKeys);
    column->addLayout(pacingRow);
    if (auto* row = qobject_cast<QBoxLayout*>(w.tsSend->layout()))
        row->insertLayout(std::max(row->count() - 1, 0), column);

    connect(edtCharDelay, &QSpinBox::valueChanged, this,
            [this] { paced_.SetPacing(CurrentPacing()); });
    connect(edtLineDelay, &QSpinBox::valueChanged, this,
            [this] { paced_.SetPacing(CurrentPacing()); });
    connect(w.edtSend, &QLineEdit::textEdited, this, [this] { historyPos_ = -1; });
    w.edtSend->installEventFilter(this);
    w.memoUart->viewport()->installEventFilter(this);
}

// ---------------------------------------------------------------------------------------------
// Settings

void SendControl::ReadSettings(const tIniFile& ini) {
    cbxSendFormat->setCurrentIndex(
        static_cast<int>(SendFormatFromInt(ini.ReadInteger(kSection, "FORMAT", 0))));
    if (ini.ReadBool(kSection, "TERMINATOR CR", false)) {
        rgrCmdT_CR->setChecked(true);
        w.rgrCmdTClick();
    }
    cbxLocalEcho->setChecked(ini.ReadBool(kSection, "LOCAL ECHO", false));
    cbxTermKeys->setChecked(ini.ReadBool(kSection, "TERMINAL KEYS", true));
    edtCharDelay->setValue(std::clamp(ini.ReadInteger(kSection, "CHAR DELAY", 0), 0, kMaxDelayMs));
    edtLineDelay->setValue(std::clamp(ini.ReadInteger(kSection, "LINE DELAY", 0), 0, kMaxDelayMs));
    paced_.SetPacing(CurrentPacing());

    history_.clear();
    const int count = std::clamp(ini.ReadInteger(kHistorySection, "COUNT", 0), 0, kHistorySize);
    for (int i = 1; i <= count; ++i) {
        const std::string key = "LINE " + std::to_string(i);
        if (!ini.ValueExists(kHistorySection, key)) continue;
        const QString line = QString::fromStdString(ini.ReadString(kHistorySection, key, ""));
        if (!line.isEmpty() && !history_.contains(line)) history_.append(line);
    }
}

void SendControl::WriteSettings(tIniFile& ini) const {
    ini.Update([&] {
        ini.WriteInteger(kSection, "FORMAT", cbxSendFormat->currentIndex());
        ini.WriteBool(kSection, "TERMINATOR CR", rgrCmdT_CR->isChecked());
        ini.WriteBool(kSection, "LOCAL ECHO", cbxLocalEcho->isChecked());
        ini.WriteBool(kSection, "TERMINAL KEYS", cbxTermKeys->isChecked());
        ini.WriteInteger(kSection, "CHAR DELAY", edtCharDelay->value());
        ini.WriteInteger(kSection, "LINE DELAY", edtLineDelay->value());
        ini.WriteInteger(kHistorySection, "COUNT", static_cast<std::int32_t>(history_.size()));
        for (int i = 0; i < history_.size(); ++i)
            ini.WriteString(kHistorySection, "LINE " + std::to_string(i + 1),
                            history_[i].toStdString());
    });
}

SendFormat SendControl::Format() const {
    return SendFormatFromInt(cbxSendFormat->currentIndex());
}

Pacing SendControl::CurrentPacing() const {
    return {static_cast<std::uint32_t>(edtCharDelay->value()),
            static_cast<std::uint32_t>(edtLineDelay->value())};
}

// ---------------------------------------------------------------------------------------------
// Sending

bool SendControl::MayWrite() {
    if (!w.uartDriver->Connected()) return false;
    if (fileKeepGoing_ && !(*fileKeepGoing_)()) return false;
    // A transfer owns the line; what was still waiting would land inside its frames.
    if (w.fileTransferActive && !inFileSend_) {
        const std::size_t dropped = paced_.Pending();
        if (dropped != 0)
            w.printf_Log(w.ColorWarning,
                         "Sending stopped for the file transfer, %zu bytes not sent", dropped);
        return false;
    }
    return true;
}

void SendControl::Queue(std::string_view bytes) {
    paced_.Send(bytes);
    UpdateSendButton();
}

void SendControl::SendCommand(const QString& text, bool fromSendLine) {
    const SendParse parsed = ParseSendLine(text.toStdString(), Format());
    if (!parsed.ok) {
        w.printf_Log(w.ColorError, "Not sent: %s at column %zu of the %s line",
                     parsed.error.c_str(), parsed.errorAt + 1,
                     Format() == SendFormat::Hex ? "hex" : "escaped");
        return;
    }
    std::string bytes = parsed.bytes;
    if (w.cbxSend->isChecked()) bytes += w.SendTerminator;
    if (fromSendLine) Remember(text);
    Queue(bytes);
}

void SendControl::SendTyped(std::uint8_t byte) {
    Queue(std::string_view(reinterpret_cast<const char*>(&byte), 1));
}

void SendControl::Paste(bool selection) {
    if (w.fileTransferActive) {
        w.print_Log(w.ColorWarning, "Command ignored, there are an file being transferred");
        return;
    }
    if (!w.uartDriver->Connected()) {
        w.print_Log(w.ColorWarning, "UART disconnected");
        return;
    }
    QClipboard* clip = QGuiApplication::clipboard();
    const QClipboard::Mode mode =
        selection && clip->supportsSelection() ? QClipboard::Selection : QClipboard::Clipboard;
    QString text = clip->text(mode);
    if (text.isEmpty()) return;
    // Each line end as the Enter key sends it, so the board sees typed lines.
    text.replace("\r\n", "\n").replace('\r', '\n');
    if (!w.cbxRet->isChecked()) text.replace('\n', '\r');
    const std::string bytes = Utf8ToAnsi(text.toStdString());
    if (bytes.size() > kPasteAskAbove &&
        !w.dialogs().Question(&w, QString("Paste %1 bytes to the board?").arg(bytes.size())))
        return;
    Queue(bytes);
}

std::int32_t SendControl::WriteFileBlock(const std::uint8_t* data, std::int32_t size,
                                         const std::function<bool()>& keepGoing) {
    if (!paced_.GetPacing().On() && !paced_.Busy()) return w.uartDriver->SendData(data, size);
    inFileSend_ = true;
    fileKeepGoing_ = &keepGoing;
    const std::size_t wrote = paced_.SendAndWait(
        std::string_view(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size)),
        keepGoing);
    inFileSend_ = false;
    fileKeepGoing_ = nullptr;
    return static_cast<std::int32_t>(wrote);
}

void SendControl::Stop() {
    const std::size_t dropped = paced_.Stop();
    if (dropped != 0) w.printf_Log(w.ColorWarning, "Sending stopped, %zu bytes not sent", dropped);
    UpdateSendButton();
}

void SendControl::UpdateSendButton() {
    // While a paced send runs, the Send button stops it.
    w.btnSend->setText(paced_.Busy() && !inFileSend_ ? "Stop" : "Send");
}

void SendControl::Echo(std::string_view bytes) {
    if (!cbxLocalEcho->isChecked() || inFileSend_ || !w.rxRender) return;
    // A board that echoes answers a lone CR with CR LF; without it every line would overwrite
    // the last.
    std::string shown;
    shown.reserve(bytes.size() + 8);
    for (char c : bytes) {
        if (c == '\n' && echoAfterCr_) {
            echoAfterCr_ = false;
            continue;
        }
        echoAfterCr_ = c == '\r';
        shown += c;
        if (c == '\r') shown += '\n';
    }
    if (!shown.empty())
        w.rxRender->printf_ReceiveData(reinterpret_cast<const std::uint8_t*>(shown.data()),
                                       shown.size());
}

// ---------------------------------------------------------------------------------------------
// History

void SendControl::Remember(const QString& line) {
    history_.removeAll(line);
    history_.prepend(line);
    while (history_.size() > kHistorySize) history_.removeLast();
    historyPos_ = -1;
}

void SendControl::WalkHistory(int step) {
    const int next = std::clamp(historyPos_ + step, -1, static_cast<int>(history_.size()) - 1);
    if (next == historyPos_) return;
    if (historyPos_ == -1) draft_ = w.edtSend->text();
    historyPos_ = next;
    w.edtSend->setText(next == -1 ? draft_ : history_[next]);
}

// ---------------------------------------------------------------------------------------------
// Keys and mouse

bool SendControl::ReceiveWindowKey(QKeyEvent* ke) {
    const int key = ke->key();
    const Qt::KeyboardModifiers m = ke->modifiers() & ~Qt::KeypadModifier;
    const bool ctrlShift = IsCtrl(m) && (m & Qt::ShiftModifier) && !(m & Qt::AltModifier);
    if (ctrlShift && key == Qt::Key_C) {
        w.memoUart->copy();
        return true;
    }
    if ((ctrlShift && key == Qt::Key_V) || (m == Qt::ShiftModifier && key == Qt::Key_Insert)) {
        Paste(false);
        return true;
    }
    if (m == Qt::ShiftModifier && (key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        QScrollBar* bar = w.memoUart->verticalScrollBar();
        bar->triggerAction(key == Qt::Key_PageUp ? QAbstractSlider::SliderPageStepSub
                                                 : QAbstractSlider::SliderPageStepAdd);
        return true;
    }
    if (!cbxTermKeys->isChecked() || w.fileTransferActive) return false;
    const std::string seq = TerminalKeySequence(ke);
    if (seq.empty()) return false;
    if (!w.uartDriver->Connected()) {
        w.print_Log(w.ColorWarning, "UART disconnected");
        return true;
    }
    Queue(seq);
    return true;
}

bool SendControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == w.edtSend && event->type() == QEvent::KeyPress) {
        const auto* ke = static_cast<QKeyEvent*>(event);
        if (ke->modifiers() == Qt::NoModifier || ke->modifiers() == Qt::KeypadModifier) {
            if (ke->key() == Qt::Key_Up) {
                WalkHistory(1);
                return true;
            }
            if (ke->key() == Qt::Key_Down) {
                WalkHistory(-1);
                return true;
            }
        }
    } else if (watched == w.memoUart->viewport() && event->type() == QEvent::MouseButtonPress) {
        if (static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton) {
            w.memoUart->setFocus();
            Paste(true);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace corvel
