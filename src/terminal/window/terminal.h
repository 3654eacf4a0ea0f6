#pragma once
// The main window. It owns the serial driver, the receive renderer and its line editor, the
// Kmodem engine, the settings file and the command lists, and turns user actions into calls on
// them. The handlers keep the names of the controls and events they serve (btnConnectClick,
// memoUartKeyPress...), so the code reads against the behaviour it implements.
//
// Everything the window needs from the outside world comes in through TerminalOptions, so a test
// can give it a settings file in a temporary folder, a simulated port, a fixed port list,
// scripted dialogs and a hand-driven clock.

#include <QMainWindow>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comport/comport.h"
#include "comport/port_info.h"
#include "kmodem/u_kmodem.h"
#include "terminal/cmds_file.h"
#include "terminal/font_record.h"
#include "terminal/line_settings.h"
#include "terminal/receive_listeners.h"
#include "terminal/rx_render.h"
#include "terminal/settings.h"
#include "terminal/settings_file.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTabWidget;
class QTextEdit;
class QTimer;

namespace corvel {

class CaptureControl;
class CommandLists;
class Dialogs;
class DisplayMenus;
class ElapsedClock;
class LineControl;
class PlotControl;
class RxView;
class PortWatch;
class StatusFields;
class SearchBar;
class SendControl;
class tFileTransfer;

struct TerminalOptions {
    // Full path of the settings file; empty chooses "tool_terminal.ini" beside the executable
    // (or the per-user folder when that one is not writable).
    QString settingsPath;
    // Folder the command lists default to on a first start; empty = the executable's folder.
    QString defaultListsFolder;
    // Makes the OS layer of the port; empty = this platform's serial ports.
    std::function<std::unique_ptr<ComPortIo>()> makePortIo;
    // Lists the ports present, in enumeration order; empty = this platform's scan.
    std::function<std::vector<std::string>()> scanPorts;
    // Describes the listed ports (USB ids, driver); empty = this platform's description.
    std::function<std::vector<PortInfo>(const std::vector<std::string>&)> describePorts;
    // Not owned; null = Qt's dialogs, respectively timers on the Qt event loop.
    Dialogs* dialogs = nullptr;
    Host* host = nullptr;

    // From the command line: used for this run instead of the remembered values.
    std::optional<QString> port;
    std::optional<QString> baud;
    LineOverrides line;
    bool connectAtStart = false;
    // Opens the plot window at start, for this run.
    bool showPlot = false;
    std::optional<std::uint32_t> charDelayMs;
    std::optional<std::uint32_t> lineDelayMs;
    bool localEcho = false;
    // Raw capture into this file from every Connect of this run.
    std::optional<QString> captureFile;
};

class TfrmTerminal : public QMainWindow {
    Q_OBJECT
  public:
    explicit TfrmTerminal(TerminalOptions options = {}, QWidget* parent = nullptr);
    ~TfrmTerminal() override;

    // --- Lifecycle ---
    void FormCreate();
    void FormShow();
    void FormClose();
    // Writes the settings kept at exit; runs once (the destructor calls it if nobody did).
    void FormDestroy();
    void PlaceMainWindow();
    // The outer values of [WINDOWS] as one text, to tell whether they changed by hand.
    QString OuterPlacementText() const;
    // Reads the window's place into settings (while it is shown; otherwise keeps the last).
    void TakePlacement();

