#pragma once
// USB-aware ports for the main window: descriptions of what sits behind each entry of the port
// list, the chosen device's identity remembered in [USB] so a board that comes back under another
// name is still found, a list that follows devices as they come and go, and the automatic
// reconnect after a port is lost ("Reconnect automatically", remembered, on by default).
//
// Watching is a cheap periodic rescan on the host's timer: it works the same on every system and
// in tests on the fake clock. A user's click on Connect/Disconnect stops the watching, as does
// unchecking the option; a transfer that the loss ended is not restarted.

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "comport/port_info.h"
#include "host/host.h"

class QCheckBox;

namespace corvel {

class TfrmTerminal;
class tIniFile;

class PortWatch : public QObject {
    Q_OBJECT
  public:
    using ScanFn = std::function<std::vector<std::string>()>;
    using DescribeFn = std::function<std::vector<PortInfo>(const std::vector<std::string>&)>;

    static constexpr std::uint32_t kRescanMs = 500;

    PortWatch(TfrmTerminal& window, Host& host, ScanFn scan, DescribeFn describe);
    ~PortWatch() override;

    // End of start-up: reads [USB], moves the port box to the remembered device when it now sits
    // under another name (unless followDevice is false: a port named on the command line), and
    // starts watching the list.
    void Start(bool followDevice);
    void WriteSettings(tIniFile& ini) const;

    // --- Hooks of the connection code ---
    // The list was rebuilt by a scan: describe its entries.
    void ListRebuilt();
    // Start of btnConnectClick: unless the watch itself is reconnecting, the user has taken over.
    void ConnectClicked();
    // True while the watch tries to reconnect: a refusal is quiet, the next rescan tries again.
    bool Reconnecting() const { return reconnecting_; }
    // After a successful connect: remember what the port is.
    void Connected();
    // After the window reported a lost port and disconnected.
    void PortLost(const std::string& port);

    // --- State, for the window and tests ---
    bool Watching() const { return watching_; }
    bool AutoReconnect() const;
    const UsbIdentity& Identity() const { return identity_; }
    // One rescan now (the timer's work).
    void Rescan();

    QCheckBox* cbxReconnect = nullptr;

  private:
    void RebuildList(const std::vector<std::string>& names);
    void Describe(const std::vector<PortInfo>& infos);
    // The box's own tool tip: what is behind the port its text names.
    void ShowDescription(const QString& port);
    void StopWatching();
    void TryReconnect(const std::vector<PortInfo>& infos);
    // Where the remembered device sits now, or empty.
    std::string FindDevice(const std::vector<PortInfo>& infos) const;

    TfrmTerminal& w_;
    Host& host_;
    ScanFn scan_;
    DescribeFn describe_;
    Host::TimerId timer_ = 0;
    std::vector<std::string> names_;  // the list as last shown
    bool pendingRebuild_ = false;     // held back while the user has the list open
    UsbIdentity identity_;
    std::string deviceName_;  // for the log and the status bar
    bool watching_ = false;
    bool reconnecting_ = false;
    std::string lostPort_;
};

}  // namespace corvel
