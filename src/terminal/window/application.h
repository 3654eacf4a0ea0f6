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

    // Inside a catch block: reports the exception being handled as notify() would. False when
    // the application is not a CorvelApplication (nobody to report to).
    static bool ReportCurrentException();

  private:
    void Report(const QString& text);
    static QString TextOfCurrentException();

    Dialogs* dialogs_ = nullptr;
    int errorsReported_ = 0;
    bool reporting_ = false;
};

// Runs a handler the toolkit called (a signal's slot): an error it throws is reported right here
// rather than unwinding through the toolkit's frames, which are not written for it and leak what
// they hold (the event of a mouse click, for one).
template <typename Fn>
void RunHandler(Fn&& fn) {
    try {
        fn();
    } catch (...) {
        if (!CorvelApplication::ReportCurrentException()) throw;
    }
}

}  // namespace corvel
