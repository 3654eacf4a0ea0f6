#include "terminal/window/file_transfer.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "host/text_file.h"
#include "kmodem/u_kmodem.h"
#include "terminal/format.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/elapsed_clock.h"
#include "terminal/window/send_control.h"
#include "terminal/window/terminal.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corvel {

namespace {

constexpr const char* kOpenTitle = "Abrindo imagem BMP de 24 bits";
constexpr std::size_t kFileBufferSize = 64 * 1024;
// Bytes the driver read ahead are taken to the file after the stop; a peer that never pauses
// must not keep that going for ever.
constexpr std::uint32_t kDrainMaxBytes = 1u << 20;
constexpr std::uint64_t kDrainMaxMs = 100;
constexpr std::uint64_t kBarPeriodMs = 20;
constexpr std::uint64_t kRawFlushMs = 100;

std::string PathOf(const QString& name) {
#ifdef _WIN32
    return name.toStdString();
#else
    return QFile::encodeName(name).toStdString();
#endif
}

std::uint32_t Clamp32(std::uint64_t n) {
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(n, std::numeric_limits<std::uint32_t>::max()));
}

// Runs a callable when the scope ends, however it ends.
template <class F>
class ScopeExit {
  public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() {
        if (armed_) f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    // Runs it now rather than at the end of the scope.
    void Now() {
        if (!armed_) return;
        armed_ = false;
        f_();
    }

  private:
    F f_;
    bool armed_ = true;
};

}  // namespace

// A file of a raw transfer. Writes collect in a buffer of our own, so a byte costs no call into
// the C library; a failure of any operation is thrown as FileError. Dropped without Close (an
// error is on its way), it still writes what it holds and closes, quietly.
class tFileTransfer::RawFile {
  public:
    static std::unique_ptr<RawFile> OpenRead(const std::string& path) {
        std::FILE* f = OpenFileNoWait(path, false);
        if (!f) ThrowFileError(path, "Cannot open file");
        std::setvbuf(f, nullptr, _IOFBF, kFileBufferSize);
        return std::unique_ptr<RawFile>(new RawFile(path, f));
    }
    static std::unique_ptr<RawFile> Create(const std::string& path) {
        std::FILE* f = OpenFileNoWait(path, true);
        if (!f) ThrowFileError(path, "Cannot create file");
        std::setvbuf(f, nullptr, _IONBF, 0);
        auto file = std::unique_ptr<RawFile>(new RawFile(path, f));
        file->buf_.resize(kFileBufferSize);
        return file;
    }

    ~RawFile() {
        if (!f_) return;
        if (len_ > 0) std::fwrite(buf_.data(), 1, len_, f_);
        std::fclose(f_);
    }
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    std::uint64_t Size() {
#ifdef _WIN32
        const auto here = _ftelli64(f_);
        if (_fseeki64(f_, 0, SEEK_END) != 0) ThrowFileError(path_, "Cannot read file");
        const auto size = _ftelli64(f_);
        _fseeki64(f_, here, SEEK_SET);
        if (size < 0) ThrowFileError(path_, "Cannot read file");
        return static_cast<std::uint64_t>(size);
#else
        struct stat st {};
        if (::fstat(::fileno(f_), &st) != 0) ThrowFileError(path_, "Cannot read file");
        return static_cast<std::uint64_t>(st.st_size);
#endif
    }

    std::size_t Read(std::uint8_t* to, std::size_t n) {
        const std::size_t got = std::fread(to, 1, n, f_);
        if (got < n && std::ferror(f_)) ThrowFileError(path_, "Cannot read file");
        return got;
    }

    void Put(std::uint8_t byte) {
        buf_[len_++] = byte;
        if (len_ == buf_.size()) Flush();
    }

    // Hands what the buffer holds to the OS.
    void Flush() {
        if (len_ == 0) return;
        const std::size_t n = len_;
        len_ = 0;  // a failed write is not tried again by the destructor
        if (std::fwrite(buf_.data(), 1, n, f_) != n) ThrowFileError(path_, "Cannot write file");
    }

    void Close() {
        Flush();
        std::FILE* f = f_;
        f_ = nullptr;
        if (std::fclose(f) != 0) ThrowFileError(path_, "Cannot close file");
    }

  private:
    RawFile(std::string path, std::FILE* f) : path_(std::move(path)), f_(f) {}

    std::string path_;
    std::FILE* f_;
    std::vector<std::uint8_t> buf_;
    std::size_t len_ = 0;
};

tFileTransfer::tFileTransfer(TfrmTerminal& window) : w_(window) {
    QObject::connect(w_.timeCalcByteRate, &QTimer::timeout, &w_,
                     [this] { timeCalcByteRateTimer(); });
}

tFileTransfer::~tFileTransfer() = default;

