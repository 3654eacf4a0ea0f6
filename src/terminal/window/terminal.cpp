#include "terminal/window/terminal.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "board/ports.h"
#include "comport/port_info.h"
#include "comport/port_scan.h"
#include "config/config_check.h"
#include "config/dialog/config.h"
#include "help/help.h"
#include "host/codepage.h"
#include "terminal/window/application.h"
#include "terminal/window/capture_control.h"
#include "terminal/window/command_lists.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/display_menus.h"
#include "terminal/window/elapsed_clock.h"
#include "terminal/window/file_transfer.h"
#include "terminal/window/key_chars.h"
#include "terminal/window/line_control.h"
#include "terminal/window/plot_view.h"
#include "terminal/window/port_watch.h"
#include "terminal/window/qt_host.h"
#include "terminal/window/rx_view.h"
#include "terminal/window/search_bar.h"
#include "terminal/window/send_control.h"
#include "terminal/window/status_fields.h"

namespace corvel {

namespace {

constexpr const char* kCaption = "Corvel v2.6";
// The log window: about four lines at first, at least two.
constexpr int kLogDefaultHeight = 83;
constexpr int kLogMinimumHeight = 44;

// Undoes the hourglass whatever way the connect ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

std::string ToStd(const QString& s) {
    return s.toStdString();
}
QString FromStd(const std::string& s) {
    return QString::fromStdString(s);
}

QString ExecutableFolder() {
    QString dir = QCoreApplication::applicationDirPath();
    while (dir.size() > 1 && (dir.endsWith('/') || dir.endsWith('\\'))) dir.chop(1);
    return QDir::toNativeSeparators(dir);
}

QFont ToQFont(const FontRecord& rec) {
    QFont f(FromStd(rec.name));
    f.setPointSize(std::clamp(rec.size, 1, 1000));
    f.setBold(rec.style & kFontBold);
    f.setItalic(rec.style & kFontItalic);
    f.setUnderline(rec.style & kFontUnderline);
    f.setStrikeOut(rec.style & kFontStrikeOut);
    return f;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and layout

TfrmTerminal::TfrmTerminal(TerminalOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
    if (options_.dialogs) {
        dialogs_ = options_.dialogs;
    } else {
        ownDialogs_ = std::make_unique<QtDialogs>();
        dialogs_ = ownDialogs_.get();
    }
    if (options_.host) {
        host_ = options_.host;
    } else {
        ownHost_ = std::make_unique<QtHost>();
        host_ = ownHost_.get();
    }

    setWindowTitle(kCaption);
    setObjectName("frmTerminal");
    BuildControls();
    BuildMenus();

    std::unique_ptr<ComPortIo> io = options_.makePortIo ? options_.makePortIo() : MakeAnyPortIo();
    uartDriver = std::make_unique<TCommPortDriver>(*host_, std::move(io));
    uartDriver->SetComPort("COM1");
    uartDriver->SetComPortPollingDelay(1);
    // An active DTR resets or reprograms many boards.
    uartDriver->EnableDTROnOpen = false;

    ConnectSignals();
    fileTransfer = std::make_unique<tFileTransfer>(*this);
    portWatch = std::make_unique<PortWatch>(
        *this, *host_, options_.scanPorts ? options_.scanPorts : ScanAllPorts,
        options_.describePorts ? options_.describePorts : DescribeSystemPorts);
    FormCreate();
    lineControl = std::make_unique<LineControl>(*this, options_.line);
    // After start-up, so restoring the selected list is not taken for the user's choice.
    commandLists = std::make_unique<CommandLists>(*this);
    displayMenus = std::make_unique<DisplayMenus>(*this);
    sendControl = std::make_unique<SendControl>(*this);
    plotControl = std::make_unique<PlotControl>(*this, options_.showPlot);
    capture = std::make_unique<CaptureControl>(*this, options_.captureFile);
    search = new SearchBar(*this);
}

TfrmTerminal::~TfrmTerminal() {
    FormDestroy();
    // Its paced sender holds a timer of the host.
    sendControl.reset();
    portWatch.reset();  // its timer lives on the host
    capture.reset();
    // The driver and the engines use the host and the line boxes: free them while both exist.
    if (uartDriver) uartDriver->SetOnReceiveData({});
    lineControl.reset();  // stops its timer while the host exists
    uartDriver.reset();
    kmodem.reset();
    rxRender.reset();
}

void TfrmTerminal::BuildControls() {
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(name);
        return w;
    };

    auto* central = new QWidget(this);
    central->setObjectName("pnlMain");
    setCentralWidget(central);
    resize(1025, 706);

    // --- Top: the two pages ---
    pageControl = new QTabWidget(central);
    named(pageControl, "pageControl");
    tsPort = named(new QWidget, "tsPort");
    tsPort->setAutoFillBackground(true);
    lblPort = new QLabel("COM Port", tsPort);
    named(lblPort, "lblPort");
    cbxPort = new QComboBox(tsPort);
    named(cbxPort, "cbxPort");
    cbxPort->setEditable(true);
    // Only the scan fills the list; a typed name must not slip in by pressing Enter.
    cbxPort->setInsertPolicy(QComboBox::NoInsert);
    cbxPort->setMinimumWidth(160);
    if (cbxPort->completer()) cbxPort->completer()->setCaseSensitivity(Qt::CaseSensitive);
    btnPort = new QPushButton("Update", tsPort);
    named(btnPort, "btnPort");
    lblBaud = new QLabel("Baudrate (bps)", tsPort);
    named(lblBaud, "lblBaud");
    cbxBaud = new QComboBox(tsPort);
    named(cbxBaud, "cbxBaud");
    cbxBaud->setEditable(true);
    cbxBaud->setInsertPolicy(QComboBox::NoInsert);
    cbxBaud->setMinimumWidth(110);
    btnConnect = new QPushButton("Connect", tsPort);
    named(btnConnect, "btnConnect");
    // A second row below holds the line controls.
    auto* portPage = new QVBoxLayout(tsPort);
    auto* portRow = new QHBoxLayout;
    portPage->addLayout(portRow);
    portRow->addWidget(lblPort);
    portRow->addWidget(cbxPort);
    portRow->addWidget(btnPort);
    portRow->addSpacing(16);
    portRow->addWidget(lblBaud);
    portRow->addWidget(cbxBaud);
    portRow->addWidget(btnConnect);
    portRow->addStretch();
    pageControl->addTab(tsPort, "Communication Port");

    tsSend = named(new QWidget, "tsSend");
    rgrCmdT = new QGroupBox("  Command Send Termination  ", tsSend);
    named(rgrCmdT, "rgrCmdT");
    rgrCmdTGroup = new QButtonGroup(rgrCmdT);
    rgrCmdTGroup->setObjectName("rgrCmdTGroup");
    auto* lf = new QRadioButton("LF (\\n) (#10)", rgrCmdT);
    named(lf, "rgrCmdT_LF");
    auto* crlf = new QRadioButton("CR+ LF (\\r\\n) (#13#10)", rgrCmdT);
    named(crlf, "rgrCmdT_CRLF");
    rgrCmdTGroup->addButton(lf, 0);
    rgrCmdTGroup->addButton(crlf, 1);
    lf->setChecked(true);
    auto* termLayout = new QHBoxLayout(rgrCmdT);
    termLayout->addWidget(lf);
    termLayout->addWidget(crlf);
    cbxSend = new QCheckBox("Send Termination", tsSend);
    named(cbxSend, "cbxSend");
    cbxRet = new QCheckBox("ENTER key = LF (\\n) (#10)", tsSend);
    named(cbxRet, "cbxRet");
    cbxRTSCTS = new QCheckBox("Use RTS/CTS Flow Control", tsSend);
    named(cbxRTSCTS, "cbxRTSCTS");
    auto* sendRow = new QHBoxLayout(tsSend);
    sendRow->addWidget(rgrCmdT);
    auto* sendChecks = new QVBoxLayout;
    sendChecks->addWidget(cbxSend);
    sendChecks->addWidget(cbxRet);
    sendChecks->addWidget(cbxRTSCTS);
    sendRow->addLayout(sendChecks);
    sendRow->addStretch();
    pageControl->addTab(tsSend, "Command Send Settings");

    // --- Mode and column bar ---
    auto* modeBar = named(new QWidget(central), "pnlMode");
    cbxASCII = new QRadioButton("ASCII", modeBar);
    named(cbxASCII, "cbxASCII");
    cbxHEX = new QRadioButton("HEX", modeBar);
    named(cbxHEX, "cbxHEX");
    cbxASCII->setChecked(true);
    cbxWordWrap = new QCheckBox("Line break", modeBar);
    named(cbxWordWrap, "cbxWordWrap");
    cbxViewRX_CHAR = new QCheckBox("CHAR Column", modeBar);
    named(cbxViewRX_CHAR, "cbxViewRX_CHAR");
    cbxViewRX_DEC = new QCheckBox("DEC Column", modeBar);
    named(cbxViewRX_DEC, "cbxViewRX_DEC");
    cbxViewRX_HEX = new QCheckBox("HEX Column", modeBar);
    named(cbxViewRX_HEX, "cbxViewRX_HEX");
    cbxViewRX_BIN = new QCheckBox("BIN Column", modeBar);
    named(cbxViewRX_BIN, "cbxViewRX_BIN");
    auto* modeRow = new QHBoxLayout(modeBar);
    modeRow->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : std::initializer_list<QWidget*>{cbxASCII, cbxHEX, cbxWordWrap, cbxViewRX_CHAR,
                                                      cbxViewRX_DEC, cbxViewRX_HEX, cbxViewRX_BIN})
        modeRow->addWidget(w);
    modeRow->addStretch();

