// The plot's line reader and series model fed arbitrary received bytes in arbitrary chunks.
//
// Input: 4 header bytes, then the received bytes.
//   [0..1] seed of the chunk sizes
//   [2] bit0 small rings (so they wrap), bit1 time axis, bit2 paused with zoom and pan
//   [3] window width in samples / seconds
//
// Checked: at most 16 series, no ring above its capacity, every value finite, rows and times in
// each ring never go back; each parsed line is consistent (named lines have one name per value,
// number rows no names, headers no values); the same bytes in one chunk or in many give the same
// series and values; the trace of a series stays within four points per pixel column (plus two
// neighbours) and in order; the CSV has one field per shown series on every row.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "plot/plot_model.h"

using namespace corvel;

namespace {

void CheckModel(const PlotModel& m, std::size_t capacity) {
    FUZZ_CHECK(m.SeriesCount() <= PlotModel::kMaxSeries);
    for (std::size_t i = 0; i < m.SeriesCount(); ++i) {
        const PlotRing& r = m.Series(i).points;
        FUZZ_CHECK(r.Size() <= capacity);
        for (std::size_t k = 0; k < r.Size(); ++k) {
            FUZZ_CHECK(std::isfinite(r[k].v) && std::isfinite(r[k].t));
            FUZZ_CHECK(r[k].row < m.Rows());
            if (k > 0) FUZZ_CHECK(r[k - 1].row <= r[k].row && r[k - 1].t <= r[k].t);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t seed = data[0] | (data[1] << 8);
    const std::size_t capacity = (data[2] & 1) ? 7 : 4096;
    const std::uint8_t* bytes = data + 4;
    const std::size_t n = size - 4;

    // Every line on its own, the way the model reads them.
    PlotLineSplitter splitter;
    SampleLine line;
    splitter.Feed(bytes, n, [&](std::string_view text) {
        FUZZ_CHECK(text.size() <= PlotLineSplitter::kMaxLine);
        FUZZ_CHECK(text.find_first_of("\r\n\x1b") == std::string_view::npos);
        ParseSampleLine(text, line);
        for (double v : line.values) FUZZ_CHECK(std::isfinite(v));
        switch (line.kind) {
            case SampleLine::Kind::None:
                FUZZ_CHECK(line.values.empty() && line.names.empty());
                break;
            case SampleLine::Kind::Values:
                FUZZ_CHECK(line.names.empty() && !line.values.empty());
                break;
            case SampleLine::Kind::Named:
                FUZZ_CHECK(line.names.size() == line.values.size());
                break;
            case SampleLine::Kind::Header:
                FUZZ_CHECK(line.values.empty() && !line.names.empty());
                break;
        }
        FUZZ_CHECK(line.values.size() <= kMaxLineColumns && line.names.size() <= kMaxLineColumns);
    });

    PlotModel whole(capacity), pieces(capacity);
    whole.Feed(bytes, n, 1000);
    std::size_t at = 0;
    while (at < n) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t take = std::min<std::size_t>((seed >> 16) % 97, n - at);
        pieces.Feed(bytes + at, take, 1000);
        at += take;
    }
    CheckModel(whole, capacity);
    CheckModel(pieces, capacity);
    FUZZ_CHECK(whole.Rows() == pieces.Rows() && whole.SeriesCount() == pieces.SeriesCount());
    for (std::size_t i = 0; i < whole.SeriesCount(); ++i) {
        const PlotSeries& a = whole.Series(i);
        const PlotSeries& b = pieces.Series(i);
        FUZZ_CHECK(a.name == b.name && a.points.Size() == b.points.Size());
        for (std::size_t k = 0; k < a.points.Size(); ++k)
            FUZZ_CHECK(a.points[k].v == b.points[k].v && a.points[k].row == b.points[k].row);
    }

    PlotViewState view(whole);
    view.choice.axis = (data[2] & 2) ? PlotAxis::Time : PlotAxis::Samples;
    view.choice.samples = 10 + data[3] * 4;
    view.choice.seconds = 1 + data[3] % 16;
    if (data[2] & 4) {
        view.Pause();
        view.Zoom(0.01 + (data[3] & 0x0F) / 4.0, (data[3] >> 4) / 15.0);
        view.Pan(((data[0] & 0x0F) - 8) / 4.0);
    }
    const int columns = 1 + data[1] % 200;
    std::vector<PlotPoint> trace;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < whole.SeriesCount(); ++i) {
        double lo = 1e308, hi = -1e308;
        view.Trace(whole.Series(i), columns, trace, lo, hi);
        FUZZ_CHECK(trace.size() <= 4u * static_cast<std::size_t>(columns) + 2);
        for (std::size_t k = 1; k < trace.size(); ++k)
            FUZZ_CHECK(trace[k - 1].row < trace[k].row || trace[k - 1].row == trace[k].row);
        ++shown;
    }
    const PlotSpan y = view.YSpan();
    FUZZ_CHECK(std::isfinite(y.lo) && std::isfinite(y.hi) && y.lo < y.hi);
    const std::string csv = view.Csv();
    std::size_t start = 0;
    while (start < csv.size()) {
        const std::size_t end = csv.find("\r\n", start);
        FUZZ_CHECK(end != std::string::npos);
        const std::string row = csv.substr(start, end - start);
        FUZZ_CHECK(static_cast<std::size_t>(std::count(row.begin(), row.end(), ',')) == shown + 1 ||
                   row.find('"') != std::string::npos);
        start = end + 2;
    }
    return 0;
}
