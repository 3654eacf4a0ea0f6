#pragma once
// Popup menus of the window's boxes: made on first use, each command run under the error report.

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QWidget>

#include "terminal/window/font_choice.h"

namespace corvel {

// The popup menu of box, made (as a child of owner) on the first call and emptied on later ones.
inline QMenu* PopupMenuFor(QWidget* owner, QMenu*& menu, QWidget* box, const char* name) {
    if (!menu) {
        menu = new QMenu(owner);
        menu->setObjectName(name);
        box->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(box, &QWidget::customContextMenuRequested, menu,
                         [box, menu](const QPoint& pos) { menu->popup(box->mapToGlobal(pos)); });
    }
    menu->clear();
    return menu;
}

// Adds a command that calls fn on self; an error it throws is reported, never passed to the
// toolkit.
template <typename T>
void AddReportedAction(T* self, Dialogs& dialogs, QWidget* parent, QMenu* menu, const char* caption,
                       const char* name, void (T::*fn)()) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(name);
    QObject::connect(a, &QAction::triggered, self, [self, &dialogs, parent, fn] {
        RunReported(dialogs, parent, [self, fn] { (self->*fn)(); });
    });
}

}  // namespace corvel