// ---------------------------------------------------------------------------------------------
// Buttons

void tFileTransfer::btnTxFileClick() {
    if (w_.btnTxFileTag == 1) {
        StopTx();
        return;
    }
    // A stopped transfer may still be unwinding below this click; the engine is not re-entrant.
    if (busy_) return;
    const QString name = w_.dialogs().OpenFile(&w_, kOpenTitle, QString(), QString());
    if (name.isEmpty()) return;

    busy_ = true;
    ScopeExit end([this] {
        busy_ = false;
        StopTx();
        ApplyIdleLayout();
    });
    w_.btnTxFileTag = 1;
    w_.btnTxFile->setText("Stop Sending");
    w_.EnableControls(false, false);
    // The settings dialog would change the port and the engine under the running transfer.
    w_.btnConfig->setEnabled(false);
    w_.btnTxFile->setEnabled(true);
    w_.fileTransferActive = true;
    w_.VrClock->Start();
    w_.printf_Log(w_.ColorWarning, "File Sending %s", name.toUtf8().constData());
    if (w_.kmodem->enabled) {
        w_.print_Log(w_.ColorMessage, "Using the Kmodem protocol");
        w_.kmodem->canceled = false;
        SendFileKmodem(name);
    } else {
        w_.print_Log(w_.ColorWarning, "Without the use of communication protocol");
        SendFileRaw(name);
    }
}

void tFileTransfer::btnRxFileClick() {
    if (w_.btnRxFileTag == 1) {
        StopRx();
        return;
    }
    if (busy_) return;
    const QString name = w_.dialogs().SaveFile(&w_, QString(), QString(), QString(), QString());
    if (name.isEmpty()) return;

    busy_ = true;
    ScopeExit end([this] {
        busy_ = false;
        StopRx();
        ApplyIdleLayout();
    });
    w_.printf_Log(w_.ColorMessage, "Receiving file: %s", name.toUtf8().constData());
    w_.btnRxFileTag = 1;
    w_.EnableControls(false, false);
    w_.btnConfig->setEnabled(false);
    w_.btnRxFile->setEnabled(true);
    w_.fileTransferActive = true;
    w_.VrClock->Start();
    if (w_.kmodem->enabled) {
        w_.btnRxFile->setText("Stop Receiving");
        w_.print_Log(w_.ColorWarning, "Using the Kmodem protocol");
        w_.kmodem->canceled = false;
        ReceiveFileKmodem(name);
    } else {
        w_.print_Log(w_.ColorWarning, "Without the use of communication protocol");
        w_.btnRxFile->setText("Finish Receipt");
        ReceiveFileRaw(name);
    }
}

// The stop step: also what every end of a transfer goes through. Does nothing when no transfer
// of that direction is marked running.
void tFileTransfer::StopTx() {
    if (w_.btnTxFileTag != 1) return;
    w_.btnTxFileTag = 0;
    w_.btnTxFile->setText("Send file");
    if (w_.kmodem) w_.kmodem->canceled = true;
    w_.fileTransferActive = false;
    ApplyIdleLayout();
    w_.VrClock->Stop();
}

void tFileTransfer::StopRx() {
    if (w_.btnRxFileTag != 1) return;
    w_.btnRxFileTag = 0;
    w_.btnRxFile->setText("Receive File");
    if (w_.kmodem) w_.kmodem->canceled = true;
    w_.fileTransferActive = false;
    ApplyIdleLayout();
    w_.VrClock->Stop();
}

// A stop that comes from a disconnect finds the port closed: the window keeps the disconnected
// layout rather than offering Send and the file buttons on a closed port.
void tFileTransfer::ApplyIdleLayout() {
    if (w_.uartDriver->Connected()) {
        w_.EnableControls(true, true);
        return;
    }
    w_.EnableControls(false, true);
    w_.cbxPort->setEnabled(true);
    w_.btnPort->setEnabled(true);
    w_.cbxBaud->setEnabled(true);
}

void tFileTransfer::RestoreReceiveHandler() {
    TfrmTerminal* w = &w_;
    w_.uartDriver->SetOnReceiveData(
        [w](TCommPortDriver* sender, const std::uint8_t* data, std::int32_t size) {
            w->printf_ReceiveData(sender, data, size);
        });
}

void tFileTransfer::Pump() {
    w_.host().ProcessMessages();
}

void tFileTransfer::timeCalcByteRateTimer() {
    const std::uint32_t rate = rawCalcByteRate / 1024;
    w_.lblRate->setText(QString("%1 Kbytes/S").arg(rate));
    if (rate > rawMaxByteRate) rawMaxByteRate = rate;
    rawCalcByteRate = 0;
    rawTicked_ = true;
}

