// The program's error report: an exception escaping an event handler becomes a message box with
// its text, and the program goes on.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <stdexcept>

#include "host/text_file.h"
#include "terminal/window/application.h"
#include "terminal/window/dialogs.h"

namespace corvel {
namespace {

class Thrower : public QObject {
  public:
    int handled = 0;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw FileError("/tmp/x.cmds", "cannot open", 2);
        if (e->type() == QEvent::User + 1) throw 42;
        if (e->type() == QEvent::User + 2) ++handled;
        return QObject::event(e);
    }
};

TEST(Application, EscapedErrorsAreReportedAndTheProgramGoesOn) {
    auto* app = dynamic_cast<CorvelApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    ScriptedDialogs dialogs;
    app->SetDialogs(&dialogs);
    Thrower t;
    QEvent user(QEvent::User);
    QCoreApplication::sendEvent(&t, &user);
    QCoreApplication::postEvent(&t, new QEvent(QEvent::Type(QEvent::User + 1)));
    QCoreApplication::postEvent(&t, new QEvent(QEvent::Type(QEvent::User + 2)));
    QCoreApplication::processEvents();
    app->SetDialogs(nullptr);

    ASSERT_EQ(dialogs.Errors().size(), 2u);
    EXPECT_TRUE(dialogs.Errors()[0].contains("/tmp/x.cmds"));
    EXPECT_TRUE(dialogs.Errors()[0].contains("cannot open"));
    EXPECT_EQ(dialogs.Errors()[1], "Unknown error");
    EXPECT_EQ(t.handled, 1);  // the event after the failures was still delivered
}

}  // namespace
}  // namespace corvel
