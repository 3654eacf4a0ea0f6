#pragma once
// A LineBox kept in memory: what the tests and benchmarks render into, and the reference the widget
// adapters are held to. It counts the calls that cost something on a real widget (edits, repaints,
// scrolls) so the renderer's batching can be checked.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/line_box.h"

namespace corvel {

class MemLineBox : public LineBox {
  public:
    int LineCount() const override { return static_cast<int>(lines_.size()); }
    // An index outside the box reads as an empty line; writes and removals there do nothing.
    std::string Line(int index) const override;
    void ReplaceLine(int index, std::string_view text) override;
    void AppendLine(std::string_view text) override;
    void AppendLines(const std::vector<std::string>& lines) override;
    void RemoveLine(int index) override;
    void Clear() override;
    int CaretLine() const override { return caret_; }
    void Repaint() override { ++repaints; }
    void ScrollToEnd() override { ++scrolls; }
    void SetLineStyle(int index, LineStyle style) override;
    LineStyle GetLineStyle(int index) const override;
    void SetUtf8(bool utf8) override { utf8_ = utf8; }
    bool Utf8() const { return utf8_; }

    // Where the user clicked: clamped into the box.
    void SetCaretLine(int index);
    // Keeps only the newest maxLines lines, dropping the oldest whole lines after every write;
    // 0 keeps everything.
    void SetMaxLines(std::size_t maxLines);

    std::vector<std::string> Lines() const { return {lines_.begin(), lines_.end()}; }
    // The text as a widget would show it: lines joined by LF.
    std::string Text() const;

    int edits = 0;  // calls that changed text (replace, append, append-lines, remove, clear)
    int appendLinesCalls = 0;
    int repaints = 0;
    int scrolls = 0;

  private:
    void Trim();

    std::deque<std::string> lines_;
    std::deque<LineStyle> styles_;  // beside lines_, one per line
    int caret_ = 0;
    bool utf8_ = false;
    std::size_t maxLines_ = 0;
};

}  // namespace corvel