    // --- Receive window and side columns ---
    memoUart = new RxView(central);
    named(memoUart, "memoUart");
    memoUart->setFocusPolicy(Qt::StrongFocus);
    memoUart->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoUart->setContextMenuPolicy(Qt::CustomContextMenu);
    memoUart->installEventFilter(this);
    pnlUartAux = named(new QWidget(central), "pnlUartAux");
    memoUartAux = new RxView(pnlUartAux);
    named(memoUartAux, "memoUartAux");
    memoUartAux->setLineWrapMode(RxView::NoWrap);
    memoUartAux->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoUartAux->setContextMenuPolicy(Qt::CustomContextMenu);
    QFont aux("Lucida Console", 9);
    aux.setStyleHint(QFont::Monospace);
    aux.setFixedPitch(true);
    memoUartAux->setFont(aux);
    auto* auxLayout = new QVBoxLayout(pnlUartAux);
    auxLayout->setContentsMargins(0, 0, 0, 0);
    auxLayout->addWidget(memoUartAux);
    pnlUartAux->hide();
    auto* rxRow = new QHBoxLayout;
    rxRow->setSpacing(0);
    rxRow->addWidget(memoUart, 1);
    rxRow->addWidget(pnlUartAux);

    // --- Send bar ---
    edtSend = new QLineEdit(central);
    named(edtSend, "edtSend");
    btnSend = new QPushButton("Send", central);
    named(btnSend, "btnSend");
    btnSend->setEnabled(false);
    btnSend->setAutoDefault(false);
    btnMemAdd = new QPushButton("Add", central);
    named(btnMemAdd, "btnMemAdd");
    auto* sendBar = new QHBoxLayout;
    sendBar->addWidget(edtSend, 1);
    sendBar->addWidget(btnSend);
    sendBar->addWidget(btnMemAdd);

    // --- Transfer bar ---
    btnRxFile = new QPushButton("Receive File", central);
    named(btnRxFile, "btnRxFile");
    btnRxFile->setEnabled(false);
    btnTxFile = new QPushButton("Send File", central);
    named(btnTxFile, "btnTxFile");
    btnTxFile->setEnabled(false);
    barProgress = new QProgressBar(central);
    named(barProgress, "barProgress");
    barProgress->setRange(0, 100);
    barProgress->setValue(0);
    VrClock = new ElapsedClock(central);
    named(VrClock, "VrClock");
    VrClock->setFixedSize(120, 26);
    VrClock->setContextMenuPolicy(Qt::CustomContextMenu);
    lblRate = new QLabel("0 Kbytes/S", central);
    named(lblRate, "lblRate");
    lblRate->setMinimumWidth(90);
    auto* transferBar = new QHBoxLayout;
    transferBar->addWidget(btnRxFile);
    transferBar->addWidget(btnTxFile);
    transferBar->addWidget(barProgress, 1);
    transferBar->addWidget(VrClock);
    transferBar->addWidget(lblRate);
    timeCalcByteRate = new QTimer(this);
    timeCalcByteRate->setObjectName("timeCalcByteRate");
    timeCalcByteRate->setInterval(1000);