void tFileTransfer::StartRawMeter() {
    w_.timeCalcByteRate->start();
    rawMaxByteRate = 0;
    rawCalcByteRate = 0;
    rawTicked_ = false;
    rawStartMs_ = w_.host().NowMs();
}

std::uint32_t tFileTransfer::RawRate(std::uint64_t moved) {
    if (rawTicked_) return rawMaxByteRate;
    return KBytesPerSecond(moved, w_.host().NowMs() - rawStartMs_);
}

// ---------------------------------------------------------------------------------------------
// Raw transfers

void tFileTransfer::SendFileRaw(const QString& FileName) {
    TCommPortDriver& drv = *w_.uartDriver;
    drv.FlushBuffers(true, true);
    std::unique_ptr<RawFile> file = RawFile::OpenRead(PathOf(FileName));
    const std::uint64_t total = file->Size();

    StartRawMeter();
    drv.PumpWhileSending = true;
    ScopeExit stopMeter([this, &drv] {
        drv.PumpWhileSending = false;
        w_.timeCalcByteRate->stop();
    });
    w_.barProgress->setValue(0);

    std::uint8_t block[kRawBlockSize];
    std::uint64_t sent = 0;
    bool stalled = false;
    while (w_.btnTxFileTag == 1 && sent < total) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kRawBlockSize, total - sent));
        const std::size_t n = file->Read(block, want);
        if (n == 0) break;  // the file shrank since its length was taken
        // Paced when the send settings ask for it; a Stop click ends the wait.
        const std::int32_t wrote = w_.sendControl->WriteFileBlock(
            block, static_cast<std::int32_t>(n), [this] { return w_.btnTxFileTag == 1; });
        const auto moved = static_cast<std::uint32_t>(std::max<std::int32_t>(wrote, 0));
        sent += moved;
        rawCalcByteRate += moved;
        w_.barProgress->setValue(static_cast<int>((sent * 200 + total) / (total * 2)));
        if (sent != 0 && sent % 1024 == 0 && moved != 0)
            w_.printf_Log(w_.ColorMessage, "Transmitted %s", FormatByteSize(Clamp32(sent)).c_str());
        // The line stalled past the driver's output time-out, or the device went away.
        // (Or the port was closed while the send let the window run: a stop, not a stall.)
        if (moved < n) {
            stalled = w_.btnTxFileTag == 1;
            break;
        }
        Pump();
    }

    if (stalled) {
        w_.printf_Log(w_.ColorError, "Transmission stalled: %s of %s sent",
                      FormatByteSize(Clamp32(sent)).c_str(),
                      FormatByteSize(Clamp32(total)).c_str());
        StopTx();
    } else if (w_.btnTxFileTag == 1) {
        w_.barProgress->setValue(100);
        w_.printf_Log(w_.ColorMessage, "Transmitted %s with maximum rate of %u KBytes/Sec",
                      FormatByteSize(Clamp32(sent)).c_str(), RawRate(sent));
        StopTx();
    } else {
        w_.print_Log(w_.ColorWarning, "Transmission canceled");
    }
    stopMeter.Now();
    file.reset();
}

void tFileTransfer::ReceiveFileRaw(const QString& FileName) {
    TCommPortDriver& drv = *w_.uartDriver;
    Host& host = w_.host();
    rawRxFile = RawFile::Create(PathOf(FileName));
    ScopeExit dropFile([this] { rawRxFile.reset(); });

    StartRawMeter();
    rawRxCount = 0;
    w_.barProgress->setValue(0);
    w_.barProgress->setMaximum(255);
    ScopeExit restore([this] {
        RestoreReceiveHandler();
        w_.barProgress->setMaximum(100);
        w_.timeCalcByteRate->stop();
    });
    drv.FlushBuffers(true, true);
    drv.SetOnReceiveData({});

    // The bar repaints itself on every new value; at 300 KB/s a value per 100 bytes would be
    // 3000 repaints a second, which is what lost bytes on a fast line. One per frame is plenty.
    std::uint64_t lastBar = host.NowMs();
    auto take = [this, &host, &lastBar](std::uint8_t c) {
        rawRxFile->Put(c);
        ++rawRxCount;
        ++rawCalcByteRate;
        if (rawRxCount % 100 == 0 && host.NowMs() - lastBar >= kBarPeriodMs) {
            w_.barProgress->setValue(static_cast<int>(rawRxCount / 100 % 256));
            lastBar = host.NowMs();
        }
        if (rawRxCount % 1024 == 0)
            w_.printf_Log(w_.ColorMessage, "Received %s", FormatByteSize(rawRxCount).c_str());
    };

    // While bytes keep coming, messages are pumped about once a millisecond rather than after
    // every byte: pumping per byte falls behind a fast line. A getChar that found nothing has
    // already waited, so the window gets its turn then.
    // What arrived reaches the file at least every kRawFlushMs, so a killed process loses at
    // most that much of what the peer has already sent.
    std::uint64_t lastPump = host.NowMs();
    std::uint64_t lastFlush = lastPump;
    while (w_.btnRxFileTag == 1) {
        std::uint8_t c = 0;
        const bool got = drv.getChar(c);
        if (got) take(c);
        if (!got || host.NowMs() - lastPump >= 1) {
            if (host.NowMs() - lastFlush >= kRawFlushMs) {
                rawRxFile->Flush();
                lastFlush = host.NowMs();
            }
            Pump();
            lastPump = host.NowMs();
        }
    }

    // The driver may hold bytes it read from the port before the stop; handing the port back to
    // the display handler would drop them, so they go to the file first.
    {
        const std::uint16_t wait = drv.ComPortPollingGetChar;
        drv.ComPortPollingGetChar = 0;
        ScopeExit restoreWait([&drv, wait] { drv.ComPortPollingGetChar = wait; });
        const std::uint64_t start = host.NowMs();
        std::uint8_t c = 0;
        for (std::uint32_t n = 0; n < kDrainMaxBytes && drv.getChar(c); ++n) {
            take(c);
            if (host.NowMs() - start > kDrainMaxMs) break;
        }
    }

    w_.barProgress->setValue(static_cast<int>(rawRxCount / 100 % 256));
    restore.Now();
    rawRxFile->Close();
    w_.printf_Log(w_.ColorMessage, "Received %s with maximum rate of %u KBytes/S",
                  FormatByteSize(rawRxCount).c_str(), RawRate(rawRxCount));
}

