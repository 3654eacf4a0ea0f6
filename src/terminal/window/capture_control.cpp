#include "terminal/window/capture_control.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <cstdio>

#include "terminal/settings_file.h"
#include "terminal/window/application.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/status_fields.h"
#include "terminal/window/terminal.h"

namespace corvel {

namespace {

constexpr const char* kSection = "CAPTURE";
constexpr std::uint32_t kStatusPeriodMs = 500;

QString SizeText(std::uint64_t n) {
    char text[32];
    if (n < 1024)
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(n));
    else if (n < 1024ull * 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(n) / 1024);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(n) / (1024.0 * 1024));
    return text;
}

}  // namespace

CaptureControl::CaptureControl(TfrmTerminal& window, std::optional<QString> commandLineFile)
    : w(window), writer_(window.host()), commandLineFile_(std::move(commandLineFile)) {
    tsCapture = new QWidget;
    tsCapture->setObjectName("tsCapture");
    tsCapture->setAutoFillBackground(true);
    cbxCapture = new QCheckBox("Capture", tsCapture);
    cbxCapture->setObjectName("cbxCapture");
    cbxCaptureNaming = new QComboBox(tsCapture);
    cbxCaptureNaming->setObjectName("cbxCaptureNaming");
    cbxCaptureNaming->addItems({"To file", "Port and time, in folder"});
    edtCaptureFile = new QLineEdit(tsCapture);
    edtCaptureFile->setObjectName("edtCaptureFile");
    edtCaptureFile->setMinimumWidth(220);
    btnCaptureFile = new QPushButton("...", tsCapture);
    btnCaptureFile->setObjectName("btnCaptureFile");
    btnCaptureFile->setMaximumWidth(32);
    rbCaptureRaw = new QRadioButton("Raw", tsCapture);
    rbCaptureRaw->setObjectName("rbCaptureRaw");
    rbCaptureText = new QRadioButton("Text with times", tsCapture);
    rbCaptureText->setObjectName("rbCaptureText");
    rbCaptureRaw->setChecked(true);
    cbxCaptureAppend = new QCheckBox("Append", tsCapture);
    cbxCaptureAppend->setObjectName("cbxCaptureAppend");
    cbxCaptureAtConnect = new QCheckBox("Capture at connect", tsCapture);
    cbxCaptureAtConnect->setObjectName("cbxCaptureAtConnect");
    auto* row = new QHBoxLayout(tsCapture);
    row->addWidget(cbxCapture);
    row->addWidget(cbxCaptureNaming);
    row->addWidget(edtCaptureFile, 1);
    row->addWidget(btnCaptureFile);
    row->addSpacing(8);
    row->addWidget(rbCaptureRaw);
    row->addWidget(rbCaptureText);
    row->addWidget(cbxCaptureAppend);
    row->addWidget(cbxCaptureAtConnect);
    w.pageControl->addTab(tsCapture, "Capture");

    ReadSettings();
    writer_.OnError = [this](const std::string& error) {
        w.print_Log(w.ColorError, "Capture stopped: " + QString::fromStdString(error));
        End();
    };
    listener_ = w.rxListeners.Add([this](const std::uint8_t* data, std::size_t size,
                                         std::uint64_t nowMs) { writer_.Feed(data, size, nowMs); });

    const auto handler = [this](void (CaptureControl::*fn)()) {
        return [this, fn] { RunHandler([this, fn] { (this->*fn)(); }); };
    };
    connect(cbxCapture, &QCheckBox::clicked, this, handler(&CaptureControl::cbxCaptureClick));
    connect(btnCaptureFile, &QPushButton::clicked, this,
            handler(&CaptureControl::btnCaptureFileClick));
    connect(cbxCaptureNaming, &QComboBox::currentIndexChanged, this, [this] {
        edtCaptureFile->setText(cbxCaptureNaming->currentIndex() == 1 ? folder_ : file_);
        WriteSettings();
    });
    connect(edtCaptureFile, &QLineEdit::editingFinished, this, [this] {
        (cbxCaptureNaming->currentIndex() == 1 ? folder_ : file_) = edtCaptureFile->text();
        WriteSettings();
    });
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
             rbCaptureText, cbxCaptureAppend, cbxCaptureAtConnect})
        connect(b, &QAbstractButton::toggled, this, [this] { WriteSettings(); });
}

CaptureControl::~CaptureControl() {
    w.rxListeners.Remove(listener_);
    End();
}

void CaptureControl::ReadSettings() {
    loading_ = true;
    const tIniFile& ini = *w.iniFile;
    file_ = QString::fromStdString(ini.ReadString(kSection, "File", ""));
    folder_ = QString::fromStdString(ini.ReadString(kSection, "Folder", ""));
    if (folder_.isEmpty()) folder_ = QFileInfo(w.settingsPath).absolutePath();
    cbxCaptureNaming->setCurrentIndex(ini.ReadString(kSection, "Naming", "File") == "Pattern" ? 1
                                                                                              : 0);
    edtCaptureFile->setText(cbxCaptureNaming->currentIndex() == 1 ? folder_ : file_);
    (ini.ReadString(kSection, "Form", "Raw") == "Text" ? rbCaptureText : rbCaptureRaw)
        ->setChecked(true);
    cbxCaptureAppend->setChecked(ini.ReadBool(kSection, "Append", false));
    cbxCaptureAtConnect->setChecked(ini.ReadBool(kSection, "AtConnect", false));
    loading_ = false;
}