    // --- Log ---
    memoLog = new QTextEdit(central);
    named(memoLog, "memoLog");
    memoLog->setReadOnly(true);
    memoLog->setMinimumHeight(kLogMinimumHeight);
    memoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoLog->setContextMenuPolicy(Qt::CustomContextMenu);
    memoLog->document()->setUndoRedoEnabled(false);
    memoLog->setPlainText("memoLog");  // design-time text; FormCreate clears it

    // --- Right column ---
    auto* right = named(new QWidget(central), "pnlRight");
    right->setFixedWidth(230);
    auto* lblLists = new QLabel("Commands Lists", right);
    named(lblLists, "lblLists");
    strFiles = new QListWidget(right);
    named(strFiles, "strFiles");
    strFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* lblCmds = new QLabel("List Commands", right);
    named(lblCmds, "lblCmds");
    strCmds = new QListWidget(right);
    named(strCmds, "strCmds");
    // Kept sorted by the code that fills it (the order of the command-list files).
    strCmds->setContextMenuPolicy(Qt::CustomContextMenu);
    cbxSendCmd = new QCheckBox("Send command in double-click", right);
    named(cbxSendCmd, "cbxSendCmd");
    auto* hint1 = new QLabel("Double-click to send command", right);
    named(hint1, "lblHintSend");
    auto* hint2 = new QLabel("Click to edit the command", right);
    named(hint2, "lblHintEdit");
    btnConfig = new QPushButton("Settings", right);
    named(btnConfig, "btnConfig");
    btnHelp = new QPushButton("Help", right);
    named(btnHelp, "btnHelp");
    btnQuit = new QPushButton("Exit", right);
    named(btnQuit, "btnQuit");
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(lblLists);
    rightLayout->addWidget(strFiles, 1);
    rightLayout->addWidget(lblCmds);
    rightLayout->addWidget(strCmds, 2);
    rightLayout->addWidget(cbxSendCmd);
    rightLayout->addWidget(hint1);
    rightLayout->addWidget(hint2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnConfig);
    buttons->addWidget(btnHelp);
    buttons->addWidget(btnQuit);
    rightLayout->addLayout(buttons);

