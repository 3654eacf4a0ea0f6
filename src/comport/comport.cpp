#include "comport/comport.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/text_file.h"

namespace corvel {

namespace {

// A callback mode tick keeps reading while the line is busy; these bound one tick so a line
// faster than the UI can render still lets the window breathe between ticks.
constexpr int kMaxChunksPerTick = 256;
constexpr std::uint64_t kBusyTickMs = 10;
// A busy tick that finds the OS queue empty waits this long for it to refill before it ends,
// when its last read took at least kRefillHintBytes (or a whole buffer, if smaller).
constexpr std::uint32_t kBusyRefillWaitMs = 1;
constexpr std::int32_t kRefillHintBytes = 1024;

// While ticks find bytes waiting, the line is busy and the next look comes after this many
// milliseconds instead of a whole polling period. The OS queue behind a port is only a few
// kilobytes (about 20 KB on a pseudo-terminal), so one look per period would cap the rate at one
// queue per period and overflow a real line; a quiet line goes back to the period.
constexpr std::uint32_t kBusyPollingMs = 1;

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return {};
    return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
}

// Milliseconds left before "elapsed > limit" becomes true, as a wait argument.
std::uint32_t WaitBudget(std::uint64_t limit, std::uint64_t elapsed) {
    const std::uint64_t left = limit + 1 - std::min(elapsed, limit);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 0xFFFFFFFFu));
}

const TComPortReceiveDataEvent kNoCallback;

}  // namespace

TCommPortDriver::TCommPortDriver(Host& host, std::unique_ptr<ComPortIo> io)
    : host_(host), io_(std::move(io)), FTempInBuffer(FComPortInBufSize) {}

TCommPortDriver::~TCommPortDriver() {
    try {
        Disconnect();
    } catch (...) {
        // A log that cannot be written must not stop the port from being released.
    }
    StopPolling();
}

// ---------------------------------------------------------------------------------------------
// Properties

void TCommPortDriver::SetComPort(const std::string& v) {
    if (Connected()) return;
    FComPort = v;
}

void TCommPortDriver::SetComPortSpeed(std::uint32_t v) {
    FComPortSpeed = v;
    UpdateComPortState();
}

void TCommPortDriver::SetComPortDataBits(TComPortDataBits v) {
    FComPortDataBits = v;
    UpdateComPortState();
}

void TCommPortDriver::SetComPortStopBits(TComPortStopBits v) {
    FComPortStopBits = v;
    UpdateComPortState();
}

void TCommPortDriver::SetComPortParity(TComPortParity v) {
    FComPortParity = v;
    UpdateComPortState();
}

void TCommPortDriver::SetComPortHwHandshaking(TComPortHwHandshaking v) {
    FComPortHwHandshaking = v;
    UpdateComPortState();
}

void TCommPortDriver::SetComPortSwHandshaking(TComPortSwHandshaking v) {
    FComPortSwHandshaking = v;
    UpdateComPortState();
}

void TCommPortDriver::SetComPortInBufSize(std::uint16_t v) {
    if (Connected()) return;
    FComPortInBufSize = v;
    std::vector<std::uint8_t>(v).swap(FTempInBuffer);
    tempInBufPos = 0;
    tempInBufQtRead = 0;
    inQueueDrained_ = false;
}

void TCommPortDriver::SetComPortOutBufSize(std::uint16_t v) {
    if (Connected()) return;
    FComPortOutBufSize = v;
}

void TCommPortDriver::SetComPortPollingDelay(std::uint16_t v) {
    if (v == FComPortPollingDelay) return;
    if (Connected()) {
        StopPolling();
        FComPortPollingDelay = v;
        StartPolling();
    } else {
        FComPortPollingDelay = v;
    }
}

const TComPortReceiveDataEvent& TCommPortDriver::OnReceiveData() const {
    return FOnReceiveData ? *FOnReceiveData : kNoCallback;
}

void TCommPortDriver::SetOnReceiveData(TComPortReceiveDataEvent callback) {
    if (callback)
        FOnReceiveData = std::make_shared<const TComPortReceiveDataEvent>(std::move(callback));
    else
        FOnReceiveData.reset();
    ++epoch_;
    tempInBufQtRead = 0;
    tempInBufPos = 0;
    inQueueDrained_ = false;  // the polling tick may have left bytes in the OS queue
    if (UseDebug)
        AddLog(FOnReceiveData ? "OnReceiveData = Função do usuário" : "OnReceiveData = NIL");
}

ComHandleValue TCommPortDriver::ComHandle() const {
    return io_->Handle();
}

