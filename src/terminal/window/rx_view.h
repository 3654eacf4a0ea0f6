#pragma once
// The receive windows: a read-only text view that keeps its lines as bytes and draws only the
// lines on screen. A board can send hundreds of kilobytes a second for hours; a rich-text
// document lays out and stores every line it is given, which costs more than the whole receive
// path and grows without bound, so the view is the line store itself and layout happens only
// for what is painted.
//
// Writes change the store at once; the scroll bars, the following of the end and the painting
// are brought up to date at most once per frame (Refresh), so a flood of small chunks costs one
// repaint per frame, not one per chunk.
//
// The caret is where the last write ended; the user's clicks and selections never move it. While
// the user holds a selection, the selection and the view are left alone until it is dropped.

#include <QAbstractScrollArea>
#include <QString>
#include <QTextCharFormat>
#include <QTextLayout>
#include <QTimer>
#include <array>
#include <climits>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "terminal/line_box.h"

namespace corvel {

class ByteSearch;

class RxView : public QAbstractScrollArea, public LineBox {
    Q_OBJECT
  public:
    enum LineWrapMode { NoWrap, WidgetWidth };

    explicit RxView(QWidget* parent = nullptr);
    ~RxView() override;

    // LineBox
    int LineCount() const override;
    std::string Line(int index) const override;
    void ReplaceLine(int index, std::string_view text) override;
    void AppendLine(std::string_view text) override;
    void AppendLines(const std::vector<std::string>& lines) override;
    void RemoveLine(int index) override;
    void RemoveFirstLines(int count) override;
    void Clear() override;
    int CaretLine() const override;
    void Repaint() override;
    void ScrollToEnd() override;
    void SetLineStyle(int index, LineStyle style) override;
    LineStyle GetLineStyle(int index) const override;
    void SetUtf8(bool utf8) override;

    void setLineWrapMode(LineWrapMode mode);
    LineWrapMode lineWrapMode() const { return wrap_; }

    QString toPlainText() const;
    QString selectedText() const;
    bool hasSelection() const;
    // Index of the line where the selection starts; -1 without one.
    int SelectionLine() const;
    void clearSelection();
    void copy() const;
    void selectAll();

    // Every match of text in the lines shown is highlighted; an empty text highlights nothing.
    void SetSearch(const QString& text, bool matchCase);
    // Selects the next (or previous) match after the selection, or from the first line shown
    // when nothing is selected, going round the end, and scrolls to it. False when there is none.
    bool FindNext(bool backward);

    // Brings scroll bars, the followed end and the picture up to date now rather than at the
    // next frame.
    void Refresh();
    // True while a refresh is pending.
    bool RefreshPending() const { return refreshTimer_.isActive(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    // A place in the text: line numbers count every line ever written, so places survive the
    // oldest lines being dropped.
    struct Place {
        std::int64_t line = 0;
        int column = 0;
        bool operator==(const Place&) const = default;
        auto operator<=>(const Place&) const = default;
    };

    std::deque<std::string> lines_;
    // Styles of the lines that have any, by line number.
    std::map<std::int64_t, LineStyle> styles_;
    bool utf8_ = false;  // lines hold UTF-8 rather than Latin-1
    mutable std::unordered_map<char16_t, qreal> wideAdvance_;  // characters above U+00FF
    std::int64_t firstNumber_ = 0;                             // number of lines_[0]
    // Advance of every byte value in the current font, the widest of them, and the width of the
    // widest line since the last Clear.
    std::array<qreal, 256> advance_{};
    qreal maxAdvance_ = 1;
    qreal widestPixels_ = 0;
    int caretLine_ = 0;
    Place anchor_;
    Place cursor_;
    bool selecting_ = false;
    bool follow_ = true;
    std::int64_t topNumber_ = 0;  // first line shown while not following the end
    bool settingBars_ = false;
    // What the picture on screen shows, so a refresh can move it rather than draw it again.
    static constexpr std::int64_t kNothingChanged = INT64_MAX;
    std::int64_t paintedTop_ = 0;
    int paintedH_ = 0;
    std::int64_t changedFrom_ = kNothingChanged;  // first line written since the last refresh
    bool repaintAll_ = true;
    bool jumping_ = false;  // the last refresh moved the view by more than a window
    LineWrapMode wrap_ = WidgetWidth;
    QTimer refreshTimer_;
    std::unique_ptr<ByteSearch> search_;
    QString searchText_;
    bool searchCase_ = false;

    void ScheduleRefresh();
    void MarkChanged(std::int64_t number);
    void UpdateBars();
    // The characters of an unwrapped line that can show in the viewport: from column first,
    // count of them, the first standing x pixels from the start of the line.
    struct Slice {
        int first = 0;
        int count = 0;
        qreal x = 0;
    };

    int CharWidth() const;
    int LineHeight() const;
    int TextWidth() const;
    void UpdateAdvances();
    qreal Advance(QChar c) const;
    qreal LineWidth(std::string_view line) const;
    void NoteWidth(std::string_view line);
    // The slice of a line's text (or of its Latin-1 bytes, which are the same characters).
    Slice SliceShown(const QString& line) const;
    Slice SliceShown(std::string_view bytes) const;
    QString TextOf(std::string_view line) const;
    int LengthOf(int index) const;
    QTextCharFormat FormatOf(const TermStyle& style) const;
    // Lays out the line at index: the whole line when wrapping, else the slice of it that can
    // show in the viewport (returned in *slice). Returns the layout's height.
    qreal Layout(int index, QTextLayout& layout, Slice* slice) const;
    Place PlaceAt(const QPoint& point) const;
    void ClampSelection();
    Place LastPlace() const;
    // Builds search_ from searchText_ for the current encoding.
    void MakeSearch();
    // Highlights of the matches in the line at index, in the columns of a layout starting at
    // firstColumn.
    void AddMatchRanges(int index, int firstColumn, QList<QTextLayout::FormatRange>& ranges) const;
    int ColumnOf(int index, std::size_t byte) const;
    std::size_t ByteOf(int index, int column) const;
    void ShowPlace(Place from, Place to);
};

}  // namespace corvel
