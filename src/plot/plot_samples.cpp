#include "plot/plot_samples.h"

#include <charconv>
#include <cmath>

namespace corvel {

namespace {

bool IsSeparator(char c) {
    return c == ',' || c == ';' || c == ' ' || c == '\t';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsPairMark(char c) {
    return c == ':' || c == '=';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool StartsName(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// Longest name kept; a longer word is prose, not a column name.
constexpr std::size_t kMaxName = 32;

}  // namespace

void PlotLineSplitter::SkipEscape(std::uint8_t b) {
    // ESC [ parameters final-letter; ESC followed by anything else takes that one byte. A
    // broken sequence ends at the next letter, control byte or line end, never swallowing more
    // than the line it is on.
    if (escape_ == Escape::Start) {
        escape_ = b == '[' ? Escape::Csi : Escape::None;
        return;
    }
    if ((b >= 0x40 && b <= 0x7E) || b < 0x20) escape_ = Escape::None;
}

bool ParsePlotNumber(std::string_view text, double& out) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < n && IsDigit(text[i])) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != n) return false;
    // from_chars takes no '+' sign; the grammar above already refused inf, nan and hex.
    const std::size_t from = text[0] == '+' ? 1 : 0;
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data() + from, text.data() + n, v);
    if (ec != std::errc() || end != text.data() + n || !std::isfinite(v)) return false;
    out = v;
    return true;
}

namespace {

void Classify(std::string_view line, SampleLine& out) {
    std::size_t bare = 0, bareNumbers = 0, pairs = 0, columns = 0;
    bool allNames = true;  // every bare word that is no number could be a column name
    std::size_t i = 0;
    const std::size_t n = line.size();
    auto readWord = [&]() {
        const std::size_t start = i;
        while (i < n && !IsSeparator(line[i]) && !IsPairMark(line[i])) ++i;
        return line.substr(start, i - start);
    };
    while (true) {
        while (i < n && IsSeparator(line[i])) ++i;
        if (i >= n) break;
        if (++columns > kMaxLineColumns) return;
        const std::string_view word = readWord();
        std::size_t j = i;
        while (j < n && IsBlank(line[j])) ++j;
        if (j < n && IsPairMark(line[j])) {
            // name:value or name = value: the value follows after blanks.
            i = j + 1;
            while (i < n && IsBlank(line[i])) ++i;
            const std::string_view value = readWord();
            double v = 0;
            if (word.empty() || word.size() > kMaxName || !ParsePlotNumber(value, v)) return;
            if (i < n && IsPairMark(line[i])) return;  // "12:30:01" is a clock, not a pair
            out.names.emplace_back(word);
            out.values.push_back(v);
            ++pairs;
            continue;
        }
        if (word.empty()) return;  // a mark with no name before it
        ++bare;
        double v = 0;
        if (ParsePlotNumber(word, v)) {
            ++bareNumbers;
            out.values.push_back(v);
        } else {
            if (word.size() > kMaxName || !StartsName(word[0])) allNames = false;
            out.names.emplace_back(word);
        }
    }
    if (pairs > 0) {
        if (bare == 0) {
            out.kind = SampleLine::Kind::Named;
            return;
        }
    } else if (bare > 0 && bareNumbers == bare) {
        out.names.clear();
        out.kind = SampleLine::Kind::Values;
        return;
    } else if (bare > 0 && bareNumbers == 0 && allNames) {
        out.values.clear();
        out.kind = SampleLine::Kind::Header;
        return;
    }
}

}  // namespace

void ParseSampleLine(std::string_view line, SampleLine& out) {
    out.kind = SampleLine::Kind::None;
    out.values.clear();
    out.names.clear();
    Classify(line, out);
    if (out.kind == SampleLine::Kind::None) {
        out.values.clear();
        out.names.clear();
    }
}

}  // namespace corvel