void TCommPortDriver::SetComHandle(ComHandleValue h) {
    if (h == ComHandle()) return;
    if (h == kInvalidComHandle) {
        if (Connected()) StopPolling();
        io_->Detach();
        ++epoch_;
        return;
    }
    Disconnect();
    if (h != 0 && io_->Adopt(h)) {
        portLost_ = false;
        inQueueDrained_ = false;
        ++epoch_;
        StartPolling();
    }
}

// ---------------------------------------------------------------------------------------------
// Connection

bool TCommPortDriver::Connected() const {
    return io_->IsOpen();
}

bool TCommPortDriver::Connect() {
    if (Connected()) return true;
    if (UseDebug) AddLog("Abrindo a porta " + FComPort);
    if (!io_->Open(FComPort)) return false;
    portLost_ = false;
    inQueueDrained_ = false;
    ++epoch_;
    dtrSet_.reset();
    rtsSet_.reset();
    ResetByteCounts();
    UpdateComPortState();
    io_->SetNonBlockingTimeouts();
    StartPolling();
    return Connected();
}

void TCommPortDriver::Disconnect() {
    if (!Connected()) return;
    StopPolling();
    EndBreak();
    EndPulse();
    io_->Close();
    ++epoch_;
    if (UseDebug) {
        AddLog("Fechando a porta " + FComPort);
        SaveLog();
    }
}

LineSettingsRecord TCommPortDriver::BuildLineSettings() const {
    LineSettingsRecord r;  // from zero, never from the port's current state
    r.DCBlength = 28;
    r.BaudRate = FComPortSpeed;
    r.Flags = kDcbBinary;
    if (dtrSet_.value_or(EnableDTROnOpen)) r.Flags |= kDcbDtrControlEnable;
    if (FComPortHwHandshaking == hhRTSCTS)
        r.Flags |= kDcbOutxCtsFlow | kDcbRtsControlHandshake;
    else if (rtsSet_.value_or(EnableRTSOnOpen))
        r.Flags |= kDcbRtsControlEnable;
    if (FComPortSwHandshaking == shXONXOFF) r.Flags |= kDcbOutX | kDcbInX;
    r.XonLim = static_cast<std::uint16_t>(FComPortInBufSize / 4);
    r.XoffLim = static_cast<std::uint16_t>(FComPortInBufSize / 4);
    r.ByteSize = static_cast<std::uint8_t>(FComPortDataBits + 5);
    r.Parity = FComPortParity;
    r.StopBits = FComPortStopBits;
    r.XonChar = 0x11;
    r.XoffChar = 0x13;
    return r;
}

void TCommPortDriver::UpdateComPortState() {
    if (!Connected()) return;
    const bool applied = io_->ApplySettings(BuildLineSettings());
    settingsProblem_ = applied ? std::string() : io_->LastErrorMessage();
    settingsNote_ = applied ? io_->SettingsNote() : std::string();
    FlushBuffers(true, true);
    io_->SetupQueues(FComPortInBufSize, FComPortOutBufSize);
}

void TCommPortDriver::FlushBuffers(bool inBuf, bool outBuf) {
    if (!Connected()) return;
    std::uint32_t flags = 0;
    if (outBuf) flags |= kPurgeTxAbort | kPurgeTxClear;
    if (inBuf) flags |= kPurgeRxAbort | kPurgeRxClear;
    io_->Purge(flags);
}

void TCommPortDriver::ToggleDTR(bool onOff) {
    if (!Connected()) return;
    dtrSet_ = onOff;
    io_->Escape(onOff ? kEscSetDtr : kEscClrDtr);
}

void TCommPortDriver::ToggleRTS(bool onOff) {
    if (!Connected()) return;
    rtsSet_ = onOff;
    io_->Escape(onOff ? kEscSetRts : kEscClrRts);
}

void TCommPortDriver::StartPolling() {
    StopPolling();
    // A zero period would make some timer systems fire whenever idle, spinning a core.
    const std::uint32_t period = std::max<std::uint32_t>(1, FComPortPollingDelay);
    timerPeriod_ = period;
    timer_ = host_.StartTimer(period, [this] { PollTimerTick(); });
}

void TCommPortDriver::StopPolling() {
    if (timer_ != 0) host_.StopTimer(timer_);
    timer_ = 0;
}

// ---------------------------------------------------------------------------------------------
// Data paths

namespace {
struct FlagGuard {
    explicit FlagGuard(bool& f) : flag(f) { flag = true; }
    ~FlagGuard() { flag = false; }
    bool& flag;
};
}  // namespace

