// Command lists: choosing, creating and deleting list files, editing their commands, sending a
// command by double-click, keys, fonts and colours, and what reaches the disk when.

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include "host/text_file.h"
#include "terminal/cmds_file.h"
#include "terminal/window/command_lists.h"
#include "window_fixture.h"

namespace corvel {
namespace {

class ListsTest : public WindowTest {
  protected:
    QString ListPath(const QString& name) const { return tmp.filePath(name); }
    void WriteList(const QString& name, const QByteArray& bytes) {
        QFile f(ListPath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray ReadList(const QString& name) const {
        QFile f(ListPath(name));
        if (!f.open(QIODevice::ReadOnly)) return "<missing>";
        return f.readAll();
    }
    // A first start reads ITEM_INDEX as given; later starts read what the last one wrote.
    void OpenLists(int itemIndex = 0) {
        if (!QFileInfo::exists(IniPath()))
            WriteIni(QString("[LIST_FILES]\r\nITEM_INDEX=%1\r\n").arg(itemIndex));
        Open();
        w->show();
    }
    CommandLists& L() { return *w->commandLists; }

    static std::vector<QString> Items(const QListWidget* box) {
        std::vector<QString> out;
        for (int i = 0; i < box->count(); ++i) out.push_back(box->item(i)->text());
        return out;
    }
    std::vector<QString> Files() const { return Items(w->strFiles); }
    std::vector<QString> Cmds() const { return Items(w->strCmds); }

    void ClickRow(QListWidget* box, int row) {
        const QRect r = box->visualItemRect(box->item(row));
        QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    }
    void DoubleClickRow(QListWidget* box, int row) {
        const QRect r = box->visualItemRect(box->item(row));
        QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
        QTest::mouseDClick(box->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    }
    void Trigger(QMenu* menu, const char* name) {
        QAction* a = menu->findChild<QAction*>(name);
        ASSERT_NE(a, nullptr) << name;
        a->trigger();
    }
    void AddCommand(const QString& text) {
        w->edtSend->setText(text);
        QTest::mouseClick(w->btnMemAdd, Qt::LeftButton);
    }
    static std::vector<QString> Captions(const QMenu* menu) {
        std::vector<QString> out;
        for (const QAction* a : menu->actions()) out.push_back(a->isSeparator() ? "-" : a->text());
        return out;
    }
};

TEST_F(ListsTest, MenusCarryTheirCaptionsInOrder) {
    OpenLists();
    EXPECT_EQ(
        Captions(w->popFiles),
        (std::vector<QString>{"Nova Lista", "-", "Excluir o Item Selecionado", "-",
                              "Trocar o Local de Armazenamento das Listas", "-", "Fonte", "Cor"}));
    EXPECT_EQ(Captions(w->popCmds), (std::vector<QString>{"Excluir o Item Selecionado", "-",
                                                          "Limpa a Lista", "-", "Fonte", "Cor"}));
}

TEST_F(ListsTest, ChoosingAListWritesTheEditedOneAndReadsTheChosenOne) {
    WriteList("one.cmds", "x\r\ny\r\n");
    WriteList("two.cmds", "b\nA\rc");    // any line end; written back sorted with CR LF
    QDir(tmp.path()).mkdir("sub.cmds");  // folders are not lists
    WriteList("notes.txt", "n\r\n");
    OpenLists();
    EXPECT_EQ(Files(), (std::vector<QString>{"one.cmds", "two.cmds"}));
    EXPECT_EQ(Cmds(), (std::vector<QString>{"x", "y"}));

    AddCommand("New");
    EXPECT_EQ(Cmds(), (std::vector<QString>{"New", "x", "y"}));
    EXPECT_EQ(ReadList("one.cmds"), "x\r\ny\r\n");  // nothing written yet

    ClickRow(w->strFiles, 1);
    EXPECT_EQ(w->ListIndex, 1);
    EXPECT_EQ(ReadList("one.cmds"), "New\r\nx\r\ny\r\n");
    EXPECT_EQ(Cmds(), (std::vector<QString>{"A", "b", "c"}));
    EXPECT_EQ(ReadList("two.cmds"), "b\nA\rc");  // the click was acted on once: not written yet

    // The keyboard chooses as well.
    w->strFiles->setFocus();
    QTest::keyClick(w->strFiles, Qt::Key_Up);
    EXPECT_EQ(w->ListIndex, 0);
    EXPECT_EQ(ReadList("two.cmds"), "A\r\nb\r\nc\r\n");
    EXPECT_EQ(Cmds(), (std::vector<QString>{"New", "x", "y"}));

    // A click on the list already chosen writes it and reads it again.
    AddCommand("again");
    ClickRow(w->strFiles, 0);
    EXPECT_EQ(ReadList("one.cmds"), "again\r\nNew\r\nx\r\ny\r\n");
    EXPECT_EQ(Cmds(), (std::vector<QString>{"again", "New", "x", "y"}));

    // Edits made last are written at exit.
    w->strCmds->clear();
    AddCommand("only");
    Close();
    EXPECT_EQ(ReadList("one.cmds"), "only\r\n");
    EXPECT_EQ(ReadList("two.cmds"), "A\r\nb\r\nc\r\n");
}

TEST_F(ListsTest, WithoutListsAddedCommandsAreSortedButNeverWritten) {
    OpenLists();
    EXPECT_EQ(w->ListIndex, -1);
    EXPECT_TRUE(Files().empty());
    for (const char* c : {"b", "A", "c", "a", ""}) AddCommand(c);  // an empty text adds nothing
    EXPECT_EQ(Cmds(), (std::vector<QString>{"A", "a", "b", "c"}));
    Close();
    EXPECT_TRUE(QDir(tmp.path()).entryList({"*.cmds"}, QDir::Files).isEmpty());
    EXPECT_EQ(Ini().ReadInteger("LIST_FILES", "ITEM_INDEX", 0), -1);

    // A new list is then chosen and shown; the loose commands had no file to go to.
    OpenLists();
    AddCommand("loose");
    dialogs.files.push_back(tmp.filePath("first"));
    Trigger(w->popFiles, "NovaLista1");
    EXPECT_EQ(Files(), std::vector<QString>{"first.cmds"});
    EXPECT_EQ(w->ListIndex, 0);
    EXPECT_EQ(w->strFiles->currentRow(), 0);
    EXPECT_TRUE(Cmds().empty());
    EXPECT_EQ(ReadList("first.cmds"), "");
}

TEST_F(ListsTest, NewListTakesTheCmdsExtensionAndIsShownReadyForCommands) {
    WriteList("one.cmds", "x\r\n");
    WriteList("zeta.cmds", "z\r\n");
    OpenLists(1);
    AddCommand("unsaved");

    dialogs.files.push_back(tmp.filePath("board.txt"));
    Trigger(w->popFiles, "NovaLista1");
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].kind, ScriptedDialogs::Kind::SaveFile);
    EXPECT_EQ(dialogs.asked[0].filter, "Commands List (*.cmds)");
    EXPECT_EQ(dialogs.asked[0].folder, w->ListsFolder);
    EXPECT_EQ(ReadList("zeta.cmds"), "unsaved\r\nz\r\n");  // the list left is written first
    EXPECT_EQ(ReadList("board.cmds"), "");
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("board.txt")));
    EXPECT_EQ(Files(), (std::vector<QString>{"board.cmds", "one.cmds", "zeta.cmds"}));
    EXPECT_EQ(w->ListIndex, 0);
    EXPECT_EQ(w->strFiles->currentRow(), 0);
    EXPECT_TRUE(Cmds().empty());
    AddCommand("reset");
    Close();
    EXPECT_EQ(ReadList("board.cmds"), "reset\r\n");

