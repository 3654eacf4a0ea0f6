#pragma once
// The serial port driver: one port, its line settings, a polling timer that hands received chunks
// to a callback, a bounded single-byte read for file transfers, a send with a stall time-out, and
// an optional debug log written at each disconnect. Everything runs on the UI thread.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comport/comport_io.h"
#include "host/host.h"
#include "host/streamed_log.h"

namespace corvel {

enum TComPortDataBits : std::uint8_t { db5BITS = 0, db6BITS = 1, db7BITS = 2, db8BITS = 3 };
enum TComPortStopBits : std::uint8_t { sb1BITS = 0, sb1HALFBITS = 1, sb2BITS = 2 };
enum TComPortParity : std::uint8_t { ptNONE = 0, ptODD = 1, ptEVEN = 2, ptMARK = 3, ptSPACE = 4 };
enum TComPortHwHandshaking : std::uint8_t { hhNONE = 0, hhRTSCTS = 1 };
enum TComPortSwHandshaking : std::uint8_t { shNONE = 0, shXONXOFF = 1 };
// The modem output lines the driver can drive.
enum class TComPortLine : std::uint8_t { DTR, RTS };

inline constexpr std::array<std::uint32_t, 28> ComPortBaudRates = {
    5,      110,    300,    600,     1200,    2400,    4800,    8192,   9600,   10400,
    14400,  19200,  38400,  56000,   57600,   115200,  128000,  230400, 250000, 256000,
    460800, 500000, 921600, 1000000, 1152000, 1536000, 2000000, 2304000};

class TCommPortDriver;

// Receives one chunk; the bytes are valid only during the call.
using TComPortReceiveDataEvent = std::function<void(
    TCommPortDriver* Sender, const std::uint8_t* DataPtr, std::int32_t DataSize)>;

inline constexpr const char* kCommPortLogFileName = "commPortlog.txt";

class TCommPortDriver {
  public:
    TCommPortDriver(Host& host, std::unique_ptr<ComPortIo> io);
    ~TCommPortDriver();
    TCommPortDriver(const TCommPortDriver&) = delete;
    TCommPortDriver& operator=(const TCommPortDriver&) = delete;

    // --- Properties with writers that act ---
    const std::string& ComPort() const { return FComPort; }
    void SetComPort(const std::string& v);
    std::uint32_t ComPortSpeed() const { return FComPortSpeed; }
    void SetComPortSpeed(std::uint32_t v);
    TComPortDataBits ComPortDataBits() const { return FComPortDataBits; }
    void SetComPortDataBits(TComPortDataBits v);
    TComPortStopBits ComPortStopBits() const { return FComPortStopBits; }
    void SetComPortStopBits(TComPortStopBits v);
    TComPortParity ComPortParity() const { return FComPortParity; }
    void SetComPortParity(TComPortParity v);
    TComPortHwHandshaking ComPortHwHandshaking() const { return FComPortHwHandshaking; }
    void SetComPortHwHandshaking(TComPortHwHandshaking v);
    TComPortSwHandshaking ComPortSwHandshaking() const { return FComPortSwHandshaking; }
    void SetComPortSwHandshaking(TComPortSwHandshaking v);
    std::uint16_t ComPortInBufSize() const { return FComPortInBufSize; }
    void SetComPortInBufSize(std::uint16_t v);
    std::uint16_t ComPortOutBufSize() const { return FComPortOutBufSize; }
    void SetComPortOutBufSize(std::uint16_t v);
    std::uint16_t ComPortPollingDelay() const { return FComPortPollingDelay; }
    void SetComPortPollingDelay(std::uint16_t v);
    const TComPortReceiveDataEvent& OnReceiveData() const;
    void SetOnReceiveData(TComPortReceiveDataEvent callback);
    ComHandleValue ComHandle() const;
    void SetComHandle(ComHandleValue h);

    // --- Plain fields ---
    std::uint16_t ComPortPollingGetChar = 100;  // ms a getChar call waits for data
    bool EnableDTROnOpen = true;                // takes effect at the next settings write
    bool EnableRTSOnOpen = false;               // likewise, unless RTS/CTS drives RTS
    std::uint32_t OutputTimeout = 4000;         // ms a send may stall before giving up
    bool UseDebug = false;                      // collect lines in CommPortLog
    // Set while a file transfer runs: a SendData that cannot hand its whole buffer to the OS at
    // once lets the window run (the host's message pump) at least every kSendPumpMs while it
    // waits for room, instead of freezing it for the frame's line time or the stall time-out.
    // The bytes and their order on the wire are the same.
    bool PumpWhileSending = false;
    static constexpr std::uint32_t kSendPumpMs = 20;

    // Called once when a read or write fails because the device went away (adapter unplugged).
    // The port stays open, quietly, until the owner disconnects.
    std::function<void(const std::string& message)> OnPortLost;

    // Every debug line since construction (never cleared), kept in a file beside the log rather
    // than in memory. Saved at each Disconnect.
    StreamedLog CommPortLog;
    // Folder of the saved log; empty means the current directory.
    std::string LogFolder;

