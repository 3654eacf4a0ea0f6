#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plot/plot_model.h"
#include "plot/plot_settings.h"
#include "terminal/settings_file.h"

namespace corvel {
namespace {

void Feed(PlotModel& m, const std::string& text, std::uint64_t nowMs) {
    m.Feed(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), nowMs);
}

std::vector<std::string> Names(const PlotModel& m) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < m.SeriesCount(); ++i) out.push_back(m.Series(i).name);
    return out;
}

std::vector<double> Values(const PlotSeries& s) {
    std::vector<double> out;
    for (std::size_t i = 0; i < s.points.Size(); ++i) out.push_back(s.points[i].v);
    return out;
}

TEST(PlotModel, ColumnsBecomeSeriesNamedByTheHeaderThatMatchesThem) {
    PlotModel m;
    // A banner with one word is no header for rows of two; the header just before the rows is.
    Feed(m, "booting\r\n1 2\r\nx,y\r\n3,4\r\n5,6,7\r\n", 0);
    EXPECT_EQ(Names(m), (std::vector<std::string>{"x", "y", "3"}));
    EXPECT_EQ(Values(m.Series(0)), (std::vector<double>{1, 3, 5}));
    EXPECT_EQ(Values(m.Series(2)), (std::vector<double>{7}));
    EXPECT_EQ(m.Series(2).points[0].row, 2u);
    EXPECT_EQ(m.Rows(), 3u);
    EXPECT_EQ(m.IgnoredLines(), 0u);
    Feed(m, "log: 12:00:01 up\r\n", 1);
    EXPECT_EQ(m.IgnoredLines(), 1u);
}