void TCommPortDriver::ReportFailure() {
    if (portLost_ || !Connected() || io_->LastErrorKind() != PortErrorKind::DeviceLost) return;
    portLost_ = true;
    if (OnPortLost) {
        auto notify = OnPortLost;  // the handler may replace itself
        notify(io_->LastErrorMessage());
    }
}

void TCommPortDriver::PollTimerTick() {
    if (inTick_ || inDataPath_) return;
    if (!Connected() || !FOnReceiveData || portLost_) return;
    const auto size = static_cast<std::int32_t>(FTempInBuffer.size());
    if (size == 0) return;
    std::int64_t total = 0;
    {
        FlagGuard guard(inTick_);
        const std::uint64_t epoch = epoch_;
        const std::uint64_t start = host_.NowMs();
        // Reads on while reads bring bytes, whatever the first read of the tick returned: how
        // much one read finds says how far the sender got since the last one, not whether it
        // has stopped.
        const std::int32_t refillHint = std::min(size, kRefillHintBytes);
        std::int32_t last = 0;
        for (int chunk = 0; chunk < kMaxChunksPerTick; ++chunk) {
            const std::int32_t n = io_->Read(FTempInBuffer.data(), size);
            if (n < 0) {
                ReportFailure();
                return;
            }
            if (n == 0) {
                // The queue behind a port is only a few kilobytes (4 KB on a pseudo-terminal)
                // and a sender running flat out refills it within microseconds of a read, while
                // a timer seldom comes back within a millisecond: after a large read, waiting
                // here for the refill is what lets a tick keep up with megabytes a second. A
                // slow line's few bytes end the tick at once.
                if (last < refillHint || host_.NowMs() - start >= kBusyTickMs) break;
                if (!io_->WaitReadable(kBusyRefillWaitMs)) break;
                last = 0;
                continue;
            }
            total += n;
            last = n;
            bytesReceived_ += static_cast<std::uint64_t>(n);
            if (UseDebug) AddLog(Format("Poll RX. Recebido %d bytes", n));
            const auto callback = FOnReceiveData;  // keeps it alive if it replaces itself
            (*callback)(this, FTempInBuffer.data(), n);
            if (epoch != epoch_ || !Connected() || !FOnReceiveData) return;
            // A view slower than the line: the window gets its turn, the rest waits a tick.
            if (host_.NowMs() - start >= kBusyTickMs) break;
        }
    }
    // Only a tick that found the line quiet goes back to the stored period.
    PacePolling(total > 0);
}

void TCommPortDriver::PacePolling(bool busy) {
    const std::uint32_t normal = std::max<std::uint32_t>(1, FComPortPollingDelay);
    const std::uint32_t want = busy ? std::min(normal, kBusyPollingMs) : normal;
    if (timer_ == 0 || want == timerPeriod_) return;
    host_.StopTimer(timer_);
    timerPeriod_ = want;
    timer_ = host_.StartTimer(want, [this] { PollTimerTick(); });
}

bool TCommPortDriver::getChar(std::uint8_t& c) {
    if (FOnReceiveData) return false;
    if (tempInBufQtRead == 0 && !FillInBuffer(1)) return false;
    c = FTempInBuffer[tempInBufPos];
    ++tempInBufPos;
    --tempInBufQtRead;
    return true;
}

std::int32_t TCommPortDriver::getBlock(std::uint8_t* DataPtr, std::int32_t MaxSize) {
    if (FOnReceiveData || DataPtr == nullptr || MaxSize <= 0) return 0;
    if (tempInBufQtRead == 0 && !FillInBuffer(static_cast<std::uint32_t>(MaxSize))) return 0;
    const auto n = std::min(static_cast<std::uint32_t>(MaxSize), tempInBufQtRead);
    std::memcpy(DataPtr, FTempInBuffer.data() + tempInBufPos, n);
    tempInBufPos += n;
    tempInBufQtRead -= n;
    return static_cast<std::int32_t>(n);
}