    // --- Operations ---
    bool Connect();
    bool Connected() const;
    // Closes the port. When UseDebug, saves the log, and throws FileError if that fails (the port
    // is closed by then).
    void Disconnect();
    void FlushBuffers(bool inBuf, bool outBuf);
    // Set a modem line while open. The state is kept: a later settings write (a flow-control
    // change) rewrites the record with it instead of dropping the line, which would reset a
    // board wired to it.
    void ToggleDTR(bool onOff);
    void ToggleRTS(bool onOff);
    // The level the line rests at: as last toggled on this connection, else as opened.
    bool LineState(TComPortLine line) const;

    // Holds the transmit line in BREAK for ms, then releases it on a host timer: the UI runs on
    // meanwhile. False when closed, when a BREAK already runs, or when the port refuses.
    bool SendBreak(std::uint32_t ms);
    bool BreakActive() const { return breakTimer_ != 0; }
    // Drives the line to `active` for ms, then back to its resting level (a board reset). False
    // when closed, when a pulse already runs, when RTS/CTS drives RTS, or when the port refuses.
    bool PulseLine(TComPortLine line, bool active, std::uint32_t ms);
    bool PulseActive() const { return pulseTimer_ != 0; }
    // The modem input lines; false when closed or where the port cannot report them.
    bool GetModemStatus(ModemStatus& status);

    // Bytes read from and written to the port since the last Connect or reset.
    std::uint64_t BytesReceived() const { return bytesReceived_; }
    std::uint64_t BytesSent() const { return bytesSent_; }
    void ResetByteCounts() { bytesReceived_ = bytesSent_ = 0; }
    // Why the port refused the line settings at the last write (empty when it took them), and
    // what it changed in a record it accepted. Cleared at each settings write.
    const std::string& SettingsProblem() const { return settingsProblem_; }
    const std::string& SettingsNote() const { return settingsNote_; }

    std::uint16_t OutFreeSpace();
    std::int32_t SendData(const std::uint8_t* DataPtr, std::int32_t DataSize);
    bool SendString(const std::string& s);
    bool SendZString(const char* s);
    bool getChar(std::uint8_t& c);
    // Takes up to MaxSize received bytes at once, waiting like getChar when none are buffered
    // (for the whole MaxSize where the port can tell they are on their way). The count taken,
    // 0 when nothing arrived in time.
    std::int32_t getBlock(std::uint8_t* DataPtr, std::int32_t MaxSize);

    // What the OS said about the last failed operation (e.g. why Connect returned false).
    PortErrorKind LastErrorKind() const { return io_->LastErrorKind(); }
    std::string LastErrorMessage() const { return io_->LastErrorMessage(); }
    // True after the device was reported lost on the current connection.
    bool PortLost() const { return portLost_; }

    // The record the next settings write would apply (exposed for the window's diagnostics).
    LineSettingsRecord BuildLineSettings() const;
    ComPortIo& Io() { return *io_; }

  private:
    void UpdateComPortState();
    void StartPolling();
    void StopPolling();
    void PollTimerTick();
    // Shortens the polling period while bytes keep coming, restores it once a tick finds none.
    void PacePolling(bool busy);
    void ReportFailure();
    // Refills the read buffer from the port for getChar and getBlock; want is how many bytes the
    // caller expects. False when nothing arrived within ComPortPollingGetChar or the read failed.
    bool FillInBuffer(std::uint32_t want);
    void AddLog(std::string line);
    std::string LogPath() const;
    void SaveLog();
    std::int32_t FreeSpace();  // -1 on failure

    Host& host_;
    std::unique_ptr<ComPortIo> io_;

    std::string FComPort = "COM1";
    std::uint32_t FComPortSpeed = 9600;
    TComPortDataBits FComPortDataBits = db8BITS;
    TComPortStopBits FComPortStopBits = sb1BITS;
    TComPortParity FComPortParity = ptNONE;
    TComPortHwHandshaking FComPortHwHandshaking = hhNONE;
    TComPortSwHandshaking FComPortSwHandshaking = shNONE;
    std::uint16_t FComPortInBufSize = 2048;
    std::uint16_t FComPortOutBufSize = 2048;
    std::uint16_t FComPortPollingDelay = 50;

    // Held through a shared pointer so a callback that replaces itself mid-call stays alive.
    std::shared_ptr<const TComPortReceiveDataEvent> FOnReceiveData;
    // Moves on every connect, disconnect, handle change and callback change, so a tick can tell
    // that its callback changed the world under it.
    std::uint64_t epoch_ = 0;

    std::vector<std::uint8_t> FTempInBuffer;
    std::uint32_t tempInBufPos = 0;  // index into FTempInBuffer
    std::uint32_t tempInBufQtRead = 0;

    Host::TimerId timer_ = 0;
    std::uint32_t timerPeriod_ = 0;
    bool inTick_ = false;      // a callback that pumps messages must not get a nested tick
    bool inDataPath_ = false;  // ticks wait while getChar or SendData run
    bool portLost_ = false;
    bool inQueueDrained_ = false;  // the last read emptied the OS queue

    void EndBreak();
    void EndPulse();
    // Lines toggled on this connection; unset lines follow EnableDTROnOpen / EnableRTSOnOpen.
    std::optional<bool> dtrSet_;
    std::optional<bool> rtsSet_;
    Host::TimerId breakTimer_ = 0;
    Host::TimerId pulseTimer_ = 0;
    TComPortLine pulseLine_ = TComPortLine::DTR;
    std::uint64_t bytesReceived_ = 0;
    std::uint64_t bytesSent_ = 0;
    std::string settingsProblem_;
    std::string settingsNote_;
};

}  // namespace corvel
