#pragma once
// The operating-system side of one serial port, kept behind a small interface so the driver's
// logic (state, buffers, time-outs, debug log) runs the same against a real port and against the
// simulated one in tests. One implementation per OS is chosen by the build, not by #ifdef.

#include <cstdint>
#include <memory>
#include <string>

namespace corvel {

// The line-settings record, laid out field for field like the Windows DCB so the Win32 layer can
// hand it over unchanged and the other layers read the same numbers.
struct LineSettingsRecord {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    std::uint8_t XonChar = 0;
    std::uint8_t XoffChar = 0;
    std::uint8_t ErrorChar = 0;
    std::uint8_t EofChar = 0;
    std::uint8_t EvtChar = 0;
    std::uint16_t wReserved1 = 0;

    bool operator==(const LineSettingsRecord&) const = default;
};
static_assert(sizeof(LineSettingsRecord) == 28, "the record must keep the DCB layout");

// Bits of LineSettingsRecord::Flags.
inline constexpr std::uint32_t kDcbBinary = 0x1;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 0x4;
inline constexpr std::uint32_t kDcbDtrControlEnable = 0x10;
inline constexpr std::uint32_t kDcbOutX = 0x100;
inline constexpr std::uint32_t kDcbInX = 0x200;
inline constexpr std::uint32_t kDcbRtsControlEnable = 0x1000;
inline constexpr std::uint32_t kDcbRtsControlHandshake = 0x2000;

// Purge flags.
inline constexpr std::uint32_t kPurgeTxAbort = 0x1;
inline constexpr std::uint32_t kPurgeRxAbort = 0x2;
inline constexpr std::uint32_t kPurgeTxClear = 0x4;
inline constexpr std::uint32_t kPurgeRxClear = 0x8;

// Modem-line functions.
inline constexpr std::uint32_t kEscSetRts = 3;
inline constexpr std::uint32_t kEscClrRts = 4;
inline constexpr std::uint32_t kEscSetDtr = 5;
inline constexpr std::uint32_t kEscClrDtr = 6;

// The modem input lines as the port last saw them.
struct ModemStatus {
    bool cts = false;
    bool dsr = false;
    bool dcd = false;
    bool ri = false;
    bool operator==(const ModemStatus&) const = default;
};

enum class PortErrorKind { None, NotFound, Busy, AccessDenied, DeviceLost, Other };

// A raw OS handle as the driver stores it: 0 is "no port", all bits set is the invalid value a
// failed open leaves behind.
using ComHandleValue = std::intptr_t;
inline constexpr ComHandleValue kInvalidComHandle = -1;

class ComPortIo {
  public:
    virtual ~ComPortIo() = default;

    // Opens the named port for exclusive use. False leaves the port closed and the reason in
    // LastErrorKind / LastErrorMessage.
    virtual bool Open(const std::string& name) = 0;
    virtual bool IsOpen() const = 0;
    // Closes the port; closing a closed port does nothing.
    virtual void Close() = 0;
    // The handle of the open port (0 when closed).
    virtual ComHandleValue Handle() const = 0;
    // Takes over a handle opened elsewhere; the record and time-outs are not applied.
    virtual bool Adopt(ComHandleValue handle) = 0;
    // Forgets the handle without closing it.
    virtual void Detach() = 0;

    virtual bool ApplySettings(const LineSettingsRecord& record) = 0;
    virtual bool Purge(std::uint32_t flags) = 0;
    virtual bool SetupQueues(std::uint32_t inSize, std::uint32_t outSize) = 0;
    // After this, Read returns at once with whatever is queued.
    virtual bool SetNonBlockingTimeouts() = 0;

    // Bytes read (0 when none are queued), or -1 on failure.
    virtual std::int32_t Read(std::uint8_t* buf, std::int32_t maxBytes) = 0;
    // Bytes accepted (0 when the queue is full), or -1 on failure. Never blocks for long.
    virtual std::int32_t Write(const std::uint8_t* data, std::int32_t size) = 0;
    // Bytes written but not yet sent, or -1 on failure.
    virtual std::int32_t OutQueueCount() = 0;
    // One of kEscSetDtr, kEscClrDtr, kEscSetRts, kEscClrRts.
    virtual bool Escape(std::uint32_t function) = 0;

    // Starts (true) or ends (false) a BREAK on the transmit line; the caller times it, so the
    // port never blocks for its length.
    virtual bool SetBreak(bool on) {
        (void)on;
        return false;
    }
    // The modem input lines. False where the port cannot report them (pseudo-terminals, some
    // adapters): the caller shows them as unknown, the port stays usable.
    virtual bool GetModemStatus(ModemStatus& status) {
        (void)status;
        return false;
    }
    // What the port changed in the last record it accepted (1.5 stop bits sent as 2), empty
    // when it took the record as it was.
    virtual std::string SettingsNote() const { return {}; }

    // Block up to ms for received data (or a fault worth reading about), respectively for room
    // in the output queue. True when the condition holds; false on time-out. These let the
    // driver wait without spinning a core.
    virtual bool WaitReadable(std::uint32_t ms) = 0;
    virtual bool WaitWritable(std::uint32_t ms) = 0;
    // Like WaitReadable, for a reader that expects count bytes (the rest of a frame): a port
    // that can see bytes on their way may wake once they are all in, or once the line has gone
    // quiet with fewer, instead of at the first one. One wake per frame instead of one per
    // arriving piece; a port that cannot tell simply waits for the first byte.
    virtual bool WaitForBytes(std::uint32_t count, std::uint32_t ms) {
        (void)count;
        return WaitReadable(ms);
    }

    // The last failure of any operation above.
    virtual PortErrorKind LastErrorKind() const = 0;
    virtual std::string LastErrorMessage() const = 0;
};

// The real port layer of the platform this was built for.
std::unique_ptr<ComPortIo> MakeSystemPortIo();

}  // namespace corvel