void CaptureControl::WriteSettings() {
    if (loading_) return;
    try {
        w.iniFile->Update([this] {
            tIniFile& ini = *w.iniFile;
            ini.WriteString(kSection, "Naming",
                            cbxCaptureNaming->currentIndex() == 1 ? "Pattern" : "File");
            ini.WriteString(kSection, "File", file_.toStdString());
            ini.WriteString(kSection, "Folder", folder_.toStdString());
            ini.WriteString(kSection, "Form", rbCaptureText->isChecked() ? "Text" : "Raw");
            ini.WriteBool(kSection, "Append", cbxCaptureAppend->isChecked());
            ini.WriteBool(kSection, "AtConnect", cbxCaptureAtConnect->isChecked());
        });
    } catch (const std::exception& e) {
        w.print_Log(w.ColorError, QString::fromUtf8(e.what()));
    }
}

void CaptureControl::btnCaptureFileClick() {
    if (cbxCaptureNaming->currentIndex() == 1) {
        const QString folder = w.dialogs().ChooseFolder(&w, "Capture folder", folder_);
        if (folder.isEmpty()) return;
        folder_ = folder;
    } else {
        const QString file =
            w.dialogs().SaveFile(&w, "Capture to file", "Log files (*.log);;All files (*)",
                                 file_.isEmpty() ? folder_ : file_, "log");
        if (file.isEmpty()) return;
        file_ = file;
    }
    edtCaptureFile->setText(cbxCaptureNaming->currentIndex() == 1 ? folder_ : file_);
    WriteSettings();
}

QString CaptureControl::NextPath() {
    if (cbxCaptureNaming->currentIndex() == 1) {
        // Before a Connect the driver still names the port of the last one.
        const std::string port = w.uartDriver->Connected() ? w.uartDriver->ComPort()
                                                           : w.cbxPort->currentText().toStdString();
        const std::string name = CaptureFileName(port, SystemWallMs());
        return QFileInfo(folder_).absoluteFilePath() + "/" + QString::fromStdString(name);
    }
    if (file_.isEmpty()) btnCaptureFileClick();
    return file_;
}

void CaptureControl::cbxCaptureClick() {
    if (!cbxCapture->isChecked()) {
        End();
        return;
    }
    const QString path = NextPath();
    if (path.isEmpty()) {
        ShowSwitch(false);
        return;
    }
    Begin({path.toStdString(), rbCaptureText->isChecked() ? CaptureForm::Text : CaptureForm::Raw,
           cbxCaptureAppend->isChecked()});
}

void CaptureControl::Connected() {
    if (writer_.Active()) return;
    if (commandLineFile_) {
        Begin({commandLineFile_->toStdString(), CaptureForm::Raw, commandLineStarted_});
        commandLineStarted_ = true;
        return;
    }
    if (cbxCaptureAtConnect->isChecked()) {
        cbxCapture->setChecked(true);
        cbxCaptureClick();
    }
}

void CaptureControl::Disconnected() {
    End();
}

void CaptureControl::Begin(const CaptureOptions& options) {
    std::string error;
    if (!writer_.Start(options, &error)) {
        w.print_Log(w.ColorError, "Cannot capture: " + QString::fromStdString(error));
        ShowSwitch(false);
        return;
    }
    const QString path = QString::fromStdString(options.path);
    w.print_Log(w.ColorMessage, QString("Capturing to %1 (%2, %3)")
                                    .arg(path, options.form == CaptureForm::Text ? "text" : "raw",
                                         options.append ? "appended" : "replaced"));
    ShowSwitch(true);
    ShowStatus();
    w.status->SetToolTip("capture", path);
    statusTimer_ = w.host().StartTimer(kStatusPeriodMs, [this] { ShowStatus(); });
}

void CaptureControl::End() {
    if (statusTimer_) w.host().StopTimer(statusTimer_);
    statusTimer_ = 0;
    if (writer_.Active()) {
        const QString path = QString::fromStdString(writer_.Options().path);
        writer_.Stop();
        w.print_Log(w.ColorMessage,
                    QString("Capture ended: %1, %2").arg(path, SizeText(writer_.Size())));
    }
    ShowSwitch(false);
    if (w.status) w.status->Set("capture", "");
}

void CaptureControl::ShowStatus() {
    if (!writer_.Active()) return;
    w.status->Set(
        "capture",
        "Capture: " + QFileInfo(QString::fromStdString(writer_.Options().path)).fileName() + " " +
            SizeText(writer_.Size()));
}

void CaptureControl::ShowSwitch(bool on) {
    const QSignalBlocker quiet(cbxCapture);
    cbxCapture->setChecked(on);
}

}  // namespace corvel
