#include "config/config_check.h"

#include "terminal/format.h"
#include "terminal/settings_file.h"

namespace corvel {
namespace {

constexpr std::int32_t kMax16 = 65535;

// The dialog reads a text that is not an integer as -1, which every check then rejects.
std::int32_t NumberOrMinusOne(const std::string& text) {
    return ParseIniInteger(text).value_or(-1);
}

bool InRange(std::int32_t v, std::int32_t low) {
    return v >= low && v <= kMax16;
}

std::uint16_t Checked(std::int32_t v, std::int32_t low, std::int32_t replacement, const char* msg,
                      std::vector<LogLine>& log) {
    if (InRange(v, low)) return static_cast<std::uint16_t>(v);
    log.push_back({LogKind::Error, msg});
    return static_cast<std::uint16_t>(replacement);
}

std::uint16_t CheckedPacket(std::int32_t p, std::uint16_t outBuffer, std::vector<LogLine>& log) {
    const std::int32_t limit = static_cast<std::int32_t>(outBuffer) - 10;
    if (p < 256) {
        log.push_back({LogKind::Error, kMsgPacketTooSmall});
        return 512;
    }
    if (p > limit) {
        log.push_back(
            {LogKind::Error, FormatText(kMsgPacketTooLarge, static_cast<unsigned>(limit))});
        return static_cast<std::uint16_t>(limit);
    }
    return static_cast<std::uint16_t>(p);
}

}  // namespace

ConfigDialogFields FillConfigDialog(const Settings& s) {
    ConfigDialogFields f;
    f.colorMessage = s.colorMessage;
    f.colorError = s.colorError;
    f.colorWarning = s.colorWarning;
    f.timeoutPolling = std::to_string(s.pollingDelay);
    f.timeoutGetChar = std::to_string(s.pollingGetChar);
    f.uartBuffer = std::to_string(s.bufferOutSize);
    f.uartDebug = s.uartDebug;
    f.kmodemDebug = s.kmodemDebug;
    f.kmodemEnabled = s.kmodemEnabled;
    f.timerOut = std::to_string(s.kmodemTimerOut);
    f.packageSize = std::to_string(s.kmodemPackageSize);
    f.cmdTx = s.kmodemCmdTx;
    f.cmdRx = s.kmodemCmdRx;
    f.useEcho = s.kmodemUseEcho;
    f.cmdTerminator = s.kmodemCmdTerminator;
    return f;
}

ConfigCheckResult CheckConfigDialog(const ConfigDialogFields& f) {
    ConfigCheckResult r;
    ConfigValues& v = r.values;
    v.colorMessage = f.colorMessage;
    v.colorError = f.colorError;
    v.colorWarning = f.colorWarning;

    v.pollingDelay = Checked(NumberOrMinusOne(f.timeoutPolling), 1, 50, kMsgPollingInvalid, r.log);
    v.pollingGetChar =
        Checked(NumberOrMinusOne(f.timeoutGetChar), 1, 100, kMsgGetCharInvalid, r.log);
    v.bufferInSize = Checked(NumberOrMinusOne(f.uartBuffer), 1024, 2048, kMsgBufferInvalid, r.log);
    v.bufferOutSize = v.bufferInSize;
    v.uartDebug = f.uartDebug;

    v.kmodemDebug = f.kmodemDebug;
    v.kmodemEnabled = f.kmodemEnabled;
    v.timerOut = ParseIniInteger(f.timerOut).value_or(1);
    v.packageSize = CheckedPacket(NumberOrMinusOne(f.packageSize), v.bufferOutSize, r.log);
    v.cmdTx = f.cmdTx;
    v.cmdRx = f.cmdRx;
    v.useEcho = f.useEcho;
    v.cmdTerminator = static_cast<std::uint8_t>(f.cmdTerminator);

    r.log.push_back({LogKind::Message, kMsgSettingsSaved});
    return r;
}

void ApplyConfigValues(const ConfigValues& v, Settings& s) {
    s.colorMessage = v.colorMessage;
    s.colorError = v.colorError;
    s.colorWarning = v.colorWarning;
    s.pollingDelay = v.pollingDelay;
    s.pollingGetChar = v.pollingGetChar;
    s.bufferInSize = v.bufferInSize;
    s.bufferOutSize = v.bufferOutSize;
    s.uartDebug = v.uartDebug;
    s.kmodemDebug = v.kmodemDebug;
    s.kmodemEnabled = v.kmodemEnabled;
    s.kmodemTimerOut = v.timerOut;
    s.kmodemPackageSize = v.packageSize;
    s.kmodemCmdTx = v.cmdTx;
    s.kmodemCmdRx = v.cmdRx;
    s.kmodemUseEcho = v.useEcho;
    s.kmodemCmdTerminator = v.cmdTerminator;
}

void PresetDefaultTerminal(ConfigDialogFields& f) {
    f.timeoutPolling = "50";
    f.timeoutGetChar = "100";
    f.uartBuffer = "4096";
    f.uartDebug = false;
}

void PresetStandardForMicro(ConfigDialogFields& f) {
    f.kmodemEnabled = true;
    f.timerOut = "6";
    f.packageSize = "2048";
    f.cmdRx = "tx";
    f.cmdTx = "rx";
    f.useEcho = true;
    f.cmdTerminator = 0;
    f.kmodemDebug = false;
}

void PresetBetweenTerminals(ConfigDialogFields& f) {
    f.kmodemEnabled = true;
    f.timerOut = "6";
    f.packageSize = "2048";
    f.cmdRx.clear();
    f.cmdTx.clear();
    f.useEcho = false;
    f.cmdTerminator = 0;
    f.kmodemDebug = false;
}

std::vector<LogLine> CheckLoadedSettings(Settings& s) {
    std::vector<LogLine> log;
    s.pollingDelay = Checked(s.pollingDelay, 1, 50, kMsgPollingInvalid, log);
    s.pollingGetChar = Checked(s.pollingGetChar, 1, 100, kMsgGetCharInvalid, log);
    // The file keeps the two buffers apart; each bad one is replaced, reported once.
    const bool inOk = InRange(s.bufferInSize, 1024);
    const bool outOk = InRange(s.bufferOutSize, 1024);
    if (!inOk) s.bufferInSize = 2048;
    if (!outOk) s.bufferOutSize = 2048;
    if (!inOk || !outOk) log.push_back({LogKind::Error, kMsgBufferInvalid});
    s.kmodemPackageSize =
        CheckedPacket(s.kmodemPackageSize, static_cast<std::uint16_t>(s.bufferOutSize), log);
    return log;
}

}  // namespace corvel
