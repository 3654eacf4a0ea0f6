#include "config/config_check.h"

#include <gtest/gtest.h>

#include "temp_folder.h"
#include "terminal/settings_file.h"

namespace corvel {
namespace {

const LogLine kSaved{LogKind::Message, "Configurações salvas"};

LogLine Error(const std::string& text) {
    return {LogKind::Error, text};
}

// A dialog as it is filled at first start.
ConfigDialogFields Filled() {
    return FillConfigDialog(DefaultSettings("/x"));
}

TEST(ConfigDialog, FilledFromTheValuesInUse) {
    Settings s = DefaultSettings("/x");
    s.bufferInSize = 1111;
    s.bufferOutSize = 3333;
    s.kmodemCmdTerminator = 2;
    const ConfigDialogFields f = FillConfigDialog(s);
    EXPECT_EQ(f.timeoutPolling, "50");
    EXPECT_EQ(f.timeoutGetChar, "100");
    EXPECT_EQ(f.uartBuffer, "3333");  // one field for both: the output size is shown
    EXPECT_EQ(f.timerOut, "5");
    EXPECT_EQ(f.packageSize, "512");
    EXPECT_EQ(f.cmdTerminator, 2);
    EXPECT_TRUE(f.useEcho);
    EXPECT_EQ(f.colorWarning, 65535);

    // Unchanged and OK: the same values, only the closing line.
    const ConfigCheckResult r = CheckConfigDialog(FillConfigDialog(DefaultSettings("/x")));
    EXPECT_EQ(r.log, std::vector<LogLine>{kSaved});
    Settings applied = DefaultSettings("/x");
    ApplyConfigValues(r.values, applied);
    EXPECT_EQ(applied, DefaultSettings("/x"));
}

TEST(ConfigDialog, RejectedTimingsAreReplacedAndReported) {
    for (const char* bad : {"0", "-3", "abc", "", "65536", "70000", "1.5"}) {
        ConfigDialogFields f = Filled();
        f.timeoutPolling = bad;
        f.timeoutGetChar = bad;
        const ConfigCheckResult r = CheckConfigDialog(f);
        EXPECT_EQ(r.values.pollingDelay, 50) << bad;
        EXPECT_EQ(r.values.pollingGetChar, 100) << bad;
        EXPECT_EQ(r.log,
                  (std::vector<LogLine>{
                      Error("UART polling timeout is invalid, setting to 50 ms"),
                      Error("The getChar function timeout is invalid, setting to 100 ms"), kSaved}))
            << bad;
    }
    ConfigDialogFields f = Filled();
    f.timeoutPolling = "1";
    f.timeoutGetChar = "65535";
    const ConfigCheckResult r = CheckConfigDialog(f);
    EXPECT_EQ(r.values.pollingDelay, 1);
    EXPECT_EQ(r.values.pollingGetChar, 65535);
    EXPECT_EQ(r.log.size(), 1u);
}

TEST(ConfigDialog, BufferSizeRulesAndThePacketLimitTheyMake) {
    ConfigDialogFields f = Filled();
    f.uartBuffer = "1024";
    f.packageSize = "256";
    ConfigCheckResult r = CheckConfigDialog(f);
    EXPECT_EQ(r.values.bufferInSize, 1024);
    EXPECT_EQ(r.values.bufferOutSize, 1024);
    EXPECT_EQ(r.values.packageSize, 256);
    EXPECT_EQ(r.log, std::vector<LogLine>{kSaved});

    const std::string bufferMsg =
        "The size of the UART buffers must be greater than 1024 bytes, set to 2048 bytes";
    for (const char* bad : {"1023", "65536", "zero"}) {
        f = Filled();
        f.uartBuffer = bad;
        f.packageSize = "2038";
        r = CheckConfigDialog(f);
        EXPECT_EQ(r.values.bufferInSize, 2048) << bad;
        EXPECT_EQ(r.values.bufferOutSize, 2048) << bad;
        EXPECT_EQ(r.values.packageSize, 2038) << bad;  // L = 2048 - 10 in the same OK
        EXPECT_EQ(r.log, (std::vector<LogLine>{Error(bufferMsg), kSaved})) << bad;
    }

    const std::string smallMsg =
        "The Kmodem packet size is invalid, the minimum value is 256 bytes. Adjusted to 512 bytes";
    for (const char* bad : {"255", "-1", "big"}) {
        f = Filled();
        f.packageSize = bad;
        r = CheckConfigDialog(f);
        EXPECT_EQ(r.values.packageSize, 512) << bad;
        EXPECT_EQ(r.log, (std::vector<LogLine>{Error(smallMsg), kSaved})) << bad;
    }

    f = Filled();
    f.uartBuffer = "4096";
    f.packageSize = "60000";
    r = CheckConfigDialog(f);
    EXPECT_EQ(r.values.packageSize, 4086);
    EXPECT_EQ(r.log, (std::vector<LogLine>{
                         Error("The Kmodem packet size is invalid, the value can not be higher "
                               "than the UART buffer. Adjusted for 4086 bytes"),
                         kSaved}));
}

TEST(ConfigDialog, TimeOutAndTextsAreTakenAsTheyAre) {
    ConfigDialogFields f = Filled();
    f.timerOut = "soon";
    f.cmdTx = "";
    f.cmdRx = " go now ";
    f.cmdTerminator = 2;
    f.useEcho = false;
    ConfigCheckResult r = CheckConfigDialog(f);
    EXPECT_EQ(r.values.timerOut, 1);
    EXPECT_EQ(r.values.cmdTx, "");
    EXPECT_EQ(r.values.cmdRx, " go now ");
    EXPECT_EQ(r.values.cmdTerminator, 2);
    EXPECT_FALSE(r.values.useEcho);
    EXPECT_EQ(r.log, std::vector<LogLine>{kSaved});
    f.timerOut = "0";
    EXPECT_EQ(CheckConfigDialog(f).values.timerOut, 0);
    f.timerOut = "255";
    EXPECT_EQ(CheckConfigDialog(f).values.timerOut, 255);
}

TEST(ConfigDialog, ColoursApplyEvenWhenEveryNumberIsRejected) {
    ConfigDialogFields f = Filled();
    f.colorMessage = 1;
    f.colorError = 2;
    f.colorWarning = 3;
    f.timeoutPolling = f.timeoutGetChar = f.uartBuffer = f.packageSize = f.timerOut = "x";
    const ConfigCheckResult r = CheckConfigDialog(f);
    EXPECT_EQ(r.values.colorMessage, 1);
    EXPECT_EQ(r.values.colorError, 2);
    EXPECT_EQ(r.values.colorWarning, 3);
    ASSERT_EQ(r.log.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(r.log[i].kind, LogKind::Error);
    EXPECT_EQ(r.log[4], kSaved);
}

TEST(ConfigDialog, PresetsAndTheWorkedExample) {
    const ConfigDialogFields before = Filled();

    ConfigDialogFields micro = before;
    PresetStandardForMicro(micro);
    ConfigDialogFields expected = before;
    expected.kmodemEnabled = true;
    expected.timerOut = "6";
    expected.packageSize = "2048";
    expected.cmdRx = "tx";
    expected.cmdTx = "rx";
    expected.useEcho = true;
    expected.cmdTerminator = 0;
    expected.kmodemDebug = false;
    EXPECT_EQ(micro, expected);

    ConfigDialogFields terminals = before;
    terminals.cmdRx = "old";
    terminals.useEcho = true;
    PresetBetweenTerminals(terminals);
    expected.cmdRx = "";
    expected.cmdTx = "";
    expected.useEcho = false;
    EXPECT_EQ(terminals, expected);

    ConfigDialogFields terminal = before;
    terminal.uartDebug = true;
    terminal.colorError = 42;
    terminal.timeoutPolling = "9";
    PresetDefaultTerminal(terminal);
    expected = before;
    expected.colorError = 42;  // colours are not touched
    expected.uartBuffer = "4096";
    EXPECT_EQ(terminal, expected);

    // Output buffer 2048 and "Standard Values for uC": 2048 is above L = 2038.
    ConfigCheckResult r = CheckConfigDialog(micro);
    EXPECT_EQ(r.values.packageSize, 2038);
    EXPECT_EQ(r.log, (std::vector<LogLine>{
                         Error("The Kmodem packet size is invalid, the value can not be higher "
                               "than the UART buffer. Adjusted for 2038 bytes"),
                         kSaved}));
    // With "Default Values" too the buffer is 4096, L = 4086, and 2048 is kept.
    PresetDefaultTerminal(micro);
    r = CheckConfigDialog(micro);
    EXPECT_EQ(r.values.packageSize, 2048);
    EXPECT_EQ(r.values.bufferOutSize, 4096);
    EXPECT_EQ(r.log, std::vector<LogLine>{kSaved});
}

TEST(StartupCheck, DamagedFileValuesAreReplacedWithTheDialogsMessages) {
    test::TempFolder dir;
    dir.Put("t.ini",
            "[UART]\nPOLLING RECEIVER=0\nPOLLING RECEIVER GETCHAR=70000\nBUFFER IN SIZE=0\n"
            "BUFFER OUT SIZE=4096\n[KMODEM]\nPACKAGE_SIZE=100\n");
    Settings s = DefaultSettings(dir.path());
    LoadSettings(tIniFile(dir.File("t.ini")), s);
    const std::vector<LogLine> log = CheckLoadedSettings(s);
    EXPECT_EQ(s.pollingDelay, 50);
    EXPECT_EQ(s.pollingGetChar, 100);
    EXPECT_EQ(s.bufferInSize, 2048);
    EXPECT_EQ(s.bufferOutSize, 4096);  // the sound one stays
    EXPECT_EQ(s.kmodemPackageSize, 512);
    EXPECT_EQ(log, (std::vector<LogLine>{
                       Error("UART polling timeout is invalid, setting to 50 ms"),
                       Error("The getChar function timeout is invalid, setting to 100 ms"),
                       Error("The size of the UART buffers must be greater than 1024 bytes, set to "
                             "2048 bytes"),
                       Error("The Kmodem packet size is invalid, the minimum value is 256 bytes. "
                             "Adjusted to 512 bytes")}));

    Settings big = DefaultSettings("/x");
    big.kmodemPackageSize = 5000;
    EXPECT_EQ(
        CheckLoadedSettings(big),
        (std::vector<LogLine>{Error("The Kmodem packet size is invalid, the value can not "
                                    "be higher than the UART buffer. Adjusted for 2038 bytes")}));
    EXPECT_EQ(big.kmodemPackageSize, 2038);

    Settings sound = DefaultSettings("/x");
    sound.pollingDelay = 1;
    sound.bufferInSize = 65535;
    const Settings copy = sound;
    EXPECT_TRUE(CheckLoadedSettings(sound).empty());
    EXPECT_EQ(sound, copy);
}

}  // namespace
}  // namespace corvel
