#pragma once
// A text window seen as a list of lines plus a caret. The receive renderer and the line editor
// work on this, so they run the same against a widget and against memory.
//
// Lines hold bytes: each byte is the character with the same code (ISO 8859-1). A box with no
// text has no lines (LineCount() == 0); appending an empty line to it gives one empty line.
// Every write (ReplaceLine, AppendLine, AppendLines) leaves the caret at the end of the text
// written, so the caret line is then the line written (the last one for appends).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/text_style.h"

namespace corvel {

class LineBox {
  public:
    virtual ~LineBox() = default;

    virtual int LineCount() const = 0;
    virtual std::string Line(int index) const = 0;
    virtual void ReplaceLine(int index, std::string_view text) = 0;
    virtual void AppendLine(std::string_view text) = 0;
    // Several lines in one edit: one repaint and one layout pass for a whole chunk.
    virtual void AppendLines(const std::vector<std::string>& lines) = 0;
    virtual void RemoveLine(int index) = 0;
    // Removes the first count lines, as that many RemoveLine(0) would. A box that can drop them
    // in one edit should: a window at its line limit does this for every chunk received.
    virtual void RemoveFirstLines(int count) {
        for (int i = 0; i < count; ++i) RemoveLine(0);
    }
    virtual void Clear() = 0;

    // Index of the line holding the caret; 0 for an empty box.
    virtual int CaretLine() const = 0;

    virtual void Repaint() = 0;
    virtual void ScrollToEnd() = 0;

    // Styled text: the runs of line index (empty = all in the box's own look). A write of the
    // line's text (ReplaceLine) drops its runs; removed lines take theirs along. Boxes that
    // cannot show styles ignore them.
    virtual void SetLineStyle(int index, LineStyle style) {
        (void)index;
        (void)style;
    }
    virtual LineStyle GetLineStyle(int index) const {
        (void)index;
        return {};
    }
    // How the bytes of the lines read: each byte a Latin-1 character (the default), or UTF-8.
    virtual void SetUtf8(bool utf8) { (void)utf8; }

    // Moves on every change of the lines (not of the caret, the selection or the view), so a
    // writer can tell whether anybody else changed the box since its own last write.
    std::uint64_t Revision() const { return revision_; }

  protected:
    // Every implementation calls this from each operation that changes the lines.
    void Changed() { ++revision_; }

  private:
    std::uint64_t revision_ = 0;
};

}  // namespace corvel
