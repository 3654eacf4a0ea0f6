#include "config/dialog/config.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <memory>
#include <utility>

#include "comport/comport.h"
#include "kmodem/u_kmodem.h"
#include "terminal/font_record.h"
#include "terminal/settings.h"
#include "terminal/settings_file.h"
#include "terminal/window/dialogs.h"

namespace corvel {
namespace {

constexpr int kClientWidth = 491;
constexpr int kClientHeight = 610;

ConfigModalRun& TestModalRun() {
    static ConfigModalRun run;
    return run;
}

template <typename W>
W* Named(W* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QLabel* WrappedLabel(const QString& text, bool bold = false) {
    auto* l = new QLabel(text);
    l->setWordWrap(true);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

QLineEdit* NumberEdit(const char* name) {
    auto* e = Named(new QLineEdit, name);
    e->setFixedWidth(90);
    return e;
}

// An edit with its unit after it, left-aligned.
QHBoxLayout* EditWithUnit(QLineEdit* edit, const QString& unit) {
    auto* row = new QHBoxLayout;
    row->addWidget(edit);
    row->addWidget(new QLabel(unit));
    row->addStretch(1);
    return row;
}

QString FromStd(const std::string& s) {
    return QString::fromStdString(s);
}

std::string ToStd(const QString& s) {
    return s.toStdString();
}

QColor ToQColor(std::int32_t value) {
    const Rgb rgb = ColorToRgb(value);
    return QColor(rgb.r, rgb.g, rgb.b);
}

}  // namespace

TfrmConfig::TfrmConfig(Dialogs& dialogs, QWidget* parent) : QDialog(parent), dialogs_(dialogs) {
    setObjectName("frmConfig");
    setWindowTitle("Settings");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    // The small face of a tool window, so the long captions fit the fixed size.
    QFont small = font();
    small.setPointSizeF(8);
    setFont(small);

    PageControl1 = Named(new QTabWidget, "PageControl1");
    tsTerminal = BuildTerminalPage();
    tsModem = BuildModemPage();
    PageControl1->addTab(tsTerminal, "Terminal");
    PageControl1->addTab(tsModem, "Modem");
    // FormCreate: the page "Terminal" first.
    PageControl1->setCurrentIndex(0);

    btnOk = Named(new QPushButton("OK"), "btnOk");
    btnCancel = Named(new QPushButton("Cancel"), "btnCancel");
    btnOk->setDefault(true);
    btnOk->setAutoDefault(true);
    btnCancel->setAutoDefault(false);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    // Escape reaches QDialog::reject, the same as this button.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(6, 6, 6, 6);
    root->addWidget(PageControl1, 1);
    root->addLayout(buttons);
}

QWidget* TfrmConfig::BuildTerminalPage() {
    auto* page = Named(new QWidget, "tsTerminal");
    auto* v = new QVBoxLayout(page);

    edtTimeoutPolling = NumberEdit("edtTimeoutPolling");
    v->addWidget(WrappedLabel(
        "Time between polling of the UART port for reception of characters. The smaller the "
        "processing power requires the micro. Minimum time 1 ms"));
    v->addLayout(EditWithUnit(edtTimeoutPolling, "ms"));

    edtTimeoutGetChar = NumberEdit("edtTimeoutGetChar");
    v->addWidget(WrappedLabel(
        "Waiting time for read receipt by getChar function used in file exchange. Minimum time "
        "1 ms"));
    v->addLayout(EditWithUnit(edtTimeoutGetChar, "ms"));

    edtUartBuffer = NumberEdit("edtUartBuffer");
    v->addWidget(WrappedLabel("Size of the receive and transmit buffers. 1024 bytes minimum"));
    v->addLayout(EditWithUnit(edtUartBuffer, "Bytes"));

    // A check box caption cannot wrap; the caption is a label beside the box that toggles it.
    cbxUartDebug = Named(new QCheckBox, "cbxUartDebug");
    lblUartDebug = Named(
        WrappedLabel("Use UART port debugging. This creates a LOG file named commPortlog.txt in "
                     "the main directory of the Terminal. The LOG file will be created when the "
                     "port is disconnected"),
        "lblUartDebug");
    cbxUartDebug->setAccessibleName(lblUartDebug->text());
    lblUartDebug->installEventFilter(this);
    auto* debugRow = new QHBoxLayout;
    debugRow->addWidget(cbxUartDebug, 0, Qt::AlignTop);
    debugRow->addWidget(lblUartDebug, 1);
    v->addLayout(debugRow);

    auto swatchRow = [&](const char* text, const char* editName, const char* buttonName,
                         QLineEdit*& edit, QPushButton*& button) {
        v->addWidget(WrappedLabel(text));
        edit = Named(new QLineEdit, editName);
        edit->setReadOnly(true);
        edit->setFocusPolicy(Qt::NoFocus);
        edit->setFixedWidth(90);
        button = Named(new QPushButton("..."), buttonName);
        button->setAutoDefault(false);
        button->setFixedWidth(32);
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        row->addWidget(button);
        row->addStretch(1);
        v->addLayout(row);
    };
    swatchRow("Color of normal messages in the LOG window", "edtColorMessage", "btnColorMessage",
              edtColorMessage, btnColorMessage);
    swatchRow("Color of error messages in the LOG window", "edtColorError", "btnColorError",
              edtColorError, btnColorError);
    swatchRow("Color of the warning messages in the LOG window", "edtColorWarning",
              "btnColorWarning", edtColorWarning, btnColorWarning);
    SetSwatchColor(edtColorMessage, kColorBlue);
    SetSwatchColor(edtColorError, kColorRed);
    SetSwatchColor(edtColorWarning, kColorYellow);

    v->addStretch(1);
    btnStdTerminal = Named(new QPushButton("Default Values"), "btnStdTerminal");
    btnStdTerminal->setAutoDefault(false);
    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(btnStdTerminal);
    presetRow->addStretch(1);
    v->addLayout(presetRow);

    // Design values; the Settings button overwrites every one before the dialog shows.
    edtTimeoutPolling->setText("50");
    edtTimeoutGetChar->setText("100");
    edtUartBuffer->setText("2048");

    connect(btnColorMessage, &QPushButton::clicked, this, [this] { btnColorMessageClick(); });
    connect(btnColorError, &QPushButton::clicked, this, [this] { btnColorErrorClick(); });
    connect(btnColorWarning, &QPushButton::clicked, this, [this] { btnColorWarningClick(); });
    connect(btnStdTerminal, &QPushButton::clicked, this, [this] { btnStdTerminalClick(); });
    return page;
}

QWidget* TfrmConfig::BuildModemPage() {
    auto* page = Named(new QWidget, "tsModem");
    auto* v = new QVBoxLayout(page);
    v->setSpacing(4);

    cbxKmodemEn = Named(new QCheckBox("Use Flow Control (KMODEM)"), "cbxKmodemEn");
    v->addWidget(cbxKmodemEn);

    // Each group holds its edit on the left and its explanation beside it, so the page fits.
    auto besideRow = [](QLayout* left, QWidget* text) {
        auto* row = new QHBoxLayout;
        row->addLayout(left);
        row->addWidget(text, 1);
        return row;
    };

    grpTimerOut = Named(new QGroupBox("  TimerOut  "), "grpTimerOut");
    {
        auto* g = new QVBoxLayout(grpTimerOut);
        g->setContentsMargins(6, 2, 6, 4);
        edtTimerOut = NumberEdit("edtTimerOut");
        auto* left = EditWithUnit(edtTimerOut, "Seconds");
        g->addLayout(besideRow(left, WrappedLabel("Maximum waiting time for data coming from the "
                                                  "UART. Value from 1 to 9")));
    }
    v->addWidget(grpTimerOut);

    grpPackageSize = Named(new QGroupBox("  Data Package Size  "), "grpPackageSize");
    {
        auto* g = new QVBoxLayout(grpPackageSize);
        g->setContentsMargins(6, 2, 6, 4);
        edtPackageSize = NumberEdit("edtPackageSize");
        auto* left = EditWithUnit(edtPackageSize, "Bytes");
        g->addLayout(
            besideRow(left, WrappedLabel("Size in bytes of the data packets. 256 bytes minimum")));
        g->addWidget(WrappedLabel(
            "ATTENTION: Both the receiver and the transmitter must have the same data packet size",
            true));
    }
    v->addWidget(grpPackageSize);

    auto commandGroup = [&](const char* title, const char* groupName, const char* editName,
                            const char* text, QGroupBox*& group, QLineEdit*& edit) {
        group = Named(new QGroupBox(title), groupName);
        auto* g = new QVBoxLayout(group);
        g->setContentsMargins(6, 2, 6, 4);
        edit = Named(new QLineEdit, editName);
        edit->setFixedWidth(110);
        auto* left = new QHBoxLayout;
        left->addWidget(new QLabel("Command"));
        left->addWidget(edit);
        g->addLayout(besideRow(left, WrappedLabel(text, true)));
        v->addWidget(group);
    };
    commandGroup("  Transmitter Control  ", "grpCmdRX", "edtCmdRX",
                 "Command to be sent to the transmitter to start reception. Leave blank if you "
                 "do not need to send any commands.",
                 grpCmdRX, edtCmdRX);
    commandGroup("  Receiver Command  ", "grpCmdTX", "edtCmdTX",
                 "Command to be sent to the receiver to start transmission. Leave blank if you "
                 "do not need to send any commands.",
                 grpCmdTX, edtCmdTX);

    grpEco = Named(new QGroupBox("  Terminal with Eco "), "grpEco");
    {
        auto* g = new QVBoxLayout(grpEco);
        g->setContentsMargins(6, 2, 6, 4);
        cbxEco = Named(new QCheckBox("Uses echoes in commands"), "cbxEco");
        auto* row = new QHBoxLayout;
        row->addWidget(cbxEco, 0, Qt::AlignTop);
        row->addWidget(
            WrappedLabel("If the terminal of the other end of the communication uses or does "
                         "not echo",
                         true),
            1);
        g->addLayout(row);
    }
    v->addWidget(grpEco);

    rgrCmdT = Named(new QGroupBox("  What is the Command Finisher Character of the Other Point "
                                  "of Communication  "),
                    "rgrCmdT");
    rgrCmdTGroup = new QButtonGroup(this);
    {
        auto* g = new QGridLayout(rgrCmdT);
        g->setContentsMargins(6, 2, 6, 4);
        const char* items[] = {"LF (\\n)", "CR+ LF (\\r\\n)", "CR (\\r)"};
        for (int i = 0; i < 3; ++i) {
            auto* b = new QRadioButton(QString::fromLatin1(items[i]));
            b->setObjectName(QString("rgrCmdT_%1").arg(i));
            rgrCmdTGroup->addButton(b, i);
            g->addWidget(b, 0, i);
        }
    }
    v->addWidget(rgrCmdT);

    cbxKmodemDebug = Named(new QCheckBox, "cbxKmodemDebug");
    lblKmodemDebug = Named(WrappedLabel("Use debugging. This creates LOG files called "
                                        "KmodemLogRX.txt and KmodemLogTX.txt in the main "
                                        "directory of the Terminal"),
                           "lblKmodemDebug");
    cbxKmodemDebug->setAccessibleName(lblKmodemDebug->text());
    lblKmodemDebug->installEventFilter(this);
    auto* debugRow = new QHBoxLayout;
    debugRow->addWidget(cbxKmodemDebug, 0, Qt::AlignTop);
    debugRow->addWidget(lblKmodemDebug, 1);
    v->addLayout(debugRow);

    v->addStretch(1);
    btnStdModem1 = Named(new QPushButton("Standard Values for uC"), "btnStdModem1");
    btnStdModem2 = Named(new QPushButton("Default Values between Terminals"), "btnStdModem2");
    btnStdModem1->setAutoDefault(false);
    btnStdModem2->setAutoDefault(false);
    auto* presets = new QHBoxLayout;
    presets->addWidget(btnStdModem1);
    presets->addWidget(btnStdModem2);
    presets->addStretch(1);
    v->addLayout(presets);

    // Design values.
    edtTimerOut->setText("6");
    edtPackageSize->setText("2048");
    edtCmdRX->setText("tx");
    edtCmdTX->setText("rx");
    cbxEco->setChecked(true);
    rgrCmdTGroup->button(0)->setChecked(true);

    // Setting a box from code runs the reaction too, so the state is right after filling and
    // after a preset, not only after a click.
    connect(cbxKmodemEn, &QCheckBox::toggled, this, [this] { cbxKmodemEnClick(); });
    connect(cbxEco, &QCheckBox::toggled, this, [this] { cbxKmodemEnClick(); });
    connect(btnStdModem1, &QPushButton::clicked, this, [this] { btnStdModem1Click(); });
    connect(btnStdModem2, &QPushButton::clicked, this, [this] { btnStdModem2Click(); });
    cbxKmodemEnClick();
    return page;
}

bool TfrmConfig::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == lblUartDebug) {
            cbxUartDebug->click();
            return true;
        }
        if (watched == lblKmodemDebug) {
            cbxKmodemDebug->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmConfig::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!centred_) {
        centred_ = true;
        if (const QScreen* screen =
                this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
            QRect r = frameGeometry();
            r.moveCenter(screen->availableGeometry().center());
            move(r.topLeft());
        }
    }
    FormShow();
}

void TfrmConfig::FormShow() {
    cbxKmodemEnClick();
}

void TfrmConfig::cbxKmodemEnClick() {
    const bool on = cbxKmodemEn->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(edtTimerOut), static_cast<QWidget*>(edtPackageSize),
                       static_cast<QWidget*>(edtCmdRX), static_cast<QWidget*>(edtCmdTX),
                       static_cast<QWidget*>(cbxEco), static_cast<QWidget*>(rgrCmdT)}) {
        w->setEnabled(on);
    }
}

