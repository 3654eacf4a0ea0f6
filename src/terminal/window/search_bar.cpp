#include "terminal/window/search_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

#include "terminal/window/rx_view.h"
#include "terminal/window/send_control.h"
#include "terminal/window/terminal.h"

namespace corvel {

namespace {
// The log can hold many thousands of lines; highlighting more matches than a window shows buys
// nothing and costs a pass over the whole document per keystroke.
constexpr int kMaxLogHighlights = 2000;

// The box layout holding (directly) the layout that holds widget, and that layout's index.
std::pair<QBoxLayout*, int> HolderOf(QLayout* root, QWidget* widget) {
    if (!root) return {nullptr, -1};
    for (int i = 0; i < root->count(); ++i) {
        QLayout* child = root->itemAt(i)->layout();
        if (!child) continue;
        if (child->indexOf(widget) >= 0) return {qobject_cast<QBoxLayout*>(root), i};
        if (auto found = HolderOf(child, widget); found.first) return found;
    }
    return {nullptr, -1};
}

}  // namespace

SearchBar::SearchBar(TfrmTerminal& window) : QObject(&window), w(window) {
    pnlFind = new QWidget(&w);
    pnlFind->setObjectName("pnlFind");
    edtFind = new QLineEdit(pnlFind);
    edtFind->setObjectName("edtFind");
    edtFind->setPlaceholderText("Find");
    edtFind->setClearButtonEnabled(true);
    cbxFindIn = new QComboBox(pnlFind);
    cbxFindIn->setObjectName("cbxFindIn");
    cbxFindIn->addItems({"in received", "in log"});
    btnFindPrev = new QPushButton("Previous", pnlFind);
    btnFindPrev->setObjectName("btnFindPrev");
    btnFindNext = new QPushButton("Next", pnlFind);
    btnFindNext->setObjectName("btnFindNext");
    for (QPushButton* b : {btnFindPrev, btnFindNext}) b->setAutoDefault(false);
    cbxFindCase = new QCheckBox("Match case", pnlFind);
    cbxFindCase->setObjectName("cbxFindCase");
    lblFind = new QLabel(pnlFind);
    lblFind->setObjectName("lblFind");
    lblFind->setMinimumWidth(70);
    auto* close = new QToolButton(pnlFind);
    close->setObjectName("btnFindClose");
    close->setText("x");
    close->setToolTip("Close (Escape)");
    close->setAutoRaise(true);
    auto* row = new QHBoxLayout(pnlFind);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(edtFind, 1);
    row->addWidget(cbxFindIn);
    row->addWidget(btnFindPrev);
    row->addWidget(btnFindNext);
    row->addWidget(cbxFindCase);
    row->addWidget(lblFind);
    row->addWidget(close);
    pnlFind->hide();
    // Under the receive window, above the send line: opening it takes rows from the receive
    // window and never makes the window bigger.
    if (QWidget* top = w.findChild<QWidget*>("pnlTop")) {
        if (auto [holder, index] = HolderOf(top->layout(), w.memoUart); holder)
            holder->insertWidget(index + 1, pnlFind);
    }

    btnFindOpen = new QToolButton;
    btnFindOpen->setObjectName("btnFindOpen");
    btnFindOpen->setText("Find");
    btnFindOpen->setToolTip("Find in the received text or the log (F3)");
    btnFindOpen->setAutoRaise(true);
    if (QWidget* bar = w.findChild<QWidget*>("pnlMode"); bar && bar->layout())
        bar->layout()->addWidget(btnFindOpen);

    connect(btnFindOpen, &QToolButton::clicked, this, [this] {
        if (pnlFind->isVisible()) {
            Close();
        } else {
            Open(w.memoLog->hasFocus() ? 1 : 0);
        }
    });
    connect(close, &QToolButton::clicked, this, &SearchBar::Close);
    connect(btnFindNext, &QPushButton::clicked, this, [this] { Find(false); });
    connect(btnFindPrev, &QPushButton::clicked, this, [this] { Find(true); });
    connect(edtFind, &QLineEdit::textChanged, this, &SearchBar::Highlight);
    connect(cbxFindCase, &QCheckBox::toggled, this, &SearchBar::Highlight);
    connect(cbxFindIn, &QComboBox::currentIndexChanged, this, &SearchBar::Highlight);
    edtFind->installEventFilter(this);
    rxView_ = w.memoUart;
    rxView_->installEventFilter(this);

    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), &w);
    auto* prev = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), &w);
    for (QShortcut* s : {next, prev}) {
        connect(s, &QShortcut::activated, this, [this, backward = s == prev] {
            if (!pnlFind->isVisible() || edtFind->text().isEmpty()) {
                Open(w.memoLog->hasFocus() ? 1 : cbxFindIn->currentIndex());
                return;
            }
            Find(backward);
        });
    }
}

