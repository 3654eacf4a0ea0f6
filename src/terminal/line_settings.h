#pragma once
// The line's frame format, flow control and control-line choices of the window, kept in their
// own section [LINE] of the settings file, and the text forms shared by the window, the log and
// the command line ("8E1", "on").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "comport/comport.h"

namespace corvel {

class tIniFile;

struct LineFormat {
    TComPortDataBits dataBits = db8BITS;
    TComPortParity parity = ptNONE;
    TComPortStopBits stopBits = sb1BITS;
    bool operator==(const LineFormat&) const = default;
};

// "8E1", "7o2", "8N1.5": data bits 5 to 8, parity N/O/E/M/S (either case), stop bits 1, 1.5 or 2.
std::optional<LineFormat> ParseLineFormat(std::string_view text);
std::string LineFormatName(const LineFormat& format);
// "on"/"off", "1"/"0", "true"/"false", "yes"/"no" (any case).
std::optional<bool> ParseOnOff(std::string_view text);

struct LineSettings {
    LineFormat format;
    bool xonXoff = false;
    bool dtr = false;
    bool rts = false;
    // The reset pulse: the line, the level it is driven to, and for how long.
    TComPortLine pulseLine = TComPortLine::DTR;
    bool pulseActive = true;
    std::uint32_t pulseMs = 100;
    std::uint32_t breakMs = 250;
    bool operator==(const LineSettings&) const = default;
};

// Values given on the command line, used for this run instead of the remembered ones.
struct LineOverrides {
    std::optional<LineFormat> format;
    std::optional<bool> dtr;
    std::optional<bool> rts;
};

inline constexpr std::uint32_t kMinLineActionMs = 1;
inline constexpr std::uint32_t kMaxLineActionMs = 10000;

// Reads [LINE] starting from s. A value that makes no sense keeps the value of s and adds a line
// to problems naming the key and what was found.
void LoadLineSettings(const tIniFile& ini, LineSettings& s, std::vector<std::string>& problems);
void WriteLineSettings(tIniFile& ini, const LineSettings& s);

}  // namespace corvel