    // A name without an extension gets one; the storage folder follows the new list.
    QDir(tmp.path()).mkdir("other");
    const QString other = tmp.filePath("other");
    OpenLists();
    dialogs.asked.clear();
    dialogs.files.push_back(other + "/plain");
    Trigger(w->popFiles, "NovaLista1");
    EXPECT_TRUE(QFileInfo::exists(other + "/plain.cmds"));
    EXPECT_EQ(w->ListsFolder, QDir::toNativeSeparators(other));
    EXPECT_EQ(Files(), (std::vector<QString>{"plain.cmds"}));
    EXPECT_EQ(w->ListIndex, 0);

    // Cancelling the dialog changes nothing.
    Trigger(w->popFiles, "NovaLista1");
    EXPECT_EQ(Files(), (std::vector<QString>{"plain.cmds"}));
}

TEST_F(ListsTest, ReplacingAnExistingListIsAskedAndNoKeepsIt) {
    WriteList("one.cmds", "x\r\n");
    WriteList("two.cmds", "t\r\n");
    OpenLists(0);
    AddCommand("edit");

    dialogs.files.push_back(ListPath("two.cmds"));
    dialogs.answers.push_back(false);
    Trigger(w->popFiles, "NovaLista1");
    ASSERT_EQ(dialogs.Count(ScriptedDialogs::Kind::Question), 1);
    EXPECT_EQ(dialogs.asked.back().text,
              "The list two.cmds already exists. Replace it with an empty list?");
    EXPECT_EQ(ReadList("two.cmds"), "t\r\n");
    EXPECT_EQ(ReadList("one.cmds"), "x\r\n");  // nothing at all happened
    EXPECT_EQ(w->ListIndex, 0);
    EXPECT_EQ(Cmds(), (std::vector<QString>{"edit", "x"}));

    // Yes on the list being shown: its edits are written, then it starts empty.
    dialogs.files.push_back(ListPath("one.cmds"));
    dialogs.answers.push_back(true);
    Trigger(w->popFiles, "NovaLista1");
    EXPECT_EQ(ReadList("one.cmds"), "");
    EXPECT_EQ(w->ListIndex, 0);
    EXPECT_TRUE(Cmds().empty());
}

TEST_F(ListsTest, DeletingListsMovesToANeighbourAndTheOnlyOneLeavesNothing) {
    WriteList("a.cmds", "a1\r\n");
    WriteList("b.cmds", "b1\r\n");
    WriteList("c.cmds", "c1\r\n");
    OpenLists(2);
    AddCommand("lost with its list");

    dialogs.answers.push_back(false);
    Trigger(w->popFiles, "ExlcuiLista1");
    EXPECT_EQ(dialogs.asked.back().text, "Are you sure of deleting the file?");
    EXPECT_EQ(Files().size(), 3u);

    dialogs.answers.push_back(true);
    Trigger(w->popFiles, "ExlcuiLista1");
    EXPECT_EQ(Files(), (std::vector<QString>{"a.cmds", "b.cmds"}));
    EXPECT_EQ(w->ListIndex, 1);  // the last one went: the one before it
    EXPECT_EQ(w->strFiles->currentRow(), 1);
    EXPECT_EQ(Cmds(), (std::vector<QString>{"b1"}));
    EXPECT_EQ(ReadList("a.cmds"), "a1\r\n");
    EXPECT_EQ(ReadList("b.cmds"), "b1\r\n");

    ClickRow(w->strFiles, 0);
    dialogs.answers.push_back(true);
    Trigger(w->popFiles, "ExlcuiLista1");
    EXPECT_EQ(Files(), (std::vector<QString>{"b.cmds"}));
    EXPECT_EQ(w->ListIndex, 0);
    EXPECT_EQ(Cmds(), (std::vector<QString>{"b1"}));

    dialogs.answers.push_back(true);
    Trigger(w->popFiles, "ExlcuiLista1");
    EXPECT_TRUE(Files().empty());
    EXPECT_TRUE(Cmds().empty());
    EXPECT_EQ(w->ListIndex, -1);

    // With no list nothing is asked.
    const auto asked = dialogs.asked.size();
    Trigger(w->popFiles, "ExlcuiLista1");
    EXPECT_EQ(dialogs.asked.size(), asked);
    Close();
    EXPECT_EQ(Ini().ReadInteger("LIST_FILES", "ITEM_INDEX", 0), -1);
}

TEST_F(ListsTest, DeleteAndInsertKeys) {
    WriteList("a.cmds", "one\r\ntwo\r\n");
    OpenLists();

    // In the list of files Delete deletes (after the question) and Insert creates.
    w->strFiles->setFocus();
    QTest::keyClick(w->strFiles, Qt::Key_Delete);
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].text, "Are you sure of deleting the file?");
    QTest::keyClick(w->strFiles, Qt::Key_Insert);
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_EQ(dialogs.asked[1].kind, ScriptedDialogs::Kind::SaveFile);

    // Insert pressed while Delete is held deletes and does not create.
    QTest::keyPress(w->strFiles, Qt::Key_Delete);
    QTest::keyPress(w->strFiles, Qt::Key_Insert);
    QTest::keyRelease(w->strFiles, Qt::Key_Insert);
    QTest::keyRelease(w->strFiles, Qt::Key_Delete);
    ASSERT_EQ(dialogs.asked.size(), 4u);
    EXPECT_EQ(dialogs.Count(ScriptedDialogs::Kind::SaveFile), 1);
    EXPECT_EQ(dialogs.Count(ScriptedDialogs::Kind::Question), 3);

    // In the list of commands Delete deletes the selected command; nothing selected, nothing
    // asked.
    dialogs.asked.clear();
    w->strCmds->setFocus();
    QTest::keyClick(w->strCmds, Qt::Key_Delete);
    EXPECT_TRUE(dialogs.asked.empty());
    ClickRow(w->strCmds, 1);
    dialogs.answers.push_back(true);
    QTest::keyClick(w->strCmds, Qt::Key_Delete);
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].text, "Are you sure of deleting the item?");
    EXPECT_EQ(Cmds(), (std::vector<QString>{"one"}));
    QTest::keyClick(w->strCmds, Qt::Key_Insert);  // means nothing here
    EXPECT_EQ(dialogs.asked.size(), 1u);
}

