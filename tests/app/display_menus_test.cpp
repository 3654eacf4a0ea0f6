// The context menus of the receive, side-column and log windows: clearing, saving as plain text
// and as Rich Text Format, fonts, colours and the fixed styles.

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

#include "host/text_file.h"
#include "terminal/window/display_menus.h"
#include "terminal/window/elapsed_clock.h"
#include "window_fixture.h"

namespace corvel {
namespace {

const QColor kGreen(0, 128, 0);

class MenusTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        Open();
        w->show();
        w->memoLog->clear();
    }
    void Receive(std::string_view bytes) {
        w->printf_ReceiveData(nullptr, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                              static_cast<std::int32_t>(bytes.size()));
    }
    std::vector<std::string> RxLines() const { return LinesOf(*w->memoUartBox()); }
    std::vector<std::string> AuxLines() const { return LinesOf(*w->memoUartAuxBox()); }
    static std::vector<std::string> LinesOf(const LineBox& box) {
        std::vector<std::string> out;
        for (int i = 0; i < box.LineCount(); ++i) out.push_back(box.Line(i));
        return out;
    }
    void Trigger(QMenu* menu, const char* name) {
        QAction* a = menu->findChild<QAction*>(name);
        ASSERT_NE(a, nullptr) << name;
        a->trigger();
    }
    // Runs a save entry of a menu with the dialog answering path; the file's bytes come back.
    QByteArray SaveWith(QMenu* menu, const char* name, const QString& file) {
        const QString path = tmp.filePath(file);
        dialogs.files.push_back(path);
        Trigger(menu, name);
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return "<missing>";
        return f.readAll();
    }
    static std::vector<QString> Captions(const QMenu* menu) {
        std::vector<QString> out;
        for (const QAction* a : menu->actions()) out.push_back(a->isSeparator() ? "-" : a->text());
        return out;
    }
    QColor Base(QWidget* widget) const { return widget->palette().color(QPalette::Base); }
    QColor Text(QWidget* widget) const { return widget->palette().color(QPalette::Text); }
    DisplayMenus& menus() { return *w->displayMenus; }
};

TEST_F(MenusTest, MenusCarryTheirCaptionsInOrder) {
    EXPECT_EQ(
        Captions(w->popMenu1),
        (std::vector<QString>{"Limpar", "Copiar", "Selecionar Tudo", "-", "Salvar",
                              QString::fromUtf8("Savar com Formatação"), "-", "Fonte", "Cor",
                              QString::fromUtf8("Padrão de Fonte e Cores 1"),
                              QString::fromUtf8("Padrão de Fonte e Cores 2"), "Fixed-pitch Font",
                              "-", "UTF-8 Text", "ANSI Colours", "TAB Stops"}));
    EXPECT_EQ(Captions(w->popMenu3), (std::vector<QString>{"Limpar", "Salvar"}));
    EXPECT_EQ(Captions(w->popMenu2),
              (std::vector<QString>{"Limpar", "Copiar", "Selecionar Tudo", "-", "Salvar",
                                    QString::fromUtf8("Salvar com Formatação"), "-", "Fonte",
                                    QString::fromUtf8("Padrão de Fonte"), "Cor"}));
}

TEST_F(MenusTest, DoubleClicksClearTheirOwnWindows) {
    w->cbxViewRX_HEX->setChecked(true);
    Receive("ab\ncd");
    w->print_Log(w->ColorMessage, "kept");
    ASSERT_EQ(RxLines(), (std::vector<std::string>{"ab", "cd"}));
    ASSERT_EQ(AuxLines().size(), 5u);

    // The receive window: it and the side window empty, the log stays.
    QTest::mouseDClick(w->memoUart->viewport(), Qt::LeftButton);
    EXPECT_TRUE(RxLines().empty());
    EXPECT_TRUE(AuxLines().empty());
    EXPECT_EQ(LogTexts(), std::vector<QString>{"kept"});
    // The line editor starts over: new text is the first line, not the rest of "cd".
    Receive("x");
    EXPECT_EQ(RxLines(), std::vector<std::string>{"x"});

    // "Limpar" of the side window empties only that one.
    Trigger(w->popMenu3, "Limpar1");
    EXPECT_TRUE(AuxLines().empty());
    EXPECT_EQ(RxLines(), std::vector<std::string>{"x"});

    QTest::mouseDClick(w->memoLog->viewport(), Qt::LeftButton);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(RxLines(), std::vector<std::string>{"x"});

    // Copy and select-all work on the window's own text.
    Trigger(w->popMenu1, "SelecionarTudo");
    EXPECT_EQ(w->memoUart->selectedText(), "x");
}