    // --- Assembly ---
    auto* leftLayout = new QVBoxLayout;
    pageControl->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    leftLayout->addWidget(pageControl);
    leftLayout->addWidget(modeBar);
    leftLayout->addLayout(rxRow, 1);
    leftLayout->addLayout(sendBar);
    leftLayout->addLayout(transferBar);
    auto* pnlTop = named(new QWidget(central), "pnlTop");
    auto* top = new QHBoxLayout(pnlTop);
    top->setContentsMargins(0, 0, 0, 0);
    top->addLayout(leftLayout, 1);
    top->addWidget(right);
    // The log keeps its height when the window is resized; the user moves the line between.
    splLog = new QSplitter(Qt::Vertical, central);
    named(splLog, "splLog");
    splLog->setChildrenCollapsible(false);
    splLog->addWidget(pnlTop);
    splLog->addWidget(memoLog);
    splLog->setStretchFactor(0, 1);
    splLog->setStretchFactor(1, 0);
    auto* mainLayout = new QVBoxLayout(central);
    mainLayout->addWidget(splLog);
    status = std::make_unique<StatusFields>(statusBar());
}

void TfrmTerminal::ApplyLogHeight() {
    if (QLayout* layout = centralWidget()->layout()) layout->activate();
    const int wanted = settings.logHeight > 0 ? settings.logHeight : kLogDefaultHeight;
    const int total = splLog->height() - splLog->handleWidth();
    const int log = std::clamp(wanted, kLogMinimumHeight, std::max(total / 2, kLogMinimumHeight));
    splLog->setSizes({std::max(total - log, 1), log});
}

void TfrmTerminal::BuildMenus() {
    // Empty here: displayMenus and commandLists fill them with their entries and handlers.
    auto menu = [this](const char* name) {
        auto* m = new QMenu(this);
        m->setObjectName(name);
        return m;
    };
    popMenu1 = menu("popMenu1");
    popMenu3 = menu("popMenu3");
    popMenu2 = menu("popMenu2");
    popFiles = menu("popFiles");
    popCmds = menu("popCmds");

    auto attach = [this](QWidget* w, QMenu* menu) {
        connect(w, &QWidget::customContextMenuRequested, this,
                [w, menu](const QPoint& pos) { menu->popup(w->mapToGlobal(pos)); });
    };
    attach(memoUart, popMenu1);
    attach(memoUartAux, popMenu3);
    attach(memoLog, popMenu2);
    attach(strFiles, popFiles);
    attach(strCmds, popCmds);
}

void TfrmTerminal::ConnectSignals() {
    // Errors of a handler are reported where they happen, never thrown back into the toolkit.
    const auto handler = [this](void (TfrmTerminal::*fn)()) {
        return [this, fn] { RunHandler([this, fn] { (this->*fn)(); }); };
    };
    connect(btnPort, &QPushButton::clicked, this, handler(&TfrmTerminal::btnPortClick));
    connect(btnConnect, &QPushButton::clicked, this, handler(&TfrmTerminal::btnConnectClick));
    connect(cbxRTSCTS, &QCheckBox::toggled, this, handler(&TfrmTerminal::cbxRTSCTSClick));
    connect(rgrCmdTGroup, &QButtonGroup::idClicked, this, handler(&TfrmTerminal::rgrCmdTClick));
    connect(cbxASCII, &QRadioButton::toggled, this, [this](bool on) {
        if (on) cbxASCIIClick();
    });
    connect(cbxHEX, &QRadioButton::toggled, this, [this](bool on) {
        if (on) cbxHEXClick();
    });
    connect(cbxWordWrap, &QCheckBox::toggled, this, handler(&TfrmTerminal::cbxWordWrapClick));
    for (QCheckBox* c : {cbxViewRX_CHAR, cbxViewRX_DEC, cbxViewRX_HEX, cbxViewRX_BIN})
        connect(c, &QCheckBox::toggled, this, handler(&TfrmTerminal::EnableViewsRX));
    connect(edtSend, &QLineEdit::textChanged, this, handler(&TfrmTerminal::edtSendChange));
    connect(btnSend, &QPushButton::clicked, this, handler(&TfrmTerminal::btnSendClick));
    connect(btnTxFile, &QPushButton::clicked, this, handler(&TfrmTerminal::btnTxFileClick));
    connect(btnRxFile, &QPushButton::clicked, this, handler(&TfrmTerminal::btnRxFileClick));
    connect(btnConfig, &QPushButton::clicked, this, handler(&TfrmTerminal::btnConfigClick));
    connect(btnHelp, &QPushButton::clicked, this, handler(&TfrmTerminal::btnHelpClick));
    connect(btnQuit, &QPushButton::clicked, this, handler(&TfrmTerminal::btQuit));

    uartDriver->OnPortLost = [this](const std::string&) {
        // The driver is inside its own read or write: close the port once it has returned.
        if (lostReportQueued_) return;
        lostReportQueued_ = true;
        QMetaObject::invokeMethod(
            this, [this] { OnPortLost(); }, Qt::QueuedConnection);
    };
}

// ---------------------------------------------------------------------------------------------
// Start-up

void TfrmTerminal::FormCreate() {
    VrClock->Stop();
    memoLog->clear();
    pageControl->setCurrentIndex(0);
    cbxBaud->clear();
    for (std::uint32_t rate : ComPortBaudRates) cbxBaud->addItem(QString::number(rate));
    SendTerminator.clear();
    rxRender = std::make_unique<tRxRenderer>(*memoUart, *memoUartAux, [this] { host_->Beep(); });

    if (!options_.settingsPath.isEmpty()) {
        settingsPath = options_.settingsPath;
    } else {
        const SettingsLocation where =
            ChooseSettingsLocation(ToStd(ExecutableFolder()), DefaultUserConfigFolder());
        settingsPath = FromStd(where.path);
        if (!where.inExecutableFolder) print_Log(ColorWarning, FromStd(where.reason));
    }
    iniFile = std::make_unique<tIniFile>(ToStd(settingsPath));

    ReadSettingsAtStart();

    created_ = true;
}

void TfrmTerminal::ReadSettingsAtStart() {
    const QString defaultFolder =
        options_.defaultListsFolder.isEmpty() ? ExecutableFolder() : options_.defaultListsFolder;
    settings = DefaultSettings(ToStd(defaultFolder));
    try {
        LoadSettings(*iniFile, settings);
    } catch (const std::exception& e) {
        // An unreadable settings file: start on the defaults and say why.
        ReportError(QString::fromUtf8(e.what()));
    }
    Settings& s = settings;

    ColorMessage = s.colorMessage;
    ColorError = s.colorError;
    ColorWarning = s.colorWarning;
    // A damaged or hand-edited file must not set values the settings dialog would refuse.
    for (const LogLine& line : CheckLoadedSettings(s)) {
        const std::int32_t color = line.kind == LogKind::Error     ? ColorError
                                   : line.kind == LogKind::Warning ? ColorWarning
                                                                   : ColorMessage;
        print_Log(color, FromStd(line.text));
    }

    clockHighColor = s.clockHigh;
    clockLowColor = s.clockLow;
    ApplyClockColors();

    storedPort_ = FromStd(s.port);
    storedBaud_ = QString::number(s.baudRate);
    cbxPort->setEditText(options_.port ? *options_.port : storedPort_);
    cbxBaud->setEditText(options_.baud ? *options_.baud : storedBaud_);

    uartDriver->SetComPortPollingDelay(static_cast<std::uint16_t>(s.pollingDelay));
    uartDriver->ComPortPollingGetChar = static_cast<std::uint16_t>(s.pollingGetChar);
    uartDriver->SetComPortInBufSize(static_cast<std::uint16_t>(s.bufferInSize));
    uartDriver->SetComPortOutBufSize(static_cast<std::uint16_t>(s.bufferOutSize));
    uartDriver->UseDebug = s.uartDebug;

    cbxRet->setChecked(s.keyReturn);
    rgrCmdTGroup->button(s.cmdTerminator == 0 ? 0 : 1)->setChecked(true);

    cbxViewRX_DEC->setChecked(s.viewRxDec);
    cbxViewRX_HEX->setChecked(s.viewRxHex);
    cbxViewRX_CHAR->setChecked(s.viewRxChar);
    cbxViewRX_BIN->setChecked(s.viewRxBin);
    cbxRTSCTS->setChecked(s.rtsCts);
    cbxSendCmd->setChecked(s.sendCmd);
    cbxSend->setChecked(s.send);
    cbxWordWrap->setChecked(s.wordWrap);
    cbxWordWrapClick();

    kmodem = std::make_unique<tKmodem>(
        *host_, [this](int position) { barProgress->setValue(std::clamp(position, 0, 100)); },
        [this](const std::string& text) { lblRate->setText(FromStd(text)); });
    kmodem->enabled = s.kmodemEnabled;
    kmodem->timerOutValue = s.kmodemTimerOut;
    kmodem->packageSize = static_cast<std::uint16_t>(s.kmodemPackageSize);
    kmodem->cmdTX = s.kmodemCmdTx;
    kmodem->cmdRX = s.kmodemCmdRx;
    kmodem->cmd_terminator = static_cast<std::uint8_t>(s.kmodemCmdTerminator);
    kmodem->cmd_useEcho = s.kmodemUseEcho;
    kmodem->useDebug = s.kmodemDebug;

    memoUartColor = s.memRxColor;
    memoUartFont = s.memRxFont;
    edtSend->setText(FromStd(s.editSend));
    ApplyRxAppearance();
    memoLogColor = s.memLogColor;
    memoLogFont = s.memLogFont;
    ApplyLogAppearance();

    ListPaths.clear();
    ListsFolder = FromStd(s.listsFolder);
    LoadListFiles();
    ListIndex = ClampListIndex(s.listIndex, static_cast<std::size_t>(strFiles->count()));
    if (ListIndex >= 0) strFiles->setCurrentRow(ListIndex);
    strCmds->clear();
    if (ListIndex >= 0) {
        try {
            LoadCommands(ListIndex);
        } catch (const std::exception& e) {
            ReportError(QString::fromUtf8(e.what()));
        }
    }

    strFilesFont = s.filesFont;
    strFilesColor = s.filesBackground;
    strCmdsFont = s.cmdsFont;
    strCmdsColor = s.cmdsBackground;
    ApplyListAppearance();

    uartDriver->SetOnReceiveData(
        [this](TCommPortDriver* sender, const std::uint8_t* data, std::int32_t size) {
            printf_ReceiveData(sender, data, size);
        });
    rxRender->SetMaxLines(s.rxLinesLimit, s.auxLinesLimit);
    rxRender->SetTextOptions({s.rxUtf8, s.rxColours, s.rxTabs});
    ClearRx();
    EnableViewsRX();
    cbxRTSCTSTag = 1;

    rgrCmdTClick();
    ScanComPorts();
    if (options_.port &&
        cbxPort->findText(*options_.port, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        // Named on the command line: the user vouches for it even if the scan missed it.
        const QString text = cbxPort->currentText();
        cbxPort->addItem(*options_.port);
        cbxPort->setEditText(text);
    }
    ApplyListColors();
    portWatch->Start(!options_.port);
}

void TfrmTerminal::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfrmTerminal::FormShow() {
    PlaceMainWindow();
    ApplyLogHeight();
    if (options_.connectAtStart) {
        options_.connectAtStart = false;
        if (btnConnectTag == 0) btnConnectClick();
    }
}

QString TfrmTerminal::OuterPlacementText() const {
    return QString("%1 %2 %3 %4")
        .arg(settings.windowWidth)
        .arg(settings.windowHeight)
        .arg(settings.windowLeft)
        .arg(settings.windowTop);
}

void TfrmTerminal::PlaceMainWindow() {
    // The toolkit's record of the last place is exact where the outer values cannot be: the
    // frame that the window manager adds is not known until after the window is shown, so an
    // outer size turned into an inner one grows the window by the frame at every start. The
    // record wins unless the outer values were edited since it was written.
    if (!settings.windowPlacement.empty() &&
        OuterPlacementText() == FromStd(settings.windowPlacementOuter) &&
        restoreGeometry(QByteArray::fromHex(QByteArray::fromStdString(settings.windowPlacement)))) {
        placedGeometry_ = geometry();
        placedState_ = windowState();
        return;
    }

    const int w = settings.windowWidth;
    const int h = settings.windowHeight;
    int left = settings.windowLeft;
    int top = settings.windowTop;

    // Outer size: the frame the window manager adds is known only once the window is shown. A
    // size no screen could show is cut down: its backing store alone could exhaust the memory.
    constexpr int kLargest = 16384;
    int frameW = frameGeometry().width() - width();
    int frameH = frameGeometry().height() - height();
    if (frameW == 0 && frameH == 0 && QGuiApplication::platformName() == "xcb") {
        // On X11 the window manager frames the window only after it is shown: assume a title bar
        // and thin borders, so that the outer size comes out near the one asked for and a window
        // fitted to a small screen does not end under the screen's edge.
        frameW = 2 * 4;
        frameH = style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * 4;
    }
    int clientW = std::clamp(w - frameW, 1, kLargest);
    int clientH = std::clamp(h - frameH, 1, kLargest);

    int maxWidth = INT_MIN, minLeft = INT_MAX, maxHeight = INT_MIN, minTop = INT_MAX;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        maxWidth = std::max(maxWidth, g.width());
        minLeft = std::min(minLeft, g.left());
        maxHeight = std::max(maxHeight, g.height());
        minTop = std::min(minTop, g.top());
    }
    if (!QGuiApplication::screens().isEmpty() &&
        (left > maxWidth || left < minLeft || top > maxHeight || top < minTop)) {
        left = 0;
        top = 0;
    }
    // A window larger than the screen it lands on hides its lower part (the log, Exit): it is
    // made to fit the screen's free area.
    if (const QScreen* screen = QGuiApplication::screenAt(QPoint(left, top))
                                    ? QGuiApplication::screenAt(QPoint(left, top))
                                    : QGuiApplication::primaryScreen()) {
        const QRect free = screen->availableGeometry();
        clientW = std::min(clientW, std::max(free.width() - frameW, 1));
        clientH = std::min(clientH, std::max(free.height() - frameH, 1));
    }
    resize(clientW, clientH);
    move(left, top);
    placedGeometry_ = geometry();
    placedState_ = windowState();
}

// ---------------------------------------------------------------------------------------------
// Shut-down

void TfrmTerminal::closeEvent(QCloseEvent* event) {
    FormClose();
    // The place is taken while the window is still on screen: once it is hidden, the window
    // manager takes its frame away, and an outer size read then would be the inner one.
    TakePlacement();
    event->accept();
}

void TfrmTerminal::TakePlacement() {
    if (!isVisible()) return;
    settings.logHeight = memoLog->height();
    const QRect frame = frameGeometry();
    // Now and then the X11 toolkit never learns the frame of a window it showed; a window the
    // user did not move or resize then keeps the place it was given rather than take its inner
    // size for its outer one.
    if (frame == geometry() && QGuiApplication::platformName() == "xcb" &&
        geometry() == placedGeometry_ && windowState() == placedState_)
        return;
    settings.windowWidth = frame.width();
    settings.windowHeight = frame.height();
    settings.windowLeft = frame.x();
    settings.windowTop = frame.y();
    settings.windowPlacement = saveGeometry().toHex().toStdString();
    settings.windowPlacementOuter = ToStd(OuterPlacementText());
}

void TfrmTerminal::FormClose() {
    if (btnTxFileTag == 1) btnTxFileClick();
    if (btnRxFileTag == 1) btnRxFileClick();
}

void TfrmTerminal::FormDestroy() {
    if (destroyed_ || !created_) return;
    destroyed_ = true;
    if (capture) capture->Disconnected();
    try {
        uartDriver->Disconnect();
    } catch (const std::exception& e) {
        ReportError(QString::fromUtf8(e.what()));
    }
    try {
        WriteSettingsAtExit();
    } catch (const std::exception& e) {
        ReportError(QString::fromUtf8(e.what()));
    }
    iniFile.reset();
    uartDriver->SetOnReceiveData({});
    kmodem.reset();
    rxRender.reset();
    if (ListIndex >= 0 && ListLoaded) {
        try {
            SaveCommands(ListIndex);
        } catch (const std::exception& e) {
            ReportError(QString::fromUtf8(e.what()));
        }
    }
    ListPaths.clear();
}

void TfrmTerminal::WriteSettingsAtExit() {
    Settings& s = settings;
    TakePlacement();
    s.clockHigh = clockHighColor;
    s.clockLow = clockLowColor;
    const RxTextOptions& text = rxRender->TextOptions();
    s.rxUtf8 = text.utf8;
    s.rxColours = text.colours;
    s.rxTabs = text.tabs;

    // A value given on the command line was for this run only: unless the user changed the box
    // since, the remembered value stays.
    QString port = cbxPort->currentText();
    if (options_.port && port == *options_.port) port = storedPort_;
    s.port = ToStd(port);
    QString baud = cbxBaud->currentText();
    if (options_.baud && baud == *options_.baud) baud = storedBaud_;
    s.baudRate = BaudRateFromText(ToStd(baud));
    s.keyReturn = cbxRet->isChecked();

    s.viewRxDec = cbxViewRX_DEC->isChecked();
    s.viewRxHex = cbxViewRX_HEX->isChecked();
    s.viewRxChar = cbxViewRX_CHAR->isChecked();
    s.viewRxBin = cbxViewRX_BIN->isChecked();
    s.sendCmd = cbxSendCmd->isChecked();
    s.send = cbxSend->isChecked();
    s.wordWrap = cbxWordWrap->isChecked();
    s.rtsCts = cbxRTSCTS->isChecked();
    // CR is kept in a key of its own: this one keeps the meaning older files give it.
    if (rgrCmdTGroup->checkedId() != SendControl::kTerminatorCr)
        s.cmdTerminator = rgrCmdTGroup->checkedId();

    s.memRxColor = memoUartColor;
    s.memRxFont = memoUartFont;
    s.memLogColor = memoLogColor;
    s.memLogFont = memoLogFont;
    s.editSend = ToStd(edtSend->text());
    s.listsFolder = ToStd(ListsFolder);
    s.listIndex = ListIndex;
    s.filesFont = strFilesFont;
    s.filesBackground = strFilesColor;
    s.cmdsFont = strCmdsFont;
    s.cmdsBackground = strCmdsColor;

    WriteExitSettings(*iniFile, s);
    lineControl->WriteSettings(*iniFile);
    if (sendControl) sendControl->WriteSettings(*iniFile);
    portWatch->WriteSettings(*iniFile);
    if (plotControl) plotControl->WriteSettings(*iniFile);
}

void TfrmTerminal::ReportError(const QString& text) {
    std::fprintf(stderr, "corvel: %s\n", text.toLocal8Bit().constData());
    dialogs_->Error(this, text);
}

// ---------------------------------------------------------------------------------------------
// Appearance

QColor TfrmTerminal::ToQColor(std::int32_t value) {
    const Rgb rgb = ColorToRgb(value);
    return QColor(rgb.r, rgb.g, rgb.b);
}

void TfrmTerminal::ApplyFont(QWidget* widget, const FontRecord& font) {
    widget->setFont(ToQFont(font));
    QPalette p = widget->palette();
    p.setColor(QPalette::Text, ToQColor(font.color));
    p.setColor(QPalette::WindowText, ToQColor(font.color));
    widget->setPalette(p);
}

void TfrmTerminal::ApplyBackground(QWidget* widget, std::int32_t color,
                                   const FontRecord* textFont) {
    QPalette p = widget->palette();
    p.setColor(QPalette::Base, ToQColor(color));
    if (textFont) p.setColor(QPalette::Text, ToQColor(textFont->color));
    widget->setPalette(p);
}

void TfrmTerminal::ApplyRxAppearance() {
    ApplyFont(memoUart, memoUartFont);
    ApplyBackground(memoUart, memoUartColor, nullptr);
    // The side window keeps its own face and size; only the colours follow.
    ApplyBackground(memoUartAux, memoUartColor, &memoUartFont);
    ApplyFont(edtSend, memoUartFont);
    ApplyBackground(edtSend, memoUartColor, nullptr);
}

void TfrmTerminal::ApplyLogAppearance() {
    ApplyFont(memoLog, memoLogFont);
    ApplyBackground(memoLog, memoLogColor, nullptr);
}

void TfrmTerminal::ApplyListAppearance() {
    ApplyFont(strFiles, strFilesFont);
    ApplyBackground(strFiles, strFilesColor, nullptr);
    ApplyFont(strCmds, strCmdsFont);
    ApplyBackground(strCmds, strCmdsColor, nullptr);
}

void TfrmTerminal::ApplyClockColors() {
    VrClock->SetHighColor(ToQColor(clockHighColor));
    VrClock->SetLowColor(ToQColor(clockLowColor));
    VrClock->ApplyBackground();
}

void TfrmTerminal::ApplyListColors() {
    QPalette p = tsPort->palette();
    p.setColor(QPalette::Window, ToQColor(strFilesColor));
    tsPort->setPalette(p);
    for (QLabel* l : {lblPort, lblBaud}) {
        QPalette lp = l->palette();
        lp.setColor(QPalette::WindowText, ToQColor(strFilesFont.color));
        l->setPalette(lp);
    }
}

// ---------------------------------------------------------------------------------------------
// Log window

QString TfrmTerminal::printf_Log(std::int32_t color, const char* format, ...) {
    va_list args;
    va_start(args, format);
    QString text = vprintf_Log(color, format, args);
    va_end(args);
    return text;
}

QString TfrmTerminal::vprintf_Log(std::int32_t color, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string buf;
    if (n < 0) {
        buf = format;
    } else {
        buf.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, args);
        buf.resize(static_cast<std::size_t>(n));
    }
    const QString text = QString::fromUtf8(buf);
    AppendLogLine(color, text);
    return text;
}

