#pragma once
// What the plot shows, without a widget: the series found in the received lines, each a bounded
// ring of points (an endless run keeps the newest points in fixed memory), the window of the
// x axis (last N samples or last N seconds, frozen while paused, zoomed and panned then), the Y
// range (automatic or fixed), the thinned-out trace of a series for a given pixel width, and the
// CSV of what is shown.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "plot/plot_samples.h"

namespace corvel {

struct PlotPoint {
    std::uint64_t row;  // number of the sample line that gave it, from 0
    double t;           // arrival, seconds after the first sample
    double v;
};

// The newest `capacity` points of one series, oldest first.
class PlotRing {
  public:
    explicit PlotRing(std::size_t capacity) : capacity_(capacity) {}
    void Push(const PlotPoint& p);
    void Clear() {
        points_.clear();
        start_ = 0;
    }
    std::size_t Size() const { return points_.size(); }
    const PlotPoint& operator[](std::size_t i) const {
        const std::size_t at = start_ + i;
        return points_[at < points_.size() ? at : at - points_.size()];
    }
    // Index of the first point whose row (respectively time) is at least x.
    std::size_t FirstAtRow(double row) const;
    std::size_t FirstAtTime(double t) const;

  private:
    std::size_t capacity_;
    std::vector<PlotPoint> points_;
    std::size_t start_ = 0;  // oldest point once the ring is full
};

struct PlotSeries {
    explicit PlotSeries(std::size_t capacity) : points(capacity) {}
    std::string name;
    int colour = 0;  // 0..15, fixed per slot, so a curve keeps its colour for the whole run
    PlotRing points;
    double latest = 0;
    std::uint64_t lastRow = 0;
    bool positional = false;  // a column of number rows (else named by its lines)
    int column = -1;          // its column, when positional
    // Not seen for kEndAfterRows sample lines: the legend says so and, with all slots taken,
    // a new series may take its place.
    bool Ended(std::uint64_t rows) const;
};

enum class PlotAxis { Samples = 0, Time = 1 };

class PlotModel {
  public:
    static constexpr std::size_t kMaxSeries = 16;
    static constexpr std::size_t kDefaultCapacity = 1u << 16;
    static constexpr std::uint64_t kEndAfterRows = 64;
    // Chunks further apart than this are not taken as one stretch of the stream: their lines
    // all get the arrival time of their own chunk.
    static constexpr std::uint64_t kSpreadLimitMs = 1000;

    explicit PlotModel(std::size_t capacityPerSeries = kDefaultCapacity);

    // One received chunk, arrived at nowMs on the host clock. The lines it completes share the
    // time since the previous chunk evenly: a board printing every millisecond read at a 50 ms
    // polling interval still draws a smooth curve, not steps.
    void Feed(const std::uint8_t* data, std::size_t size, std::uint64_t nowMs);
    // Forgets every series and the partial line (the next sample is row 0 at time 0).
    void Clear();
    // Forgets only the unfinished line (the bytes between were not seen).
    void DropPartialLine() { splitter_.Reset(); }

    std::size_t SeriesCount() const { return series_.size(); }
    const PlotSeries& Series(std::size_t i) const { return series_[i]; }
    // Sample lines taken so far.
    std::uint64_t Rows() const { return rows_; }
    // Arrival of the newest sample, seconds after the first.
    double LatestTime() const { return latestTime_; }
    // Lines that were no sample lines, and values dropped because all 16 slots were taken.
    std::uint64_t IgnoredLines() const { return ignored_; }
    std::uint64_t DroppedValues() const { return dropped_; }
    // Changes whenever something new is to be drawn.
    std::uint64_t Generation() const { return generation_; }

  private:
    void TakeLine(const SampleLine& line, double t);
    PlotSeries* SlotFor(const std::string& key, bool positional, int column);

    std::size_t capacity_;
    PlotLineSplitter splitter_;
    SampleLine parsed_;
    std::vector<SampleLine> chunkLines_;  // the sample lines of the chunk being fed
    std::size_t chunkCount_ = 0;
    std::vector<PlotSeries> series_;
    std::unordered_map<std::string, std::size_t> byName_;
    std::vector<int> byColumn_;  // series index of each column, -1 none
    std::vector<std::string> header_;
    std::vector<std::string> pendingHeader_;
    std::uint64_t rows_ = 0;
    bool haveTime_ = false;
    std::uint64_t firstMs_ = 0;
    std::uint64_t lastChunkMs_ = 0;
    double latestTime_ = 0;
    std::uint64_t ignored_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t generation_ = 0;
};

// What the plot shows of the x axis: the live window, or a frozen one while paused.
struct PlotWindowChoice {
    PlotAxis axis = PlotAxis::Samples;
    std::uint32_t samples = 1000;  // window "last N samples"
    std::uint32_t seconds = 10;    // window "last N seconds"
    bool autoY = true;
    double yMin = 0;
    double yMax = 100;
    bool operator==(const PlotWindowChoice&) const = default;
};

struct PlotSpan {
    double lo = 0;
    double hi = 1;
    double Width() const { return hi - lo; }
};

class PlotViewState {
  public:
    explicit PlotViewState(const PlotModel& model) : model_(model) {}
    PlotWindowChoice choice;
    // The series hidden by the user, by name (kept over a restart and a reconnect).
    std::vector<std::string> hidden;

    bool Paused() const { return paused_; }
    // Freezes the x window where it is; the model goes on taking samples meanwhile.
    void Pause();
    // Back to the live window.
    void Resume();
    // While paused: zoom by factor (<1 zooms in) around the point at `at` (0 = left edge,
    // 1 = right edge), pan by a fraction of the width (positive = later). Ignored when live.
    void Zoom(double factor, double at);
    void Pan(double fraction);

    // The x value of a point on the current axis.
    double X(const PlotPoint& p) const {
        return choice.axis == PlotAxis::Samples ? static_cast<double>(p.row) : p.t;
    }
    PlotSpan XSpan() const;
    // Fixed, or the extent of the shown series' points in the x span with a margin (a flat
    // curve gets a band around its value).
    PlotSpan YSpan() const;
    bool Shown(const PlotSeries& s) const;

    // The points of s to draw across `columns` pixels of the x span: at most the first, lowest,
    // highest and last point of each column, in order, plus the neighbours just outside the
    // span so the line reaches the edges. A full ring of 65536 points thins to a few thousand.
    // yLo/yHi are widened to the values of the points inside the span.
    void Trace(const PlotSeries& s, int columns, std::vector<PlotPoint>& out, double& yLo,
               double& yHi) const;
    // The Y span for values seen from yLo to yHi (yLo > yHi: none): fixed, or automatic.
    PlotSpan YSpanFor(double yLo, double yHi) const;

    // The shown series' points in the x span as CSV: "sample,time_s,<names>" then one row per
    // sample line, empty where a series has no value on it.
    std::string Csv() const;

  private:
    std::size_t First(const PlotSeries& s, double x) const;
    PlotSpan LiveSpan() const;

    const PlotModel& model_;
    bool paused_ = false;
    PlotSpan frozen_;
};

}  // namespace corvel
