#include "terminal/window/line_control.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

#include "terminal/settings_file.h"
#include "terminal/window/application.h"
#include "terminal/window/status_fields.h"
#include "terminal/window/terminal.h"

namespace corvel {

namespace {

const char* OnOff(bool on) {
    return on ? "on" : "off";
}

const char* LineName(TComPortLine line) {
    return line == TComPortLine::DTR ? "DTR" : "RTS";
}

QString FlowName(bool rtsCts, bool xonXoff) {
    if (rtsCts && xonXoff) return "RTS/CTS and XON/XOFF";
    if (rtsCts) return "RTS/CTS";
    if (xonXoff) return "XON/XOFF";
    return "none";
}

QString Lamp(const char* name, bool on) {
    return QString("%1 %2").arg(name, on ? QStringLiteral("\u25CF") : QStringLiteral("\u25CB"));
}

}  // namespace

LineControl::LineControl(TfrmTerminal& window, LineOverrides overrides)
    : QObject(&window), w_(window), overrides_(overrides) {
    Build();
    std::vector<std::string> problems;
    try {
        LoadLineSettings(*w_.iniFile, stored_, problems);
    } catch (const std::exception& e) {
        problems.push_back(e.what());
    }
    for (const std::string& p : problems) Log(w_.ColorError, QString::fromStdString(p));
    LineSettings shown = stored_;
    if (overrides_.format) shown.format = *overrides_.format;
    if (overrides_.dtr) shown.dtr = *overrides_.dtr;
    if (overrides_.rts) shown.rts = *overrides_.rts;
    Show(shown);
    Refresh();
}

LineControl::~LineControl() {
    StopTimer();
}

void LineControl::Build() {
    auto combo = [](QWidget* parent, const char* name, const QStringList& items,
                    const QString& tip) {
        auto* c = new QComboBox(parent);
        c->setObjectName(name);
        c->addItems(items);
        c->setToolTip(tip);
        return c;
    };
    QWidget* page = w_.tsPort;
    cbxDataBits = combo(page, "cbxDataBits", {"5", "6", "7", "8"}, "Data bits");
    cbxParity =
        combo(page, "cbxParity", {"N", "O", "E", "M", "S"}, "Parity: none, odd, even, mark, space");
    cbxStopBits = combo(page, "cbxStopBits", {"1", "1.5", "2"}, "Stop bits");
    cbxDTR = new QCheckBox("DTR", page);
    cbxDTR->setObjectName("cbxDTR");
    cbxDTR->setToolTip("DTR on (asserted); applied when the port opens and at once while open");
    cbxRTS = new QCheckBox("RTS", page);
    cbxRTS->setObjectName("cbxRTS");
    cbxRTS->setToolTip("RTS on (asserted); RTS/CTS flow control drives it when checked");
    btnReset = new QPushButton("Reset", page);
    btnReset->setObjectName("btnReset");
    btnBreak = new QPushButton("BREAK", page);
    btnBreak->setObjectName("btnBreak");
    btnLineOptions = new QToolButton(page);
    btnLineOptions->setObjectName("btnLineOptions");
    btnLineOptions->setText("...");
    btnLineOptions->setToolTip("Reset pulse and BREAK settings");
    btnLineOptions->setPopupMode(QToolButton::InstantPopup);

    // The pulse and BREAK choices live in a small popup, so the page keeps its size.
    auto* menu = new QMenu(btnLineOptions);
    menu->setObjectName("popLineOptions");
    auto* form = new QWidget(menu);
    auto* formLayout = new QFormLayout(form);
    cbxPulseLine = combo(form, "cbxPulseLine", {"DTR", "RTS"}, "The line the reset pulses");
    cbxPulseLevel = combo(form, "cbxPulseLevel", {"on", "off"},
                          "The level the line is driven to during the pulse");
    edtPulseMs = new QSpinBox(form);
    edtPulseMs->setObjectName("edtPulseMs");
    edtBreakMs = new QSpinBox(form);
    edtBreakMs->setObjectName("edtBreakMs");
    for (QSpinBox* box : {edtPulseMs, edtBreakMs}) {
        box->setRange(static_cast<int>(kMinLineActionMs), static_cast<int>(kMaxLineActionMs));
        box->setSuffix(" ms");
    }
    formLayout->addRow("Reset pulses", cbxPulseLine);
    formLayout->addRow("to the level", cbxPulseLevel);
    formLayout->addRow("for", edtPulseMs);
    formLayout->addRow("BREAK lasts", edtBreakMs);
    auto* action = new QWidgetAction(menu);
    action->setDefaultWidget(form);
    menu->addAction(action);
    btnLineOptions->setMenu(menu);

    auto* row = new QHBoxLayout;
    auto* lblFormat = new QLabel("Format", page);
    lblFormat->setObjectName("lblFormat");
    row->addWidget(lblFormat);
    row->addWidget(cbxDataBits);
    row->addWidget(cbxParity);
    row->addWidget(cbxStopBits);
    row->addSpacing(16);
    row->addWidget(cbxDTR);
    row->addWidget(cbxRTS);
    row->addSpacing(16);
    row->addWidget(btnReset);
    row->addWidget(btnBreak);
    row->addWidget(btnLineOptions);
    row->addStretch();
    if (auto* pageLayout = qobject_cast<QVBoxLayout*>(page->layout())) pageLayout->addLayout(row);

    cbxXonXoff = new QCheckBox("Use XON/XOFF Flow Control", w_.tsSend);
    cbxXonXoff->setObjectName("cbxXonXoff");
    if (auto* sendRow = qobject_cast<QHBoxLayout*>(w_.tsSend->layout()))
        sendRow->insertWidget(sendRow->count() - 1, cbxXonXoff, 0, Qt::AlignTop);

    const auto run = [this](void (LineControl::*fn)()) {
        return [this, fn] { RunHandler([this, fn] { (this->*fn)(); }); };
    };
    connect(btnReset, &QPushButton::clicked, this, run(&LineControl::btnResetClick));
    connect(btnBreak, &QPushButton::clicked, this, run(&LineControl::btnBreakClick));
    connect(cbxDTR, &QCheckBox::clicked, this, run(&LineControl::cbxDTRClick));
    connect(cbxRTS, &QCheckBox::clicked, this, run(&LineControl::cbxRTSClick));
    connect(cbxXonXoff, &QCheckBox::clicked, this, run(&LineControl::cbxXonXoffClick));
    connect(w_.cbxRTSCTS, &QCheckBox::toggled, this, [this] { Refresh(); });
    for (QComboBox* c : {cbxDataBits, cbxParity, cbxStopBits, cbxPulseLine, cbxPulseLevel})
        connect(c, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
    for (QSpinBox* b : {edtPulseMs, edtBreakMs})
        connect(b, &QSpinBox::valueChanged, this, [this] { Refresh(); });
    for (QComboBox* c : {w_.cbxPort, w_.cbxBaud})
        connect(c, &QComboBox::editTextChanged, this, [this] { Refresh(); });

    // Fields of the status bar, in this order; a click on the counts resets them.
    w_.status->Set("port", " ");
    w_.status->Set("state", "disconnected");
    w_.status->Set("counts", "RX 0  TX 0");
    w_.status->SetToolTip("counts", "Bytes received and sent on this connection; click to reset");
    w_.status->Set("modem", "");
    countsLabel_ = w_.statusBar()->findChild<QLabel*>("status_counts");
    if (countsLabel_) countsLabel_->installEventFilter(this);
}

bool LineControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == countsLabel_ && event->type() == QEvent::MouseButtonRelease) {
        w_.uartDriver->ResetByteCounts();
        Refresh();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void LineControl::Show(const LineSettings& s) {
    cbxDataBits->setCurrentIndex(s.format.dataBits);
    cbxParity->setCurrentIndex(s.format.parity);
    cbxStopBits->setCurrentIndex(s.format.stopBits);
    cbxXonXoff->setChecked(s.xonXoff);
    cbxDTR->setChecked(s.dtr);
    cbxRTS->setChecked(s.rts);
    cbxPulseLine->setCurrentIndex(s.pulseLine == TComPortLine::DTR ? 0 : 1);
    cbxPulseLevel->setCurrentIndex(s.pulseActive ? 0 : 1);
    edtPulseMs->setValue(static_cast<int>(s.pulseMs));
    edtBreakMs->setValue(static_cast<int>(s.breakMs));
}

LineSettings LineControl::Current() const {
    LineSettings s;
    s.format.dataBits = static_cast<TComPortDataBits>(cbxDataBits->currentIndex());
    s.format.parity = static_cast<TComPortParity>(cbxParity->currentIndex());
    s.format.stopBits = static_cast<TComPortStopBits>(cbxStopBits->currentIndex());
    s.xonXoff = cbxXonXoff->isChecked();
    s.dtr = cbxDTR->isChecked();
    s.rts = cbxRTS->isChecked();
    s.pulseLine = cbxPulseLine->currentIndex() == 0 ? TComPortLine::DTR : TComPortLine::RTS;
    s.pulseActive = cbxPulseLevel->currentIndex() == 0;
    s.pulseMs = static_cast<std::uint32_t>(edtPulseMs->value());
    s.breakMs = static_cast<std::uint32_t>(edtBreakMs->value());
    return s;
}

void LineControl::WriteSettings(tIniFile& ini) {
    LineSettings s = Current();
    // A value given on the command line was for this run: unless changed since, the remembered
    // one stays.
    if (overrides_.format && s.format == *overrides_.format) s.format = stored_.format;
    if (overrides_.dtr && s.dtr == *overrides_.dtr) s.dtr = stored_.dtr;
    if (overrides_.rts && s.rts == *overrides_.rts) s.rts = stored_.rts;
    WriteLineSettings(ini, s);
}

void LineControl::Log(std::int32_t color, const QString& text) {
    w_.print_Log(color, text);
}

void LineControl::BeforeConnect() {
    const LineSettings s = Current();
    TCommPortDriver& d = *w_.uartDriver;
    // Stored while closed: the open applies them all in its one settings write, with DTR and
    // RTS already at their levels, so the lines make no pulse of their own.
    d.SetComPortDataBits(s.format.dataBits);
    d.SetComPortParity(s.format.parity);
    d.SetComPortStopBits(s.format.stopBits);
    d.SetComPortSwHandshaking(s.xonXoff ? shXONXOFF : shNONE);
    d.EnableDTROnOpen = s.dtr;
    d.EnableRTSOnOpen = s.rts;
}

void LineControl::AfterConnect() {
    const LineSettings s = Current();
    TCommPortDriver& d = *w_.uartDriver;
    const bool rtsCts = d.ComPortHwHandshaking() == hhRTSCTS;
    Log(w_.ColorMessage,
        QString("Connected to %1 at %2 baud, %3, flow control %4, DTR %5, RTS %6")
            .arg(QString::fromStdString(d.ComPort()))
            .arg(d.ComPortSpeed())
            .arg(QString::fromStdString(LineFormatName(s.format)), FlowName(rtsCts, s.xonXoff),
                 OnOff(d.LineState(TComPortLine::DTR)),
                 rtsCts ? "by flow control" : OnOff(d.LineState(TComPortLine::RTS))));
    lastNote_.clear();
    ReportSettingsWrite();
    for (QComboBox* c : {cbxDataBits, cbxParity, cbxStopBits}) c->setEnabled(false);
    StopTimer();
    timer_ = w_.host().StartTimer(kRefreshMs, [this] { Refresh(); });
    Refresh();
}

void LineControl::AfterDisconnect() {
    StopTimer();
    Log(w_.ColorMessage,
        QString("Disconnected from %1").arg(QString::fromStdString(w_.uartDriver->ComPort())));
    for (QComboBox* c : {cbxDataBits, cbxParity, cbxStopBits}) c->setEnabled(true);
    Refresh();
}

void LineControl::StopTimer() {
    if (timer_ != 0) w_.host().StopTimer(timer_);
    timer_ = 0;
}

void LineControl::ReportSettingsWrite() {
    const TCommPortDriver& d = *w_.uartDriver;
    if (!d.SettingsProblem().empty())
        Log(w_.ColorError, QString("The port did not take the line settings: %1")
                               .arg(QString::fromStdString(d.SettingsProblem())));
    if (!d.SettingsNote().empty() && d.SettingsNote() != lastNote_) {
        lastNote_ = d.SettingsNote();
        Log(w_.ColorWarning, QString::fromStdString(lastNote_));
    }
}

void LineControl::cbxDTRClick() {
    TCommPortDriver& d = *w_.uartDriver;
    d.EnableDTROnOpen = cbxDTR->isChecked();
    if (d.Connected()) d.ToggleDTR(cbxDTR->isChecked());
}

void LineControl::cbxRTSClick() {
    TCommPortDriver& d = *w_.uartDriver;
    d.EnableRTSOnOpen = cbxRTS->isChecked();
    if (d.Connected() && d.ComPortHwHandshaking() != hhRTSCTS) d.ToggleRTS(cbxRTS->isChecked());
}

void LineControl::cbxXonXoffClick() {
    TCommPortDriver& d = *w_.uartDriver;
    d.SetComPortSwHandshaking(cbxXonXoff->isChecked() ? shXONXOFF : shNONE);
    if (d.Connected()) ReportSettingsWrite();
}

void LineControl::btnResetClick() {
    const LineSettings s = Current();
    TCommPortDriver& d = *w_.uartDriver;
    const char* line = LineName(s.pulseLine);
    if (!d.Connected() || d.PulseActive()) return;
    if (s.pulseLine == TComPortLine::RTS && d.ComPortHwHandshaking() == hhRTSCTS) {
        Log(w_.ColorWarning, "RTS is driven by RTS/CTS flow control: no reset pulse on it");
        return;
    }
    if (d.LineState(s.pulseLine) == s.pulseActive) {
        Log(w_.ColorWarning, QString("%1 already rests %2: a pulse to %2 would change nothing")
                                 .arg(line, OnOff(s.pulseActive)));
        return;
    }
    if (!d.PulseLine(s.pulseLine, s.pulseActive, s.pulseMs)) {
        Log(w_.ColorError, QString("The port refused the reset pulse: %1")
                               .arg(QString::fromStdString(d.LastErrorMessage())));
        return;
    }
    Log(w_.ColorMessage,
        QString("Reset: %1 %2 for %3 ms").arg(line, OnOff(s.pulseActive)).arg(s.pulseMs));
    Refresh();
}

void LineControl::btnBreakClick() {
    TCommPortDriver& d = *w_.uartDriver;
    const std::uint32_t ms = static_cast<std::uint32_t>(edtBreakMs->value());
    if (!d.Connected() || d.BreakActive()) return;
    if (!d.SendBreak(ms)) {
        Log(w_.ColorError, QString("The port refused the BREAK: %1")
                               .arg(QString::fromStdString(d.LastErrorMessage())));
        return;
    }
    Log(w_.ColorMessage, QString("BREAK for %1 ms").arg(ms));
    Refresh();
}

void LineControl::Refresh() {
    TCommPortDriver& d = *w_.uartDriver;
    const bool open = d.Connected();
    const bool rtsCts = w_.cbxRTSCTS->isChecked();
    const LineSettings s = Current();
    cbxRTS->setEnabled(!rtsCts);
    btnReset->setEnabled(open && !d.PulseActive() && !w_.fileTransferActive);
    btnBreak->setEnabled(open && !d.BreakActive() && !w_.fileTransferActive);
    btnReset->setToolTip(QString("Resets the board: %1 %2 for %3 ms")
                             .arg(LineName(s.pulseLine), OnOff(s.pulseActive))
                             .arg(s.pulseMs));
    btnBreak->setToolTip(QString("Holds the line in BREAK for %1 ms").arg(s.breakMs));

    const QString format = QString::fromStdString(LineFormatName(s.format));
    if (open)
        w_.status->Set("port", QString("%1 %2 %3")
                                   .arg(QString::fromStdString(d.ComPort()))
                                   .arg(d.ComPortSpeed())
                                   .arg(format));
    else
        w_.status->Set(
            "port",
            QString("%1 %2 %3").arg(w_.cbxPort->currentText(), w_.cbxBaud->currentText(), format));
    w_.status->Set("state", !open                   ? "disconnected"
                            : w_.fileTransferActive ? "transfer running"
                                                    : "connected");
    w_.status->Set("counts", QString("RX %1  TX %2").arg(d.BytesReceived()).arg(d.BytesSent()));
    ModemStatus m;
    if (!open)
        w_.status->Set("modem", "");
    else if (d.GetModemStatus(m))
        w_.status->Set("modem", QStringList{Lamp("CTS", m.cts), Lamp("DSR", m.dsr),
                                            Lamp("DCD", m.dcd), Lamp("RI", m.ri)}
                                    .join("  "));
    else
        w_.status->Set("modem", "CTS DSR DCD RI unavailable");
}

}  // namespace corvel
