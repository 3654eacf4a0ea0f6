#include "terminal/window/display_menus.h"

#include <QAction>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMenu>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFragment>

#include <tuple>

#include "host/codepage.h"
#include "terminal/styled_save.h"
#include "terminal/whole_file.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/font_choice.h"
#include "terminal/window/menu_actions.h"
#include "terminal/window/rx_view.h"
#include "terminal/window/terminal.h"

namespace corvel {

namespace {

constexpr const char* kTextFilter = "Text files (*.txt);;All files (*)";
constexpr const char* kRtfFilter = "Rich Text Format (*.rtf);;All files (*)";
constexpr const char* kFixedFace = "Lucida Console";
constexpr int kFixedSize = 10;
constexpr int kDefaultCharSet = 1;

// The lines of a receive window: bytes shown as Latin-1 characters.
std::vector<std::string> LinesOf(const LineBox& box) {
    std::vector<std::string> lines;
    const int count = box.LineCount();
    lines.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) lines.push_back(Latin1ToUtf8(box.Line(i)));
    return lines;
}

std::vector<std::string> LinesOf(const QTextDocument& doc) {
    std::vector<std::string> lines;
    if (doc.isEmpty()) return lines;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        lines.push_back(b.text().toStdString());
    return lines;
}

void WritePlain(const QString& path, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += Utf8ToAnsi(line);
        bytes += "\r\n";
    }
    ReplaceFileContent(path.toStdString(), bytes);
}

Rgb RgbOf(const QColor& color) {
    const QColor c = color.toRgb();
    return Rgb{static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
               static_cast<std::uint8_t>(c.blue())};
}

RtfDocumentFont DocumentFont(const FontRecord& font) {
    RtfDocumentFont f;
    f.name = font.name;
    f.sizePoints = font.size;
    return f;
}

}  // namespace

DisplayMenus::DisplayMenus(TfrmTerminal& window)
    : QObject(&window),
      w(window),
      rxView_(window.memoUart->viewport()),
      logView_(window.memoLog->viewport()) {
    setObjectName("displayMenus");
    BuildMenus();
    rxView_->installEventFilter(this);
    logView_->installEventFilter(this);
}

