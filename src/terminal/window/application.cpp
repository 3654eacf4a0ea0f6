#include "terminal/window/application.h"

#include <QWidget>
#include <cstdio>
#include <exception>

#include "host/text_file.h"
#include "terminal/window/dialogs.h"

namespace corvel {

CorvelApplication::CorvelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool CorvelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        Report(TextOfCurrentException());
    }
    return false;
}

QString CorvelApplication::TextOfCurrentException() {
    try {
        throw;
    } catch (const FileError& e) {
        QString text = QString::fromUtf8(e.what());
        const QString path = QString::fromStdString(e.path());
        if (!path.isEmpty() && !text.contains(path)) text += QString(" (%1)").arg(path);
        return text;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return "Unknown error";
    }
}

bool CorvelApplication::ReportCurrentException() {
    auto* app = dynamic_cast<CorvelApplication*>(QCoreApplication::instance());
    if (!app) return false;
    app->Report(TextOfCurrentException());
    return true;
}

void CorvelApplication::Report(const QString& text) {
    ++errorsReported_;
    std::fprintf(stderr, "corvel: %s\n", text.toLocal8Bit().constData());
    // A report raised while the box of an earlier one is open goes to the console only.
    if (reporting_) return;
    reporting_ = true;
    QWidget* parent = activeWindow();
    if (dialogs_) {
        dialogs_->Error(parent, text);
    } else {
        QtDialogs dialogs;
        dialogs.Error(parent, text);
    }
    reporting_ = false;
}

}  // namespace corvel
