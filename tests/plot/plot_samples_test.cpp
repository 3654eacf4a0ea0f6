#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plot/plot_samples.h"

namespace corvel {
namespace {

using Kind = SampleLine::Kind;

SampleLine Parse(std::string_view text) {
    SampleLine line;
    ParseSampleLine(text, line);
    return line;
}

std::vector<std::string> Lines(const std::vector<std::string>& chunks) {
    PlotLineSplitter splitter;
    std::vector<std::string> out;
    for (const std::string& c : chunks)
        splitter.Feed(reinterpret_cast<const std::uint8_t*>(c.data()), c.size(),
                      [&](std::string_view line) { out.emplace_back(line); });
    return out;
}

TEST(PlotNumber, TakesWhatBoardsPrintAndRefusesTheRest) {
    double v = 0;
    for (auto [text, want] : std::vector<std::pair<const char*, double>>{{"0", 0},
                                                                         {"-1.5", -1.5},
                                                                         {"+7", 7},
                                                                         {".5", 0.5},
                                                                         {"12.", 12},
                                                                         {"-3e2", -300},
                                                                         {"1E-3", 0.001},
                                                                         {"00042", 42}}) {
        ASSERT_TRUE(ParsePlotNumber(text, v)) << text;
        EXPECT_DOUBLE_EQ(v, want) << text;
    }
    for (const char* bad : {"", "-", ".", "e5", "1e", "1e+", "inf", "nan", "-inf", "0x1F", "1.2.3",
                            "12V", "1e999", "--1", "+-1", " 1"})
        EXPECT_FALSE(ParsePlotNumber(bad, v)) << bad;
}

TEST(PlotSampleLine, NumberRowsInEverySeparator) {
    for (const char* text :
         {"1,2.5,-3", "1 2.5 -3", "1\t2.5\t-3", "1;2.5;-3", " 1 ,  2.5;\t-3 ", "1,,2.5,-3,"}) {
        const SampleLine line = Parse(text);
        ASSERT_EQ(line.kind, Kind::Values) << text;
        EXPECT_EQ(line.values, (std::vector<double>{1, 2.5, -3})) << text;
    }
}

TEST(PlotSampleLine, NamedPairsWithColonOrEqualsAndBlanksAround) {
    for (const char* text :
         {"temp:23.5,hum:41", "temp=23.5 hum=41", "temp: 23.5; hum = 41", "temp:23.5\thum:41"}) {
        const SampleLine line = Parse(text);
        ASSERT_EQ(line.kind, Kind::Named) << text;
        EXPECT_EQ(line.names, (std::vector<std::string>{"temp", "hum"})) << text;
        EXPECT_EQ(line.values, (std::vector<double>{23.5, 41})) << text;
    }
}

TEST(PlotSampleLine, HeaderIsALineOfNamesWithoutNumbers) {
    const SampleLine line = Parse("time,temp_c;hum x.y");
    ASSERT_EQ(line.kind, Kind::Header);
    EXPECT_EQ(line.names, (std::vector<std::string>{"time", "temp_c", "hum", "x.y"}));
}

TEST(PlotSampleLine, TextThatIsNoSampleLineGivesNothing) {
    // Log lines with a number inside, clocks, prompts, bare marks, units, prose.
    for (const char* text :
         {"I (1187) sensor: temperature 23.5", "humidity 41 %", "time: 12:30:01", "> 1 2", "a=1 2",
          "=5", ":", "a:", "a:b", "12V 13V", "3 apples", "Commands:", "1 a=2",
          "this_is_far_too_long_to_be_a_column_name_of_a_board"}) {
        const SampleLine line = Parse(text);
        EXPECT_EQ(line.kind, Kind::None) << text;
        EXPECT_TRUE(line.values.empty() && line.names.empty()) << text;
    }
    EXPECT_EQ(Parse("").kind, Kind::None);
    std::string wide;
    for (std::size_t i = 0; i <= kMaxLineColumns; ++i) wide += "1 ";
    EXPECT_EQ(Parse(wide).kind, Kind::None);
}

TEST(PlotLineSplitter, LinesWhateverTheChunksAndWithoutColoursOrControls) {
    EXPECT_EQ(Lines({"1,2\r\n3,", "4\n\n\r5", ",6\r"}),
              (std::vector<std::string>{"1,2", "3,4", "5,6"}));
    EXPECT_EQ(Lines({"\x1b[32mt=1\x1b[0m\x07 u=2\n", "\x1b[1;3", "1mv=3\x1b[0m\n"}),
              (std::vector<std::string>{"t=1 u=2", "v=3"}));
    // An escape cut short by a line end does not eat the next line.
    EXPECT_EQ(Lines({"1\x1b[\n2\n"}), (std::vector<std::string>{"1", "2"}));
    // An endless line is dropped whole, the next one is read.
    EXPECT_EQ(Lines({std::string(PlotLineSplitter::kMaxLine + 5, '1'), "2\n3\n"}),
              (std::vector<std::string>{"3"}));
    EXPECT_EQ(Lines({"4 5"}), std::vector<std::string>{});  // an unfinished line waits
}

}  // namespace
}  // namespace corvel