void DisplayMenus::BuildMenus() {
    auto menuFor = [this](QMenu*& menu, QWidget* box, const char* name) {
        return PopupMenuFor(&w, menu, box, name, [this] { return !w.fileTransferActive; });
    };
    auto add = [this](QMenu* menu, const char* caption, const char* name,
                      void (DisplayMenus::*fn)(), OpensDialog opens = OpensDialog::No) {
        AddReportedAction(this, w.dialogs(), &w, menu, caption, name, fn, opens);
    };
    constexpr OpensDialog kDialog = OpensDialog::Yes;

    QMenu* rx = menuFor(w.popMenu1, w.memoUart, "popMenu1");
    add(rx, "Limpar", "Limpar2", &DisplayMenus::Limpar2Click);
    add(rx, "Copiar", "copiar1", &DisplayMenus::copiar1Click);
    add(rx, "Selecionar Tudo", "SelecionarTudo", &DisplayMenus::SelecionarTudoClick);
    rx->addSeparator();
    add(rx, "Salvar", "Salvar2", &DisplayMenus::Salvar2Click, kDialog);
    add(rx, "Savar com Formatação", "SavarcomFormatao1", &DisplayMenus::SavarcomFormatao1Click,
        kDialog);
    rx->addSeparator();
    add(rx, "Fonte", "Fonte1", &DisplayMenus::Fonte1Click, kDialog);
    add(rx, "Cor", "Cor1", &DisplayMenus::Cor1Click, kDialog);
    add(rx, "Padrão de Fonte e Cores 1", "Padrao1", &DisplayMenus::Padrao1Click);
    add(rx, "Padrão de Fonte e Cores 2", "Padrao2", &DisplayMenus::Padrao2Click);
    add(rx, "Fixed-pitch Font", "FixedPitch", &DisplayMenus::FixedPitchClick);
    rx->addSeparator();
    // How the board's text is read; each is kept in the settings file.
    const RxTextOptions& text = w.rxRender->TextOptions();
    for (auto [caption, name, fn, on] :
         {std::tuple{"UTF-8 Text", "TextUtf8", &DisplayMenus::TextUtf8Click, text.utf8},
          std::tuple{"ANSI Colours", "TextColours", &DisplayMenus::TextColoursClick, text.colours},
          std::tuple{"TAB Stops", "TextTabs", &DisplayMenus::TextTabsClick, text.tabs}}) {
        add(rx, caption, name, fn);
        QAction* a = rx->findChild<QAction*>(name);
        a->setCheckable(true);
        a->setChecked(on);
    }

    QMenu* side = menuFor(w.popMenu3, w.memoUartAux, "popMenu3");
    add(side, "Limpar", "Limpar1", &DisplayMenus::Limpar1Click);
    add(side, "Salvar", "Salvar1", &DisplayMenus::Salvar1Click, kDialog);

    QMenu* log = menuFor(w.popMenu2, w.memoLog, "popMenu2");
    add(log, "Limpar", "Limpar3", &DisplayMenus::Limpar3Click);
    add(log, "Copiar", "Copiar2", &DisplayMenus::Copiar2Click);
    add(log, "Selecionar Tudo", "SelecionarTudo1", &DisplayMenus::SelecionarTudo1Click);
    log->addSeparator();
    add(log, "Salvar", "Salvar3", &DisplayMenus::Salvar3Click, kDialog);
    add(log, "Salvar com Formatação", "SalvarcomFormatao1", &DisplayMenus::SalvarcomFormatao1Click,
        kDialog);
    log->addSeparator();
    add(log, "Fonte", "Fonte2", &DisplayMenus::Fonte2Click, kDialog);
    add(log, "Padrão de Fonte", "Padro21", &DisplayMenus::Padro21Click);
    add(log, "Cor", "cor2", &DisplayMenus::cor2Click, kDialog);
}