bool TCommPortDriver::FillInBuffer(std::uint32_t want) {
    FlagGuard guard(inDataPath_);
    const std::uint64_t start = host_.NowMs();
    const auto size = static_cast<std::int32_t>(FTempInBuffer.size());
    // After a read that emptied the OS queue, looking again at once would almost always find
    // nothing (and cost a second call to tell "nothing yet" from a hang-up): wait first.
    bool look = !inQueueDrained_;
    for (;;) {
        if (look) {
            const std::int32_t n = io_->Read(FTempInBuffer.data(), size);
            if (n < 0) {
                ReportFailure();
                return false;
            }
            inQueueDrained_ = n < size;
            bytesReceived_ += static_cast<std::uint64_t>(n);
            tempInBufQtRead = static_cast<std::uint32_t>(n);
            if (n > 0) tempInBufPos = 0;
        }
        const std::uint64_t elapsed = host_.NowMs() - start;
        if (elapsed > ComPortPollingGetChar) {
            if (UseDebug)
                AddLog(Format("GETC: timeout %d > %d : %u bytes", static_cast<int>(elapsed),
                              static_cast<int>(ComPortPollingGetChar), tempInBufQtRead));
            return false;
        }
        if (tempInBufQtRead > 0) {
            if (UseDebug)
                AddLog(Format("GETC: ReadFile com %d bytes", static_cast<int>(tempInBufQtRead)));
            return true;
        }
        io_->WaitForBytes(want, WaitBudget(ComPortPollingGetChar, elapsed));
        look = true;
    }
}

std::int32_t TCommPortDriver::FreeSpace() {
    const std::int32_t queued = io_->OutQueueCount();
    if (queued < 0) return -1;
    return std::max<std::int32_t>(0, static_cast<std::int32_t>(FComPortOutBufSize) - queued);
}

std::uint16_t TCommPortDriver::OutFreeSpace() {
    if (!Connected()) return 0xFFFF;
    return static_cast<std::uint16_t>(std::max<std::int32_t>(0, FreeSpace()));
}

std::int32_t TCommPortDriver::SendData(const std::uint8_t* DataPtr, std::int32_t DataSize) {
    if (!Connected()) return 0;
    if (DataPtr == nullptr) DataSize = 0;
    FlagGuard guard(inDataPath_);
    std::int32_t result = 0;
    std::uint64_t lastProgress = host_.NowMs();
    std::uint64_t lastPump = lastProgress;
    const std::uint64_t epoch = epoch_;
    bool first = true;
    while (DataSize > 0) {
        // Between the pieces the OS takes, the window gets its turn (a disconnect included).
        if (PumpWhileSending && !first && host_.NowMs() - lastPump >= kSendPumpMs) {
            host_.ProcessMessages();
            lastPump = host_.NowMs();
            if (epoch != epoch_ || !Connected()) return result;
        }
        first = false;
        const std::int32_t free = FreeSpace();
        if (free < 0) {
            ReportFailure();
            break;
        }
        if (free > 0) {
            const std::int32_t n = io_->Write(DataPtr, std::min(free, DataSize));
            if (n < 0) {
                ReportFailure();
                break;
            }
            if (n > 0) {
                result += n;
                bytesSent_ += static_cast<std::uint64_t>(n);
                DataSize -= n;
                DataPtr += n;
                lastProgress = host_.NowMs();
                continue;
            }
            // A write that took nothing is no progress, or a queue that reports room it does
            // not have would keep the send alive for ever.
        }
        const std::uint64_t stalled = host_.NowMs() - lastProgress;
        if (stalled > OutputTimeout) {
            if (UseDebug) AddLog("Timeout em enviar dados na porta COM");
            return result;
        }
        std::uint32_t wait = WaitBudget(OutputTimeout, stalled);
        if (PumpWhileSending) {
            const std::uint64_t sincePump = host_.NowMs() - lastPump;
            wait = std::min<std::uint32_t>(
                wait, static_cast<std::uint32_t>(kSendPumpMs -
                                                 std::min<std::uint64_t>(sincePump, kSendPumpMs)) +
                          1);
        }
        io_->WaitWritable(wait);
    }
    if (UseDebug) AddLog(Format("Enviados %d bytes na porta COM", result));
    return result;
}

bool TCommPortDriver::SendString(const std::string& s) {
    const auto size = static_cast<std::int32_t>(std::min<std::size_t>(s.size(), 0x7FFFFFFF));
    return SendData(reinterpret_cast<const std::uint8_t*>(s.data()), size) == size;
}

bool TCommPortDriver::SendZString(const char* s) {
    return SendString(s ? std::string(s) : std::string());
}

// ---------------------------------------------------------------------------------------------
// Debug log

std::string TCommPortDriver::LogPath() const {
    const std::filesystem::path path =
        LogFolder.empty() ? std::filesystem::path(kCommPortLogFileName)
                          : std::filesystem::path(LogFolder) / kCommPortLogFileName;
    return path.string();
}

void TCommPortDriver::AddLog(std::string line) {
    CommPortLog.Add(line, LogPath());
}

void TCommPortDriver::SaveLog() {
    CommPortLog.Publish(LogPath());
}

}  // namespace corvel
