#pragma once
// The "Send File" and "Receive File" buttons of the main window: raw and Kmodem transfers run
// synchronously inside the click that starts them and keep the window alive by pumping its
// messages, so the stop click, a disconnect, a lost port and the rate timers get through while
// they run. A second click on the running button stops the transfer.
//
// Whatever way a transfer ends, a thrown file error included, the window is left as after a
// normal end: receive handler back, Kmodem callbacks unbound, timers and clock stopped, marks,
// captions and buttons restored, the file closed. File errors then go on to the application's
// error report.

#include <QString>
#include <cstdint>
#include <memory>

namespace corvel {

class TfrmTerminal;

class tFileTransfer {
  public:
    explicit tFileTransfer(TfrmTerminal& window);
    ~tFileTransfer();
    tFileTransfer(const tFileTransfer&) = delete;
    tFileTransfer& operator=(const tFileTransfer&) = delete;

    // Start a transfer (after asking for the file), or stop the running one.
    void btnTxFileClick();
    void btnRxFileClick();

    void SendFileRaw(const QString& FileName);
    void ReceiveFileRaw(const QString& FileName);
    void SendFileKmodem(const QString& FileName);
    void ReceiveFileKmodem(const QString& FileName);

    // Tick of the raw transfers' one-second rate meter.
    void timeCalcByteRateTimer();

    // True while a transfer function is on the stack, which can outlast its stop click by the
    // time the loop takes to notice.
    bool Busy() const { return busy_; }

    // Bytes of a raw send per SendData call.
    static constexpr std::int32_t kRawBlockSize = 512;

    std::uint32_t rawCalcByteRate = 0;  // bytes since the last rate tick
    std::uint32_t rawMaxByteRate = 0;   // best rate of this raw transfer, KiB/s
    std::uint32_t rawRxCount = 0;       // bytes received by this raw receive

    class RawFile;
    // The file a raw receive writes; open only while one runs.
    std::unique_ptr<RawFile> rawRxFile;

  private:
    void StopTx();
    void StopRx();
    void ApplyIdleLayout();
    void RestoreReceiveHandler();
    std::int32_t RunKmodem(const QString& FileName, bool transmit);
    void Pump();

    // Starts the raw rate meter; RawRate then gives the figure to report for moved bytes.
    void StartRawMeter();
    std::uint32_t RawRate(std::uint64_t moved);

    TfrmTerminal& w_;
    bool busy_ = false;
    std::uint64_t rawStartMs_ = 0;
    bool rawTicked_ = false;
};

}  // namespace corvel
