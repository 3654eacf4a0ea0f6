#pragma once
// Numbers out of received text: the byte stream is cut into lines, and each line is read as a
// row of numbers ("1.5, 2, -3e2", separated by commas, blanks, tabs or semicolons), as named
// values ("temp:23.5 hum=41"), or, when it holds no number at all, as a possible header that
// names the columns of the rows that follow. Anything else (a log line with a number inside it,
// a prompt) is no sample line: plotting it would draw noise.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// Cuts a byte stream into lines at CR or LF, whatever the reads' boundaries. Escape sequences
// (colours) and control bytes other than TAB are dropped, so coloured output plots like plain.
// A line longer than kMaxLine is no sample line: it is dropped whole, up to its end.
class PlotLineSplitter {
  public:
    static constexpr std::size_t kMaxLine = 1024;

    // Calls onLine(std::string_view) for every complete, non-empty line of the chunk.
    template <typename OnLine>
    void Feed(const std::uint8_t* data, std::size_t size, OnLine&& onLine) {
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t b = data[i];
            if (escape_ != Escape::None) {
                if (b != '\n' && b != '\r') {
                    SkipEscape(b);
                    continue;
                }
                escape_ = Escape::None;
            }
            if (b == '\n' || b == '\r') {
                if (!overlong_ && !line_.empty()) onLine(std::string_view(line_));
                line_.clear();
                overlong_ = false;
            } else if (b == 0x1B) {
                escape_ = Escape::Start;
            } else if (b >= 0x20 || b == '\t') {
                if (line_.size() >= kMaxLine)
                    overlong_ = true;
                else
                    line_.push_back(static_cast<char>(b));
            }
        }
    }
    void Reset() {
        line_.clear();
        overlong_ = false;
        escape_ = Escape::None;
    }

  private:
    enum class Escape { None, Start, Csi };
    void SkipEscape(std::uint8_t b);

    std::string line_;
    bool overlong_ = false;
    Escape escape_ = Escape::None;
};

struct SampleLine {
    enum class Kind {
        None,    // no sample line (mixed text, empty, too many values)
        Values,  // values: the columns in order
        Named,   // names[i] = values[i]
        Header,  // names: the column names of a line without numbers
    };
    Kind kind = Kind::None;
    std::vector<double> values;
    std::vector<std::string> names;
};

// Most columns a line may give; further ones make it no sample line.
inline constexpr std::size_t kMaxLineColumns = 64;

// A number as boards print it: decimal with optional sign, fraction and exponent ("-1.5e-3",
// "+7", ".5", "12."). Infinities, NaN, hexadecimal and trailing units are refused.
bool ParsePlotNumber(std::string_view text, double& out);

// Reads one line (no CR/LF in it). `out` is cleared first and reused to spare allocations.
void ParseSampleLine(std::string_view line, SampleLine& out);

}  // namespace corvel