TEST(PlotModel, NamedSeriesAppearEndAndGiveTheirSlotWhenAllAreTaken) {
    PlotModel m;
    Feed(m, "a=1 b=2\n", 0);
    for (int i = 0; i < 70; ++i) Feed(m, "a=" + std::to_string(i) + "\n", 0);
    ASSERT_EQ(Names(m), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(m.Series(0).Ended(m.Rows()));
    EXPECT_TRUE(m.Series(1).Ended(m.Rows()));
    EXPECT_EQ(m.Series(1).latest, 2);
    // Fill the other 14 slots; a 17th name takes the place of the ended "b", keeping its colour.
    std::string line;
    for (int i = 0; i < 14; ++i) line += "s" + std::to_string(i) + "=1 ";
    Feed(m, line + "a=0\n", 0);
    Feed(m, "late=9 a=0\n", 0);
    ASSERT_EQ(m.SeriesCount(), PlotModel::kMaxSeries);
    EXPECT_EQ(m.Series(1).name, "late");
    EXPECT_EQ(m.Series(1).colour, 1);
    EXPECT_EQ(Values(m.Series(1)), std::vector<double>{9});
    // No slot has ended now: an 18th name is dropped and counted.
    Feed(m, "more=1\n", 0);
    EXPECT_EQ(m.DroppedValues(), 1u);
}

TEST(PlotModel, MemoryStaysBoundedAndTheNewestPointsAreKept) {
    PlotModel m(100);
    std::string chunk;
    for (int i = 0; i < 1000; ++i) chunk += std::to_string(i) + "," + std::to_string(-i) + "\n";
    Feed(m, chunk, 0);
    ASSERT_EQ(m.Series(0).points.Size(), 100u);
    EXPECT_EQ(m.Series(0).points[0].v, 900);
    EXPECT_EQ(m.Series(1).points[99].v, -999);
    EXPECT_EQ(m.Series(0).points.FirstAtRow(950), 50u);
}

TEST(PlotModel, LinesOfAChunkShareTheTimeSinceTheChunkBefore) {
    PlotModel m;
    Feed(m, "1\n", 1000);
    Feed(m, "2\n3\n4\n5\n", 1040);  // four lines over 40 ms
    Feed(m, "6\n", 5000);           // after a long silence: its own time
    const PlotRing& r = m.Series(0).points;
    std::vector<double> t;
    for (std::size_t i = 0; i < r.Size(); ++i) t.push_back(r[i].t);
    const std::vector<double> want{0, 0.010, 0.020, 0.030, 0.040, 4.0};
    ASSERT_EQ(t.size(), want.size());
    for (std::size_t i = 0; i < t.size(); ++i) EXPECT_NEAR(t[i], want[i], 1e-9) << i;
}

TEST(PlotView, WindowsFollowTheStreamUntilPausedThenZoomAndPan) {
    PlotModel m;
    PlotViewState v(m);
    v.choice.samples = 100;
    for (int i = 0; i < 250; ++i) Feed(m, std::to_string(i % 10) + "\n", 10 * i);
    EXPECT_EQ(v.XSpan().lo, 150);
    EXPECT_EQ(v.XSpan().hi, 249);
    v.choice.axis = PlotAxis::Time;
    v.choice.seconds = 1;
    EXPECT_NEAR(v.XSpan().lo, 1.49, 1e-9);

    v.choice.axis = PlotAxis::Samples;
    v.Zoom(0.5, 0.5);  // live: nothing moves
    EXPECT_EQ(v.XSpan().lo, 150);
    v.Pause();
    Feed(m, "100\n", 2500);  // received while paused: not in view, but kept
    EXPECT_EQ(v.XSpan().hi, 249);
    EXPECT_EQ(m.Rows(), 251u);
    v.Zoom(0.5, 1.0);  // around the right edge
    EXPECT_EQ(v.XSpan().lo, 199.5);
    EXPECT_EQ(v.XSpan().hi, 249);
    v.Pan(-1);
    EXPECT_EQ(v.XSpan().hi, 199.5);
    for (int i = 0; i < 100; ++i) v.Zoom(1e-3, 0.3);  // never narrower than a few samples
    EXPECT_GE(v.XSpan().Width(), 4);
    v.Resume();
    EXPECT_EQ(v.XSpan().hi, 250);
    EXPECT_EQ(v.YSpan().hi, 100 + 5);  // automatic: the new 100 with a 5 % margin
}

TEST(PlotView, YRangeAutomaticOfTheShownSeriesOrFixed) {
    PlotModel m;
    PlotViewState v(m);
    EXPECT_EQ(v.YSpan().lo, -1);  // nothing yet
    Feed(m, "a=5 b=-50\na=5 b=50\n", 0);
    EXPECT_EQ(v.YSpan().lo, -55);
    v.hidden = {"b"};
    EXPECT_EQ(v.YSpan().lo, 4.5);  // a flat curve gets a band
    EXPECT_EQ(v.YSpan().hi, 5.5);
    v.choice.autoY = false;
    v.choice.yMin = 10;
    v.choice.yMax = -10;
    EXPECT_EQ(v.YSpan().lo, -10);
    EXPECT_EQ(v.YSpan().hi, 10);
}

TEST(PlotView, TraceThinsToAFewPointsPerColumnAndKeepsTheExtremes) {
    PlotModel m;
    PlotViewState v(m);
    v.choice.samples = 10000;
    std::string chunk;
    for (int i = 0; i < 20000; ++i) chunk += (i == 15000 ? "999" : std::to_string(i % 7)) + "\n";
    Feed(m, chunk, 0);
    std::vector<PlotPoint> trace;
    double lo = 1e300, hi = -1e300;
    v.Trace(m.Series(0), 100, trace, lo, hi);
    EXPECT_LE(trace.size(), 4u * 100 + 2);
    EXPECT_EQ(trace.front().row, 9999u);  // the neighbour left of the window
    EXPECT_EQ(hi, 999);
    EXPECT_EQ(lo, 0);
    bool spike = false;
    for (std::size_t i = 1; i < trace.size(); ++i) {
        EXPECT_LT(trace[i - 1].row, trace[i].row);
        spike = spike || trace[i].v == 999;
    }
    EXPECT_TRUE(spike);
}

TEST(PlotView, CsvHoldsWhatIsShownOneRowPerSampleLine) {
    PlotModel m;
    PlotViewState v(m);
    v.choice.samples = 10;
    Feed(m, "x=1 y=2\nx=3\ny=4 z=0.25\nx=5\n", 2000);
    v.hidden = {"z"};
    v.Pause();
    v.Zoom(1, 0);
    EXPECT_EQ(v.Csv(),
              "sample,time_s,x,y\r\n"
              "0,0,1,2\r\n"
              "1,0,3,\r\n"
              "2,0,,4\r\n"
              "3,0,5,\r\n");
    v.Pan(0.1);  // the window now starts after row 0
    EXPECT_EQ(v.Csv().find("0,0,1,2"), std::string::npos);
}

TEST(PlotSettings, RoundTripAndOutOfRangeValuesBroughtBack) {
    const std::string path = testing::TempDir() + "plot_settings_test.ini";
    std::remove(path.c_str());
    {
        tIniFile ini(path);
        EXPECT_EQ(LoadPlotSettings(ini), PlotSettings{});
        PlotSettings s;
        s.shown = true;
        s.choice = {PlotAxis::Time, 500, 30, false, -2.5, 1e6};
        s.hidden = {"b", "temp"};
        s.geometry = "01d9d0cb";
        WritePlotSettings(ini, s);
        EXPECT_EQ(LoadPlotSettings(ini), s);
        ini.WriteString("PLOT", "SAMPLES", "99999999");
        ini.WriteString("PLOT", "SECONDS", "-4");
        ini.WriteString("PLOT", "Y MIN", "nan");
        ini.WriteString("PLOT", "AXIS", "7");
        const PlotSettings back = LoadPlotSettings(ini);
        EXPECT_EQ(back.choice.samples, PlotSettings::kMaxSamples);
        EXPECT_EQ(back.choice.seconds, 1u);
        EXPECT_EQ(back.choice.yMin, 0);
        EXPECT_EQ(back.choice.axis, PlotAxis::Samples);
    }
    std::remove(path.c_str());
}

}  // namespace
}  // namespace corvel