TEST_F(ListsTest, DeletingAndClearingCommandsReachTheFileOnlyWhenWritten) {
    WriteList("a.cmds", "one\r\ntwo\r\n");
    WriteList("b.cmds", "");
    OpenLists();
    ClickRow(w->strCmds, 0);
    dialogs.answers.push_back(false);
    Trigger(w->popCmds, "ExcluirItemSelecionado1");
    EXPECT_EQ(Cmds().size(), 2u);
    dialogs.answers.push_back(true);
    Trigger(w->popCmds, "ExcluirItemSelecionado1");
    EXPECT_EQ(Cmds(), (std::vector<QString>{"two"}));

    const auto asked = dialogs.asked.size();
    Trigger(w->popCmds, "LimpaaLista1");
    EXPECT_EQ(dialogs.asked.size(), asked);  // no question
    EXPECT_TRUE(Cmds().empty());
    EXPECT_EQ(ReadList("a.cmds"), "one\r\ntwo\r\n");
    ClickRow(w->strFiles, 1);
    EXPECT_EQ(ReadList("a.cmds"), "");
}

TEST_F(ListsTest, ANewStorageFolderWaitsForTheNextStart) {
    WriteList("a.cmds", "one\r\n");
    QDir(tmp.path()).mkdir("elsewhere");
    const QString elsewhere = tmp.filePath("elsewhere");
    {
        QFile f(elsewhere + "/far.cmds");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    OpenLists();
    const QString before = w->ListsFolder;
    Trigger(w->popFiles, "rocaroLocaldeArmazenamentodasListas1");  // dismissed
    EXPECT_EQ(w->ListsFolder, before);
    EXPECT_TRUE(dialogs.Warnings().empty());

    dialogs.folders.push_back(elsewhere + "/");
    Trigger(w->popFiles, "rocaroLocaldeArmazenamentodasListas1");
    EXPECT_EQ(dialogs.asked[1].title,
              "Select the location where the content lists will be stored.");
    EXPECT_EQ(dialogs.asked[1].folder, before);
    EXPECT_EQ(w->ListsFolder, QDir::toNativeSeparators(elsewhere));
    EXPECT_EQ(dialogs.Warnings(),
              std::vector<QString>{"Restart the application to validate the change."});
    EXPECT_EQ(dialogs.asked.back().title, "ATTENTION");
    EXPECT_EQ(Files(), std::vector<QString>{"a.cmds"});  // nothing rescanned
    AddCommand("still here");
    Close();
    EXPECT_EQ(ReadList("a.cmds"), "one\r\nstill here\r\n");

    OpenLists();
    EXPECT_EQ(Files(), std::vector<QString>{"far.cmds"});
}

TEST_F(ListsTest, DoubleClickSendsTheCommandOrPutsItUpForEditing) {
    WriteList("a.cmds", QByteArray("AT\r\nATI\r\n\xE9t\xE9\r\n"));  // é in the 8-bit code page
    OpenLists();
    ClickConnect("COM3", "9600");
    ASSERT_EQ(w->btnConnectTag, 1);
    Wire();

    // Off: the command goes to the send box for editing, nothing goes out.
    w->cbxSendCmd->setChecked(false);
    DoubleClickRow(w->strCmds, 1);
    EXPECT_EQ(w->edtSend->text(), "ATI");
    EXPECT_EQ(w->focusWidget(), w->edtSend);
    EXPECT_EQ(Wire(), "");

    // On: sent with the chosen termination, the keyboard then goes to the board.
    w->cbxSendCmd->setChecked(true);
    DoubleClickRow(w->strCmds, 0);
    EXPECT_EQ(Wire(), "AT\n");
    EXPECT_EQ(w->edtSend->text(), "AT");
    EXPECT_EQ(w->focusWidget(), w->memoUart);
    QTest::mouseClick(w->rgrCmdTGroup->button(1), Qt::LeftButton);
    DoubleClickRow(w->strCmds, 2);
    EXPECT_EQ(Wire(), "\xE9t\xE9\r\n");
    w->cbxSend->setChecked(false);
    DoubleClickRow(w->strCmds, 1);
    EXPECT_EQ(Wire(), "ATI");

    // Refused during a transfer and while disconnected, with a warning in the log.
    w->memoLog->clear();
    w->fileTransferActive = true;
    DoubleClickRow(w->strCmds, 0);
    w->fileTransferActive = false;
    QTest::mouseClick(w->btnConnect, Qt::LeftButton);
    DoubleClickRow(w->strCmds, 0);
    EXPECT_EQ(Wire(), "");
    ASSERT_EQ(Log().size(), 3u);
    EXPECT_EQ(Log()[0].text, "Command ignored, there are an file being transferred");
    EXPECT_EQ(Log()[1].text, "Disconnected from COM3");
    EXPECT_EQ(Log()[2].text, "UART disconnected");
    EXPECT_EQ(Log()[0].color, kYellow);
    EXPECT_EQ(Log()[2].color, kYellow);
}

TEST_F(ListsTest, ACommandCutShortByAStalledLineIsReported) {
    WriteList("a.cmds", "ABCDEFGH\r\n");
    OpenLists();
    w->cbxRTSCTS->setChecked(true);
    ClickConnect("COM3", "9600");
    ASSERT_EQ(w->btnConnectTag, 1);
    w->cbxSendCmd->setChecked(true);
    dev->SetOutCapacity(4);
    dev->SetCts(false);
    w->memoLog->clear();
    DoubleClickRow(w->strCmds, 0);
    ASSERT_FALSE(Log().empty());
    EXPECT_EQ(Log().back().text, "Send timed out: 4 of 9 bytes sent");
    EXPECT_EQ(Log().back().color, kYellow);
}

TEST_F(ListsTest, UnreadableOrUnwritableListsAreReportedAndTheBoxesStayTrue) {
    WriteList("a.cmds", "one\r\n");
    {
        QFile big(ListPath("huge.cmds"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(qint64(kMaxCmdsFileBytes) + 1));  // sparse: costs no disk
    }
    WriteList("z.cmds", "last\r\n");
    OpenLists();

    // A list that cannot be read: reported, shown empty, and never written over.
    ClickRow(w->strFiles, 1);
    ASSERT_EQ(dialogs.Errors().size(), 1u);
    EXPECT_TRUE(dialogs.Errors()[0].contains("huge.cmds")) << dialogs.Errors()[0].toStdString();
    EXPECT_EQ(w->ListIndex, 1);
    EXPECT_TRUE(Cmds().empty());
    AddCommand("typed over it");
    ClickRow(w->strFiles, 2);
    EXPECT_EQ(QFileInfo(ListPath("huge.cmds")).size(), qint64(kMaxCmdsFileBytes) + 1);
    EXPECT_EQ(Cmds(), std::vector<QString>{"last"});

    // A list that cannot be written: reported, and its edits stay on show under its own name.
    AddCommand("kept");
    ASSERT_TRUE(QFile::remove(ListPath("z.cmds")));
    ASSERT_TRUE(QDir(tmp.path()).mkdir("z.cmds"));
    ClickRow(w->strFiles, 0);
    ASSERT_EQ(dialogs.Errors().size(), 2u);
    EXPECT_TRUE(dialogs.Errors()[1].contains("z.cmds")) << dialogs.Errors()[1].toStdString();
    EXPECT_EQ(w->ListIndex, 2);
    EXPECT_EQ(w->strFiles->currentRow(), 2);
    EXPECT_EQ(Cmds(), (std::vector<QString>{"kept", "last"}));
    EXPECT_EQ(ReadList("a.cmds"), "one\r\n");

    // Called directly, the handler throws the file error.
    w->strFiles->setCurrentRow(0);
    EXPECT_THROW(L().strFilesClick(), FileError);
    EXPECT_EQ(w->ListIndex, 2);
    EXPECT_EQ(w->strFiles->currentRow(), 2);
    ASSERT_TRUE(QDir(tmp.path()).rmdir("z.cmds"));
}

TEST_F(ListsTest, ListFontsAndColoursAndTheCommunicationPage) {
    OpenLists();
    QFont chosen("Courier New", 14);
    chosen.setItalic(true);
    dialogs.fonts.push_back(ScriptedDialogs::FontAnswer{chosen, QColor(255, 0, 0)});
    Trigger(w->popFiles, "Fonte3");
    EXPECT_EQ(w->strFilesFont.name, "Courier New");
    EXPECT_EQ(w->strFilesFont.size, 14);
    EXPECT_EQ(w->strFilesFont.style, kFontItalic);
    EXPECT_EQ(w->strFilesFont.color, 255);
    EXPECT_EQ(w->strFiles->font().family(), "Courier New");
    EXPECT_EQ(w->lblPort->palette().color(QPalette::WindowText), kRed);
    EXPECT_EQ(w->lblBaud->palette().color(QPalette::WindowText), kRed);

    dialogs.colors.push_back(QColor(0, 128, 0));
    Trigger(w->popFiles, "Cor3");
    EXPECT_EQ(w->strFilesColor, 0x008000);
    EXPECT_EQ(w->tsPort->palette().color(QPalette::Window), QColor(0, 128, 0));
    EXPECT_EQ(w->strFiles->palette().color(QPalette::Base), QColor(0, 128, 0));

    // The list of commands has its own, and the page does not follow it.
    const std::int32_t cmdsColor = w->strCmdsColor;
    Trigger(w->popCmds, "Cor4");  // dismissed
    EXPECT_EQ(w->strCmdsColor, cmdsColor);
    dialogs.fonts.push_back(ScriptedDialogs::FontAnswer{QFont("Tahoma", 8), QColor(0, 0, 255)});
    dialogs.colors.push_back(QColor(255, 255, 0));
    Trigger(w->popCmds, "Font1");
    Trigger(w->popCmds, "Cor4");
    EXPECT_EQ(w->strCmdsFont.color, 0xFF0000);
    EXPECT_EQ(w->strCmds->palette().color(QPalette::Base), kYellow);
    EXPECT_EQ(w->tsPort->palette().color(QPalette::Window), QColor(0, 128, 0));
    EXPECT_EQ(w->lblPort->palette().color(QPalette::WindowText), kRed);

    Close();
    tIniFile ini = Ini();
    EXPECT_EQ(ini.ReadString("FONT_STRFILES", "Name", ""), "Courier New");
    EXPECT_EQ(ini.ReadInteger("FONT_STRFILES", "BACK_GROUND", 0), 0x008000);
    EXPECT_EQ(ini.ReadInteger("FONT_STRPATHS", "Color", 0), 0xFF0000);
}

}  // namespace
}  // namespace corvel
