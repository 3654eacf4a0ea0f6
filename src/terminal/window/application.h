#pragma once
// The application object. An error that escapes an event handler (a file that cannot be read or
// written, typically) is shown to the user in a message box with its text, and the program goes
// on; nothing is lost but the one operation.

#include <QApplication>

namespace corvel {

class Dialogs;

class CorvelApplication : public QApplication {
  public:
    CorvelApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Where the error report goes; null = Qt's message box.
    void SetDialogs(Dialogs* dialogs) { dialogs_ = dialogs; }
    int ErrorsReported() const { return errorsReported_; }

  private:
    void Report(const QString& text);

    Dialogs* dialogs_ = nullptr;
    int errorsReported_ = 0;
    bool reporting_ = false;
};

}  // namespace corvel
