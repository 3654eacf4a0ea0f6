#pragma once
// XMODEM (checksum, CRC-16, 1K blocks) and YMODEM batch: the block protocols of boot loaders and
// small firmware shells. One tXymodem sends or receives over callbacks that the caller binds to
// its port around each transfer, like tKmodem; files come from an XyStore (the disk by default,
// the virtual board's RAM there).
//
// Wire format: a block is SOH (128 data bytes) or STX (1024), the block number, its complement,
// the data padded with 0x1A, then an 8-bit sum or a CRC-16 (polynomial 0x1021, high byte first).
// The receiver asks with 'C' (CRC) or NAK (sum), answers ACK or NAK, ends a file by ACKing EOT;
// two CANs in a row cancel. YMODEM adds block 0 before each file: "name\0size mtime" (decimal
// size, octal seconds since 1970); a block 0 with an empty name ends the batch.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"

namespace corvel {

enum class XyProtocol : std::uint8_t { Xmodem, XmodemCrc, Xmodem1k, Ymodem };

// "xmodem", "xmodem-crc", "xmodem-1k", "ymodem": the names of the command line and settings.
const char* XyProtocolKey(XyProtocol p);
// "XMODEM", "XMODEM-CRC", "XMODEM-1K", "YMODEM": the names the user reads.
const char* XyProtocolTitle(XyProtocol p);
bool XyProtocolFromKey(const std::string& key, XyProtocol& out);

// Result codes; the shared ones keep Kmodem's values.
inline constexpr std::int32_t XY_OK = 0;
inline constexpr std::int32_t XY_CANCEL_REMOTE = -8;
inline constexpr std::int32_t XY_USER_CANCEL = -9;
// A block number that is neither the one due nor a repeat of the last one.
inline constexpr std::int32_t XY_SYNC_ERROR = -10;
// The far end stopped answering in the middle of a transfer.
inline constexpr std::int32_t XY_TIMEOUT = -15;
inline constexpr std::int32_t XY_NO_ECHO = -20;
// One block failed more than `retries` times in a row.
inline constexpr std::int32_t XY_RETRIES = -30;
// The far end never started (no receiver asked for a block, no sender sent one).
inline constexpr std::int32_t XY_NO_START = -31;
// A received file name that would leave the target folder, or no usable name at all.
inline constexpr std::int32_t XY_BAD_NAME = -32;
inline constexpr std::int32_t XY_BAD_HEADER = -33;
// The file ended before the size its header announced.
inline constexpr std::int32_t XY_SHORT_FILE = -34;
// The store could not take the data (the board's RAM is full).
inline constexpr std::int32_t XY_NO_ROOM = -35;
// XMODEM carries exactly one file.
inline constexpr std::int32_t XY_ONE_FILE = -36;
inline constexpr std::int32_t XY_NO_FILE = -37;

inline constexpr std::uint8_t XY_SOH = 0x01;
inline constexpr std::uint8_t XY_STX = 0x02;
inline constexpr std::uint8_t XY_EOT = 0x04;
inline constexpr std::uint8_t XY_ACK = 0x06;
inline constexpr std::uint8_t XY_NAK = 0x15;
inline constexpr std::uint8_t XY_CAN = 0x18;
inline constexpr std::uint8_t XY_CRC_REQUEST = 'C';
inline constexpr std::uint8_t XY_PAD = 0x1A;

std::uint16_t XyCrc16(const std::uint8_t* data, std::size_t n);

struct XyFileInfo {
    std::string name;  // bare name, as block 0 carries it
    std::uint64_t size = 0;
    std::int64_t mtime = 0;  // seconds since 1970, 0 unknown
    bool hasSize = false;
};

// Block 0's data for a file, padded to 128 or 1024 bytes; an empty name gives the batch's end.
std::vector<std::uint8_t> XyHeaderBlock(const XyFileInfo& info);
// Reads block 0's data; false when the fields cannot be read. An empty name means end of batch.
bool XyParseHeader(const std::uint8_t* data, std::size_t n, XyFileInfo& out);
// A received name that may be stored in the target folder: no folders, no parent, no drive, no
// control characters.
bool XySafeName(const std::string& name);

class XyReader {
  public:
    virtual ~XyReader() = default;
    // Up to n bytes; fewer only at the end. Throws FileError on a read failure.
    virtual std::size_t Read(std::uint8_t* to, std::size_t n) = 0;
};

class XyWriter {
  public:
    virtual ~XyWriter() = default;
    // False when there is no room; throws FileError on a write failure.
    virtual bool Write(const std::uint8_t* data, std::size_t n) = 0;
    // Keeps the file (complete or not); mtime 0 leaves the time alone.
    virtual void Close(std::int64_t mtime) = 0;
};

class XyStore {
  public:
    virtual ~XyStore() = default;
    // Fills info (bare name, size, time). Throws FileError when the file cannot be read.
    virtual std::unique_ptr<XyReader> OpenRead(const std::string& path, XyFileInfo& info) = 0;
    virtual std::unique_ptr<XyWriter> Create(const std::string& path) = 0;
    // Where a received (already checked) name goes in folder.
    virtual std::string Join(const std::string& folder, const std::string& name) = 0;
};

// Files on disk; names are UTF-8 as everywhere in the program.
XyStore& XyDiskStore();

using tXy_Out = std::function<std::int32_t(const std::uint8_t* c, std::int32_t size)>;
using tXy_In = std::function<bool(std::uint8_t& c)>;
using tXy_Read = std::function<std::int32_t(std::uint8_t* buf, std::int32_t max)>;
using tXy_Flush = std::function<void(bool inBuf, bool outBuf)>;
using tXyProgress = std::function<void(int position)>;
using tXyText = std::function<void(const std::string& text)>;

enum class XyReportKind { Message, Error };
struct XyReport {
    std::string text;
    XyReportKind kind;
};

class tXymodem {
  public:
    tXymodem(Host& host, tXyProgress bp = {}, tXyText lbl = {});
    ~tXymodem();
    tXymodem(const tXymodem&) = delete;
    tXymodem& operator=(const tXymodem&) = delete;