std::int32_t TfrmConfig::SwatchColor(const QLineEdit* swatch) const {
    return swatch->property("corvelColor").toInt();
}

void TfrmConfig::SetSwatchColor(QLineEdit* swatch, std::int32_t color) {
    swatch->setProperty("corvelColor", color);
    swatch->setStyleSheet(
        QString("QLineEdit { background-color: %1; }").arg(ToQColor(color).name()));
}

void TfrmConfig::ChooseSwatchColor(QLineEdit* swatch) {
    QColor c = ToQColor(SwatchColor(swatch));
    if (!dialogs_.ChooseColor(this, c)) return;
    SetSwatchColor(swatch, RgbToColor({static_cast<std::uint8_t>(c.red()),
                                       static_cast<std::uint8_t>(c.green()),
                                       static_cast<std::uint8_t>(c.blue())}));
}

void TfrmConfig::btnColorMessageClick() {
    ChooseSwatchColor(edtColorMessage);
}
void TfrmConfig::btnColorErrorClick() {
    ChooseSwatchColor(edtColorError);
}
void TfrmConfig::btnColorWarningClick() {
    ChooseSwatchColor(edtColorWarning);
}

void TfrmConfig::btnStdTerminalClick() {
    ConfigDialogFields f = Fields();
    PresetDefaultTerminal(f);
    SetFields(f);
}
void TfrmConfig::btnStdModem1Click() {
    ConfigDialogFields f = Fields();
    PresetStandardForMicro(f);
    SetFields(f);
}
void TfrmConfig::btnStdModem2Click() {
    ConfigDialogFields f = Fields();
    PresetBetweenTerminals(f);
    SetFields(f);
}

