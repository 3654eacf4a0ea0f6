#include "terminal/settings.h"

#include <gtest/gtest.h>

#include "temp_folder.h"
#include "terminal/font_record.h"
#include "terminal/settings_file.h"

namespace corvel {
namespace {

using test::TempFolder;

TEST(Settings, FirstStartGivesTheDefaults) {
    TempFolder dir;
    tIniFile ini(dir.File("tool_terminal.ini"));
    Settings s = DefaultSettings("/opt/corvel/");
    LoadSettings(ini, s);
    EXPECT_EQ(s, DefaultSettings("/opt/corvel"));
    EXPECT_EQ(s.listsFolder, "/opt/corvel");
    EXPECT_EQ(s.port, kDefaultPortName);
    EXPECT_EQ(s.baudRate, 9600);
    EXPECT_EQ(s.cmdTerminator, 0);
    EXPECT_TRUE(s.send && s.keyReturn && s.kmodemUseEcho);
    EXPECT_FALSE(s.rtsCts || s.viewRxDec || s.viewRxHex || s.viewRxChar || s.viewRxBin);
    EXPECT_FALSE(s.kmodemEnabled);
    EXPECT_EQ(s.kmodemTimerOut, 5);
    EXPECT_EQ(s.kmodemPackageSize, 512);
    EXPECT_EQ(s.windowWidth, 1035);
    EXPECT_EQ(s.windowHeight, 736);
    EXPECT_EQ(s.colorMessage, 16711680);
    EXPECT_EQ(s.colorError, 255);
    EXPECT_EQ(s.colorWarning, 65535);
    EXPECT_EQ(s.memRxColor, -16777211);
    EXPECT_EQ(s.filesFont.size, 8);
    EXPECT_EQ(s.filesFont.charSet, 1);
    EXPECT_EQ(s.rxLinesLimit, 1000000u);
    EXPECT_FALSE(std::filesystem::exists(dir.File("tool_terminal.ini")));  // reads never create
}

TEST(Settings, EverythingWrittenIsReadBack) {
    TempFolder dir;
    Settings s = DefaultSettings(dir.path());
    s.colorMessage = 32768;
    s.clockHigh = 1;
    s.clockLow = 2;
    s.port = "/dev/ttyUSB1";
    s.baudRate = 921600;
    s.pollingDelay = 7;
    s.pollingGetChar = 8;
    s.bufferInSize = s.bufferOutSize = 4096;
    s.uartDebug = true;
    s.keyReturn = false;
    s.cmdTerminator = 1;
    s.viewRxDec = s.viewRxHex = s.viewRxChar = s.viewRxBin = s.rtsCts = s.sendCmd = true;
    s.send = false;
    s.wordWrap = true;
    s.kmodemEnabled = true;
    s.kmodemTimerOut = 255;
    s.kmodemPackageSize = 1024;
    s.kmodemCmdTx = "rx";
    s.kmodemCmdRx = "tx go";
    s.kmodemCmdTerminator = 2;
    s.kmodemUseEcho = false;
    s.kmodemDebug = true;
    s.memRxColor = 0x00112233;
    s.memRxFont = {"Courier New", 0, 255, 10, kFontBold | kFontItalic};
    s.editSend = "  AT+CMD=1  ";
    s.memLogColor = 5;
    s.memLogFont.size = 9;
    s.filesFont.name = "Sans";
    s.filesBackground = 6;
    s.cmdsFont.style = kFontStrikeOut;
    s.cmdsBackground = 7;
    s.listsFolder = "/home/me/lists";
    s.listIndex = -1;
    s.windowWidth = 800;
    s.windowHeight = 600;
    s.windowLeft = -1920;
    s.windowTop = 30;
    s.rxLinesLimit = 0;
    s.auxLinesLimit = 5000;

    tIniFile ini(dir.File("tool_terminal.ini"));
    WriteDialogSettings(ini, s);
    WriteExitSettings(ini, s);
    Settings back = DefaultSettings("elsewhere");
    LoadSettings(tIniFile(dir.File("tool_terminal.ini")), back);
    EXPECT_EQ(back, s);

    // Sections, keys, order and value forms as other readers of the file expect them.
    const std::string file = dir.Get("tool_terminal.ini");
    EXPECT_NE(file.find("[MEM RX FONT]\r\nName=Courier New\r\nCharSet=0\r\nColor=255\r\nSize=10\r\n"
                        "Style=3\r\n"),
              std::string::npos);
    EXPECT_NE(file.find("[MEM RX COLOR]\r\nCOLOR=1122867\r\n"), std::string::npos);
    EXPECT_NE(file.find("[COLOR]\r\nREPORT MESSAGE=32768\r\nREPORT ERROR=255\r\n"
                        "REPORT WARNING=65535\r\nVRCLOCK DISPLAY HIGH=1\r\n"),
              std::string::npos);
    EXPECT_NE(file.find("[RGR]\r\nCMD TERMINATOR=1\r\n"), std::string::npos);
    EXPECT_NE(file.find("USE DEBUG=1\r\n"), std::string::npos);
}

TEST(Settings, DamagedValuesFallBack) {
    TempFolder dir;
    dir.Put("t.ini",
            "[MEM RX COLOR]\nCOLOR=red\n[MEM LOG COLOR]\nCOLOR=$FF0000\n"
            "[FONT_STRFILES]\nBACK_GROUND=0xFF000008\n[FONT_STRPATHS]\nBACK_GROUND=\n"
            "[KMODEM]\nCMD_TERMINATOR=300\nTIMEROUT=-4\nUSE_ECHO=maybe\n"
            "[LIMITS]\nRX LINES=-1\nAUX LINES=0\n[UART]\nBAUDRATE=fast\nPOLLING RECEIVER=0\n");
    Settings s = DefaultSettings(dir.path());
    LoadSettings(tIniFile(dir.File("t.ini")), s);
    EXPECT_EQ(s.memRxColor, kColorSystemWindow);
    EXPECT_EQ(s.memLogColor, kColorBlue);
    EXPECT_EQ(s.filesBackground, kColorSystemWindowText);
    EXPECT_EQ(s.cmdsBackground, kColorSystemWindow);
    EXPECT_EQ(s.kmodemCmdTerminator, 0);  // wider than its 8 bits
    EXPECT_EQ(s.kmodemTimerOut, -4);      // any integer is a time-out
    EXPECT_TRUE(s.kmodemUseEcho);
    EXPECT_EQ(s.rxLinesLimit, 1000000u);
    EXPECT_EQ(s.auxLinesLimit, 0u);
    EXPECT_EQ(s.baudRate, 9600);
    EXPECT_EQ(s.pollingDelay, 0);  // passed on as read: the start-up check replaces it

    EXPECT_EQ(BaudRateFromText("115200"), 115200);
    EXPECT_EQ(BaudRateFromText("115200 bps"), 9600);
    EXPECT_EQ(BaudRateFromText(""), 9600);
}

TEST(FontRecord, MissingKeysKeepTheFontAndBitsAreMasked) {
    TempFolder dir;
    dir.Put("t.ini",
            "[ONLY SIZE]\nSize=20\n[MASKED]\nCharSet=0x1FF\nStyle=31\nColor=255\n"
            "[SILLY]\nSize=0\nName=\n[HUGE]\nSize=100000\n");
    tIniFile ini(dir.File("t.ini"));
    const FontRecord base{"Tahoma", 1, kColorSystemWindowText, 8, kFontItalic};

    FontRecord f = base;
    ReadFontSettings(ini, "ONLY SIZE", f);
    FontRecord expected = base;
    expected.size = 20;
    EXPECT_EQ(f, expected);

    f = base;
    ReadFontSettings(ini, "MASKED", f);
    EXPECT_EQ(f.charSet, 0xFF);
    EXPECT_EQ(f.style, 15);
    EXPECT_EQ(f.color, 255);

    f = base;
    ReadFontSettings(ini, "SILLY", f);
    EXPECT_EQ(f.size, 8);
    EXPECT_EQ(f.name, "");
    f = base;
    ReadFontSettings(ini, "HUGE", f);
    EXPECT_EQ(f.size, 8);
    f = base;
    ReadFontSettings(ini, "ABSENT", f);
    EXPECT_EQ(f, base);
}

TEST(Colors, EncodingToRgbAndBack) {
    EXPECT_EQ(ColorToRgb(255), (Rgb{255, 0, 0}));
    EXPECT_EQ(ColorToRgb(65535), (Rgb{255, 255, 0}));
    EXPECT_EQ(ColorToRgb(16711680), (Rgb{0, 0, 255}));
    EXPECT_EQ(ColorToRgb(32768), (Rgb{0, 128, 0}));
    EXPECT_EQ(ColorToRgb(kColorSystemWindow), (Rgb{255, 255, 255}));
    EXPECT_EQ(ColorToRgb(kColorSystemWindowText), (Rgb{0, 0, 0}));
    EXPECT_EQ(ColorToRgb(static_cast<std::int32_t>(0xFF00000Fu)), (Rgb{240, 240, 240}));
    EXPECT_EQ(ColorToRgb(static_cast<std::int32_t>(0xFF0000C8u)), (Rgb{0, 0, 0}));  // unknown
    EXPECT_EQ(ColorToRgb(0x01102030), (Rgb{0x30, 0x20, 0x10}));
    EXPECT_TRUE(IsSystemColor(kColorSystemWindow));
    EXPECT_FALSE(IsSystemColor(16711680));
    for (std::int32_t c : {0, 255, 65535, 16711680, 16776960, 0x00ABCDEF})
        EXPECT_EQ(RgbToColor(ColorToRgb(c)), c);
}

}  // namespace
}  // namespace corvel
