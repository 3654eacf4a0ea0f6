#include "terminal/window/rx_view.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "terminal/byte_search.h"

namespace corvel {

namespace {

// Room between the frame and the text, as text editors leave it.
constexpr int kMargin = 4;
// About one frame: a flood of chunks is shown at this rate, not at the rate chunks arrive.
constexpr int kRefreshMs = 16;
// While more than a window of new lines comes per frame nobody can read them as they pass, so
// the view jumps, as terminals do, at a rate that costs little.
constexpr int kJumpRefreshMs = 100;
// Characters laid out beyond the visible ones when a line is cut to the viewport, so that
// glyphs wider than the average one do not leave a gap at the right edge.
constexpr int kSpareColumns = 8;

QString ToText(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

RxView::RxView(QWidget* parent) : QAbstractScrollArea(parent) {
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(kRefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &RxView::Refresh);
    viewport()->setCursor(Qt::IBeamCursor);
    // paintEvent fills what it draws; a second fill by the widget would only cost time.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(1);
    UpdateAdvances();
}

RxView::~RxView() = default;

// ---------------------------------------------------------------------------------------------
// The store

int RxView::LineCount() const {
    return static_cast<int>(std::min<std::size_t>(lines_.size(), std::numeric_limits<int>::max()));
}

std::string RxView::Line(int index) const {
    if (index < 0 || index >= LineCount()) return {};
    return lines_[static_cast<std::size_t>(index)];
}

void RxView::ReplaceLine(int index, std::string_view text) {
    if (index < 0 || index >= LineCount()) return;
    std::string& line = lines_[static_cast<std::size_t>(index)];
    line.assign(text);
    NoteWidth(line);
    styles_.erase(firstNumber_ + index);
    caretLine_ = index;
    Changed();
    MarkChanged(firstNumber_ + index);
}

void RxView::AppendLine(std::string_view text) {
    MarkChanged(firstNumber_ + LineCount());
    lines_.emplace_back(text);
    NoteWidth(lines_.back());
    caretLine_ = LineCount() - 1;
    Changed();
}

void RxView::AppendLines(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    MarkChanged(firstNumber_ + LineCount());
    for (const std::string& line : lines) {
        lines_.push_back(line);
        NoteWidth(line);
    }
    caretLine_ = LineCount() - 1;
    Changed();
}

void RxView::RemoveLine(int index) {
    if (index < 0 || index >= LineCount()) return;
    lines_.erase(lines_.begin() + index);
    Changed();
    const std::int64_t removed = firstNumber_ + index;
    // The styles of the lines after it move up with them.
    styles_.erase(removed);
    for (auto it = styles_.upper_bound(removed); it != styles_.end();) {
        auto node = styles_.extract(it++);
        --node.key();
        styles_.insert(std::move(node));
    }
    for (Place* p : {&anchor_, &cursor_}) {
        if (p->line == removed) p->column = 0;
        if (p->line > removed) --p->line;
    }
    if (topNumber_ > removed) --topNumber_;
    ClampSelection();
    caretLine_ = std::clamp(caretLine_, 0, std::max(LineCount() - 1, 0));
    MarkChanged(removed);
}

void RxView::RemoveFirstLines(int count) {
    if (count <= 0 || lines_.empty()) return;
    const auto n = std::min(static_cast<std::size_t>(count), lines_.size());
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(n));
    firstNumber_ += static_cast<std::int64_t>(n);
    styles_.erase(styles_.begin(), styles_.lower_bound(firstNumber_));
    Changed();
    caretLine_ = std::max(caretLine_ - static_cast<int>(n), 0);
    ClampSelection();
    ScheduleRefresh();
}

void RxView::Clear() {
    firstNumber_ += static_cast<std::int64_t>(lines_.size());
    // Swapping with a fresh store gives the memory of a long session back.
    std::deque<std::string>().swap(lines_);
    styles_.clear();
    Changed();
    widestPixels_ = 0;
    caretLine_ = 0;
    anchor_ = cursor_ = Place{firstNumber_, 0};
    selecting_ = false;
    topNumber_ = firstNumber_;
    repaintAll_ = true;
    ScheduleRefresh();
}

int RxView::CaretLine() const {
    // Where the last write ended: the user's clicks and selections are theirs and never move it,
    // or an erase-below sent by the board would delete what lies under a selection.
    if (lines_.empty()) return 0;
    return std::clamp(caretLine_, 0, LineCount() - 1);
}

void RxView::SetLineStyle(int index, LineStyle style) {
    if (index < 0 || index >= LineCount()) return;
    const std::int64_t number = firstNumber_ + index;
    if (style.empty()) {
        styles_.erase(number);
    } else {
        styles_[number] = std::move(style);
    }
    Changed();
    MarkChanged(number);
}

LineStyle RxView::GetLineStyle(int index) const {
    const auto it = styles_.find(firstNumber_ + index);
    return it == styles_.end() ? LineStyle{} : it->second;
}

void RxView::SetUtf8(bool utf8) {
    if (utf8 == utf8_) return;
    utf8_ = utf8;
    MakeSearch();
    UpdateAdvances();
    repaintAll_ = true;
    ScheduleRefresh();
}

QString RxView::TextOf(std::string_view line) const {
    if (utf8_) return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    return ToText(line);
}

int RxView::LengthOf(int index) const {
    const std::string& line = lines_[static_cast<std::size_t>(index)];
    if (!utf8_) return static_cast<int>(line.size());
    return static_cast<int>(TextOf(line).size());
}

void RxView::Repaint() {
    ScheduleRefresh();
}

void RxView::ScrollToEnd() {
    // The user is reading or copying a selection: leave the view where it is.
    if (hasSelection()) return;
    follow_ = true;
    ScheduleRefresh();
}

// ---------------------------------------------------------------------------------------------
// Text out

QString RxView::toPlainText() const {
    QString text;
    std::size_t size = lines_.size();
    for (const std::string& line : lines_) size += line.size();
    text.reserve(static_cast<qsizetype>(size));
    bool first = true;
    for (const std::string& line : lines_) {
        if (!first) text += QLatin1Char('\n');
        text += TextOf(line);
        first = false;
    }
    return text;
}

bool RxView::hasSelection() const {
    return anchor_ != cursor_;
}

QString RxView::selectedText() const {
    if (!hasSelection()) return {};
    const Place from = std::min(anchor_, cursor_);
    const Place to = std::max(anchor_, cursor_);
    QString text;
    for (std::int64_t n = from.line; n <= to.line; ++n) {
        const std::int64_t index = n - firstNumber_;
        if (index < 0 || index >= LineCount()) break;
        const QString line = TextOf(lines_[static_cast<std::size_t>(index)]);
        const auto size = static_cast<int>(line.size());
        const int begin = n == from.line ? std::min(from.column, size) : 0;
        const int end = n == to.line ? std::min(to.column, size) : size;
        if (n != from.line) text += QLatin1Char('\n');
        if (end > begin) text += line.mid(begin, end - begin);
    }
    return text;
}

void RxView::clearSelection() {
    if (!hasSelection()) return;
    anchor_ = cursor_;
    viewport()->update();
}

void RxView::copy() const {
    if (hasSelection()) QApplication::clipboard()->setText(selectedText());
}

void RxView::selectAll() {
    if (lines_.empty()) return;
    anchor_ = Place{firstNumber_, 0};
    cursor_ = LastPlace();
    viewport()->update();
}

RxView::Place RxView::LastPlace() const {
    if (lines_.empty()) return Place{firstNumber_, 0};
    return Place{firstNumber_ + LineCount() - 1, static_cast<int>(lines_.back().size())};
}

void RxView::ClampSelection() {
    const bool had = hasSelection();
    const Place first{firstNumber_, 0};
    const Place last = LastPlace();
    for (Place* p : {&anchor_, &cursor_}) *p = std::clamp(*p, first, last);
    // Everything the user had selected is gone: nothing is selected any more.
    if (had && !hasSelection()) selecting_ = false;
    topNumber_ = std::max(topNumber_, firstNumber_);
}

// ---------------------------------------------------------------------------------------------
// Showing it

void RxView::setLineWrapMode(LineWrapMode mode) {
    if (mode == wrap_) return;
    wrap_ = mode;
    repaintAll_ = true;
    Refresh();
}

void RxView::ScheduleRefresh() {
    if (!refreshTimer_.isActive()) refreshTimer_.start(jumping_ ? kJumpRefreshMs : kRefreshMs);
}

void RxView::MarkChanged(std::int64_t number) {
    changedFrom_ = std::min(changedFrom_, number);
    ScheduleRefresh();
}

int RxView::CharWidth() const {
    return std::max(fontMetrics().horizontalAdvance(QLatin1Char(' ')), 1);
}

int RxView::LineHeight() const {
    return std::max(fontMetrics().lineSpacing(), 1);
}

int RxView::TextWidth() const {
    return std::max(viewport()->width() - 2 * kMargin, CharWidth());
}

void RxView::UpdateAdvances() {
    // Lines hold Latin-1 bytes, so 256 advances say how wide any line is, in any font, without
    // laying it out: a window of lines is written many times a second and only a few are drawn.
    const QFontMetricsF metrics(font());
    maxAdvance_ = 1;
    for (int b = 0; b < 256; ++b) {
        const qreal a = std::max<qreal>(metrics.horizontalAdvance(QChar(b)), 0);
        advance_[static_cast<std::size_t>(b)] = a;
        maxAdvance_ = std::max(maxAdvance_, a);
    }
    wideAdvance_.clear();
    widestPixels_ = 0;
    for (const std::string& line : lines_) NoteWidth(line);
}

qreal RxView::Advance(QChar c) const {
    if (c.unicode() < 256) return advance_[c.unicode()];
    const auto it = wideAdvance_.find(c.unicode());
    if (it != wideAdvance_.end()) return it->second;
    const qreal a = QFontMetricsF(font()).horizontalAdvance(c);
    wideAdvance_.emplace(c.unicode(), a);
    return a;
}

qreal RxView::LineWidth(std::string_view line) const {
    qreal width = 0;
    if (utf8_) {
        for (QChar c : TextOf(line)) width += Advance(c);
    } else {
        for (unsigned char c : line) width += advance_[c];
    }
    return width;
}

void RxView::NoteWidth(std::string_view line) {
    // Most lines cannot be the widest even in the widest letters: they cost one multiplication.
    if (static_cast<qreal>(line.size()) * maxAdvance_ <= widestPixels_) return;
    widestPixels_ = std::max(widestPixels_, LineWidth(line));
}

RxView::Slice RxView::SliceShown(const QString& line) const {
    // The characters between the left and right edges of the viewport, with a few to spare on
    // each side so that kerning cannot leave a gap.
    Slice slice;
    const qreal spare = kSpareColumns * maxAdvance_;
    const qreal left = horizontalScrollBar()->value() - spare;
    const qreal right = horizontalScrollBar()->value() + viewport()->width() + spare;
    const auto n = line.size();
    qsizetype from = 0;
    qreal x = 0;
    while (from < n) {
        const qreal a = Advance(line[from]);
        if (x + a > left) break;
        x += a;
        ++from;
    }
    qsizetype to = from;
    for (qreal end = x; to < n && end < right; ++to) end += Advance(line[to]);
    slice.first = static_cast<int>(from);
    slice.count = static_cast<int>(to - from);
    slice.x = x;
    return slice;
}

RxView::Slice RxView::SliceShown(std::string_view bytes) const {
    // As for text, on the advances of the bytes' Latin-1 characters: no text is made of the
    // parts of a long line that do not show.
    Slice slice;
    const qreal spare = kSpareColumns * maxAdvance_;
    const qreal left = horizontalScrollBar()->value() - spare;
    const qreal right = horizontalScrollBar()->value() + viewport()->width() + spare;
    const std::size_t n = bytes.size();
    std::size_t from = 0;
    qreal x = 0;
    while (from < n) {
        const qreal a = advance_[static_cast<unsigned char>(bytes[from])];
        if (x + a > left) break;
        x += a;
        ++from;
    }
    std::size_t to = from;
    for (qreal end = x; to < n && end < right; ++to)
        end += advance_[static_cast<unsigned char>(bytes[to])];
    slice.first = static_cast<int>(from);
    slice.count = static_cast<int>(to - from);
    slice.x = x;
    return slice;
}

QTextCharFormat RxView::FormatOf(const TermStyle& style) const {
    const QPalette pal = palette();
    const auto color = [](TermColor c) {
        const Rgb rgb = ResolveColor(c);
        return QColor(rgb.r, rgb.g, rgb.b);
    };
    QColor fg = style.fg == kTermDefault ? pal.color(QPalette::Text) : color(style.fg);
    QColor bg = style.bg == kTermDefault ? QColor() : color(style.bg);
    if (style.attrs & kTermInverse) {
        const QColor back = bg.isValid() ? bg : pal.color(QPalette::Base);
        bg = fg;
        fg = back;
    }
    if (style.attrs & kTermFaint) {
        const QColor base = bg.isValid() ? bg : pal.color(QPalette::Base);
        fg = QColor((fg.red() + base.red()) / 2, (fg.green() + base.green()) / 2,
                    (fg.blue() + base.blue()) / 2);
    }
    QTextCharFormat format;
    format.setForeground(fg);
    if (bg.isValid()) format.setBackground(bg);
    if (style.attrs & kTermBold) format.setFontWeight(QFont::Bold);
    if (style.attrs & kTermItalic) format.setFontItalic(true);
    if (style.attrs & kTermUnderline) format.setFontUnderline(true);
    return format;
}

qreal RxView::Layout(int index, QTextLayout& layout, Slice* sliceOut) const {
    const std::string& bytes = lines_[static_cast<std::size_t>(index)];
    QString text;
    Slice slice;
    if (wrap_ == NoWrap && !utf8_) {
        // A line can hold thousands of characters; only those in the viewport are laid out
        // (and turned into text).
        slice = SliceShown(bytes);
        text = ToText(std::string_view(bytes).substr(static_cast<std::size_t>(slice.first),
                                                     static_cast<std::size_t>(slice.count)));
    } else {
        text = TextOf(bytes);
        if (wrap_ == NoWrap) {
            slice = SliceShown(text);
            text = text.mid(slice.first, slice.count);
        } else {
            slice.count = static_cast<int>(text.size());
        }
    }
    if (sliceOut) *sliceOut = slice;
    // Colours and attributes sent by the board, cut to the slice shown.
    if (const auto it = styles_.find(firstNumber_ + index); it != styles_.end()) {
        QList<QTextLayout::FormatRange> formats;
        for (const StyleRun& run : it->second) {
            const int begin = std::max(static_cast<int>(run.start), slice.first);
            const int end =
                std::min(static_cast<int>(run.start + run.length), slice.first + slice.count);
            if (end <= begin) continue;
            formats.push_back({begin - slice.first, end - begin, FormatOf(run.style)});
        }
        layout.setFormats(formats);
    }
    QTextOption option;
    option.setWrapMode(wrap_ == WidgetWidth ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                            : QTextOption::NoWrap);
    option.setTabStopDistance(8.0 * CharWidth());
    layout.setText(text);
    layout.setFont(font());
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    const qreal width = wrap_ == WidgetWidth ? TextWidth() : 1e7;
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine row = layout.createLine(); row.isValid(); row = layout.createLine()) {
        row.setLineWidth(width);
        row.setPosition(QPointF(0, height));
        height += row.height();
    }
    layout.endLayout();
    return std::max<qreal>(height, LineHeight());
}

void RxView::UpdateBars() {
    settingBars_ = true;
    const int count = LineCount();
    const int viewHeight = std::max(viewport()->height() - 2 * kMargin, 1);
    int last = 0;  // the highest first line that still fills the view
    int page = std::max(viewHeight / LineHeight(), 1);
    if (wrap_ == NoWrap) {
        last = std::max(count - page, 0);
    } else {
        // Wrapped lines take several rows: lay out the last lines until the view is full.
        qreal used = 0;
        int fit = 0;
        for (int i = count - 1; i >= 0; --i) {
            QTextLayout layout;
            used += Layout(i, layout, nullptr);
            if (used > viewHeight && fit > 0) break;
            ++fit;
        }
        last = std::max(count - fit, 0);
    }
    QScrollBar* v = verticalScrollBar();
    v->setPageStep(page);
    v->setRange(0, last);
    QScrollBar* h = horizontalScrollBar();
    if (wrap_ == NoWrap) {
        const auto wide = static_cast<std::int64_t>(std::ceil(widestPixels_)) + 2 * kMargin;
        const std::int64_t over = wide - viewport()->width();
        h->setRange(0, static_cast<int>(std::clamp<std::int64_t>(over, 0, 1 << 30)));
        h->setPageStep(viewport()->width());
        h->setSingleStep(CharWidth());
    } else {
        h->setRange(0, 0);
    }
    if (follow_) {
        v->setValue(v->maximum());
    } else {
        v->setValue(
            static_cast<int>(std::clamp<std::int64_t>(topNumber_ - firstNumber_, 0, v->maximum())));
    }
    topNumber_ = firstNumber_ + v->value();
    settingBars_ = false;
}

void RxView::Refresh() {
    refreshTimer_.stop();
    UpdateBars();
    const std::int64_t top = firstNumber_ + verticalScrollBar()->value();
    const int hValue = horizontalScrollBar()->value();
    const int rowHeight = LineHeight();
    const int rows = viewport()->height() / rowHeight + 1;
    // Unwrapped rows all have one height, so when the text only moved up and changed below
    // some line, the picture moves the same way: the pixels that are still right are moved,
    // and only the rows that changed are drawn again. A stream that adds a few lines per
    // frame then costs a few rows of text per frame, not a whole window of it.
    jumping_ = follow_ && top - paintedTop_ >= rows;
    const bool moveOnly = !repaintAll_ && wrap_ == NoWrap && hValue == paintedH_ &&
                          top >= paintedTop_ && top - paintedTop_ < rows;
    if (moveOnly) {
        const auto shift = static_cast<int>(top - paintedTop_);
        if (shift > 0) viewport()->scroll(0, -shift * rowHeight);
        if (changedFrom_ != kNothingChanged) {
            const std::int64_t row = std::max<std::int64_t>(changedFrom_ - top, 0);
            if (row < rows) {
                const int y = kMargin + static_cast<int>(row) * rowHeight;
                viewport()->update(QRect(0, y, viewport()->width(), viewport()->height() - y));
            }
        }
    } else {
        viewport()->update();
    }
    paintedTop_ = top;
    paintedH_ = hValue;
    changedFrom_ = kNothingChanged;
    repaintAll_ = false;
}

void RxView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QPalette pal = palette();
    const QRect area = event->rect();
    painter.fillRect(area, pal.color(QPalette::Base));
    painter.setPen(pal.color(QPalette::Text));
    const int count = LineCount();
    const Place from = std::min(anchor_, cursor_);
    const Place to = std::max(anchor_, cursor_);
    const bool selection = hasSelection();
    QTextCharFormat selected;
    selected.setBackground(pal.brush(QPalette::Highlight));
    selected.setForeground(pal.brush(QPalette::HighlightedText));
    const int rowHeight = LineHeight();
    qreal y = kMargin;
    for (int i = verticalScrollBar()->value(); i < count && y <= area.bottom(); ++i) {
        if (wrap_ == NoWrap && y + rowHeight <= area.top()) {
            y += rowHeight;  // above what needs drawing
            continue;
        }
        QTextLayout layout;
        Slice slice;
        const qreal laidOut = Layout(i, layout, &slice);
        const int firstColumn = slice.first;
        const qreal height = wrap_ == NoWrap ? rowHeight : laidOut;
        QList<QTextLayout::FormatRange> ranges;
        AddMatchRanges(i, firstColumn, ranges);
        const std::int64_t number = firstNumber_ + i;
        if (selection && number >= from.line && number <= to.line) {
            const int length = LengthOf(i);
            const int begin = number == from.line ? std::min(from.column, length) : 0;
            // A whole line selected shows its end too, as one blank cell.
            const int end = number == to.line ? std::min(to.column, length) : length + 1;
            QTextLayout::FormatRange range;
            range.start = begin - firstColumn;
            range.length = end - begin;
            range.format = selected;
            if (range.start < 0) {
                range.length += range.start;
                range.start = 0;
            }
            if (range.length > 0) ranges.push_back(range);
        }
        const qreal x =
            wrap_ == NoWrap ? kMargin + slice.x - horizontalScrollBar()->value() : kMargin;
        layout.draw(&painter, QPointF(x, y), ranges);
        y += height;
    }
}

