#pragma once
// The virtual board's firmware: a line shell with echo, backspace editing and a history the arrow
// keys walk, files in RAM, and Kmodem transfers through the board-side C library. It runs on a
// BoardLink: a simulated UART on a thread of its own in the program, a scripted line on a fake
// clock in tests.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/shell_keys.h"
#include "comport/comport_io.h"

namespace corvel {

class tXymodem;

// The board's RAM disk. One board uses it at a time.
struct BoardFiles {
    static constexpr std::size_t kCapacity = 4u << 20;
    static constexpr const char* kDemoName = "demo.txt";

    std::map<std::string, std::vector<std::uint8_t>> files;
    std::string newest;  // what a bare "tx" sends

    std::size_t Used() const;
    // Room for a file that would replace `name`.
    std::size_t RoomFor(const std::string& name) const;
    // A fresh disk holding only the demo file.
    static std::shared_ptr<BoardFiles> WithDemo();
    static std::vector<std::uint8_t> DemoText();
};

// The line settings the terminal applied to its end of the cable.
struct LineState {
    std::uint32_t baud = 0;  // 0: no pacing
    bool rtscts = false;
};

// What the terminal did to the cable's control lines, as running counts.
struct ControlLines {
    bool dtr = false;
    bool rts = false;
    std::uint32_t dtrRises = 0;  // DTR going on restarts the board, as on many boards
    std::uint32_t rtsRises = 0;  // likewise RTS (not while RTS/CTS drives it)
    std::uint32_t breaks = 0;
    std::uint64_t lastBreakMs = 0;
};

class BoardLink {
  public:
    enum class In { Byte, None, Closed };
    virtual ~BoardLink() = default;
    // One received byte, waiting up to waitMs for it.
    virtual In GetByte(std::uint8_t& byte, std::uint32_t waitMs) = 0;
    // Puts up to n bytes on the line without waiting. Returns how many were taken (0 while the
    // line holds the board off), or -1 when the link is gone.
    virtual std::int32_t Put(const std::uint8_t* data, std::size_t n) = 0;
    // Lets up to ms pass; may return sooner.
    virtual void Idle(std::uint32_t ms) = 0;
    virtual std::uint64_t NowMs() = 0;
    virtual LineState Line() = 0;
    virtual bool Stopping() = 0;
    virtual ControlLines Control() { return {}; }
    // The board's outputs that the terminal reads as CTS, DSR, DCD and RI.
    virtual ModemStatus ModemInputs() { return {true, false, false, false}; }
    virtual void SetModemInputs(const ModemStatus& lines) { (void)lines; }
    // The board drops off the host's bus for absentMs, as a USB device does when it resets and
    // re-enumerates. A link that cannot vanish ignores it.
    virtual void Replug(std::uint32_t absentMs) { (void)absentMs; }
};

class BoardShell {
  public:
    static constexpr const char* kPrompt = "> ";
    static constexpr std::size_t kMaxLine = 200;
    static constexpr std::uint64_t kMaxCount = 1000000000;  // stream / hex limit
    static constexpr std::uint64_t kWaveRate = 50;          // wave lines a second by default
    static constexpr std::uint64_t kMaxWaveRate = 1000;
    // Packet size of the board's own transmitter.
    static constexpr std::uint16_t kTxPacket = 1024;

    BoardShell(BoardLink& link, std::shared_ptr<BoardFiles> files);
    // Runs until the link closes or asks to stop.
    void Run();

    // The received file names get this stem and a number when rx is given none.
    static constexpr const char* kReceivedStem = "recv";

  private:
    friend struct BoardShellAccess;

    BoardLink::In Get(std::uint8_t& byte, std::uint32_t waitMs);
    void OnByte(std::uint8_t c);
    void Execute(const std::string& line, bool crOnly);
    // Sends bytes paced at the line's rate; false when the link is gone or the board stops.
    bool Send(const std::uint8_t* data, std::size_t n);
    bool Send(const std::string& s);
    void Prompt();
    // True when Ctrl+C arrived meanwhile, or a reset or BREAK; other bytes are kept.
    bool Interrupted();
    // Notes a reset pulse or a BREAK since the last look; true when one waits to be handled.
    bool LineEvent();
    // Restarts after a reset, reports a BREAK.
    void HandleLineEvent();
    void Banner(const char* cause);

    void CmdHelp();
    void CmdLs();
    void CmdCat(const std::string& name);
    void CmdRm(const std::string& name);
    void CmdAnsi();
    void CmdLog();
    void CmdStream(const std::string& arg, bool hex);
    void CmdLine(const std::string& arg);
    void CmdWave(const std::string& arg);
    void CmdRx(const std::string& name);
    void CmdTx(const std::string& name);
    void CmdUsbReset(const std::string& arg);
    // XMODEM / YMODEM (board_xymodem.cpp).
    void CmdXyReceive(bool ymodem, const std::string& name);
    void CmdXySend(bool ymodem, const std::string& names);
    void BindXy(tXymodem& xy);
    void DiscardInput();

    BoardLink& link_;
    std::shared_ptr<BoardFiles> files_;
    std::string line_;
    ShellKeys keys_;
    ShellHistory history_;
    std::deque<std::uint8_t> pending_;  // read ahead of the shell, handed out first
    bool skipLf_ = false;               // a CR ended the last line; its LF is not a new one
    bool gone_ = false;                 // the link closed or the board stops
    ControlLines seen_;                 // as last handled; the cable starts with no events
    const char* resetBy_ = nullptr;     // a reset waits to be handled ("DTR" or "RTS")
    bool breakSeen_ = false;            // a BREAK waits to be reported

    // Pacing: credit in 1/10000 byte, refilled at baud per millisecond.
    std::uint64_t credit_ = 0;
    std::uint64_t lastRefill_ = 0;

  public:
    // Glue for the C library's callbacks.
    struct Transfer;
};

}  // namespace corvel
