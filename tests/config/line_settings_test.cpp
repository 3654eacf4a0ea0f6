// The line section of the settings file and the text forms of the command line.

#include "terminal/line_settings.h"

#include <gtest/gtest.h>

#include "temp_folder.h"
#include "terminal/settings_file.h"

namespace corvel {
namespace {

TEST(LineSettings, FormatTextsRoundTripAndNonsenseIsRefused) {
    int shown = 0;
    for (int bits = 0; bits < 4; ++bits)
        for (int parity = 0; parity < 5; ++parity)
            for (int stop = 0; stop < 3; ++stop) {
                const LineFormat f{static_cast<TComPortDataBits>(bits),
                                   static_cast<TComPortParity>(parity),
                                   static_cast<TComPortStopBits>(stop)};
                const std::string name = LineFormatName(f);
                EXPECT_EQ(ParseLineFormat(name), f) << name;
                ++shown;
            }
    EXPECT_EQ(shown, 60);
    EXPECT_EQ(LineFormatName(*ParseLineFormat("7o1.5")), "7O1.5");
    EXPECT_EQ(ParseLineFormat("8e1")->parity, ptEVEN);
    for (const char* bad :
         {"", "8N", "4N1", "9N1", "8X1", "8N0", "8N3", "8N1.", "8N15", "8N1 ", "N81"})
        EXPECT_FALSE(ParseLineFormat(bad)) << bad;
    EXPECT_EQ(ParseOnOff("ON"), true);
    EXPECT_EQ(ParseOnOff("0"), false);
    EXPECT_FALSE(ParseOnOff("high"));
}

TEST(LineSettings, SectionRoundTripsAndBadValuesKeepTheirDefaults) {
    test::TempFolder dir;
    tIniFile ini(dir.path() + "/tool_terminal.ini");
    LineSettings s;
    std::vector<std::string> problems;
    LoadLineSettings(ini, s, problems);  // no file: the defaults, quietly
    EXPECT_EQ(s, LineSettings{});
    EXPECT_TRUE(problems.empty());

    LineSettings w;
    w.format = {db7BITS, ptMARK, sb2BITS};
    w.xonXoff = w.dtr = w.rts = true;
    w.pulseLine = TComPortLine::RTS;
    w.pulseActive = false;
    w.pulseMs = 20;
    w.breakMs = 1000;
    WriteLineSettings(ini, w);
    EXPECT_EQ(ini.ReadString("LINE", "FORMAT", ""), "7M2");
    LineSettings r;
    LoadLineSettings(ini, r, problems);
    EXPECT_EQ(r, w);
    EXPECT_TRUE(problems.empty());

    ini.WriteString("LINE", "FORMAT", "8Q1");
    ini.WriteString("LINE", "PULSE LINE", "DSR");
    ini.WriteInteger("LINE", "PULSE MS", 0);
    ini.WriteInteger("LINE", "BREAK MS", 100000);
    LineSettings d;
    LoadLineSettings(ini, d, problems);
    EXPECT_EQ(d.format, LineFormat{});
    EXPECT_EQ(d.pulseLine, TComPortLine::DTR);
    EXPECT_EQ(d.pulseMs, 100u);
    EXPECT_EQ(d.breakMs, 250u);
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_EQ(problems[0], "Settings [LINE] FORMAT = \"8Q1\" is not valid; using the default");
}

}  // namespace
}  // namespace corvel
