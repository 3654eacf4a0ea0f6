#pragma once
// The command lists of the main window: the list files of the storage folder in strFiles, the
// commands of the selected one in strCmds, their context menus, keys, fonts and colours, and
// sending a command by double-click.
//
// The window owns the state (ListPaths, ListIndex, ListsFolder, ListEncoding, ListLoaded) and the
// file reads and writes (LoadListFiles, LoadCommands, SaveCommands); this class holds the
// operations. Its handlers throw FileError like the file functions they call; the signals it
// connects report such errors through the window's error box. Whatever fails, the boxes stay
// consistent with ListPaths and ListIndex: strFiles selects the list strCmds shows, and a list
// whose file could not be read is never written back.

#include <QObject>
#include <QSet>
#include <QString>

class QAction;
class QListWidget;
class QMenu;
class QWidget;

namespace corvel {

class TfrmTerminal;

class CommandLists : public QObject {
    Q_OBJECT
  public:
    // Fills popFiles and popCmds and connects the list boxes, the Add button and the menus. The
    // window must delete this object before its own destruction takes its widgets apart.
    explicit CommandLists(TfrmTerminal& window);

    void strFilesClick();
    void NovaLista1Click();
    void ExlcuiLista1Click();
    void rocaroLocaldeArmazenamentodasListas1Click();
    void btnMemAddClick();
    void ExcluirItemSelecionado1Click();
    void LimpaaLista1Click();
    void strCmdsDblClick();
    // Font and colour of strFiles, then of strCmds.
    void Fonte3Click();
    void Cor3Click();
    void Font1Click();
    void Cor4Click();
    // key is the key that went down; keys still held in the box count as well (Delete wins).
    void strFilesKeyDown(int key);
    void strCmdsKeyDown(int key);

    // Inserts a command at its place in the case-blind order of strCmds; its row is returned.
    int AddCommandSorted(const QString& command);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildMenus();
    void ConnectSignals();
    // Writes strCmds to the selected list's file, unless that file could not be read.
    void SaveCurrent();
    // Selects row in strFiles without it counting as the user's choice.
    void SelectFilesRow(int row);
    // Empties strCmds and reads ListPaths[ListIndex] into it; a failed read leaves it empty and
    // marks the list as not to be written.
    void ShowCurrent();
    bool IsHeld(int key) const;

    TfrmTerminal& w;
    // The watched widgets, compared without going through the window.
    QListWidget* files_;
    QWidget* filesView_;
    QListWidget* cmds_;
    // Keys that went down in a list box and have not come up yet (the list box's own view of
    // "held", as the key-down handlers ask for it).
    QSet<int> heldKeys_;
    // Set while this class moves the selection of strFiles itself.
    bool selecting_ = false;
    // The current row of strFiles changed during the mouse press now being handled, so the
    // click that ends it has already been acted on.
    bool changedByPress_ = false;
};

}  // namespace corvel
