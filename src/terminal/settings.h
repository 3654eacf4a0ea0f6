#pragma once
// Every value the window keeps in the settings file, with its default, and the loading and
// storing of them at the moments the window needs: all at start, the dialog's keys when the
// settings dialog closes with OK, the rest at exit. Section and key names live only here.
//
// The driver and Kmodem numbers are kept as the file's 32-bit integers: a damaged file may
// hold anything, and the start-up check of the settings dialog's rules (config/config_check.h)
// brings them into their fields' ranges, with a log line for each replacement, before use.

#include <cstdint>
#include <string>
#include <string_view>

#include "terminal/font_record.h"

namespace corvel {

class tIniFile;

// The port offered on a first start.
#ifdef _WIN32
inline constexpr const char* kDefaultPortName = "COM1";
#else
inline constexpr const char* kDefaultPortName = "/dev/ttyS0";
#endif

struct Settings {
    // [COLOR]
    std::int32_t colorMessage = kColorBlue;
    std::int32_t colorError = kColorRed;
    std::int32_t colorWarning = kColorYellow;
    std::int32_t clockHigh = kColorAqua;
    std::int32_t clockLow = kColorBlue;

    // [UART]
    std::string port = kDefaultPortName;
    std::int32_t baudRate = 9600;
    std::int32_t pollingDelay = 50;     // ms, 16 bit
    std::int32_t pollingGetChar = 100;  // ms, 16 bit
    std::int32_t bufferInSize = 2048;   // bytes, 16 bit
    std::int32_t bufferOutSize = 2048;  // bytes, 16 bit
    bool uartDebug = false;
    bool keyReturn = true;

    // [RGR]
    std::int32_t cmdTerminator = 0;  // send termination: 0 LF, anything else CR LF

    // [CBX]
    bool viewRxDec = false;
    bool viewRxHex = false;
    bool viewRxChar = false;
    bool viewRxBin = false;
    bool rtsCts = false;
    bool sendCmd = false;
    bool send = true;
    bool wordWrap = false;

    // [KMODEM]
    bool kmodemEnabled = false;
    std::int32_t kmodemTimerOut = 5;       // units of 0.864 s, 255 = no limit
    std::int32_t kmodemPackageSize = 512;  // bytes, 16 bit
    std::string kmodemCmdTx;
    std::string kmodemCmdRx;
    std::int32_t kmodemCmdTerminator = 0;  // 8 bit: 0 LF, 2 CR, others CR LF
    bool kmodemUseEcho = true;
    bool kmodemDebug = false;

    // Windows and their fonts.
    std::int32_t memRxColor = kColorSystemWindow;
    FontRecord memRxFont{"Tahoma", 0, kColorSystemWindowText, 12, 0};
    std::string editSend;
    std::int32_t memLogColor = kColorSystemWindow;
    FontRecord memLogFont{"Tahoma", 0, kColorSystemWindowText, 12, 0};
    FontRecord filesFont{"Tahoma", 1, kColorSystemWindowText, 8, 0};
    std::int32_t filesBackground = kColorSystemWindow;
    FontRecord cmdsFont{"Tahoma", 1, kColorSystemWindowText, 8, 0};
    std::int32_t cmdsBackground = kColorSystemWindow;

    // Command lists.
    std::string listsFolder;  // default: the executable's folder
    std::int32_t listIndex = 0;

    // [WINDOWS]
    std::int32_t windowWidth = 1035;
    std::int32_t windowHeight = 736;
    std::int32_t windowLeft = 0;
    std::int32_t windowTop = 0;

    // [WINDOW PLACEMENT]: the toolkit's own record of the window's place (normal size, frame,
    // screen, maximised) as hex text, and the [WINDOWS] values written beside it: when those no
    // longer match, somebody edited them and they win. The log's height under the splitter
    // (0 = the default).
    std::string windowPlacement;
    std::string windowPlacementOuter;
    std::int32_t logHeight = 0;

    // [DISPLAY]: how the receive window reads text beyond a terminal of bytes.
    bool rxUtf8 = false;
    bool rxColours = false;
    bool rxTabs = false;

    // [LIMITS]: lines kept by the receive window and the side column; 0 = no limit.
    std::uint32_t rxLinesLimit = 1000000;
    std::uint32_t auxLinesLimit = 1000000;

    bool operator==(const Settings&) const = default;
};

// The defaults of a first start; listsFolder is the executable's folder without a trailing
// separator.
Settings DefaultSettings(std::string_view executableFolder);

// Everything read at start (the window geometry included; the window applies it when shown).
// Starts from the values in s, so pass DefaultSettings(...). A key holding something that is
// not a number keeps the value of s; the 8-bit Kmodem terminator outside 0..255 and negative
// line limits do too.
void LoadSettings(const tIniFile& ini, Settings& s);

// The keys of the settings dialog, written when it closes with OK: "COLOR" report colours,
// "UART" timings, buffers and debug, then "KMODEM", in the dialog's order.
void WriteDialogSettings(tIniFile& ini, const Settings& s);
// Every other key, written at exit in the window's shutdown order.
void WriteExitSettings(tIniFile& ini, const Settings& s);

// The baud rate text of the window stored at exit: its number, or 9600 when it is none.
std::int32_t BaudRateFromText(std::string_view text);

}  // namespace corvel
