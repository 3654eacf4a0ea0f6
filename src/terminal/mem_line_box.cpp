#include "terminal/mem_line_box.h"

#include <algorithm>

namespace corvel {

std::string MemLineBox::Line(int index) const {
    if (index < 0 || index >= LineCount()) return {};
    return lines_[static_cast<std::size_t>(index)];
}

void MemLineBox::ReplaceLine(int index, std::string_view text) {
    if (index < 0 || index >= LineCount()) return;
    lines_[static_cast<std::size_t>(index)].assign(text);
    styles_[static_cast<std::size_t>(index)].clear();
    caret_ = index;
    ++edits;
    Changed();
}

void MemLineBox::AppendLine(std::string_view text) {
    lines_.emplace_back(text);
    styles_.emplace_back();
    caret_ = LineCount() - 1;
    ++edits;
    Changed();
    Trim();
}

void MemLineBox::AppendLines(const std::vector<std::string>& lines) {
    ++appendLinesCalls;
    if (lines.empty()) return;
    // With a limit, lines that would be dropped at once are never stored.
    std::size_t first = 0;
    if (maxLines_ != 0 && lines.size() > maxLines_) first = lines.size() - maxLines_;
    lines_.insert(lines_.end(), lines.begin() + static_cast<std::ptrdiff_t>(first), lines.end());
    styles_.resize(lines_.size());
    caret_ = LineCount() - 1;
    ++edits;
    Changed();
    Trim();
}

void MemLineBox::RemoveLine(int index) {
    if (index < 0 || index >= LineCount()) return;
    lines_.erase(lines_.begin() + index);
    styles_.erase(styles_.begin() + index);
    if (index < caret_) --caret_;
    caret_ = std::clamp(caret_, 0, std::max(0, LineCount() - 1));
    ++edits;
    Changed();
}

void MemLineBox::Clear() {
    lines_.clear();
    styles_.clear();
    caret_ = 0;
    ++edits;
    Changed();
}

void MemLineBox::SetLineStyle(int index, LineStyle style) {
    if (index < 0 || index >= LineCount()) return;
    styles_[static_cast<std::size_t>(index)] = std::move(style);
    Changed();
}

LineStyle MemLineBox::GetLineStyle(int index) const {
    if (index < 0 || index >= LineCount()) return {};
    return styles_[static_cast<std::size_t>(index)];
}

void MemLineBox::SetCaretLine(int index) {
    caret_ = std::clamp(index, 0, std::max(0, LineCount() - 1));
}

void MemLineBox::SetMaxLines(std::size_t maxLines) {
    maxLines_ = maxLines;
    Trim();
}

std::string MemLineBox::Text() const {
    std::string text;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (i != 0) text += '\n';
        text += lines_[i];
    }
    return text;
}

void MemLineBox::Trim() {
    if (maxLines_ == 0 || lines_.size() <= maxLines_) return;
    const std::size_t drop = lines_.size() - maxLines_;
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(drop));
    styles_.erase(styles_.begin(), styles_.begin() + static_cast<std::ptrdiff_t>(drop));
    Changed();
    caret_ = std::max(0, caret_ - static_cast<int>(drop));
}

}  // namespace corvel