TEST_F(MenusTest, PlainTextSavesAreCrLfLinesInTheCodePage) {
    w->cbxViewRX_DEC->setChecked(true);
    // The five bytes without a character in the code page are kept too, as lists keep them.
    Receive("ab\n\xE9\x81\x8D\x8F\x90\x9D");
    EXPECT_EQ(SaveWith(w->popMenu1, "Salvar2", "rx.txt"), "ab\r\n\xE9\x81\x8D\x8F\x90\x9D\r\n");
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].kind, ScriptedDialogs::Kind::SaveFile);
    EXPECT_TRUE(dialogs.asked[0].filter.contains("*.txt"));

    const QByteArray aux = SaveWith(w->popMenu3, "Salvar1", "aux.txt");
    EXPECT_EQ(aux.count("\r\n"), 9);
    EXPECT_EQ(aux.count('\n'), 9);

    w->print_Log(w->ColorMessage, QString::fromUtf8("first € line"));
    w->print_Log(w->ColorError, "second");
    EXPECT_EQ(SaveWith(w->popMenu2, "Salvar3", "log.txt"), "first \x80 line\r\nsecond\r\n");

    // An empty window is an empty file, replacing what was there.
    Trigger(w->popMenu1, "Limpar2");
    EXPECT_EQ(SaveWith(w->popMenu1, "Salvar2", "rx.txt"), "");

    // Dismissing the dialog writes nothing.
    Trigger(w->popMenu2, "Salvar3");
    EXPECT_EQ(QDir(tmp.path()).entryList({"*.txt"}, QDir::Files).size(), 3);
}

TEST_F(MenusTest, RtfOfTheLogKeepsTheColourOfEveryLine) {
    w->print_Log(w->ColorMessage, "one");
    w->print_Log(w->ColorError, "two {x}");
    w->print_Log(w->ColorWarning, "three");
    w->print_Log(w->ColorMessage, "four");
    const QByteArray rtf = SaveWith(w->popMenu2, "SalvarcomFormatao1", "log.rtf");
    EXPECT_TRUE(rtf.startsWith("{\\rtf1")) << rtf.toStdString();
    EXPECT_TRUE(rtf.contains("{\\fonttbl{\\f0\\fnil\\fcharset0 Tahoma;}}")) << rtf.toStdString();
    EXPECT_TRUE(
        rtf.contains("{\\colortbl ;\\red0\\green0\\blue255;\\red255\\green0\\blue0;"
                     "\\red255\\green255\\blue0;}"))
        << rtf.toStdString();
    EXPECT_TRUE(
        rtf.contains("\\cf1 one\\par\r\n\\cf2 two \\{x\\}\\par\r\n\\cf3 three\\par\r\n"
                     "\\cf1 four\\par\r\n"))
        << rtf.toStdString();

    // The runs are the lines as shown.
    const std::vector<RtfLine> runs = menus().LogRuns();
    const std::vector<ShownLine> shown = Log();
    ASSERT_EQ(runs.size(), shown.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        ASSERT_EQ(runs[i].size(), 1u);
        EXPECT_EQ(QString::fromStdString(runs[i][0].text), shown[i].text);
        const Rgb c = runs[i][0].color;
        EXPECT_EQ(QColor(c.r, c.g, c.b), shown[i].color);
    }

    // An empty log gives a document without text.
    Trigger(w->popMenu2, "Limpar3");
    const QByteArray empty = SaveWith(w->popMenu2, "SalvarcomFormatao1", "empty.rtf");
    EXPECT_TRUE(empty.contains("{\\colortbl ;}"));
    EXPECT_FALSE(empty.contains("\\par\r\n"));
}

TEST_F(MenusTest, RtfOfTheReceiveWindowUsesItsFontAndColour) {
    Trigger(w->popMenu1, "Padrao1");
    Receive("hi\n\nthere");
    const QByteArray rtf = SaveWith(w->popMenu1, "SavarcomFormatao1", "rx.rtf");
    EXPECT_TRUE(rtf.contains("Lucida Console;")) << rtf.toStdString();
    EXPECT_TRUE(rtf.contains("\\fs20")) << rtf.toStdString();
    EXPECT_TRUE(rtf.contains("{\\colortbl ;\\red255\\green255\\blue0;}")) << rtf.toStdString();
    EXPECT_TRUE(rtf.contains("\\cf1 hi\\par\r\n\\par\r\nthere\\par\r\n")) << rtf.toStdString();
}

