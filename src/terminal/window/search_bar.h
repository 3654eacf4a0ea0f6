#pragma once
// Find in the receive window or the log: a row under the receive window, opened by the "Find"
// button of the mode bar or by F3 (for the log while it has the focus). Enter and F3 find the
// next match, Shift+Enter and Shift+F3 the previous one, going round the end; every match in
// view is highlighted and the view moves to the one found. Escape closes the row.
//
// F3 is also a terminal key: while the receive window has the focus and sends terminal keys to
// the port, F3 goes to the port as before, and the row's buttons and Enter find.

#include <QObject>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QWidget;

namespace corvel {

class TfrmTerminal;

class SearchBar : public QObject {
    Q_OBJECT
  public:
    // Builds the row (hidden) and the mode bar's button; the window places the row.
    explicit SearchBar(TfrmTerminal& window);

    void Open(int target);  // 0: the receive window; 1: the log
    void Close();
    // Finds the next or previous match in the chosen window; false (and "Not found") when none.
    bool Find(bool backward);

    QWidget* pnlFind = nullptr;
    QToolButton* btnFindOpen = nullptr;  // in the mode bar
    QLineEdit* edtFind = nullptr;
    QComboBox* cbxFindIn = nullptr;
    QPushButton* btnFindPrev = nullptr;
    QPushButton* btnFindNext = nullptr;
    QCheckBox* cbxFindCase = nullptr;
    QLabel* lblFind = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Highlight();
    bool FindInLog(bool backward);
    void HighlightLog();

    TfrmTerminal& w;
    // The receive view as it was when the filter went on: events keep coming while the window is
    // torn down, when its members can no longer be read.
    QObject* rxView_ = nullptr;
};

}  // namespace corvel
