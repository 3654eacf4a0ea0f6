#pragma once
// The command line of corvel-xfer.

#include <cstdint>
#include <string>
#include <vector>

#include "xymodem/xymodem.h"

namespace corvel::xfer {

// Exit statuses, one per kind of failure (the man page lists them).
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;       // bad command line, port or file error
inline constexpr int kExitNoStart = 2;     // the far end never began
inline constexpr int kExitTimeout = 3;     // the far end stopped answering
inline constexpr int kExitErrors = 4;      // too many bad blocks, or blocks out of order
inline constexpr int kExitRemote = 5;      // the far end cancelled
inline constexpr int kExitIncomplete = 6;  // the file ended short of its announced size
inline constexpr int kExitRefused = 7;     // a received name would leave the folder
inline constexpr int kExitPortLost = 8;
inline constexpr int kExitCancelled = 9;  // Ctrl+C
inline constexpr int kExitOther = 10;     // no echo, no room, an unreadable header

int ExitStatus(std::int32_t code);

struct Options {
    enum class Mode { Send, Receive, Help, Version };
    Mode mode = Mode::Help;
    std::vector<std::string> files;
    std::string dir;  // receive --dir
    std::string port;
    XyProtocol protocol = XyProtocol::XmodemCrc;
    std::uint32_t baud = 115200;
    std::string startCommand;
    std::uint8_t terminator = 0;  // the engine's codes: 0 LF, 1 CR LF, 2 CR
    bool echo = false;
    bool rtscts = false;
    bool stripPadding = false;
    std::uint32_t waitSeconds = 60;
};

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);
std::string HelpText();

}  // namespace corvel::xfer