    // --- Log window ---
    // One coloured line; the text is returned. A format the C library rejects is shown as is.
    QString printf_Log(std::int32_t color, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // The text is shown literally ("%" included).
    QString print_Log(std::int32_t color, const QString& text);
    static void ScrollToEnd(QTextEdit* box);

    // --- Receive path ---
    void printf_ReceiveData(TCommPortDriver* Sender, const std::uint8_t* DataPtr,
                            std::int32_t DataSize);
    void ClearRx();
    void EnableViewsRX();
    void cbxASCIIClick();
    void cbxHEXClick();
    void cbxWordWrapClick();

    // --- Ports and connection ---
    void ScanComPorts();
    void btnPortClick() {
        ScanComPorts();
    }
    void btnConnectClick();
    void cbxRTSCTSClick();
    void EnableControls(bool a, bool b);

    // --- Send path ---
    void rgrCmdTClick();
    void edtSendChange();
    void SetDefaultButton(const QString& name);
    bool IsDefaultButton() const {
        return sendIsDefault_;
    }
    void btnSendClick();
    // The send line's text as a command (btnSendClick when no paced send runs).
    void SendEditLine();
    // True when the key was consumed (it then has no effect in the receive window).
    bool memoUartKeyDown(int key, Qt::KeyboardModifiers modifiers, bool producesCharacter);
    void memoUartKeyPress(char16_t ch);
    void ReportShortSend(std::int32_t sent, std::int32_t size);

    // --- File transfers (run by fileTransfer) ---
    void btnTxFileClick();
    void btnRxFileClick();
    std::unique_ptr<tFileTransfer> fileTransfer;

    // --- Formats, paste, terminal keys, history, pacing and echo of what is sent ---
    std::unique_ptr<SendControl> sendControl;
    // Capture of the received bytes to a file (its own page).
    std::unique_ptr<CaptureControl> capture;
    // Find in the receive window and the log (a child of the window).
    SearchBar* search = nullptr;

    // --- Command lists (operated by commandLists) ---
    std::unique_ptr<CommandLists> commandLists;
    void LoadListFiles();
    void LoadCommands(int index);
    void SaveCommands(int index);
    void ApplyListColors();

    // --- Buttons ---
    void btQuit();
    void btnHelpClick();
    void btnConfigClick();

    // --- Colours ---
    // A stored colour value as the widgets show it (system colours resolve through the palette).
    static QColor ToQColor(std::int32_t value);

    // --- State shared with the other parts of the window ---
    std::unique_ptr<TCommPortDriver> uartDriver;
    std::unique_ptr<tRxRenderer> rxRender;
    // Everything besides the receive window that is fed the received chunks.
    ReceiveListeners rxListeners;
    std::unique_ptr<tKmodem> kmodem;
    std::unique_ptr<tIniFile> iniFile;
    // Every stored value as of the last read or write; the settings dialog edits its part.
    Settings settings;
    QStringList ListPaths;
    // The current list is written back in the encoding it was read in.
    TextEncoding ListEncoding = TextEncoding::Ansi;
    // False when the current list could not be read: writing the empty box back would destroy
    // the file.
    bool ListLoaded = false;
    int ListIndex = -1;
    QString ListsFolder;
    std::string SendTerminator;
    std::int32_t ColorMessage = 16711680;
    std::int32_t ColorError = 255;
    std::int32_t ColorWarning = 65535;
    bool fileTransferActive = false;

    // Appearance as stored (system colours stay system colours through a save).
    std::int32_t memoUartColor = -16777211;
    std::int32_t memoLogColor = -16777211;
    std::int32_t strFilesColor = -16777211;
    std::int32_t strCmdsColor = -16777211;
    std::int32_t clockHighColor = 16776960;
    std::int32_t clockLowColor = 16711680;
    FontRecord memoUartFont;
    FontRecord memoLogFont;
    FontRecord strFilesFont;
    FontRecord strCmdsFont;
    void ApplyRxAppearance();
    void ApplyLogAppearance();
    void ApplyListAppearance();
    void ApplyClockColors();

    // Running marks ("tags") of the buttons that have them.
    int btnConnectTag = 0;
    int cbxRTSCTSTag = 0;
    int btnTxFileTag = 0;
    int btnRxFileTag = 0;

    // Where the settings live and why (one log line when not beside the executable).
    QString settingsPath;

    // --- Controls (object names equal these member names) ---
    QTabWidget* pageControl = nullptr;
    QWidget* tsPort = nullptr;
    QWidget* tsSend = nullptr;
    QLabel* lblPort = nullptr;
    QLabel* lblBaud = nullptr;
    QComboBox* cbxPort = nullptr;
    QPushButton* btnPort = nullptr;
    QComboBox* cbxBaud = nullptr;
    QPushButton* btnConnect = nullptr;
    QGroupBox* rgrCmdT = nullptr;
    QButtonGroup* rgrCmdTGroup = nullptr;
    QCheckBox* cbxSend = nullptr;
    QCheckBox* cbxRet = nullptr;
    QCheckBox* cbxRTSCTS = nullptr;
    QRadioButton* cbxASCII = nullptr;
    QRadioButton* cbxHEX = nullptr;
    QCheckBox* cbxWordWrap = nullptr;
    QCheckBox* cbxViewRX_CHAR = nullptr;
    QCheckBox* cbxViewRX_DEC = nullptr;
    QCheckBox* cbxViewRX_HEX = nullptr;
    QCheckBox* cbxViewRX_BIN = nullptr;
    RxView* memoUart = nullptr;
    QWidget* pnlUartAux = nullptr;
    RxView* memoUartAux = nullptr;
    QLineEdit* edtSend = nullptr;
    QPushButton* btnSend = nullptr;
    QPushButton* btnMemAdd = nullptr;
    QPushButton* btnRxFile = nullptr;
    QPushButton* btnTxFile = nullptr;
    QProgressBar* barProgress = nullptr;
    ElapsedClock* VrClock = nullptr;
    QLabel* lblRate = nullptr;
    QTextEdit* memoLog = nullptr;
    // Between the upper part of the window and the log.
    QSplitter* splLog = nullptr;
    QListWidget* strFiles = nullptr;
    QListWidget* strCmds = nullptr;
    QCheckBox* cbxSendCmd = nullptr;
    QPushButton* btnConfig = nullptr;
    QPushButton* btnHelp = nullptr;
    QPushButton* btnQuit = nullptr;
    QTimer* timeCalcByteRate = nullptr;
    // The status bar's named fields; each part of the window sets its own.
    std::unique_ptr<StatusFields> status;
    // Frame format, flow control, DTR/RTS, reset pulse, BREAK, modem lines.
    std::unique_ptr<LineControl> lineControl;
    // Port descriptions, the remembered device, hot-plug and the automatic reconnect.
    std::unique_ptr<PortWatch> portWatch;
    // Filled and handled by displayMenus (popMenu1-3) and commandLists (popFiles, popCmds).
    std::unique_ptr<DisplayMenus> displayMenus;
    // The plot window and its "Plot" check box in the mode bar.
    std::unique_ptr<PlotControl> plotControl;
    QMenu* popMenu1 = nullptr;
    QMenu* popMenu2 = nullptr;
    QMenu* popMenu3 = nullptr;
    QMenu* popFiles = nullptr;
    QMenu* popCmds = nullptr;

    RxView* memoUartBox() const {
        return memoUart;
    }
    RxView* memoUartAuxBox() const {
        return memoUartAux;
    }
    Dialogs& dialogs() {
        return *dialogs_;
    }
    Host& host() {
        return *host_;
    }
    const TerminalOptions& Options() const {
        return options_;
    }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void BuildMenus();
    // The log's remembered height, set once the window has its size.
    void ApplyLogHeight();
    void ConnectSignals();
    void ReadSettingsAtStart();
    void WriteSettingsAtExit();
    void OnPortLost();
    // Logs why the last connect was refused; the reason as a second line for the box, or empty.
    QString ReportPortRefusal();
    QString vprintf_Log(std::int32_t color, const char* format, va_list args);
    void AppendLogLine(std::int32_t color, const QString& text);
    void ApplyFont(QWidget* widget, const FontRecord& font);
    void ApplyBackground(QWidget* widget, std::int32_t color, const FontRecord* textFont);
    void ReportError(const QString& text);

    TerminalOptions options_;
    std::unique_ptr<Dialogs> ownDialogs_;
    Dialogs* dialogs_ = nullptr;
    std::unique_ptr<Host> ownHost_;
    Host* host_ = nullptr;
    bool sendIsDefault_ = false;
    bool created_ = false;
    bool shown_ = false;
    bool destroyed_ = false;
    bool lostReportQueued_ = false;
    // Remembered values that a command-line override hides for this run.
    QString storedPort_;
    QString storedBaud_;
    // Where PlaceMainWindow put the window.
    QRect placedGeometry_;
    Qt::WindowStates placedState_;
};

}  // namespace corvel