QString TfrmTerminal::print_Log(std::int32_t color, const QString& text) {
    AppendLogLine(color, text);
    return text;
}

void TfrmTerminal::AppendLogLine(std::int32_t color, const QString& text) {
    QTextDocument* doc = memoLog->document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(ToQColor(color));
    if (!doc->isEmpty()) cursor.insertBlock(QTextBlockFormat(), format);
    cursor.insertText(text, format);
    ScrollToEnd(memoLog);
}

void TfrmTerminal::ScrollToEnd(QTextEdit* box) {
    QScrollBar* bar = box->verticalScrollBar();
    bar->setValue(bar->maximum());
}

// ---------------------------------------------------------------------------------------------
// Receive path

void TfrmTerminal::printf_ReceiveData(TCommPortDriver*, const std::uint8_t* DataPtr,
                                      std::int32_t DataSize) {
    if (!rxRender || !DataPtr || DataSize <= 0) return;
    rxRender->printf_ReceiveData(DataPtr, static_cast<std::size_t>(DataSize));
    rxListeners.Feed(DataPtr, static_cast<std::size_t>(DataSize), host_->NowMs());
}

void TfrmTerminal::ClearRx() {
    if (rxRender) rxRender->ClearRx();
}

void TfrmTerminal::EnableViewsRX() {
    if (!rxRender) return;
    RxColumns columns;
    columns.showChar = cbxViewRX_CHAR->isChecked();
    columns.showDec = cbxViewRX_DEC->isChecked();
    columns.showHex = cbxViewRX_HEX->isChecked();
    columns.showBin = cbxViewRX_BIN->isChecked();
    const int width = rxRender->SetColumns(columns);
    if (width <= 0) {
        pnlUartAux->hide();
    } else {
        pnlUartAux->setFixedWidth(width);
        pnlUartAux->show();
    }
}

