// Search in the receive window: the matching itself runs on the stored bytes (ByteSearch); this
// part turns bytes into columns, highlights and the view's place.
#include <QScrollBar>
#include <algorithm>

#include "terminal/byte_search.h"
#include "terminal/window/rx_view.h"

namespace corvel {

namespace {
// Lines searched for highlights may be long; a frame looks at this many matches per line at most.
constexpr int kMaxHighlightsPerLine = 1000;
}  // namespace

void RxView::SetSearch(const QString& text, bool matchCase) {
    if (text == searchText_ && matchCase == searchCase_ && (search_ != nullptr) == !text.isEmpty())
        return;
    searchText_ = text;
    searchCase_ = matchCase;
    MakeSearch();
    repaintAll_ = true;
    ScheduleRefresh();
}

void RxView::MakeSearch() {
    search_.reset();
    if (searchText_.isEmpty()) return;
    std::string needle;
    if (utf8_) {
        needle = searchText_.toStdString();
    } else {
        // A character Latin-1 cannot hold cannot be in these lines: nothing matches.
        for (QChar c : searchText_)
            if (c.unicode() > 0xFF) return;
        needle = searchText_.toLatin1().toStdString();
    }
    search_ = std::make_unique<ByteSearch>(needle, searchCase_, !utf8_);
}

int RxView::ColumnOf(int index, std::size_t byte) const {
    if (!utf8_) return static_cast<int>(byte);
    const std::string& line = lines_[static_cast<std::size_t>(index)];
    return static_cast<int>(TextOf(std::string_view(line).substr(0, byte)).size());
}

std::size_t RxView::ByteOf(int index, int column) const {
    const std::string& line = lines_[static_cast<std::size_t>(index)];
    if (!utf8_) return std::min(static_cast<std::size_t>(std::max(column, 0)), line.size());
    return static_cast<std::size_t>(TextOf(line).left(column).toUtf8().size());
}

void RxView::AddMatchRanges(int index, int firstColumn,
                            QList<QTextLayout::FormatRange>& ranges) const {
    if (!search_) return;
    const std::string_view line = lines_[static_cast<std::size_t>(index)];
    QTextCharFormat format;
    format.setBackground(QColor(255, 230, 80));
    format.setForeground(QColor(Qt::black));
    int shown = 0;
    for (std::size_t at = search_->FindIn(line);
         at != ByteSearch::npos && shown < kMaxHighlightsPerLine;
         at = search_->FindIn(line, at + 1), ++shown) {
        const int begin = ColumnOf(index, at) - firstColumn;
        const int end = ColumnOf(index, at + search_->Size()) - firstColumn;
        if (end <= 0) continue;
        ranges.push_back({std::max(begin, 0), end - std::max(begin, 0), format});
    }
}

int RxView::SelectionLine() const {
    if (!hasSelection()) return -1;
    return static_cast<int>(std::min(anchor_, cursor_).line - firstNumber_);
}

bool RxView::FindNext(bool backward) {
    if (!search_ || lines_.empty()) return false;
    std::size_t line = 0;
    std::size_t column = 0;
    if (hasSelection()) {
        // From the selection's start: the next match may overlap the one selected.
        const Place from = std::min(anchor_, cursor_);
        line = static_cast<std::size_t>(std::max<std::int64_t>(from.line - firstNumber_, 0));
        column = ByteOf(static_cast<int>(line), from.column) + (backward ? 0 : 1);
    } else if (backward) {
        line = lines_.size();  // from the end
    } else {
        line = static_cast<std::size_t>(std::max<std::int64_t>(topNumber_ - firstNumber_, 0));
        if (follow_) line = static_cast<std::size_t>(verticalScrollBar()->value());
    }
    const auto match = FindLine(lines_, *search_, line, column, backward);
    if (!match) return false;
    const int index = static_cast<int>(match->line);
    const std::int64_t number = firstNumber_ + index;
    anchor_ = Place{number, ColumnOf(index, match->column)};
    cursor_ = Place{number, ColumnOf(index, match->column + search_->Size())};
    ShowPlace(anchor_, cursor_);
    return true;
}

void RxView::ShowPlace(Place from, Place to) {
    // A match already in view stays where it is; one elsewhere comes to the middle of it.
    UpdateBars();
    QScrollBar* v = verticalScrollBar();
    const int index = static_cast<int>(from.line - firstNumber_);
    const int page = std::max(v->pageStep(), 1);
    // Arriving lines no longer move the view away from the match.
    follow_ = false;
    topNumber_ = firstNumber_ + v->value();
    if (index < v->value() || index >= v->value() + page)
        topNumber_ = firstNumber_ + std::clamp(index - page / 2, 0, v->maximum());
    if (wrap_ == NoWrap) {
        const std::string& line = lines_[static_cast<std::size_t>(index)];
        const auto left = static_cast<int>(
            LineWidth(std::string_view(line).substr(0, ByteOf(index, from.column))));
        const auto right =
            static_cast<int>(LineWidth(std::string_view(line).substr(0, ByteOf(index, to.column))));
        QScrollBar* h = horizontalScrollBar();
        const int width = viewport()->width() - 16;
        if (left < h->value() || right > h->value() + width)
            h->setValue(std::max(left - width / 3, 0));
    }
    repaintAll_ = true;
    Refresh();
}

}  // namespace corvel
