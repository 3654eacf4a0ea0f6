#pragma once
// The help window: four panels of static pages (about, FTDI adapters, RTS/CTS wiring, file
// transfers) chosen by a row of picture buttons. It keeps no state beyond the panel shown and
// reads or writes nothing.

#include <QDialog>
#include <QPixmap>
#include <QPushButton>
#include <QString>
#include <functional>

class QLabel;
class QTabWidget;

namespace corvel {

// A large button with its caption above its picture.
class HelpPictureButton : public QPushButton {
    Q_OBJECT
  public:
    HelpPictureButton(const QString& caption, const QPixmap& picture, QWidget* parent = nullptr);
    const QPixmap& picture() const { return picture_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap picture_;
};

// One of the help pictures (the file name without folder or extension, e.g. "wiring") drawn at
// size; a null pixmap when there is no such picture.
QPixmap HelpPicture(const QString& name, QSize size);

class TfrmHelp : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmHelp(QWidget* parent = nullptr);

    void FormCreate();
    void Button2Click();
    void Button3Click();
    void Button1Click();
    void Button5Click();
    void Button4Click();

    // --- Controls (object names equal these member names) ---
    HelpPictureButton* Button2 = nullptr;  // "About"
    HelpPictureButton* Button3 = nullptr;  // "FTDI"
    HelpPictureButton* Button1 = nullptr;  // "RTS/CTS"
    HelpPictureButton* Button5 = nullptr;  // "File Sharing"
    HelpPictureButton* Button4 = nullptr;  // "Exit"
    QWidget* pnlAbaut = nullptr;
    QWidget* pnlFTDI = nullptr;
    QWidget* pnlRTS = nullptr;
    QWidget* pnlFiles = nullptr;
    QTabWidget* pgCtrlAbaut = nullptr;
    QTabWidget* rgCtrlFTDI = nullptr;
    QTabWidget* pgCtrlRTS = nullptr;
    QTabWidget* pgCtrlFile = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void ShowPanel(QWidget* panel);
    bool centred_ = false;
};

// Shows the help window modally and destroys it when it closes. modal replaces exec() (tests
// use it to look at the window and close it without blocking).
void ShowHelpWindow(QWidget* parent, const std::function<void(TfrmHelp&)>& modal = {});

// For window tests that press the Help button: while set, ShowHelpWindow calls this instead of
// exec() when no modal function is passed. Returns the previous one.
std::function<void(TfrmHelp&)> SetHelpModalRunForTests(std::function<void(TfrmHelp&)> run);

}  // namespace corvel