void TfrmTerminal::cbxASCIIClick() {
    if (rxRender) rxRender->SetMode(RxMode::Ascii);
}

void TfrmTerminal::cbxHEXClick() {
    if (rxRender) rxRender->SetMode(RxMode::Hex);
}

void TfrmTerminal::cbxWordWrapClick() {
    const bool wrap = cbxWordWrap->isChecked();
    memoUart->setLineWrapMode(wrap ? RxView::WidgetWidth : RxView::NoWrap);
    memoUart->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoUart->setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    memoUart->Repaint();
    memoUart->ScrollToEnd();
}

// ---------------------------------------------------------------------------------------------
// Ports and connection

void TfrmTerminal::ScanComPorts() {
    print_Log(ColorWarning, "FOUND COM PORTSS");
    const QString text = cbxPort->currentText();
    std::vector<std::string> ports = options_.scanPorts ? options_.scanPorts() : ScanAllPorts();
    cbxPort->clear();
    for (const std::string& name : ports) {
        cbxPort->addItem(FromStd(name));
        printf_Log(ColorMessage, "Found port %s", name.c_str());
    }
    cbxPort->setEditText(text);
    portWatch->ListRebuilt();
}

void TfrmTerminal::btnConnectClick() {
    portWatch->ConnectClicked();
    if (btnConnectTag == 1) {
        uartDriver->Disconnect();
        lineControl->AfterDisconnect();
        if (capture) capture->Disconnected();
        EnableControls(false, true);
        cbxPort->setEnabled(true);
        btnPort->setEnabled(true);
        cbxBaud->setEnabled(true);
        if (btnTxFileTag == 1) btnTxFileClick();
        if (btnRxFileTag == 1) btnRxFileClick();
        btnConnect->setText("Connect");
        btnConnectTag = 0;
        return;
    }

    const QString baudText = cbxBaud->currentText();
    const std::optional<std::int32_t> baud = ParseIniInteger(ToStd(baudText));
    // Zero and negative rates are no rate at all; the line would silently run at some default.
    if (!baud || *baud <= 0) {
        dialogs_->Warning(this, QString("Invalid baudrate %1").arg(baudText));
        return;
    }
    const QString portText = cbxPort->currentText();
    if (cbxPort->findText(portText, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        dialogs_->Warning(this, QString("Invalid port %1").arg(portText));
        return;
    }

    WaitCursor hourglass;
    uartDriver->SetComPort(ToStd(portText));
    uartDriver->SetComPortSpeed(static_cast<std::uint32_t>(*baud));
    lostReportQueued_ = false;
    lineControl->BeforeConnect();
    if (!uartDriver->Connect()) {
        if (portWatch->Reconnecting()) return;  // quietly: the watch tries again
        dialogs_->Warning(this, QString("Port %1 is already in use or is not available%2")
                                    .arg(portText, ReportPortRefusal()));
        return;
    }
    cbxRTSCTSClick();
    if (uartDriver->ComPortSpeed() > 115200)
        print_Log(ColorWarning, "ATTENTION: Only FTDIs support speeds above 115200 baudrate");
    lineControl->AfterConnect();
    EnableControls(true, true);
    cbxPort->setEnabled(false);
    btnPort->setEnabled(false);
    cbxBaud->setEnabled(false);
    memoUart->setFocus();
    btnConnect->setText("Disconnect");
    btnConnectTag = 1;
    portWatch->Connected();
    if (capture) capture->Connected();
}

QString TfrmTerminal::ReportPortRefusal() {
    const PortErrorKind kind = uartDriver->LastErrorKind();
    if (kind == PortErrorKind::AccessDenied) {
        printf_Log(ColorError,
                   "Permission denied: add your user to the group that owns %s (often dialout)",
                   uartDriver->ComPort().c_str());
    }
    const std::string why = DescribeOpenRefusal(kind, uartDriver->LastErrorMessage());
    if (why.empty()) return {};
    // "It is in use by ..." reads as "Port X is in use by ..." in the log.
    if (kind != PortErrorKind::AccessDenied && why.rfind("It ", 0) == 0)
        printf_Log(ColorError, "Port %s %s", uartDriver->ComPort().c_str(),
                   why.substr(3, why.size() - 4).c_str());
    return "\n" + FromStd(why);
}

void TfrmTerminal::OnPortLost() {
    lostReportQueued_ = false;
    if (btnConnectTag != 1) return;
    const std::string port = uartDriver->ComPort();
    btnConnectClick();
    printf_Log(ColorError, "Port %s was lost (device removed?)", port.c_str());
    portWatch->PortLost(port);
}

void TfrmTerminal::cbxRTSCTSClick() {
    if (cbxRTSCTS->isChecked()) {
        uartDriver->SetComPortHwHandshaking(hhRTSCTS);
        if (cbxRTSCTSTag == 1) {
            print_Log(ColorWarning,
                      "ATTENTION: If the other end of the communication is not connected during "
                      "data transmission, the terminal will dead lock");
        }
    } else {
        uartDriver->SetComPortHwHandshaking(hhNONE);
    }
}

void TfrmTerminal::EnableControls(bool a, bool b) {
    btnSend->setEnabled(a);
    btnRxFile->setEnabled(a);
    btnTxFile->setEnabled(a);
    btnConfig->setEnabled(!a);
    strCmds->setEnabled(b);
    // The list is off only while a transfer runs; so is Help, whose modal window would hold
    // the transfer's pumping (and the port) until it closed.
    btnHelp->setEnabled(b);
}

// ---------------------------------------------------------------------------------------------
// Send path

void TfrmTerminal::rgrCmdTClick() {
    const int id = rgrCmdTGroup->checkedId();
    SendTerminator = id == 0 ? "\n" : id == SendControl::kTerminatorCr ? "\r" : "\r\n";
}

void TfrmTerminal::edtSendChange() {
    SetDefaultButton("btnSend");
}

void TfrmTerminal::SetDefaultButton(const QString& name) {
    sendIsDefault_ = name == "btnSend";
    btnSend->setDefault(sendIsDefault_);
}

void TfrmTerminal::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && sendIsDefault_ &&
        btnSend->isEnabled() && btnSend->isVisible()) {
        // While a paced send runs the button stops it; Enter still sends the line after it.
        if (sendControl && sendControl->Busy())
            RunHandler([this] { SendEditLine(); });
        else
            btnSend->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TfrmTerminal::btnSendClick() {
    if (sendControl && sendControl->Busy()) {
        sendControl->Stop();
        return;
    }
    SendEditLine();
}

void TfrmTerminal::SendEditLine() {
    if (fileTransferActive) {
        print_Log(ColorWarning, "Command ignored, there are an file being transferred");
        return;
    }
    if (!uartDriver->Connected()) return;
    const QString text = edtSend->text();
    if (text.isEmpty()) return;
    sendControl->SendCommand(text, true);
}

// A line held off longer than the driver's output time-out drops the rest of the text.
void TfrmTerminal::ReportShortSend(std::int32_t sent, std::int32_t size) {
    if (sent < size)
        printf_Log(ColorWarning, "Send timed out: %d of %d bytes sent", static_cast<int>(sent),
                   static_cast<int>(size));
}

bool TfrmTerminal::memoUartKeyDown(int, Qt::KeyboardModifiers, bool) {
    if (fileTransferActive) {
        print_Log(ColorWarning, "Command ignored, file is being transferred");
        return false;
    }
    return true;
}

void TfrmTerminal::memoUartKeyPress(char16_t ch) {
    if (fileTransferActive) {
        print_Log(ColorWarning, "Command ignored, there are an file is being transferred");
        return;
    }
    if (cbxRet->isChecked() && ch == 13) ch = 10;
    if (uartDriver->Connected()) {
        sendControl->SendTyped(static_cast<std::uint8_t>(ch & 0xFF));
    } else {
        print_Log(ColorWarning, "UART disconnected");
    }
}

bool TfrmTerminal::eventFilter(QObject* watched, QEvent* event) {
    if (watched == memoUart) {
        if (event->type() == QEvent::ShortcutOverride) {
            // Keys typed here go to the board, even those the window would take as shortcuts
            // (Ctrl+C sends 3 rather than copying).
            if (!fileTransferActive) {
                event->accept();
                return true;
            }
        } else if (event->type() == QEvent::KeyPress) {
            auto* ke = static_cast<QKeyEvent*>(event);
            if (sendControl && sendControl->ReceiveWindowKey(ke)) return true;
            const std::u16string chars = CharactersOf(ke);
            const bool consumed = memoUartKeyDown(ke->key(), ke->modifiers(), !chars.empty());
            if (chars.empty()) return consumed;
            for (char16_t c : chars) memoUartKeyPress(c);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// File transfers

void TfrmTerminal::btnTxFileClick() {
    fileTransfer->btnTxFileClick();
}

void TfrmTerminal::btnRxFileClick() {
    fileTransfer->btnRxFileClick();
}

// ---------------------------------------------------------------------------------------------
// Command lists

void TfrmTerminal::LoadListFiles() {
    strFiles->clear();
    ListPaths.clear();
    for (const std::string& path : FindFiles(ToStd(ListsFolder), "cmds")) {
        ListPaths.append(FromStd(path));
        strFiles->addItem(FromStd(FileNameOf(path)));
    }
}

void TfrmTerminal::LoadCommands(int index) {
    ListLoaded = false;
    if (index < 0 || index >= ListPaths.size()) return;
    CmdsText text = ReadCmdsFile(ToStd(ListPaths[index]));
    ListLoaded = true;
    ListEncoding = text.encoding;
    SortNoCase(text.lines);
    for (const std::string& line : text.lines) strCmds->addItem(FromStd(line));
}

void TfrmTerminal::SaveCommands(int index) {
    if (index < 0 || index >= ListPaths.size()) return;
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(strCmds->count()));
    for (int i = 0; i < strCmds->count(); ++i) lines.push_back(ToStd(strCmds->item(i)->text()));
    WriteCmdsFile(ToStd(ListPaths[index]), lines, ListEncoding);
}

// ---------------------------------------------------------------------------------------------
// Buttons

void TfrmTerminal::btQuit() {
    close();
}

void TfrmTerminal::btnHelpClick() {
    if (fileTransferActive) return;
    ShowHelpWindow(this);
}

void TfrmTerminal::btnConfigClick() {
    const ConfigTargets targets{
        *uartDriver,  *kmodem,
        *iniFile,     settings,
        ColorMessage, ColorError,
        ColorWarning, [this](std::int32_t color, const QString& text) {
                                    print_Log(color, text); }};
    RunConfigDialog(this, *dialogs_, targets);
}

}  // namespace corvel
