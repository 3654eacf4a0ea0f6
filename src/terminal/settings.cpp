#include "terminal/settings.h"

#include <algorithm>

#include "terminal/settings_file.h"

namespace corvel {
namespace {

constexpr const char* kColor = "COLOR";
constexpr const char* kUart = "UART";
constexpr const char* kRgr = "RGR";
constexpr const char* kCbx = "CBX";
constexpr const char* kKmodem = "KMODEM";
constexpr const char* kMemRxColor = "MEM RX COLOR";
constexpr const char* kMemRxFont = "MEM RX FONT";
constexpr const char* kMemLogColor = "MEM LOG COLOR";
constexpr const char* kMemLogFont = "MEM LOG FONT";
constexpr const char* kFilesFont = "FONT_STRFILES";
constexpr const char* kCmdsFont = "FONT_STRPATHS";
constexpr const char* kWindows = "WINDOWS";
constexpr const char* kPlacement = "WINDOW PLACEMENT";
constexpr const char* kDisplay = "DISPLAY";
constexpr const char* kLimits = "LIMITS";

// The four window colours are stored as text; one that is not a number is the system window
// background, the default of all four.
std::int32_t ReadColorText(const tIniFile& ini, const char* section, const char* key) {
    return ParseIniInteger(ini.ReadString(section, key, "")).value_or(kColorSystemWindow);
}

std::uint32_t ReadLimit(const tIniFile& ini, const char* key, std::uint32_t current) {
    const std::int32_t v = ini.ReadInteger(kLimits, key, -1);
    return v >= 0 ? static_cast<std::uint32_t>(v) : current;
}

std::int32_t LimitForFile(std::uint32_t v) {
    return v > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(v);
}

}  // namespace

Settings DefaultSettings(std::string_view executableFolder) {
    Settings s;
    std::string folder(executableFolder);
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    s.listsFolder = folder;
    return s;
}

void LoadSettings(const tIniFile& ini, Settings& s) {
    s.colorMessage = ini.ReadInteger(kColor, "REPORT MESSAGE", s.colorMessage);
    s.colorError = ini.ReadInteger(kColor, "REPORT ERROR", s.colorError);
    s.colorWarning = ini.ReadInteger(kColor, "REPORT WARNING", s.colorWarning);
    s.clockHigh = ini.ReadInteger(kColor, "VRCLOCK DISPLAY HIGH", s.clockHigh);
    s.clockLow = ini.ReadInteger(kColor, "VRCLOCK DISPLAY LOW", s.clockLow);

    s.port = ini.ReadString(kUart, "PORT", s.port);
    s.baudRate = ini.ReadInteger(kUart, "BAUDRATE", s.baudRate);
    s.pollingDelay = ini.ReadInteger(kUart, "POLLING RECEIVER", s.pollingDelay);
    s.pollingGetChar = ini.ReadInteger(kUart, "POLLING RECEIVER GETCHAR", s.pollingGetChar);
    s.bufferInSize = ini.ReadInteger(kUart, "BUFFER IN SIZE", s.bufferInSize);
    s.bufferOutSize = ini.ReadInteger(kUart, "BUFFER OUT SIZE", s.bufferOutSize);
    s.uartDebug = ini.ReadBool(kUart, "USE DEBUG", s.uartDebug);
    s.keyReturn = ini.ReadBool(kUart, "KEY_RETURN", s.keyReturn);

    s.cmdTerminator = ini.ReadInteger(kRgr, "CMD TERMINATOR", s.cmdTerminator);

    s.viewRxDec = ini.ReadBool(kCbx, "CBX RX DEC", s.viewRxDec);
    s.viewRxHex = ini.ReadBool(kCbx, "CBX RX HEX", s.viewRxHex);
    s.viewRxChar = ini.ReadBool(kCbx, "CBX RX CHAR", s.viewRxChar);
    s.viewRxBin = ini.ReadBool(kCbx, "CBX RX BIN", s.viewRxBin);
    s.rtsCts = ini.ReadBool(kCbx, "CBX RTSCTS", s.rtsCts);
    s.sendCmd = ini.ReadBool(kCbx, "CBX SENDCMD", s.sendCmd);
    s.send = ini.ReadBool(kCbx, "CBX SEND", s.send);
    s.wordWrap = ini.ReadBool(kCbx, "CBX WORD WRAP", s.wordWrap);

    s.kmodemEnabled = ini.ReadBool(kKmodem, "ENABLED", s.kmodemEnabled);
    s.kmodemTimerOut = ini.ReadInteger(kKmodem, "TIMEROUT", s.kmodemTimerOut);
    s.kmodemPackageSize = ini.ReadInteger(kKmodem, "PACKAGE_SIZE", s.kmodemPackageSize);
    s.kmodemCmdTx = ini.ReadString(kKmodem, "CMD_TX", s.kmodemCmdTx);
    s.kmodemCmdRx = ini.ReadString(kKmodem, "CMD_RX", s.kmodemCmdRx);
    const std::int32_t terminator =
        ini.ReadInteger(kKmodem, "CMD_TERMINATOR", s.kmodemCmdTerminator);
    if (terminator >= 0 && terminator <= 255) s.kmodemCmdTerminator = terminator;
    s.kmodemUseEcho = ini.ReadBool(kKmodem, "USE_ECHO", s.kmodemUseEcho);
    s.kmodemDebug = ini.ReadBool(kKmodem, "USE DEBUG", s.kmodemDebug);

    s.memRxColor = ReadColorText(ini, kMemRxColor, "COLOR");
    ReadFontSettings(ini, kMemRxFont, s.memRxFont);
    s.editSend = ini.ReadString("EDITS", "SEND", s.editSend);
    s.memLogColor = ReadColorText(ini, kMemLogColor, "COLOR");
    ReadFontSettings(ini, kMemLogFont, s.memLogFont);

    s.listsFolder = ini.ReadString("DIR", "PATHS", s.listsFolder);
    s.listIndex = ini.ReadInteger("LIST_FILES", "ITEM_INDEX", s.listIndex);
    ReadFontSettings(ini, kFilesFont, s.filesFont);
    s.filesBackground = ReadColorText(ini, kFilesFont, "BACK_GROUND");
    ReadFontSettings(ini, kCmdsFont, s.cmdsFont);
    s.cmdsBackground = ReadColorText(ini, kCmdsFont, "BACK_GROUND");

    s.windowWidth = ini.ReadInteger(kWindows, "W", s.windowWidth);
    s.windowHeight = ini.ReadInteger(kWindows, "H", s.windowHeight);
    s.windowLeft = ini.ReadInteger(kWindows, "L", s.windowLeft);
    s.windowTop = ini.ReadInteger(kWindows, "T", s.windowTop);
    s.windowPlacement = ini.ReadString(kPlacement, "GEOMETRY", s.windowPlacement);
    s.windowPlacementOuter = ini.ReadString(kPlacement, "OUTER", s.windowPlacementOuter);
    s.logHeight = std::max(ini.ReadInteger(kPlacement, "LOG HEIGHT", s.logHeight), 0);
    s.rxUtf8 = ini.ReadBool(kDisplay, "UTF8", s.rxUtf8);
    s.rxColours = ini.ReadBool(kDisplay, "ANSI COLOURS", s.rxColours);
    s.rxTabs = ini.ReadBool(kDisplay, "TAB STOPS", s.rxTabs);

    s.rxLinesLimit = ReadLimit(ini, "RX LINES", s.rxLinesLimit);
    s.auxLinesLimit = ReadLimit(ini, "AUX LINES", s.auxLinesLimit);
}

void WriteDialogSettings(tIniFile& ini, const Settings& s) {
    ini.Update([&] {
        ini.WriteInteger(kColor, "REPORT MESSAGE", s.colorMessage);
        ini.WriteInteger(kColor, "REPORT ERROR", s.colorError);
        ini.WriteInteger(kColor, "REPORT WARNING", s.colorWarning);

        ini.WriteInteger(kUart, "POLLING RECEIVER", s.pollingDelay);
        ini.WriteInteger(kUart, "POLLING RECEIVER GETCHAR", s.pollingGetChar);
        ini.WriteInteger(kUart, "BUFFER IN SIZE", s.bufferInSize);
        ini.WriteInteger(kUart, "BUFFER OUT SIZE", s.bufferOutSize);
        ini.WriteBool(kUart, "USE DEBUG", s.uartDebug);

        ini.WriteBool(kKmodem, "ENABLED", s.kmodemEnabled);
        ini.WriteInteger(kKmodem, "TIMEROUT", s.kmodemTimerOut);
        ini.WriteInteger(kKmodem, "PACKAGE_SIZE", s.kmodemPackageSize);
        ini.WriteString(kKmodem, "CMD_TX", s.kmodemCmdTx);
        ini.WriteString(kKmodem, "CMD_RX", s.kmodemCmdRx);
        ini.WriteInteger(kKmodem, "CMD_TERMINATOR", s.kmodemCmdTerminator);
        ini.WriteBool(kKmodem, "USE_ECHO", s.kmodemUseEcho);
        ini.WriteBool(kKmodem, "USE DEBUG", s.kmodemDebug);
    });
}

void WriteExitSettings(tIniFile& ini, const Settings& s) {
    ini.Update([&] {
        ini.WriteInteger(kWindows, "W", s.windowWidth);
        ini.WriteInteger(kWindows, "H", s.windowHeight);
        ini.WriteInteger(kWindows, "L", s.windowLeft);
        ini.WriteInteger(kWindows, "T", s.windowTop);
        ini.WriteString(kPlacement, "GEOMETRY", s.windowPlacement);
        ini.WriteString(kPlacement, "OUTER", s.windowPlacementOuter);
        ini.WriteInteger(kPlacement, "LOG HEIGHT", s.logHeight);
        ini.WriteBool(kDisplay, "UTF8", s.rxUtf8);
        ini.WriteBool(kDisplay, "ANSI COLOURS", s.rxColours);
        ini.WriteBool(kDisplay, "TAB STOPS", s.rxTabs);

        ini.WriteInteger(kColor, "VRCLOCK DISPLAY HIGH", s.clockHigh);
        ini.WriteInteger(kColor, "VRCLOCK DISPLAY LOW", s.clockLow);

        ini.WriteString(kUart, "PORT", s.port);
        ini.WriteInteger(kUart, "BAUDRATE", s.baudRate);
        ini.WriteBool(kUart, "KEY_RETURN", s.keyReturn);

        ini.WriteBool(kCbx, "CBX RX DEC", s.viewRxDec);
        ini.WriteBool(kCbx, "CBX RX HEX", s.viewRxHex);
        ini.WriteBool(kCbx, "CBX RX CHAR", s.viewRxChar);
        ini.WriteBool(kCbx, "CBX RX BIN", s.viewRxBin);
        ini.WriteBool(kCbx, "CBX SENDCMD", s.sendCmd);
        ini.WriteBool(kCbx, "CBX SEND", s.send);
        ini.WriteBool(kCbx, "CBX WORD WRAP", s.wordWrap);
        ini.WriteBool(kCbx, "CBX RTSCTS", s.rtsCts);

        ini.WriteInteger(kRgr, "CMD TERMINATOR", s.cmdTerminator);

        ini.WriteString(kMemRxColor, "COLOR", std::to_string(s.memRxColor));
        WriteFontSettings(ini, kMemRxFont, s.memRxFont);
        ini.WriteString(kMemLogColor, "COLOR", std::to_string(s.memLogColor));
        WriteFontSettings(ini, kMemLogFont, s.memLogFont);

        ini.WriteString("EDITS", "SEND", s.editSend);
        ini.WriteString("DIR", "PATHS", s.listsFolder);
        ini.WriteInteger("LIST_FILES", "ITEM_INDEX", s.listIndex);

        WriteFontSettings(ini, kFilesFont, s.filesFont);
        ini.WriteString(kFilesFont, "BACK_GROUND", std::to_string(s.filesBackground));
        WriteFontSettings(ini, kCmdsFont, s.cmdsFont);
        ini.WriteString(kCmdsFont, "BACK_GROUND", std::to_string(s.cmdsBackground));

        ini.WriteInteger(kLimits, "RX LINES", LimitForFile(s.rxLinesLimit));
        ini.WriteInteger(kLimits, "AUX LINES", LimitForFile(s.auxLinesLimit));
    });
}

std::int32_t BaudRateFromText(std::string_view text) {
    return ParseIniInteger(text).value_or(9600);
}

}  // namespace corvel