TEST_F(MenusTest, AFileThatCannotBeWrittenIsReportedAndTheTextStays) {
    Receive("keep");
    QDir(tmp.path()).mkdir("taken");
    dialogs.files.push_back(tmp.filePath("taken"));
    Trigger(w->popMenu1, "Salvar2");
    ASSERT_EQ(dialogs.Errors().size(), 1u);
    EXPECT_TRUE(dialogs.Errors()[0].contains("taken")) << dialogs.Errors()[0].toStdString();
    EXPECT_EQ(RxLines(), std::vector<std::string>{"keep"});
    EXPECT_THROW(menus().SaveLogRtf(tmp.filePath("taken")), FileError);
}

TEST_F(MenusTest, ReceiveFontAndColourAreSharedWithTheSideWindowSendBoxAndClock) {
    QFont bold("Courier New", 12);
    bold.setBold(true);
    bold.setItalic(true);
    dialogs.fonts.push_back(ScriptedDialogs::FontAnswer{bold, kRed});
    Trigger(w->popMenu1, "Fonte1");
    EXPECT_EQ(w->memoUartFont.style, kFontBold | kFontItalic);
    EXPECT_EQ(w->memoUart->font().family(), "Courier New");
    EXPECT_EQ(w->edtSend->font().family(), "Courier New");
    EXPECT_EQ(Text(w->memoUart), kRed);
    EXPECT_EQ(Text(w->memoUartAux), kRed);
    EXPECT_EQ(Text(w->edtSend), kRed);
    EXPECT_EQ(w->VrClock->HighColor(), kRed);
    EXPECT_EQ(w->memoUartAux->font().family(), "Lucida Console");  // keeps its own face

    dialogs.colors.push_back(kGreen);
    Trigger(w->popMenu1, "Cor1");
    for (QWidget* box : std::initializer_list<QWidget*>{w->memoUart, w->memoUartAux, w->edtSend})
        EXPECT_EQ(Base(box), kGreen) << box->objectName().toStdString();
    EXPECT_EQ(w->VrClock->LowColor(), kGreen);
    EXPECT_EQ(w->VrClock->BackgroundColor(), kGreen);

    // Cancel changes nothing.
    Trigger(w->popMenu1, "Fonte1");
    Trigger(w->popMenu1, "Cor1");
    EXPECT_EQ(Text(w->memoUart), kRed);
    EXPECT_EQ(Base(w->memoUart), kGreen);

    Close();
    tIniFile ini = Ini();
    EXPECT_EQ(ini.ReadInteger("MEM RX COLOR", "COLOR", 0), 0x008000);
    EXPECT_EQ(ini.ReadInteger("MEM RX FONT", "Color", 0), 255);
    EXPECT_EQ(ini.ReadInteger("COLOR", "VRCLOCK DISPLAY HIGH", 0), 255);
    EXPECT_EQ(ini.ReadInteger("COLOR", "VRCLOCK DISPLAY LOW", 0), 0x008000);
}

TEST_F(MenusTest, FixedStylesSetColoursFaceAndSizeButKeepTheStyle) {
    QFont italic("Courier New", 20);
    italic.setItalic(true);
    italic.setBold(true);
    dialogs.fonts.push_back(ScriptedDialogs::FontAnswer{italic, kGreen});
    Trigger(w->popMenu1, "Fonte1");

    Trigger(w->popMenu1, "Padrao1");
    EXPECT_EQ(w->memoUartColor, 0x00FF0000);
    EXPECT_EQ(w->memoUartFont.color, 0x0000FFFF);
    EXPECT_EQ(w->memoUartFont.name, "Lucida Console");
    EXPECT_EQ(w->memoUartFont.size, 10);
    EXPECT_EQ(w->memoUartFont.charSet, 1);
    EXPECT_EQ(w->memoUartFont.style, kFontBold | kFontItalic);
    EXPECT_TRUE(w->memoUart->font().italic());
    EXPECT_TRUE(w->memoUart->font().bold());
    for (QWidget* box : std::initializer_list<QWidget*>{w->memoUart, w->memoUartAux, w->edtSend}) {
        EXPECT_EQ(Base(box), kBlue) << box->objectName().toStdString();
        EXPECT_EQ(Text(box), kYellow) << box->objectName().toStdString();
    }
    EXPECT_EQ(w->VrClock->HighColor(), kYellow);
    EXPECT_EQ(w->VrClock->LowColor(), kBlue);
    EXPECT_EQ(w->VrClock->BackgroundColor(), kBlue);

    // A font chosen after the style: red text everywhere, the blue backgrounds stay.
    dialogs.fonts.push_back(ScriptedDialogs::FontAnswer{QFont("Lucida Console", 10), kRed});
    Trigger(w->popMenu1, "Fonte1");
    for (QWidget* box : std::initializer_list<QWidget*>{w->memoUart, w->memoUartAux, w->edtSend}) {
        EXPECT_EQ(Base(box), kBlue) << box->objectName().toStdString();
        EXPECT_EQ(Text(box), kRed) << box->objectName().toStdString();
    }
    EXPECT_EQ(w->VrClock->HighColor(), kRed);
    EXPECT_EQ(w->VrClock->BackgroundColor(), kBlue);

    Trigger(w->popMenu1, "Padrao2");
    EXPECT_EQ(w->memoUartColor, 0x00C0C0C0);
    EXPECT_EQ(w->memoUartFont.color, 0);
    EXPECT_EQ(Base(w->memoUartAux), QColor(192, 192, 192));
    EXPECT_EQ(Text(w->edtSend), QColor(0, 0, 0));
    EXPECT_EQ(w->VrClock->HighColor(), QColor(1, 0, 0));
    EXPECT_EQ(w->VrClock->LowColor(), QColor(128, 128, 128));
    EXPECT_EQ(w->VrClock->BackgroundColor(), QColor(128, 128, 128));
}

