#pragma once
// The receive windows as LineBoxes: one text block per line of a QPlainTextEdit. This sits on the
// hot path (hundreds of kilobytes a second), so every operation touches only the blocks it
// needs: no whole-document text, and a chunk of lines goes in as one document edit.
//
// The caret follows what is written, unless the user holds a selection: then the widget's
// cursor (and so the selection and the view) is left alone until the selection is dropped.

#include <QObject>
#include <QTextCursor>

#include "terminal/line_box.h"

class QPlainTextEdit;

namespace corvel {

class QtLineBox : public QObject, public LineBox {
    Q_OBJECT
  public:
    explicit QtLineBox(QPlainTextEdit* edit);

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

    QPlainTextEdit* widget() const { return edit_; }

  private:
    // A document without characters is either no line or one empty line; this tells which.
    bool emptyDocIsALine_ = false;
    bool editing_ = false;
    QPlainTextEdit* edit_;
    QTextCursor cursor_;

    void AppendOne(std::string_view text, bool& haveLines);
    void PlaceCaret();
    void OnContentsChange();
};

}  // namespace corvel
