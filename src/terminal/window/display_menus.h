#pragma once
// The context menus of the three text windows (receive window popMenu1, side-column window
// popMenu3, log window popMenu2): clearing (also by double-click in the receive and log
// windows), copying, selecting, saving as plain text or Rich Text Format, fonts, colours and the
// fixed styles. The look chosen for the receive window is shared by the side-column window, the
// send box and the clock.
//
// Saving throws FileError when the file cannot be written; the menu reports it in the error box
// and the window's text stays as it was.

#include <QObject>
#include <QString>
#include <string>
#include <vector>

#include "terminal/rtf_writer.h"
#include "terminal/rx_render.h"

class QAction;
class QMenu;
class QWidget;

namespace corvel {

class TfrmTerminal;

class DisplayMenus : public QObject {
    Q_OBJECT
  public:
    // Fills popMenu1, popMenu2 and popMenu3 and connects them and the double-clicks. The window
    // must delete this object before its own destruction takes its widgets apart.
    explicit DisplayMenus(TfrmTerminal& window);

    // popMenu1: receive window.
    void Limpar2Click();
    void copiar1Click();
    void SelecionarTudoClick();
    void Salvar2Click();
    void SavarcomFormatao1Click();
    void Fonte1Click();
    void Cor1Click();
    void Padrao1Click();
    void Padrao2Click();
    void FixedPitchClick();
    void TextUtf8Click();
    void TextColoursClick();
    void TextTabsClick();
    // popMenu3: side-column window.
    void Limpar1Click();
    void Salvar1Click();
    // popMenu2: log window.
    void Limpar3Click();
    void Copiar2Click();
    void SelecionarTudo1Click();
    void Salvar3Click();
    void SalvarcomFormatao1Click();
    void Fonte2Click();
    void Padro21Click();
    void cor2Click();

    // What the saves write, without the dialog. Lines are UTF-8.
    void SaveReceivePlain(const QString& path) const;
    void SaveReceiveRtf(const QString& path) const;
    void SaveSidePlain(const QString& path) const;
    void SaveLogPlain(const QString& path) const;
    void SaveLogRtf(const QString& path) const;
    // The log window's lines as runs of their own colours and styles.
    std::vector<RtfLine> LogRuns() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct FixedStyle {
        std::int32_t background;
        std::int32_t fontColor;
        std::int32_t clockHigh;
        std::int32_t clockLow;
    };
    void BuildMenus();
    void ApplyFixedStyle(const FixedStyle& style);
    // The text option of the receive window that a checkable entry of popMenu1 stands for.
    void SetTextOption(bool RxTextOptions::*option, const char* action);
    // Runs the save dialog (default extension ".txt"); empty when dismissed.
    QString AskSavePath(const QString& title);

    TfrmTerminal& w;
    // The watched viewports, compared without going through the window.
    QWidget* rxView_;
    QWidget* logView_;
};

}  // namespace corvel
