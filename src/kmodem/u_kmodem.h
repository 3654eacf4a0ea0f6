#pragma once
// Kmodem: our stop-and-wait file transfer protocol. One tKmodem sends or receives one file at a
// time over three callbacks that the window binds to the serial driver around each transfer.
// It never touches the driver itself, so it runs the same against a real port, a simulated one
// or an in-memory pipe.
//
// Wire format (multi-byte integers little-endian):
//   file size frame  01 s0 s1 s2 s3          once, no reply awaited
//   length frame     02 n0 n1                before each data packet
//   data frame       04 <n bytes> sum        sum = data bytes mod 256; receiver replies FF
//   finish           08                      all packets acknowledged
//   cancel           10                      transmitter gives up (bad reply or user stop)
// A receiver treats 08 and 10 as commands only where a command byte is due.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/streamed_log.h"

namespace corvel {

// Result codes of TransmitFile and ReceiveFile.
inline constexpr std::int32_t KM_OK = 0;
inline constexpr std::int32_t KM_CANCEL_REMOTE = -8;
inline constexpr std::int32_t KM_USER_CANCEL = -9;
inline constexpr std::int32_t KM_SYNC_ERROR = -10;
inline constexpr std::int32_t KM_FILE_EMPTY = -14;
inline constexpr std::int32_t KM_TIMEOUT = -15;
inline constexpr std::int32_t KM_ACK_ERROR = -16;
inline constexpr std::int32_t KM_CHECKSUM_ERROR = -17;
inline constexpr std::int32_t KM_PACKAGE_SIZE = -18;
// CMD_FINISH arrived before the announced number of bytes.
inline constexpr std::int32_t KM_INCOMPLETE = -19;
inline constexpr std::int32_t KM_NO_ECHO = -20;
// The 4-byte size field cannot announce a file of 4 GiB or more.
inline constexpr std::int32_t KM_FILE_TOO_LARGE = -21;

// Command bytes on the wire.
inline constexpr std::uint8_t CMD_GET_SIZE_FILE = 0x01;
inline constexpr std::uint8_t CMD_SIZE_DATA = 0x02;
inline constexpr std::uint8_t CMD_DATA = 0x04;
inline constexpr std::uint8_t CMD_FINISH = 0x08;
inline constexpr std::uint8_t CMD_CANCEL = 0x10;
inline constexpr std::uint8_t ACK = 0xFF;

// Smallest packageSize either direction accepts.
inline constexpr std::uint16_t KM_MIN_PACKAGE_SIZE = 256;
// timerOutValue meaning "wait for ever"; other values count units of 1/100000 of a day.
inline constexpr std::int32_t KM_NO_TIMEOUT = 255;
inline constexpr std::uint32_t KM_MS_PER_TIMEOUT_UNIT = 864;

// Debug log file names (in logFolder, the current directory by default).
inline constexpr const char* KM_LOG_TX = "KmodemLogTX.txt";
inline constexpr const char* KM_LOG_RX = "KmodemLogRX.txt";
inline constexpr const char* KM_LOG_CMD_TX = "KmodemlogCMD_TX.txt";
inline constexpr const char* KM_LOG_CMD_RX = "KmodemlogCMD_RX.txt";

enum class tSts : std::uint8_t {
    GET_SIZE_FILE,
    GET_SIZE_DATA,
    GET_DATA,
    SEND_SIZE_FILE,
    SEND_SIZE_DATA,
    SEND_DATA,
};

// Writes bytes to the port; returns how many were written (not examined).
using tKmodem_Out = std::function<std::int32_t(const std::uint8_t* c, std::int32_t size)>;
// Reads one byte; false when none arrived within the port's own short read wait.
using tKmodem_In = std::function<bool(std::uint8_t& c)>;
// Optional: takes up to max received bytes at once, waiting like tKmodem_In when none have
// arrived; returns how many it took (0 when none arrived within the port's short read wait).
// With it a data frame is taken a buffer at a time instead of a byte per call.
using tKmodem_Read = std::function<std::int32_t(std::uint8_t* buf, std::int32_t max)>;
// Discards pending received bytes (inBuf) and/or pending unsent bytes (outBuf).
using tKmodem_Flush = std::function<void(bool inBuf, bool outBuf)>;

// Where the window shows progress (0..100) and the current rate text. Either may be empty.
using tKmodemProgress = std::function<void(int position)>;
using tKmodemText = std::function<void(const std::string& text)>;

enum class KmodemDirection { Transmit, Receive };
enum class KmodemReportKind { Message, Error };

struct KmodemReport {
    std::string text;
    KmodemReportKind kind;
};

// The log window's line for a result code. maxByteRate fills the success line; received and
// announced fill the incomplete-file line.
KmodemReport KmodemResultReport(std::int32_t code, KmodemDirection dir, std::uint32_t maxByteRate,
                                std::uint32_t received = 0, std::uint32_t announced = 0);

// KiB per second of bytes moved in elapsedMs: the rate a transfer reports when it ended before its
// one-second meter ticked once. A transfer that took no measurable time counts as one millisecond.
inline std::uint32_t KBytesPerSecond(std::uint64_t bytes, std::uint64_t elapsedMs) {
    const std::uint64_t kb = bytes * 1000 / (elapsedMs ? elapsedMs : 1) / 1024;
    return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kb);
}

