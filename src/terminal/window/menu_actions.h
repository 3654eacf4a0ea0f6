#pragma once
// Popup menus of the window's boxes: made on first use, each command run under the error report.

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QWidget>
#include <functional>

#include "terminal/window/font_choice.h"

namespace corvel {

// Marks the commands that open a dialog (a file or font chooser, a question): a dialog runs its
// own event loop inside whatever is pumping, and a transfer that pumps would stop reading the
// port until it closed, so they are offered only while dialogsAllowed says so.
inline constexpr const char* kOpensDialogProperty = "corvelOpensDialog";

// The popup menu of box, made (as a child of owner) on the first call and emptied on later ones;
// call it once per menu.
inline QMenu* PopupMenuFor(QWidget* owner, QMenu*& menu, QWidget* box, const char* name,
                           std::function<bool()> dialogsAllowed) {
    if (!menu) {
        menu = new QMenu(owner);
        menu->setObjectName(name);
        box->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(box, &QWidget::customContextMenuRequested, menu,
                         [box, menu](const QPoint& pos) { menu->popup(box->mapToGlobal(pos)); });
    }
    menu->clear();
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, dialogsAllowed] {
        const bool allowed = !dialogsAllowed || dialogsAllowed();
        for (QAction* a : menu->actions())
            if (a->property(kOpensDialogProperty).toBool()) a->setEnabled(allowed);
    });
    return menu;
}

enum class OpensDialog { No, Yes };

// Adds a command that calls fn on self; an error it throws is reported, never passed to the
// toolkit.
template <typename T>
void AddReportedAction(T* self, Dialogs& dialogs, QWidget* parent, QMenu* menu, const char* caption,
                       const char* name, void (T::*fn)(), OpensDialog opens = OpensDialog::No) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(name);
    a->setProperty(kOpensDialogProperty, opens == OpensDialog::Yes);
    QObject::connect(a, &QAction::triggered, self, [self, &dialogs, parent, fn] {
        RunReported(dialogs, parent, [self, fn] { (self->*fn)(); });
    });
}

}  // namespace corvel