ConfigDialogFields TfrmConfig::Fields() const {
    ConfigDialogFields f;
    f.timeoutPolling = ToStd(edtTimeoutPolling->text());
    f.timeoutGetChar = ToStd(edtTimeoutGetChar->text());
    f.uartBuffer = ToStd(edtUartBuffer->text());
    f.uartDebug = cbxUartDebug->isChecked();
    f.colorMessage = SwatchColor(edtColorMessage);
    f.colorError = SwatchColor(edtColorError);
    f.colorWarning = SwatchColor(edtColorWarning);
    f.kmodemEnabled = cbxKmodemEn->isChecked();
    f.timerOut = ToStd(edtTimerOut->text());
    f.packageSize = ToStd(edtPackageSize->text());
    f.cmdRx = ToStd(edtCmdRX->text());
    f.cmdTx = ToStd(edtCmdTX->text());
    f.useEcho = cbxEco->isChecked();
    f.cmdTerminator = rgrCmdTGroup->checkedId() < 0 ? 0 : rgrCmdTGroup->checkedId();
    f.kmodemDebug = cbxKmodemDebug->isChecked();
    return f;
}

void TfrmConfig::SetFields(const ConfigDialogFields& f) {
    SetSwatchColor(edtColorMessage, f.colorMessage);
    SetSwatchColor(edtColorError, f.colorError);
    SetSwatchColor(edtColorWarning, f.colorWarning);
    edtTimeoutPolling->setText(FromStd(f.timeoutPolling));
    edtTimeoutGetChar->setText(FromStd(f.timeoutGetChar));
    edtUartBuffer->setText(FromStd(f.uartBuffer));
    cbxUartDebug->setChecked(f.uartDebug);
    cbxKmodemDebug->setChecked(f.kmodemDebug);
    cbxKmodemEn->setChecked(f.kmodemEnabled);
    edtTimerOut->setText(FromStd(f.timerOut));
    edtPackageSize->setText(FromStd(f.packageSize));
    edtCmdTX->setText(FromStd(f.cmdTx));
    edtCmdRX->setText(FromStd(f.cmdRx));
    cbxEco->setChecked(f.useEcho);
    // Kmodem treats every terminator other than 0 (LF) and 2 (CR) as CR LF; the radio group
    // shows it so rather than showing no choice at all.
    const int index = (f.cmdTerminator == 0 || f.cmdTerminator == 2) ? f.cmdTerminator : 1;
    rgrCmdTGroup->button(index)->setChecked(true);
    cbxKmodemEnClick();
}