    // Sends the files (XMODEM: exactly one) and returns a result code. File errors are thrown as
    // FileError once the far end has been told to cancel.
    std::int32_t TransmitFiles(const std::vector<std::string>& files);
    // XMODEM: into the file `target`. YMODEM: every file of the batch into the folder `target`
    // under its sender's name.
    std::int32_t ReceiveFiles(const std::string& target);

    XyReport ResultReport(std::int32_t code, bool transmit) const;

    // Settings.
    XyProtocol protocol = XyProtocol::XmodemCrc;
    std::string cmdStart;             // sent before the transfer, when not empty
    std::uint8_t cmd_terminator = 0;  // 0 LF, 2 CR, anything else CR LF
    bool cmd_useEcho = false;
    bool stripPadding = false;  // XMODEM receive: drop the 0x1A bytes that end the last block
    int retries = 10;
    std::uint32_t startTimeoutMs = 60000;  // the wait for the far end to begin
    std::uint32_t startIntervalMs = 3000;  // a receiver repeats its request this often
    std::uint32_t blockTimeoutMs = 5000;   // a receiver's wait for the next block
    std::uint32_t ackTimeoutMs = 20000;    // a sender's wait for the answer to a block
    std::uint32_t charTimeoutMs = 1000;    // the wait for each byte inside a block
    XyStore* store = nullptr;              // null: the disk

    bool canceled = false;
    tXy_Out xy_Out;
    tXy_In xy_In;
    tXy_Read xy_Read;  // optional: block reads
    tXy_Flush xy_Flush;

    // Outcome of the last transfer.
    std::uint32_t maxByteRate = 0;  // KBytes/s
    std::uint64_t bytesDone = 0;    // file bytes of the whole batch
    std::uint64_t fileSize = 0;     // of the current file, 0 when unknown
    std::uint64_t fileDone = 0;
    std::vector<std::string> filesDone;  // paths sent or stored complete
    std::string currentFile;
    std::string refusedName;        // XY_BAD_NAME: what the sender proposed
    std::uint32_t paddingSeen = 0;  // XMODEM receive: 0x1A bytes ending the last block
    bool paddingStripped = false;
    bool eotUnanswered = false;   // sending: all blocks acknowledged, the EOT met only silence
    std::uint64_t announced = 0;  // XY_SHORT_FILE: the size block 0 gave

  private:
    struct Packet;

    std::int32_t Get(std::uint32_t timeoutMs);
    bool Fill();
    void Put(const std::uint8_t* p, std::size_t n);
    void Put(std::uint8_t b) { Put(&b, 1); }
    void PurgeInput();
    void DrainQuiet();
    void SendCancel();
    std::int32_t SendStartCommand();
    std::int32_t ReadPacket(Packet& p, std::uint32_t headerTimeoutMs, bool crc);
    std::int32_t WaitReply(std::uint32_t timeoutMs);
    std::int32_t WaitStart(bool& crc, bool quietCheck);
    std::int32_t SendBlock(std::uint8_t number, const std::uint8_t* data, std::size_t n, bool crc);
    std::int32_t SendEot();
    std::int32_t SendBatchEnd(bool crc);
    std::int32_t SendOneFile(const std::string& path, bool ymodem, bool& crc, bool first);
    std::int32_t ReceiveData(std::unique_ptr<XyWriter>& out, const std::string& path, bool ymodem,
                             bool crc, const XyFileInfo& info);
    void Progress();
    void StartRate();
    void StopRate();
    void Label(const std::string& s);
    XyStore& Store();

    Host& host_;
    tXyProgress barProgress_;
    tXyText lblRate_;
    Host::TimerId rateTimer_ = 0;
    std::uint32_t calcByteRate_ = 0;
    bool rateTicked_ = false;
    std::uint64_t rateStartMs_ = 0;
    std::vector<std::uint8_t> in_;
    std::size_t inPos_ = 0;
    std::string target_;
};

}  // namespace corvel
