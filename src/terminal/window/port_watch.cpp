#include "terminal/window/port_watch.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QLineEdit>
#include <algorithm>

#include "board/ports.h"
#include "comport/comport.h"
#include "terminal/settings_file.h"
#include "terminal/window/status_fields.h"
#include "terminal/window/terminal.h"

namespace corvel {

namespace {

constexpr const char* kSection = "USB";
constexpr const char* kReconnectKey = "RECONNECT";
constexpr const char* kDeviceKey = "DEVICE";
constexpr const char* kStatusKey = "reconnect";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

PortWatch::PortWatch(TfrmTerminal& window, Host& host, ScanFn scan, DescribeFn describe)
    : w_(window), host_(host), scan_(std::move(scan)), describe_(std::move(describe)) {
    cbxReconnect = new QCheckBox("Reconnect automatically", w_.tsPort);
    cbxReconnect->setObjectName("cbxReconnect");
    cbxReconnect->setToolTip(
        "When the port is lost, wait for the same device and connect to it again");
    cbxReconnect->setChecked(true);
    // The page's first row holds the port, the baud rate and Connect; the box goes after them.
    QLayout* page = w_.tsPort->layout();
    auto* row = qobject_cast<QHBoxLayout*>(page);
    if (!row && page && page->count() > 0)
        row = qobject_cast<QHBoxLayout*>(page->itemAt(0)->layout());
    if (row) row->insertWidget(std::max(0, row->count() - 1), cbxReconnect);  // before the stretch
    connect(w_.cbxPort, &QComboBox::currentTextChanged, this, &PortWatch::ShowDescription);
    connect(cbxReconnect, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) StopWatching();
    });
}

PortWatch::~PortWatch() {
    host_.StopTimer(timer_);
}

bool PortWatch::AutoReconnect() const {
    return cbxReconnect->isChecked();
}

void PortWatch::Start(bool followDevice) {
    if (w_.iniFile) {
        cbxReconnect->setChecked(w_.iniFile->ReadBool(kSection, kReconnectKey, true));
        identity_ = UsbIdentity::FromText(w_.iniFile->ReadString(kSection, kDeviceKey, ""));
        deviceName_ = identity_.Empty() ? std::string() : ShortDeviceName(identity_);
    }
    const std::vector<PortInfo> infos = describe_(names_);
    for (const PortInfo& p : infos)
        if (p.usb && p.id == identity_) deviceName_ = ShortDeviceName(p);
    const std::string now = FindDevice(infos);
    const std::string shown = w_.cbxPort->currentText().toStdString();
    if (followDevice && !now.empty() && now != shown) {
        w_.cbxPort->setEditText(Q(now));
        w_.printf_Log(w_.ColorMessage, "%s is now at %s (was %s)", deviceName_.c_str(), now.c_str(),
                      shown.c_str());
    }
    // Where the system keeps device nodes (not on Windows), a change there is worth a scan now.
    for (const char* dir : {"/dev", "/dev/pts"}) {
        if (!QFileInfo(dir).isDir()) continue;
        if (!devWatch_) {
            devWatch_ = new QFileSystemWatcher(this);
            connect(devWatch_, &QFileSystemWatcher::directoryChanged, this,
                    [this] { devChanged_ = true; });
        }
        devWatch_->addPath(dir);
    }
    timer_ = host_.StartTimer(kRescanMs, [this] { Tick(); });
}

void PortWatch::Tick() {
    idleMs_ += kRescanMs;
    if (!watching_ && !devChanged_ && !pendingRebuild_ && idleMs_ < kIdleRescanMs) return;
    devChanged_ = false;
    idleMs_ = 0;
    Rescan();
}

void PortWatch::WriteSettings(tIniFile& ini) const {
    ini.WriteBool(kSection, kReconnectKey, AutoReconnect());
    ini.WriteString(kSection, kDeviceKey, identity_.ToText());
}

void PortWatch::ListRebuilt() {
    names_.clear();
    for (int i = 0; i < w_.cbxPort->count(); ++i)
        names_.push_back(w_.cbxPort->itemText(i).toStdString());
    Describe(describe_(names_));
}

