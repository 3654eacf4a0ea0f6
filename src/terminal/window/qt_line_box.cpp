#include "terminal/window/qt_line_box.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

namespace corvel {

namespace {

// A line is one text block, so characters the document takes as block breaks must not get in.
QString ToText(std::string_view bytes) {
    QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    for (QChar& c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0)) c = QLatin1Char(' ');
    }
    return text;
}

// RAII flag so the change signal of our own edits is told apart from outside edits.
struct Editing {
    explicit Editing(bool& flag) : flag_(flag) { flag_ = true; }
    ~Editing() { flag_ = false; }
    bool& flag_;
};

}  // namespace

QtLineBox::QtLineBox(QPlainTextEdit* edit) : QObject(edit), edit_(edit), cursor_(edit->document()) {
    QTextDocument* doc = edit_->document();
    // An undo history of a terminal stream only eats memory.
    doc->setUndoRedoEnabled(false);
    emptyDocIsALine_ = !doc->isEmpty();
    connect(doc, &QTextDocument::contentsChange, this,
            [this](int, int, int) { OnContentsChange(); });
}

void QtLineBox::OnContentsChange() {
    // Someone cleared the widget directly (setPlainText(""), clear()): that is no line at all.
    if (!editing_ && edit_->document()->isEmpty()) emptyDocIsALine_ = false;
}

int QtLineBox::LineCount() const {
    const QTextDocument* doc = edit_->document();
    if (doc->isEmpty()) return emptyDocIsALine_ ? 1 : 0;
    return doc->blockCount();
}

std::string QtLineBox::Line(int index) const {
    if (index < 0 || index >= LineCount()) return {};
    const QTextBlock block = edit_->document()->findBlockByNumber(index);
    return block.text().toLatin1().toStdString();
}

void QtLineBox::ReplaceLine(int index, std::string_view text) {
    if (index < 0 || index >= LineCount()) return;
    Editing guard(editing_);
    const QTextBlock block = edit_->document()->findBlockByNumber(index);
    cursor_.setPosition(block.position());
    cursor_.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    cursor_.insertText(ToText(text));
    emptyDocIsALine_ = true;
    PlaceCaret();
}

void QtLineBox::AppendOne(std::string_view text, bool& haveLines) {
    cursor_.movePosition(QTextCursor::End);
    if (haveLines) cursor_.insertBlock();
    if (!text.empty()) cursor_.insertText(ToText(text));
    haveLines = true;
}

void QtLineBox::AppendLine(std::string_view text) {
    Editing guard(editing_);
    bool haveLines = LineCount() > 0;
    AppendOne(text, haveLines);
    emptyDocIsALine_ = true;
    PlaceCaret();
}

void QtLineBox::AppendLines(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    Editing guard(editing_);
    // One text with paragraph separators goes in as one insertion: moving a cursor to the end
    // after each line would lay out (shape) every line received, visible or not.
    std::size_t size = lines.size();
    for (const std::string& line : lines) size += line.size();
    QString text;
    text.reserve(static_cast<qsizetype>(size));
    bool separate = LineCount() > 0;
    for (const std::string& line : lines) {
        if (separate) text += QChar(QChar::ParagraphSeparator);
        text += ToText(line);
        separate = true;
    }
    cursor_.movePosition(QTextCursor::End);
    cursor_.insertText(text);
    emptyDocIsALine_ = true;
    PlaceCaret();
}

void QtLineBox::RemoveLine(int index) {
    const int count = LineCount();
    if (index < 0 || index >= count) return;
    Editing guard(editing_);
    if (count == 1) {
        cursor_.select(QTextCursor::Document);
        cursor_.removeSelectedText();
        emptyDocIsALine_ = false;
        return;
    }
    QTextDocument* doc = edit_->document();
    const QTextBlock block = doc->findBlockByNumber(index);
    if (index + 1 < count) {
        // The block and the break after it.
        cursor_.setPosition(block.position());
        cursor_.setPosition(block.next().position(), QTextCursor::KeepAnchor);
    } else {
        // The last block and the break before it.
        const QTextBlock prev = block.previous();
        cursor_.setPosition(prev.position() + prev.length() - 1);
        cursor_.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    }
    cursor_.removeSelectedText();
    emptyDocIsALine_ = true;
}

void QtLineBox::RemoveFirstLines(int count) {
    const int total = LineCount();
    if (count <= 0 || total == 0) return;
    Editing guard(editing_);
    if (count >= total) {
        cursor_.select(QTextCursor::Document);
        cursor_.removeSelectedText();
        emptyDocIsALine_ = false;
        return;
    }
    // The lines and the break after the last of them, in one edit.
    cursor_.setPosition(0);
    cursor_.setPosition(edit_->document()->findBlockByNumber(count).position(),
                        QTextCursor::KeepAnchor);
    cursor_.removeSelectedText();
    emptyDocIsALine_ = true;
}

void QtLineBox::Clear() {
    Editing guard(editing_);
    edit_->document()->clear();
    // clear() may install a fresh layout; keep the cursor on this document.
    cursor_ = QTextCursor(edit_->document());
    emptyDocIsALine_ = false;
}

int QtLineBox::CaretLine() const {
    const int line =
        edit_->document()->findBlock(edit_->textCursor().selectionStart()).blockNumber();
    return line < 0 ? 0 : line;
}

void QtLineBox::PlaceCaret() {
    if (edit_->textCursor().hasSelection()) return;
    QTextCursor caret(cursor_);
    caret.clearSelection();
    edit_->setTextCursor(caret);
}

void QtLineBox::Repaint() {
    edit_->viewport()->update();
}

void QtLineBox::ScrollToEnd() {
    // The user is reading or copying a selection: leave the view where it is.
    if (edit_->textCursor().hasSelection()) return;
    QScrollBar* bar = edit_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

}  // namespace corvel
