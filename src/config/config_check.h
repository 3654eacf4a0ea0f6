#pragma once
// The settings dialog's rules as plain functions: the numbers it accepts, the values that replace
// the ones it rejects and the log lines that say so, its presets, and the same rules applied to
// the values read from the settings file at start.

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/settings.h"

namespace corvel {

enum class LogKind { Message, Error, Warning };

struct LogLine {
    LogKind kind;
    std::string text;
    bool operator==(const LogLine&) const = default;
};

inline constexpr const char* kMsgPollingInvalid =
    "UART polling timeout is invalid, setting to 50 ms";
inline constexpr const char* kMsgGetCharInvalid =
    "The getChar function timeout is invalid, setting to 100 ms";
inline constexpr const char* kMsgBufferInvalid =
    "The size of the UART buffers must be greater than 1024 bytes, set to 2048 bytes";
inline constexpr const char* kMsgPacketTooSmall =
    "The Kmodem packet size is invalid, the minimum value is 256 bytes. Adjusted to 512 bytes";
// "%u" stands for the largest packet the output buffer allows.
inline constexpr const char* kMsgPacketTooLarge =
    "The Kmodem packet size is invalid, the value can not be higher than the UART buffer. "
    "Adjusted for %u bytes";
inline constexpr const char* kMsgSettingsSaved = "Configurações salvas";
inline constexpr const char* kMsgSettingsCancelled = "Configurações cancelada";

// What the dialog shows: texts of the edits, states of the boxes, the swatches' colours.
struct ConfigDialogFields {
    // Page "Terminal".
    std::string timeoutPolling;  // edtTimeoutPolling
    std::string timeoutGetChar;  // edtTimeoutGetChar
    std::string uartBuffer;      // edtUartBuffer (both buffers)
    bool uartDebug = false;      // cbxUartDebug
    std::int32_t colorMessage = 0;
    std::int32_t colorError = 0;
    std::int32_t colorWarning = 0;
    // Page "Modem".
    bool kmodemEnabled = false;  // cbxKmodemEn
    std::string timerOut;        // edtTimerOut
    std::string packageSize;     // edtPackageSize
    std::string cmdRx;           // edtCmdRX
    std::string cmdTx;           // edtCmdTX
    bool useEcho = false;        // cbxEco
    int cmdTerminator = 0;       // index of the dialog's rgrCmdT: 0 LF, 1 CR LF, 2 CR
    bool kmodemDebug = false;    // cbxKmodemDebug

    bool operator==(const ConfigDialogFields&) const = default;
};

// The values the dialog applies on OK, each within its field's range.
struct ConfigValues {
    std::int32_t colorMessage, colorError, colorWarning;
    std::uint16_t pollingDelay, pollingGetChar, bufferInSize, bufferOutSize;
    bool uartDebug;
    bool kmodemEnabled, kmodemDebug;
    std::int32_t timerOut;
    std::uint16_t packageSize;
    std::string cmdTx, cmdRx;
    std::uint8_t cmdTerminator;
    bool useEcho;
};

struct ConfigCheckResult {
    ConfigValues values;
    std::vector<LogLine> log;  // in order, ending with kMsgSettingsSaved
};

// The dialog filled from the values in use (one buffer field: the output buffer's size).
ConfigDialogFields FillConfigDialog(const Settings& s);

// OK: every number checked in the dialog's order. A rejected number is replaced and reported
// in the error colour, and the checks go on. Entries above 65535 for the 16-bit fields are
// rejected like entries below their minimum. The packet size is limited by the output buffer
// size just decided, minus 10.
ConfigCheckResult CheckConfigDialog(const ConfigDialogFields& fields);

// Copies the applied values into the settings (for WriteDialogSettings and the window).
void ApplyConfigValues(const ConfigValues& v, Settings& s);

// The preset buttons: each sets only its own fields.
void PresetDefaultTerminal(ConfigDialogFields& f);   // "Default Values"
void PresetStandardForMicro(ConfigDialogFields& f);  // "Standard Values for uC"
void PresetBetweenTerminals(ConfigDialogFields& f);  // "Default Values between Terminals"

// The dialog's rules applied to the values read at start, so a damaged or hand-edited file
// cannot set a polling interval of 0, a zero buffer or a packet size below 256: the same
// replacements and the same messages (in the error colour). Values that pass are untouched;
// the Kmodem time-out is not checked (any integer is valid), the 8-bit terminator outside
// 0..255 was already refused when the file was read.
std::vector<LogLine> CheckLoadedSettings(Settings& s);

}  // namespace corvel
