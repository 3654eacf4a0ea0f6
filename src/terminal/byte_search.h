#pragma once
// Finding a piece of text in stored lines of bytes, fast enough for a full scrollback: a million
// lines answer in a few tens of milliseconds. Lines hold Latin-1 or UTF-8 bytes; without "match
// case" ASCII letters fold, and so do Latin-1's accented letters when the lines are Latin-1 (in
// UTF-8 those are two bytes each and keep their case).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvel {

class ByteSearch {
  public:
    static constexpr std::size_t npos = std::string_view::npos;

    ByteSearch(std::string_view needle, bool matchCase, bool latin1);

    bool Empty() const { return needle_.empty(); }
    std::size_t Size() const { return needle_.size(); }
    // The first match starting at or after from.
    std::size_t FindIn(std::string_view text, std::size_t from = 0) const;
    // The last match starting before `before`.
    std::size_t FindLastIn(std::string_view text, std::size_t before = npos) const;

  private:
    std::string needle_;  // folded when the case does not matter
    bool matchCase_;
    std::array<unsigned char, 256> fold_{};
    std::array<std::size_t, 256> skip_{};
};

struct LineMatch {
    std::size_t line = 0;    // index into the lines searched
    std::size_t column = 0;  // byte offset in that line
};

// Searches lines[i] (anything with size() and operator[] giving strings) from the byte `column`
// of line `line` on (forward: matches starting there or later; backward: matches starting before
// it), and around the end to where it started when nothing is found on the way.
template <class Lines>
std::optional<LineMatch> FindLine(const Lines& lines, const ByteSearch& search, std::size_t line,
                                  std::size_t column, bool backward) {
    const std::size_t count = lines.size();
    if (search.Empty() || count == 0) return std::nullopt;
    if (line >= count) {
        line = backward ? count - 1 : 0;
        column = backward ? ByteSearch::npos : 0;
    }
    for (std::size_t step = 0; step <= count; ++step) {
        std::size_t i = 0;
        std::size_t at = ByteSearch::npos;
        if (!backward) {
            i = (line + step) % count;
            const std::size_t from = step == 0 ? column : 0;
            at = search.FindIn(std::string_view(lines[i]), from);
            // Back on the first line after going round: only what lies before the start is new.
            if (step == count && at >= column) at = ByteSearch::npos;
        } else {
            i = (line + count - step % count) % count;
            const std::size_t before = step == 0 ? column : ByteSearch::npos;
            at = search.FindLastIn(std::string_view(lines[i]), before);
            if (step == count && column != ByteSearch::npos && at < column) at = ByteSearch::npos;
        }
        if (at != ByteSearch::npos) return LineMatch{i, at};
    }
    return std::nullopt;
}

}  // namespace corvel