void RxView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    repaintAll_ = true;
    Refresh();
}

void RxView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) UpdateAdvances();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        repaintAll_ = true;
        Refresh();
    }
}

void RxView::scrollContentsBy(int, int) {
    // While the refresh sets the bars it also decides what to draw again.
    if (settingBars_) return;
    // The user moved the view: follow the end only while it is shown.
    QScrollBar* v = verticalScrollBar();
    follow_ = v->value() >= v->maximum();
    topNumber_ = firstNumber_ + v->value();
    paintedTop_ = topNumber_;
    paintedH_ = horizontalScrollBar()->value();
    viewport()->update();
}

void RxView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Selecting with the mouse

RxView::Place RxView::PlaceAt(const QPoint& point) const {
    const int count = LineCount();
    if (count == 0) return Place{firstNumber_, 0};
    qreal y = kMargin;
    for (int i = verticalScrollBar()->value(); i < count; ++i) {
        QTextLayout layout;
        Slice slice;
        const qreal laidOut = Layout(i, layout, &slice);
        const int firstColumn = slice.first;
        const qreal height = wrap_ == NoWrap ? LineHeight() : laidOut;
        if (point.y() < y + height || i == count - 1) {
            const int length = LengthOf(i);
            int column = length;
            if (point.y() >= y) {
                const qreal x =
                    wrap_ == NoWrap ? kMargin + slice.x - horizontalScrollBar()->value() : kMargin;
                for (int r = 0; r < layout.lineCount(); ++r) {
                    const QTextLine row = layout.lineAt(r);
                    if (point.y() - y < row.y() + row.height() || r == layout.lineCount() - 1) {
                        column = firstColumn + row.xToCursor(point.x() - x);
                        break;
                    }
                }
            } else {
                column = 0;  // above the first line shown
            }
            return Place{firstNumber_ + i, std::clamp(column, 0, length)};
        }
        y += height;
    }
    return LastPlace();
}

void RxView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const Place at = PlaceAt(event->position().toPoint());
    cursor_ = at;
    if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = at;
    selecting_ = true;
    viewport()->update();
}

void RxView::mouseMoveEvent(QMouseEvent* event) {
    if (!selecting_ || !(event->buttons() & Qt::LeftButton)) return;
    const QPoint point = event->position().toPoint();
    // Dragging past an edge scrolls, so a selection can reach beyond the view.
    QScrollBar* v = verticalScrollBar();
    if (point.y() < 0) v->setValue(v->value() - 1);
    if (point.y() > viewport()->height()) v->setValue(v->value() + 1);
    cursor_ = PlaceAt(point);
    viewport()->update();
}

void RxView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) selecting_ = false;
    QAbstractScrollArea::mouseReleaseEvent(event);
}

}  // namespace corvel