void SearchBar::Open(int target) {
    cbxFindIn->setCurrentIndex(target);
    pnlFind->show();
    edtFind->setFocus();
    edtFind->selectAll();
    Highlight();
}

void SearchBar::Close() {
    pnlFind->hide();
    // Under the receive window, above the send line: opening it takes rows from the receive
    // window and never makes the window bigger.
    if (QWidget* top = w.findChild<QWidget*>("pnlTop")) {
        if (auto [holder, index] = HolderOf(top->layout(), w.memoUart); holder)
            holder->insertWidget(index + 1, pnlFind);
    }
    w.memoUart->SetSearch({}, false);
    w.memoLog->setExtraSelections({});
    lblFind->clear();
    w.memoUart->setFocus();
}

bool SearchBar::Find(bool backward) {
    if (edtFind->text().isEmpty()) return false;
    Highlight();
    const bool found =
        cbxFindIn->currentIndex() == 1 ? FindInLog(backward) : w.memoUart->FindNext(backward);
    lblFind->setText(found ? QString() : QStringLiteral("Not found"));
    return found;
}

void SearchBar::Highlight() {
    lblFind->clear();
    const bool inLog = cbxFindIn->currentIndex() == 1;
    const QString text = pnlFind->isVisible() ? edtFind->text() : QString();
    w.memoUart->SetSearch(inLog ? QString() : text, cbxFindCase->isChecked());
    if (inLog) {
        HighlightLog();
    } else {
        w.memoLog->setExtraSelections({});
    }
}

bool SearchBar::FindInLog(bool backward) {
    QTextDocument::FindFlags flags;
    if (backward) flags |= QTextDocument::FindBackward;
    if (cbxFindCase->isChecked()) flags |= QTextDocument::FindCaseSensitively;
    const QString text = edtFind->text();
    if (w.memoLog->find(text, flags)) return true;
    // Round the end: from the other end of the log.
    QTextCursor cursor = w.memoLog->textCursor();
    const QTextCursor kept = cursor;
    cursor.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
    w.memoLog->setTextCursor(cursor);
    if (w.memoLog->find(text, flags)) return true;
    w.memoLog->setTextCursor(kept);
    return false;
}

void SearchBar::HighlightLog() {
    QList<QTextEdit::ExtraSelection> marks;
    const QString text = pnlFind->isVisible() ? edtFind->text() : QString();
    if (!text.isEmpty()) {
        QTextDocument::FindFlags flags;
        if (cbxFindCase->isChecked()) flags |= QTextDocument::FindCaseSensitively;
        QTextDocument* doc = w.memoLog->document();
        QTextCharFormat format;
        format.setBackground(QColor(255, 230, 80));
        format.setForeground(QColor(Qt::black));
        for (QTextCursor c = doc->find(text, 0, flags);
             !c.isNull() && marks.size() < kMaxLogHighlights; c = doc->find(text, c, flags))
            marks.push_back({c, format});
    }
    w.memoLog->setExtraSelections(marks);
}

bool SearchBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtFind && event->type() == QEvent::KeyPress) {
        const auto* ke = static_cast<QKeyEvent*>(event);
        if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) {
            Find(ke->modifiers() & Qt::ShiftModifier);
            return true;
        }
        if (ke->key() == Qt::Key_Escape) {
            Close();
            return true;
        }
    }
    // The receive window takes every key for the port, shortcuts included; F3 is the port's only
    // while terminal keys are sent, otherwise it finds here as elsewhere.
    if (watched == rxView_ && event->type() == QEvent::ShortcutOverride) {
        auto* ke = static_cast<QKeyEvent*>(event);
        const bool termKeys =
            w.sendControl && w.sendControl->cbxTermKeys && w.sendControl->cbxTermKeys->isChecked();
        if (ke->key() == Qt::Key_F3 && !termKeys) {
            ke->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace corvel