class tKmodem {
  public:
    tKmodem(Host& host, tKmodemProgress bp = {}, tKmodemText lbl = {});
    virtual ~tKmodem();
    tKmodem(const tKmodem&) = delete;
    tKmodem& operator=(const tKmodem&) = delete;

    // Each runs one whole transfer and returns a result code. File errors (open, read, write,
    // debug logs) are thrown as FileError once the transfer has been cleaned up.
    std::int32_t TransmitFile(const std::string& FileName);
    std::int32_t ReceiveFile(const std::string& FileName);

    // The log window's line for a code this object just returned.
    KmodemReport ResultReport(std::int32_t code, KmodemDirection dir) const;

    std::uint32_t FileSize() const { return f_size; }
    std::uint32_t BytesSent() const { return f_qtTX; }
    std::uint32_t BytesReceived() const { return f_qtRX; }
    tSts State() const { return sts; }
    bool RateTimerRunning() const { return timeCalcByteRate != 0; }

  private:
    tSts sts = tSts::GET_SIZE_FILE;
    std::uint16_t size = 0;
    std::uint32_t checksum = 0;
    std::FILE* f = nullptr;
    std::uint32_t f_qtTX = 0;
    std::uint32_t f_qtRX = 0;
    std::uint32_t f_size = 0;
    std::uint32_t calcByteRate = 0;
    tKmodemProgress barProgress;
    tKmodemText lblRate;
    Host::TimerId timeCalcByteRate = 0;  // 0 while the rate timer is off
    std::uint64_t rateStartMs_ = 0;
    bool rateTicked_ = false;

  public:
    std::string cmdTX;
    std::string cmdRX;
    std::uint8_t cmd_terminator = 0;  // 0 LF, 2 CR, anything else CR LF
    bool cmd_useEcho = false;
    bool enabled = false;
    bool canceled = false;
    std::int32_t timerOutValue = 5;
    std::uint16_t packageSize = 512;
    bool useDebug = false;
    tKmodem_Out kmodem_Out;
    tKmodem_In kmodem_In;
    tKmodem_Read kmodem_Read;  // may stay empty: kmodem_In is then used byte by byte
    tKmodem_Flush kmodem_Flush;
    std::uint32_t maxByteRate = 0;

    // Folder for the debug logs; empty means the current directory.
    std::string logFolder;

  private:
    class TransferScope;

    std::int32_t WaitByte(std::int32_t timeOut);
    // Like WaitByte for up to max bytes into to: the count (at least 1) or a negative code.
    std::int32_t WaitBytes(std::uint8_t* to, std::int32_t max, std::int32_t timeOut);
    // Their wait after a first empty read: looks again (got sets the result and says true) until
    // the time-out, between looks letting the window run and the user cancel.
    std::int32_t WaitPolling(std::int32_t timeOut, const std::function<bool(std::int32_t&)>& got);
    void Flush();
    void RateTimerTick();
    void StartRateTimer();
    void StopRateTimer();
    // A transfer that ended before the meter's first tick reports its bytes over its time.
    void SettleRate(std::uint64_t bytes);
    void SetProgress(std::uint64_t done);
    void SetLabel(const std::string& text);
    void Out(const std::uint8_t* c, std::int32_t n);
    // Sends the start command; returns 0, or KM_USER_CANCEL / KM_NO_ECHO.
    std::int32_t SendStartCommand(const std::string& cmd, const char* logName);
    std::string LogPath(const char* name) const;
    void Log(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    Host& host_;
    StreamedLog log_;               // transfer log, written only with useDebug
    std::uint64_t received64_ = 0;  // f_qtRX without wrapping, for the completeness check
};

}  // namespace corvel
