#pragma once
// The command line of corvel-kmodem.

#include <cstdint>
#include <string>
#include <vector>

namespace corvel::tool {

inline constexpr std::uint16_t kMaxPacket = 65525;  // + 10 must fit the 16-bit output buffer

struct Options {
    enum class Mode { Send, Receive, Help, Version };
    Mode mode = Mode::Help;
    std::string file;
    std::string port;
    std::uint32_t baud = 115200;
    std::uint16_t packetSize = 512;
    std::int32_t timeout = 5;
    std::string startCommand;
    bool echo = false;
    std::uint8_t terminator = 0;  // 0 LF, 1 CR LF, 2 CR: the engine's codes
    bool rtscts = false;
    bool debug = false;
};

// Fills `out` from argv; false with a message in `error` for a bad command line.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

std::string HelpText();

}  // namespace corvel::tool