TEST_F(MenusTest, LogFontSetsTheColourOfNormalMessages) {
    dialogs.fonts.push_back(ScriptedDialogs::FontAnswer{QFont("Courier New", 11), kGreen});
    Trigger(w->popMenu2, "Fonte2");
    EXPECT_EQ(w->ColorMessage, 0x008000);
    EXPECT_EQ(w->memoLogFont.name, "Courier New");
    EXPECT_EQ(w->memoLogFont.color, 0x008000);
    EXPECT_EQ(w->memoLog->font().family(), "Courier New");
    w->ScanComPorts();  // logs "Found port ..." as normal messages
    ASSERT_TRUE(LogHas("Found port COM3"));
    for (const ShownLine& line : Log()) {
        if (line.text == "Found port COM3") {
            EXPECT_EQ(line.color, kGreen);
        }
    }

    // The log's own style: white, Tahoma 9 bold in the message colour.
    QFont italic("Courier New", 11);
    italic.setItalic(true);
    dialogs.fonts.push_back(ScriptedDialogs::FontAnswer{italic, kGreen});
    Trigger(w->popMenu2, "Fonte2");
    Trigger(w->popMenu2, "Padro21");
    EXPECT_EQ(w->memoLogColor, 0x00FFFFFF);
    EXPECT_EQ(w->memoLogFont.name, "Tahoma");
    EXPECT_EQ(w->memoLogFont.size, 9);
    EXPECT_EQ(w->memoLogFont.style, kFontBold);
    EXPECT_EQ(w->memoLogFont.color, 0x008000);
    EXPECT_EQ(Base(w->memoLog), QColor(255, 255, 255));
    EXPECT_TRUE(w->memoLog->font().bold());

    dialogs.colors.push_back(kYellow);
    Trigger(w->popMenu2, "cor2");
    EXPECT_EQ(Base(w->memoLog), kYellow);
    EXPECT_EQ(w->memoLogColor, 0x00FFFF);

    // The message colour reaches the file only through the settings dialog.
    Close();
    EXPECT_FALSE(Ini().ValueExists("COLOR", "REPORT MESSAGE"));
    EXPECT_EQ(Ini().ReadString("MEM LOG FONT", "Name", ""), "Tahoma");
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

// A modal dialog would run its own loop inside a transfer's pumping and stop it reading the
// port: while a transfer runs, the entries that open one (and Help) are off, the rest stay on.
TEST_F(MenusTest, EntriesThatOpenADialogAreOffWhileATransferRuns) {
    ClickConnect("COM3", "9600");
    ASSERT_EQ(w->btnConnectTag, 1);
    w->kmodem->enabled = false;
    const std::vector<std::pair<QMenu*, QWidget*>> menus = {{w->popMenu1, w->memoUart},
                                                            {w->popMenu2, w->memoLog},
                                                            {w->popMenu3, w->memoUartAux},
                                                            {w->popFiles, w->strFiles},
                                                            {w->popCmds, w->strCmds}};
    // The names of the entries offered, each menu popped up as the user would.
    const auto offered = [&] {
        std::vector<QString> names;
        for (auto [menu, box] : menus) {
            emit box->customContextMenuRequested(QPoint(1, 1));
            for (const QAction* a : menu->actions())
                if (!a->isSeparator() && a->isEnabled()) names.push_back(a->objectName());
            menu->hide();
        }
        return names;
    };
    const std::vector<QString> idle = offered();
    EXPECT_EQ(idle.size(), 32u);

    std::vector<QString> during;
    bool helpDuring = true, looked = false;
    host.onProcessMessages = [&] {
        if (std::exchange(looked, true)) return;
        during = offered();
        helpDuring = w->btnHelp->isEnabled();
        QTest::mouseClick(w->btnRxFile, Qt::LeftButton);  // stops the receive
    };
    dialogs.files = {tmp.filePath("in.bin")};
    QTest::mouseClick(w->btnRxFile, Qt::LeftButton);
    EXPECT_EQ(during, (std::vector<QString>{"Limpar2", "copiar1", "SelecionarTudo", "Padrao1",
                                            "Padrao2", "FixedPitch", "TextUtf8", "TextColours",
                                            "TextTabs", "Limpar3", "Copiar2", "SelecionarTudo1",
                                            "Padro21", "Limpar1", "LimpaaLista1"}));
    EXPECT_FALSE(helpDuring);
    host.onProcessMessages = nullptr;
    EXPECT_EQ(offered(), idle);
    EXPECT_TRUE(w->btnHelp->isEnabled());
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

// The ways of reading the board's text are switched in the receive window's menu, act on what
// arrives next and are remembered.
TEST_F(MenusTest, TextOptionsActOnTheStreamAndAreRemembered) {
    Receive(
        "23.5\xc2\xb0"
        "C \x1b[31mred\x1b[0m\ta\n");
    EXPECT_EQ(w->memoUart->toPlainText(), QString::fromLatin1("23.5\xc2\xb0"
                                                              "C reda\n"));
    for (const char* name : {"TextUtf8", "TextColours", "TextTabs"}) Trigger(w->popMenu1, name);
    EXPECT_EQ(w->memoUart->toPlainText(), "");  // the UTF-8 reading starts a new window
    Receive(
        "23.5\xc2\xb0"
        "C \x1b[31mred\x1b[0m\ta\n");
    EXPECT_EQ(w->memoUart->toPlainText(), QString::fromUtf8("23.5°C red      a\n"));
    EXPECT_EQ(w->memoUartBox()->GetLineStyle(0), (LineStyle{{7, 3, {kTermIndexed | 1, 0, 0}}}));

    // Saves keep what the window shows: plain text as UTF-8, rich text with the colours.
    Receive("\x1b[1;44mB\x1b[0m.");
    EXPECT_EQ(SaveWith(w->popMenu1, "Salvar2", "rx.txt"),
              "23.5\xc2\xb0"
              "C red      a\r\nB.\r\n");
    const QByteArray rtf = SaveWith(w->popMenu1, "SavarcomFormatao1", "rx.rtf");
    const Rgb red = IndexedColor(1), blue = IndexedColor(4);
    const Rgb text = ColorToRgb(w->memoUartFont.color);
    const auto entry = [](Rgb c) {
        return QString("\\red%1\\green%2\\blue%3;").arg(c.r).arg(c.g).arg(c.b).toLatin1();
    };
    EXPECT_TRUE(rtf.contains("{\\colortbl ;" + entry(text) + entry(red) + entry(blue) + "}"))
        << rtf.toStdString();
    EXPECT_TRUE(rtf.contains("\\cf1 23.5\\'b0C \\cf2 red\\cf1       a\\par")) << rtf.toStdString();
    EXPECT_TRUE(rtf.contains("\\highlight3\\cb3\\b B\\highlight0\\cb0\\b0 .\\par"))
        << rtf.toStdString();

    // One click gives a face in which every character is as wide as any other.
    const auto fixedPitch = [&] {
        const QFontMetrics m = w->memoUart->fontMetrics();
        return m.horizontalAdvance('i') == m.horizontalAdvance('W');
    };
    EXPECT_FALSE(fixedPitch());
    Trigger(w->popMenu1, "FixedPitch");
    EXPECT_TRUE(fixedPitch());
    Close();
    const tIniFile ini = Ini();
    EXPECT_EQ(ini.ReadString("DISPLAY", "UTF8", ""), "1");
    EXPECT_EQ(ini.ReadString("DISPLAY", "ANSI COLOURS", ""), "1");
    EXPECT_EQ(ini.ReadString("DISPLAY", "TAB STOPS", ""), "1");

    Open();
    EXPECT_TRUE(w->popMenu1->findChild<QAction*>("TextColours")->isChecked());
    EXPECT_TRUE(w->rxRender->TextOptions().utf8);
    EXPECT_TRUE(fixedPitch());
}

}  // namespace
}  // namespace corvel