// ---------------------------------------------------------------------------------------------
// Kmodem transfers

namespace {

void LogHints(TfrmTerminal& w, bool receiving) {
    w.print_Log(w.ColorWarning, "Check:");
    w.print_Log(w.ColorWarning, " - Waiting time for receive reading by getChar function is low");
    w.print_Log(w.ColorWarning,
                " - The kmodem settings of the two communication points are the same");
    w.printf_Log(w.ColorWarning, " - If the size of the kmodem data packet is less than %u",
                 unsigned{KM_MIN_PACKAGE_SIZE});
    if (receiving) w.print_Log(w.ColorWarning, " - If the transmitter has started transmission");
}

}  // namespace

// Binds the engine to the driver for one transfer and logs its result. The display handler is
// off meanwhile, so that getChar reads the port.
std::int32_t tFileTransfer::RunKmodem(const QString& FileName, bool transmit) {
    TCommPortDriver* drv = w_.uartDriver.get();
    tKmodem& k = *w_.kmodem;
    drv->SetOnReceiveData({});
    k.kmodem_Flush = [drv](bool inBuf, bool outBuf) { drv->FlushBuffers(inBuf, outBuf); };
    k.kmodem_Out = [drv](const std::uint8_t* c, std::int32_t size) {
        return drv->SendData(c, size);
    };
    k.kmodem_In = [drv](std::uint8_t& c) { return drv->getChar(c); };
    // A data frame is taken a buffer at a time: one wait and one read per packet, not per byte.
    k.kmodem_Read = [drv](std::uint8_t* buf, std::int32_t max) { return drv->getBlock(buf, max); };
    drv->PumpWhileSending = true;
    ScopeExit unbind([this, &k, drv] {
        drv->PumpWhileSending = false;
        RestoreReceiveHandler();
        k.kmodem_Flush = {};
        k.kmodem_Out = {};
        k.kmodem_In = {};
        k.kmodem_Read = {};
    });
    const std::string path = PathOf(FileName);
    const std::int32_t result = transmit ? k.TransmitFile(path) : k.ReceiveFile(path);
    unbind.Now();

    const KmodemReport report =
        k.ResultReport(result, transmit ? KmodemDirection::Transmit : KmodemDirection::Receive);
    w_.print_Log(report.kind == KmodemReportKind::Message ? w_.ColorMessage : w_.ColorError,
                 QString::fromStdString(report.text));
    return result;
}

void tFileTransfer::SendFileKmodem(const QString& FileName) {
    const std::int32_t result = RunKmodem(FileName, true);
    if (result == KM_TIMEOUT || result == KM_ACK_ERROR || result == KM_PACKAGE_SIZE ||
        result == KM_NO_ECHO)
        LogHints(w_, false);
    // A user cancel went through the stop step already.
    if (result != KM_USER_CANCEL) StopTx();
}

void tFileTransfer::ReceiveFileKmodem(const QString& FileName) {
    const std::int32_t result = RunKmodem(FileName, false);
    if (result == KM_TIMEOUT || result == KM_SYNC_ERROR || result == KM_PACKAGE_SIZE)
        LogHints(w_, true);
    if (result != KM_USER_CANCEL) StopRx();
}

}  // namespace corvel