ConfigModalRun SetConfigModalRunForTests(ConfigModalRun run) {
    return std::exchange(TestModalRun(), std::move(run));
}

bool RunConfigDialog(QWidget* parent, Dialogs& dialogs, const ConfigTargets& t,
                     const ConfigModalRun& modal) {
    // The values in use: the driver and the engine are the truth, the colours are the window's
    // (a log font change may have moved ColorMessage since the last save).
    Settings current = t.settings;
    current.colorMessage = t.ColorMessage;
    current.colorError = t.ColorError;
    current.colorWarning = t.ColorWarning;
    current.pollingDelay = t.uartDriver.ComPortPollingDelay();
    current.pollingGetChar = t.uartDriver.ComPortPollingGetChar;
    current.bufferInSize = t.uartDriver.ComPortInBufSize();
    current.bufferOutSize = t.uartDriver.ComPortOutBufSize();
    current.uartDebug = t.uartDriver.UseDebug;
    current.kmodemDebug = t.kmodem.useDebug;
    current.kmodemEnabled = t.kmodem.enabled;
    current.kmodemTimerOut = t.kmodem.timerOutValue;
    current.kmodemPackageSize = t.kmodem.packageSize;
    current.kmodemCmdTx = t.kmodem.cmdTX;
    current.kmodemCmdRx = t.kmodem.cmdRX;
    current.kmodemUseEcho = t.kmodem.cmd_useEcho;
    current.kmodemCmdTerminator = t.kmodem.cmd_terminator;

    int result = QDialog::Rejected;
    ConfigDialogFields fields;
    {
        // Owned by the window while it runs, destroyed on every way out.
        auto dialog = std::make_unique<TfrmConfig>(dialogs, parent);
        dialog->SetFields(FillConfigDialog(current));
        const ConfigModalRun& run = modal ? modal : TestModalRun();
        result = run ? run(*dialog) : dialog->exec();
        fields = dialog->Fields();
    }

    if (result != QDialog::Accepted) {
        t.print_Log(t.ColorMessage, QString::fromUtf8(kMsgSettingsCancelled));
        return false;
    }

    const ConfigCheckResult checked = CheckConfigDialog(fields);
    const ConfigValues& v = checked.values;

    t.ColorMessage = v.colorMessage;
    t.ColorError = v.colorError;
    t.ColorWarning = v.colorWarning;
    t.uartDriver.SetComPortPollingDelay(v.pollingDelay);
    t.uartDriver.ComPortPollingGetChar = v.pollingGetChar;
    t.uartDriver.SetComPortInBufSize(v.bufferInSize);
    t.uartDriver.SetComPortOutBufSize(v.bufferOutSize);
    t.uartDriver.UseDebug = v.uartDebug;
    t.kmodem.useDebug = v.kmodemDebug;
    t.kmodem.enabled = v.kmodemEnabled;
    t.kmodem.timerOutValue = v.timerOut;
    t.kmodem.packageSize = v.packageSize;
    t.kmodem.cmdTX = v.cmdTx;
    t.kmodem.cmdRX = v.cmdRx;
    t.kmodem.cmd_useEcho = v.useEcho;
    t.kmodem.cmd_terminator = v.cmdTerminator;
    ApplyConfigValues(v, t.settings);

    auto colorOf = [&](LogKind kind) {
        switch (kind) {
            case LogKind::Error:
                return t.ColorError;
            case LogKind::Warning:
                return t.ColorWarning;
            case LogKind::Message:
                break;
        }
        return t.ColorMessage;
    };
    // Every replacement is reported; "saved" only once the file really holds the values.
    const std::size_t last = checked.log.empty() ? 0 : checked.log.size() - 1;
    for (std::size_t i = 0; i < last; ++i) {
        t.print_Log(colorOf(checked.log[i].kind), FromStd(checked.log[i].text));
    }
    WriteDialogSettings(t.iniFile, t.settings);
    if (!checked.log.empty()) {
        t.print_Log(colorOf(checked.log[last].kind), FromStd(checked.log[last].text));
    }
    return true;
}

}  // namespace corvel
