#include "plot/plot_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace corvel {

// ---------------------------------------------------------------------------------------------
// Points

void PlotRing::Push(const PlotPoint& p) {
    if (capacity_ == 0) return;
    if (points_.size() < capacity_) {
        points_.push_back(p);
        return;
    }
    points_[start_] = p;
    if (++start_ == points_.size()) start_ = 0;
}

std::size_t PlotRing::FirstAtRow(double row) const {
    std::size_t lo = 0, hi = Size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (static_cast<double>((*this)[mid].row) < row)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::size_t PlotRing::FirstAtTime(double t) const {
    std::size_t lo = 0, hi = Size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if ((*this)[mid].t < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

bool PlotSeries::Ended(std::uint64_t rows) const {
    return rows > lastRow + 1 + PlotModel::kEndAfterRows;
}

// ---------------------------------------------------------------------------------------------
// Model

PlotModel::PlotModel(std::size_t capacityPerSeries) : capacity_(capacityPerSeries) {
    series_.reserve(kMaxSeries);
}

void PlotModel::Clear() {
    splitter_.Reset();
    series_.clear();
    byName_.clear();
    byColumn_.clear();
    header_.clear();
    pendingHeader_.clear();
    rows_ = 0;
    haveTime_ = false;
    latestTime_ = 0;
    ignored_ = 0;
    dropped_ = 0;
    ++generation_;
}

void PlotModel::Feed(const std::uint8_t* data, std::size_t size, std::uint64_t nowMs) {
    chunkCount_ = 0;
    std::size_t samples = 0;
    splitter_.Feed(data, size, [&](std::string_view text) {
        ParseSampleLine(text, parsed_);
        if (parsed_.kind == SampleLine::Kind::None) {
            ++ignored_;
            return;
        }
        if (parsed_.kind != SampleLine::Kind::Header) ++samples;
        if (chunkCount_ == chunkLines_.size()) chunkLines_.emplace_back();
        std::swap(chunkLines_[chunkCount_++], parsed_);
    });
    // A clock that went back, or a first chunk, spreads nothing.
    const std::uint64_t from =
        haveTime_ && nowMs >= lastChunkMs_ && nowMs - lastChunkMs_ <= kSpreadLimitMs ? lastChunkMs_
                                                                                     : nowMs;
    if (samples > 0 && !haveTime_) {
        haveTime_ = true;
        firstMs_ = nowMs;
    }
    if (haveTime_) lastChunkMs_ = nowMs;
    std::size_t taken = 0;
    for (std::size_t i = 0; i < chunkCount_; ++i) {
        const SampleLine& line = chunkLines_[i];
        double t = 0;
        if (line.kind != SampleLine::Kind::Header) {
            ++taken;
            const double ms = static_cast<double>(from) + static_cast<double>(nowMs - from) *
                                                              static_cast<double>(taken) /
                                                              static_cast<double>(samples);
            t = std::max((ms - static_cast<double>(firstMs_)) / 1000.0, latestTime_);
        }
        TakeLine(line, t);
    }
    if (samples > 0) ++generation_;
}

void PlotModel::TakeLine(const SampleLine& line, double t) {
    if (line.kind == SampleLine::Kind::Header) {
        pendingHeader_ = line.names;
        return;
    }
    if (line.kind == SampleLine::Kind::Values) {
        if (!pendingHeader_.empty() && pendingHeader_.size() == line.values.size()) {
            header_ = std::move(pendingHeader_);
            pendingHeader_.clear();
            for (PlotSeries& s : series_)
                if (s.positional && s.column < static_cast<int>(header_.size()))
                    s.name = header_[static_cast<std::size_t>(s.column)];
        }
        for (std::size_t c = 0; c < line.values.size(); ++c) {
            PlotSeries* s = SlotFor({}, true, static_cast<int>(c));
            if (!s) {
                ++dropped_;
                continue;
            }
            s->points.Push({rows_, t, line.values[c]});
            s->latest = line.values[c];
            s->lastRow = rows_;
        }
    } else {
        for (std::size_t i = 0; i < line.values.size(); ++i) {
            PlotSeries* s = SlotFor(line.names[i], false, -1);
            if (!s) {
                ++dropped_;
                continue;
            }
            s->points.Push({rows_, t, line.values[i]});
            s->latest = line.values[i];
            s->lastRow = rows_;
        }
    }
    latestTime_ = t;
    ++rows_;
}

PlotSeries* PlotModel::SlotFor(const std::string& key, bool positional, int column) {
    if (positional) {
        const auto c = static_cast<std::size_t>(column);
        if (c < byColumn_.size() && byColumn_[c] >= 0)
            return &series_[static_cast<std::size_t>(byColumn_[c])];
    } else if (const auto it = byName_.find(key); it != byName_.end()) {
        return &series_[it->second];
    }
    std::size_t slot = series_.size();
    if (slot < kMaxSeries) {
        series_.emplace_back(capacity_);
        series_.back().colour = static_cast<int>(slot);
    } else {
        // All slots taken: the series that ended longest ago gives its place.
        std::uint64_t oldest = std::numeric_limits<std::uint64_t>::max();
        for (std::size_t i = 0; i < series_.size(); ++i) {
            if (series_[i].Ended(rows_) && series_[i].lastRow < oldest) {
                oldest = series_[i].lastRow;
                slot = i;
            }
        }
        if (slot == series_.size()) return nullptr;
        PlotSeries& old = series_[slot];
        if (old.positional)
            byColumn_[static_cast<std::size_t>(old.column)] = -1;
        else
            byName_.erase(old.name);
        old.points.Clear();
    }
    PlotSeries& s = series_[slot];
    s.positional = positional;
    s.column = column;
    s.lastRow = rows_;
    if (positional) {
        const auto c = static_cast<std::size_t>(column);
        s.name = c < header_.size() ? header_[c] : std::to_string(c + 1);
        if (byColumn_.size() <= c) byColumn_.resize(c + 1, -1);
        byColumn_[c] = static_cast<int>(slot);
    } else {
        s.name = key;
        byName_[key] = slot;
    }
    return &s;
}

// ---------------------------------------------------------------------------------------------
// View state

namespace {

constexpr double kMinSamplesWidth = 4;
constexpr double kMinSecondsWidth = 0.005;
constexpr double kMaxWidth = 1e12;

void AppendNumber(std::string& out, double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    if (ec == std::errc()) out.append(buf, end);
}

void AppendCsvField(std::string& out, const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

PlotSpan PlotViewState::LiveSpan() const {
    if (choice.axis == PlotAxis::Samples) {
        const double n = std::max<double>(choice.samples, kMinSamplesWidth);
        const double hi = std::max(static_cast<double>(model_.Rows()), n) - 1;
        return {hi - (n - 1), hi};
    }
    const double n = std::max<double>(choice.seconds, 1);
    const double hi = std::max(model_.LatestTime(), n);
    return {hi - n, hi};
}

void PlotViewState::Pause() {
    if (paused_) return;
    frozen_ = LiveSpan();
    paused_ = true;
}

void PlotViewState::Resume() {
    paused_ = false;
}

void PlotViewState::Zoom(double factor, double at) {
    if (!paused_ || !std::isfinite(factor) || factor <= 0 || !std::isfinite(at)) return;
    at = std::clamp(at, 0.0, 1.0);
    const double minWidth = choice.axis == PlotAxis::Samples ? kMinSamplesWidth : kMinSecondsWidth;
    const double width = std::clamp(frozen_.Width() * factor, minWidth, kMaxWidth);
    const double anchor = frozen_.lo + at * frozen_.Width();
    frozen_ = {anchor - at * width, anchor - at * width + width};
}

void PlotViewState::Pan(double fraction) {
    if (!paused_ || !std::isfinite(fraction)) return;
    const double shift = std::clamp(fraction, -100.0, 100.0) * frozen_.Width();
    if (std::abs(frozen_.lo + shift) > kMaxWidth) return;
    frozen_.lo += shift;
    frozen_.hi += shift;
}

PlotSpan PlotViewState::XSpan() const {
    return paused_ ? frozen_ : LiveSpan();
}

bool PlotViewState::Shown(const PlotSeries& s) const {
    return std::find(hidden.begin(), hidden.end(), s.name) == hidden.end();
}

std::size_t PlotViewState::First(const PlotSeries& s, double x) const {
    return choice.axis == PlotAxis::Samples ? s.points.FirstAtRow(x) : s.points.FirstAtTime(x);
}

void PlotViewState::Trace(const PlotSeries& s, int columns, std::vector<PlotPoint>& out,
                          double& yLo, double& yHi) const {
    out.clear();
    const PlotRing& ring = s.points;
    if (ring.Size() == 0) return;
    const PlotSpan span = XSpan();
    const double scale = std::max(columns, 1) / std::max(span.Width(), 1e-12);
    std::size_t i = First(s, span.lo);
    if (i > 0) out.push_back(ring[i - 1]);
    // The column being gathered: indices of its first, lowest, highest and last point.
    long column = -1;
    std::size_t first = 0, low = 0, high = 0, last = 0;
    auto flush = [&] {
        if (column < 0) return;
        out.push_back(ring[first]);
        const std::size_t a = std::min(low, high), b = std::max(low, high);
        if (a != first && a != last) out.push_back(ring[a]);
        if (b != first && b != last && b != a) out.push_back(ring[b]);
        if (last != first) out.push_back(ring[last]);
    };
    for (; i < ring.Size(); ++i) {
        const PlotPoint& p = ring[i];
        const double x = X(p);
        if (x > span.hi) {
            flush();
            column = -1;
            out.push_back(p);
            break;
        }
        yLo = std::min(yLo, p.v);
        yHi = std::max(yHi, p.v);
        const long c = static_cast<long>((x - span.lo) * scale);
        if (c != column) {
            flush();
            column = c;
            first = low = high = last = i;
            continue;
        }
        last = i;
        if (p.v < ring[low].v) low = i;
        if (p.v > ring[high].v) high = i;
    }
    flush();
}

PlotSpan PlotViewState::YSpanFor(double yLo, double yHi) const {
    if (!choice.autoY) {
        double lo = std::min(choice.yMin, choice.yMax), hi = std::max(choice.yMin, choice.yMax);
        if (!(hi > lo)) hi = lo + 1;
        return {lo, hi};
    }
    if (yLo > yHi) return {-1, 1};
    if (yHi - yLo < 1e-300 * std::max(1.0, std::abs(yLo)) || yHi == yLo) {
        const double band = yLo == 0 ? 1 : std::abs(yLo) * 0.1;
        return {yLo - band, yHi + band};
    }
    const double margin = (yHi - yLo) * 0.05;
    return {yLo - margin, yHi + margin};
}

PlotSpan PlotViewState::YSpan() const {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    std::vector<PlotPoint> scratch;
    for (std::size_t i = 0; i < model_.SeriesCount(); ++i)
        if (Shown(model_.Series(i))) Trace(model_.Series(i), 1, scratch, lo, hi);
    return YSpanFor(lo, hi);
}

std::string PlotViewState::Csv() const {
    std::vector<const PlotSeries*> shown;
    for (std::size_t i = 0; i < model_.SeriesCount(); ++i)
        if (Shown(model_.Series(i))) shown.push_back(&model_.Series(i));
    std::string out = "sample,time_s";
    for (const PlotSeries* s : shown) {
        out += ',';
        AppendCsvField(out, s->name);
    }
    out += "\r\n";
    const PlotSpan span = XSpan();
    std::vector<std::size_t> at(shown.size());
    for (std::size_t k = 0; k < shown.size(); ++k) at[k] = First(*shown[k], span.lo);
    std::vector<const PlotPoint*> cells(shown.size());
    while (true) {
        // The lowest sample line any shown series has next inside the span.
        const PlotPoint* next = nullptr;
        for (std::size_t k = 0; k < shown.size(); ++k) {
            if (at[k] >= shown[k]->points.Size()) continue;
            const PlotPoint& p = shown[k]->points[at[k]];
            if (X(p) > span.hi) continue;
            if (!next || p.row < next->row) next = &p;
        }
        if (!next) break;
        const std::uint64_t row = next->row;
        AppendNumber(out, static_cast<double>(row));
        out += ',';
        AppendNumber(out, next->t);
        for (std::size_t k = 0; k < shown.size(); ++k) {
            out += ',';
            const PlotRing& ring = shown[k]->points;
            const PlotPoint* cell = nullptr;
            while (at[k] < ring.Size() && ring[at[k]].row == row) cell = &ring[at[k]++];
            if (cell) AppendNumber(out, cell->v);
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace corvel