void PortWatch::Describe(const std::vector<PortInfo>& infos) {
    QComboBox* box = w_.cbxPort;
    // Changing the current item's data makes the box show that item's text: keep the user's.
    const QString shown = box->currentText();
    const int caret = box->lineEdit() ? box->lineEdit()->cursorPosition() : 0;
    for (const PortInfo& info : infos) {
        const int i = box->findText(Q(info.name), Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (i < 0) continue;
        QString text = Q(DescribePort(info));
        if (text.isEmpty() && info.name == kSimBoardPort)
            text = "Virtual board in this program: a shell, files in RAM, Kmodem";
        if (text.isEmpty() && info.name == kSimLoopPort)
            text = "Loopback in this program: sends back what it receives";
        box->setItemData(i, text, Qt::ToolTipRole);
        box->setItemData(i, text, Qt::UserRole);
    }
    if (box->currentText() != shown) {
        box->setEditText(shown);
        if (box->lineEdit()) box->lineEdit()->setCursorPosition(caret);
    }
    ShowDescription(shown);
}

void PortWatch::ShowDescription(const QString& port) {
    QComboBox* box = w_.cbxPort;
    const int i = box->findText(port, Qt::MatchExactly | Qt::MatchCaseSensitive);
    box->setToolTip(i < 0 ? QString() : box->itemData(i, Qt::UserRole).toString());
}

void PortWatch::RebuildList(const std::vector<std::string>& names) {
    QComboBox* box = w_.cbxPort;
    // The user has the list open: changing it under the pointer would move the choice.
    if (box->view() && box->view()->isVisible()) {
        pendingRebuild_ = true;
        return;
    }
    pendingRebuild_ = false;
    for (const std::string& n : names)
        if (std::find(names_.begin(), names_.end(), n) == names_.end())
            w_.printf_Log(w_.ColorMessage, "Port %s arrived", n.c_str());
    for (const std::string& n : names_)
        if (std::find(names.begin(), names.end(), n) == names.end())
            w_.printf_Log(w_.ColorMessage, "Port %s went away", n.c_str());
    const QString text = box->currentText();
    const int caret = box->lineEdit() ? box->lineEdit()->cursorPosition() : 0;
    const QSignalBlocker quiet(box);
    box->clear();
    for (const std::string& n : names) box->addItem(Q(n));
    box->setEditText(text);
    if (box->lineEdit()) box->lineEdit()->setCursorPosition(caret);
    names_ = names;
}

void PortWatch::Rescan() {
    const std::vector<std::string> names = scan_();
    const bool changed = names != names_;
    if (changed || pendingRebuild_) RebuildList(names);
    if (!watching_ && !changed) return;
    const std::vector<PortInfo> infos = describe_(names_);
    if (changed) Describe(infos);
    if (watching_) TryReconnect(infos);
}

std::string PortWatch::FindDevice(const std::vector<PortInfo>& infos) const {
    if (identity_.Empty()) return {};
    return FindPortByIdentity(infos, identity_).value_or("");
}

void PortWatch::ConnectClicked() {
    if (!reconnecting_) StopWatching();
}

void PortWatch::Connected() {
    const std::string port = w_.uartDriver->ComPort();
    const std::vector<PortInfo> infos = describe_({port});
    if (!infos.empty() && infos[0].usb) {
        identity_ = infos[0].id;
        deviceName_ = ShortDeviceName(infos[0]);
    } else {
        // The chosen port is no USB device: nothing to follow by identity.
        identity_ = {};
        deviceName_.clear();
    }
}

void PortWatch::PortLost(const std::string& port) {
    if (!AutoReconnect()) return;
    watching_ = true;
    lostPort_ = port;
    lostBaud_ = w_.uartDriver->ComPortSpeed();
    const std::string who = deviceName_.empty() ? port : deviceName_;
    w_.status->Set(kStatusKey, Q("waiting for " + who));
    w_.printf_Log(w_.ColorMessage, "Waiting for %s to come back", who.c_str());
}

void PortWatch::StopWatching() {
    if (!watching_) return;
    watching_ = false;
    w_.status->Set(kStatusKey, QString());
}

void PortWatch::TryReconnect(const std::vector<PortInfo>& infos) {
    // A transfer ended by the loss is still unwinding inside its own loop; let it finish. The
    // settings dialog may only run while disconnected: wait until it is closed.
    if (w_.fileTransferActive || w_.btnConnectTag == 1 || QApplication::activeModalWidget()) return;
    std::string target;
    if (!identity_.Empty()) {
        target = FindDevice(infos);
    } else if (std::find(names_.begin(), names_.end(), lostPort_) != names_.end()) {
        target = lostPort_;
    }
    // Only a listed port passes the connect's own check; one held back under an open popup waits.
    if (target.empty() ||
        w_.cbxPort->findText(Q(target), Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        return;
    const QString before = w_.cbxPort->currentText();
    const QString baudBefore = w_.cbxBaud->currentText();
    w_.cbxPort->setEditText(Q(target));
    // The same settings as before the loss, whatever was typed into the baud box meanwhile.
    w_.cbxBaud->setEditText(QString::number(lostBaud_));
    reconnecting_ = true;
    w_.btnConnectClick();
    reconnecting_ = false;
    if (w_.btnConnectTag != 1) {
        // Not ready yet (udev still setting permissions...): the boxes show what they showed.
        w_.cbxPort->setEditText(before);
        w_.cbxBaud->setEditText(baudBefore);
        return;
    }
    StopWatching();
    if (target != lostPort_)
        w_.printf_Log(w_.ColorMessage, "%s is now at %s (was %s)", deviceName_.c_str(),
                      target.c_str(), lostPort_.c_str());
    w_.printf_Log(w_.ColorMessage, "Reconnected to %s", target.c_str());
}

}  // namespace corvel