bool DisplayMenus::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == rxView_) {
            Limpar2Click();
            return true;
        }
        if (watched == logView_) {
            Limpar3Click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

QString DisplayMenus::AskSavePath(const QString& title) {
    return w.dialogs().SaveFile(&w, title, kTextFilter, QString(), "txt");
}

// ---------------------------------------------------------------------------------------------
// Receive window

void DisplayMenus::Limpar2Click() {
    w.ClearRx();
    w.memoUartAuxBox()->Clear();
}

void DisplayMenus::copiar1Click() {
    w.memoUart->copy();
}

void DisplayMenus::SelecionarTudoClick() {
    w.memoUart->selectAll();
}

void DisplayMenus::Salvar2Click() {
    const QString path = AskSavePath("Salvar");
    if (!path.isEmpty()) SaveReceivePlain(path);
}

void DisplayMenus::SavarcomFormatao1Click() {
    // Rich text saved under a ".txt" name would open as raw markup: it gets ".rtf".
    const QString path = w.dialogs().SaveFile(&w, QString::fromUtf8("Savar com Formatação"),
                                              kRtfFilter, QString(), "rtf");
    if (!path.isEmpty()) SaveReceiveRtf(path);
}

void DisplayMenus::SaveReceivePlain(const QString& path) const {
    const LineBox& box = *w.memoUartBox();
    if (!w.rxRender->TextOptions().utf8) {
        WritePlain(path, LinesOf(box));
        return;
    }
    // Text read as UTF-8 is saved as UTF-8: the code page could not hold most of it.
    std::string bytes;
    for (int i = 0; i < box.LineCount(); ++i) {
        bytes += ShownText(box.Line(i), true);
        bytes += "\r\n";
    }
    ReplaceFileContent(path.toStdString(), bytes);
}

void DisplayMenus::SaveReceiveRtf(const QString& path) const {
    const FontRecord& font = w.memoUartFont;
    BaseLook base;
    base.text = ColorToRgb(font.color);
    base.window = RgbOf(TfrmTerminal::ToQColor(w.memoUartColor));
    base.bold = font.style & kFontBold;
    base.italic = font.style & kFontItalic;
    base.underline = font.style & kFontUnderline;
    base.strike = font.style & kFontStrikeOut;
    const LineBox& box = *w.memoUartBox();
    const bool utf8 = w.rxRender->TextOptions().utf8;
    std::vector<RtfLine> lines;
    lines.reserve(static_cast<std::size_t>(box.LineCount()));
    for (int i = 0; i < box.LineCount(); ++i)
        lines.push_back(StyledRuns(box.Line(i), utf8, box.GetLineStyle(i), base));
    ReplaceFileContent(path.toStdString(), WriteRtf(lines, DocumentFont(font)));
}

void DisplayMenus::Fonte1Click() {
    if (!ChooseFontRecord(w.dialogs(), &w, w.memoUartFont)) return;
    w.ApplyRxAppearance();
    w.clockHighColor = w.memoUartFont.color;
    w.ApplyClockColors();
}

void DisplayMenus::Cor1Click() {
    if (!ChooseColorValue(w.dialogs(), &w, w.memoUartColor)) return;
    w.ApplyRxAppearance();
    w.clockLowColor = w.memoUartColor;
    w.ApplyClockColors();
}

void DisplayMenus::FixedPitchClick() {
    // The system's own fixed-pitch face, so hex dumps and a board's tables line up.
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // The system's name is often an alias ("monospace"): the face it stands for is stored, and
    // should it not be fixed-pitch after all, the first face that is.
    QString family = QFontInfo(fixed).family();
    const QFontMetrics metrics{QFont(family)};
    if (metrics.horizontalAdvance('i') != metrics.horizontalAdvance('W')) {
        for (const QString& f : QFontDatabase::families()) {
            if (QFontDatabase::isFixedPitch(f)) {
                family = f;
                break;
            }
        }
    }
    w.memoUartFont.name = family.toStdString();
    if (fixed.pointSize() > 0) w.memoUartFont.size = fixed.pointSize();
    w.ApplyRxAppearance();
}

void DisplayMenus::SetTextOption(bool RxTextOptions::*option, const char* action) {
    RxTextOptions text = w.rxRender->TextOptions();
    text.*option = w.popMenu1->findChild<QAction*>(action)->isChecked();
    w.rxRender->SetTextOptions(text);
}

void DisplayMenus::TextUtf8Click() {
    SetTextOption(&RxTextOptions::utf8, "TextUtf8");
}

void DisplayMenus::TextColoursClick() {
    SetTextOption(&RxTextOptions::colours, "TextColours");
}

void DisplayMenus::TextTabsClick() {
    SetTextOption(&RxTextOptions::tabs, "TextTabs");
}

void DisplayMenus::ApplyFixedStyle(const FixedStyle& style) {
    w.memoUartColor = style.background;
    // The style bits stay: a bold or italic face chosen earlier survives the preset.
    w.memoUartFont.charSet = kDefaultCharSet;
    w.memoUartFont.color = style.fontColor;
    w.memoUartFont.name = kFixedFace;
    w.memoUartFont.size = kFixedSize;
    w.ApplyRxAppearance();
    w.clockHighColor = style.clockHigh;
    w.clockLowColor = style.clockLow;
    w.ApplyClockColors();
}

void DisplayMenus::Padrao1Click() {
    ApplyFixedStyle({0x00FF0000, 0x0000FFFF, 0x0000FFFF, 0x00FF0000});
}

void DisplayMenus::Padrao2Click() {
    ApplyFixedStyle({0x00C0C0C0, 0x00000000, 0x00000001, 0x00808080});
}

// ---------------------------------------------------------------------------------------------
// Side-column window

void DisplayMenus::Limpar1Click() {
    w.memoUartAuxBox()->Clear();
}

void DisplayMenus::Salvar1Click() {
    const QString path = AskSavePath("Salvar");
    if (!path.isEmpty()) SaveSidePlain(path);
}

void DisplayMenus::SaveSidePlain(const QString& path) const {
    WritePlain(path, LinesOf(*w.memoUartAuxBox()));
}

// ---------------------------------------------------------------------------------------------
// Log window

void DisplayMenus::Limpar3Click() {
    w.memoLog->clear();
}

void DisplayMenus::Copiar2Click() {
    w.memoLog->copy();
}

void DisplayMenus::SelecionarTudo1Click() {
    w.memoLog->selectAll();
}

void DisplayMenus::Salvar3Click() {
    const QString path = AskSavePath("Salvar");
    if (!path.isEmpty()) SaveLogPlain(path);
}

void DisplayMenus::SalvarcomFormatao1Click() {
    const QString path = w.dialogs().SaveFile(&w, QString::fromUtf8("Salvar com Formatação"),
                                              kRtfFilter, QString(), "rtf");
    if (!path.isEmpty()) SaveLogRtf(path);
}

void DisplayMenus::SaveLogPlain(const QString& path) const {
    WritePlain(path, LinesOf(*w.memoLog->document()));
}

std::vector<RtfLine> DisplayMenus::LogRuns() const {
    std::vector<RtfLine> lines;
    const QTextDocument* doc = w.memoLog->document();
    if (doc->isEmpty()) return lines;
    const FontRecord& font = w.memoLogFont;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        RtfLine line;
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || fragment.text().isEmpty()) continue;
            const QTextCharFormat f = fragment.charFormat();
            // What a line does not set itself comes from the window's font.
            RtfRun run;
            run.text = fragment.text().toStdString();
            run.color = f.foreground().style() != Qt::NoBrush ? RgbOf(f.foreground().color())
                                                              : ColorToRgb(font.color);
            run.bold = f.hasProperty(QTextFormat::FontWeight) ? f.fontWeight() >= QFont::Bold
                                                              : (font.style & kFontBold) != 0;
            run.italic = f.hasProperty(QTextFormat::FontItalic) ? f.fontItalic()
                                                                : (font.style & kFontItalic) != 0;
            run.underline = f.hasProperty(QTextFormat::FontUnderline)
                                ? f.fontUnderline()
                                : (font.style & kFontUnderline) != 0;
            run.strike = f.hasProperty(QTextFormat::FontStrikeOut)
                             ? f.fontStrikeOut()
                             : (font.style & kFontStrikeOut) != 0;
            line.push_back(std::move(run));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

void DisplayMenus::SaveLogRtf(const QString& path) const {
    ReplaceFileContent(path.toStdString(), WriteRtf(LogRuns(), DocumentFont(w.memoLogFont)));
}

void DisplayMenus::Fonte2Click() {
    // The log's text colour is the colour of normal messages.
    if (!ChooseFontRecord(w.dialogs(), &w, w.memoLogFont, w.ColorMessage)) return;
    w.ColorMessage = w.memoLogFont.color;
    w.ApplyLogAppearance();
}

void DisplayMenus::Padro21Click() {
    w.memoLogColor = 0x00FFFFFF;
    w.memoLogFont.charSet = kDefaultCharSet;
    w.memoLogFont.color = w.ColorMessage;
    w.memoLogFont.name = "Tahoma";
    w.memoLogFont.size = 9;
    w.memoLogFont.style = kFontBold;
    w.ApplyLogAppearance();
}

void DisplayMenus::cor2Click() {
    if (ChooseColorValue(w.dialogs(), &w, w.memoLogColor)) w.ApplyLogAppearance();
}

}  // namespace corvel
