#pragma once
// The settings dialog: the driver's timings and buffers, the log colours and the Kmodem
// settings, with three preset buttons. The dialog only shows and edits texts, check states and
// colours; the checking, the replacement values and the log texts are the core's
// (config/config_check.h). RunConfigDialog is the whole Settings button: fill, show modally, and
// on OK check, apply, store and report.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

#include "config/config_check.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace corvel {

class Dialogs;
class TCommPortDriver;
class tIniFile;
class tKmodem;
struct Settings;

class TfrmConfig : public QDialog {
    Q_OBJECT
  public:
    // The colour choosers are asked through dialogs, which must outlive the dialog.
    explicit TfrmConfig(Dialogs& dialogs, QWidget* parent = nullptr);

    // The fields as texts, check states and colours, read from and written to the controls.
    ConfigDialogFields Fields() const;
    void SetFields(const ConfigDialogFields& f);

    // Handlers, named after their controls.
    void FormShow();
    void cbxKmodemEnClick();
    void btnColorMessageClick();
    void btnColorErrorClick();
    void btnColorWarningClick();
    void btnStdTerminalClick();
    void btnStdModem1Click();
    void btnStdModem2Click();

    // A swatch's colour as stored (a system colour stays one until the user picks another).
    std::int32_t SwatchColor(const QLineEdit* swatch) const;

    // --- Controls (object names equal these member names) ---
    QTabWidget* PageControl1 = nullptr;
    QWidget* tsTerminal = nullptr;
    QWidget* tsModem = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    QLineEdit* edtTimeoutPolling = nullptr;
    QLineEdit* edtTimeoutGetChar = nullptr;
    QLineEdit* edtUartBuffer = nullptr;
    QCheckBox* cbxUartDebug = nullptr;
    QLabel* lblUartDebug = nullptr;  // the check box's caption, word-wrapped; clicking it toggles
    QLineEdit* edtColorMessage = nullptr;
    QLineEdit* edtColorError = nullptr;
    QLineEdit* edtColorWarning = nullptr;
    QPushButton* btnColorMessage = nullptr;
    QPushButton* btnColorError = nullptr;
    QPushButton* btnColorWarning = nullptr;
    QPushButton* btnStdTerminal = nullptr;

    QCheckBox* cbxKmodemEn = nullptr;
    QGroupBox* grpTimerOut = nullptr;
    QLineEdit* edtTimerOut = nullptr;
    QGroupBox* grpPackageSize = nullptr;
    QLineEdit* edtPackageSize = nullptr;
    QGroupBox* grpCmdRX = nullptr;
    QLineEdit* edtCmdRX = nullptr;
    QGroupBox* grpCmdTX = nullptr;
    QLineEdit* edtCmdTX = nullptr;
    QGroupBox* grpEco = nullptr;
    QCheckBox* cbxEco = nullptr;
    QGroupBox* rgrCmdT = nullptr;
    QButtonGroup* rgrCmdTGroup = nullptr;  // ids 0 LF, 1 CR LF, 2 CR
    QCheckBox* cbxKmodemDebug = nullptr;
    QLabel* lblKmodemDebug = nullptr;
    QPushButton* btnStdModem1 = nullptr;
    QPushButton* btnStdModem2 = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* BuildTerminalPage();
    QWidget* BuildModemPage();
    void ChooseSwatchColor(QLineEdit* swatch);
    void SetSwatchColor(QLineEdit* swatch, std::int32_t color);

    Dialogs& dialogs_;
    bool centred_ = false;
};

// What the Settings button works on: the main window's driver, Kmodem engine, settings file,
// stored values and log colours, and its log.
struct ConfigTargets {
    TCommPortDriver& uartDriver;
    tKmodem& kmodem;
    tIniFile& iniFile;
    // The window's record of stored values; the dialog's part is updated on OK.
    Settings& settings;
    std::int32_t& ColorMessage;
    std::int32_t& ColorError;
    std::int32_t& ColorWarning;
    // One coloured line for the log window (the colours are those in force after OK).
    std::function<void(std::int32_t color, const QString& text)> print_Log;
};

// Shows the dialog modally and returns its result (QDialog::Accepted for OK). The default runs
// exec(); tests pass a function that edits the controls and presses a button instead.
using ConfigModalRun = std::function<int(TfrmConfig&)>;

// The Settings button. Fills the dialog from the driver, Kmodem and colours in use, runs it,
// and on OK applies the checked values, logs each replacement in the error colour, writes the
// dialog's keys to the settings file in one replacement, then logs "Configurações salvas". On
// Cancel (Escape, closing the window) logs "Configurações cancelada" and changes nothing.
// Returns true for OK. A settings file that cannot be written throws FileError after the values
// were applied; "Configurações salvas" is then not logged. The dialog is destroyed on every
// path.
bool RunConfigDialog(QWidget* parent, Dialogs& dialogs, const ConfigTargets& targets,
                     const ConfigModalRun& modal = {});

// For window tests that press the Settings button: while set, RunConfigDialog calls this
// instead of exec() when no modal function is passed. Returns the previous one.
ConfigModalRun SetConfigModalRunForTests(ConfigModalRun run);

}  // namespace corvel
