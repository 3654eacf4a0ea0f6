#include "terminal/window/command_lists.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <algorithm>
#include <string>
#include <vector>

#include "host/codepage.h"
#include "terminal/cmds_file.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/font_choice.h"
#include "terminal/window/menu_actions.h"
#include "terminal/window/rx_view.h"
#include "terminal/window/send_control.h"
#include "terminal/window/terminal.h"

namespace corvel {

namespace {

constexpr const char* kAskDeleteItem = "Are you sure of deleting the item?";
constexpr const char* kAskDeleteFile = "Are you sure of deleting the file?";
constexpr const char* kFolderTitle = "Select the location where the content lists will be stored.";
constexpr const char* kRestart = "Restart the application to validate the change.";
constexpr const char* kListFilter = "Commands List (*.cmds)";

// Restores a flag however the scope ends (the file operations inside may throw).
class FlagScope {
  public:
    explicit FlagScope(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = old_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

  private:
    bool& flag_;
    bool old_;
};

QString FolderOf(const QFileInfo& file) {
    QString folder = QDir::toNativeSeparators(file.absolutePath());
    while (folder.size() > 1 && (folder.endsWith('/') || folder.endsWith('\\'))) folder.chop(1);
    return folder;
}

}  // namespace

CommandLists::CommandLists(TfrmTerminal& window)
    : QObject(&window),
      w(window),
      files_(window.strFiles),
      filesView_(window.strFiles->viewport()),
      cmds_(window.strCmds) {
    setObjectName("commandLists");
    BuildMenus();
    ConnectSignals();
}

void CommandLists::BuildMenus() {
    auto menuFor = [this](QMenu*& menu, QWidget* box, const char* name) {
        return PopupMenuFor(&w, menu, box, name, [this] { return !w.fileTransferActive; });
    };
    auto add = [this](QMenu* menu, const char* caption, const char* name,
                      void (CommandLists::*fn)(), OpensDialog opens = OpensDialog::No) {
        AddReportedAction(this, w.dialogs(), &w, menu, caption, name, fn, opens);
    };
    constexpr OpensDialog kDialog = OpensDialog::Yes;

    QMenu* files = menuFor(w.popFiles, w.strFiles, "popFiles");
    add(files, "Nova Lista", "NovaLista1", &CommandLists::NovaLista1Click, kDialog);
    files->addSeparator();
    add(files, "Excluir o Item Selecionado", "ExlcuiLista1", &CommandLists::ExlcuiLista1Click,
        kDialog);
    files->addSeparator();
    add(files, "Trocar o Local de Armazenamento das Listas", "rocaroLocaldeArmazenamentodasListas1",
        &CommandLists::rocaroLocaldeArmazenamentodasListas1Click, kDialog);
    files->addSeparator();
    add(files, "Fonte", "Fonte3", &CommandLists::Fonte3Click, kDialog);
    add(files, "Cor", "Cor3", &CommandLists::Cor3Click, kDialog);

    QMenu* cmds = menuFor(w.popCmds, w.strCmds, "popCmds");
    add(cmds, "Excluir o Item Selecionado", "ExcluirItemSelecionado1",
        &CommandLists::ExcluirItemSelecionado1Click, kDialog);
    cmds->addSeparator();
    add(cmds, "Limpa a Lista", "LimpaaLista1", &CommandLists::LimpaaLista1Click);
    cmds->addSeparator();
    add(cmds, "Fonte", "Font1", &CommandLists::Font1Click, kDialog);
    add(cmds, "Cor", "Cor4", &CommandLists::Cor4Click, kDialog);
}

void CommandLists::ConnectSignals() {
    auto reported = [this](void (CommandLists::*fn)()) {
        return [this, fn] { RunReported(w.dialogs(), &w, [this, fn] { (this->*fn)(); }); };
    };
    // A click selects on the press (the row changes) and ends on the release (the item is
    // clicked); the keyboard only changes the row. Each choice is acted on once, and a click on
    // the list already selected writes and re-reads it.
    connect(w.strFiles, &QListWidget::currentRowChanged, this, [this, reported] {
        if (selecting_) return;
        changedByPress_ = true;
        reported (&CommandLists::strFilesClick)();
    });
    connect(w.strFiles, &QListWidget::itemClicked, this, [this, reported] {
        if (selecting_) return;
        if (changedByPress_) {
            changedByPress_ = false;
            return;
        }
        reported (&CommandLists::strFilesClick)();
    });
    connect(w.strCmds, &QListWidget::itemDoubleClicked, this,
            reported(&CommandLists::strCmdsDblClick));
    connect(w.btnMemAdd, &QPushButton::clicked, this, reported(&CommandLists::btnMemAddClick));
    files_->installEventFilter(this);
    filesView_->installEventFilter(this);
    cmds_->installEventFilter(this);
}

bool CommandLists::eventFilter(QObject* watched, QEvent* event) {
    const bool files = watched == files_;
    const bool cmds = watched == cmds_;
    if (watched == filesView_ && event->type() == QEvent::MouseButtonPress) {
        changedByPress_ = false;
    } else if ((files || cmds) && event->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(event);
        heldKeys_.insert(ke->key());
        const bool ours = ke->key() == Qt::Key_Delete || (files && ke->key() == Qt::Key_Insert);
        RunReported(w.dialogs(), &w, [&] {
            if (files)
                strFilesKeyDown(ke->key());
            else
                strCmdsKeyDown(ke->key());
        });
        if (ours) return true;
    } else if ((files || cmds) && event->type() == QEvent::KeyRelease) {
        auto* ke = static_cast<QKeyEvent*>(event);
        if (!ke->isAutoRepeat()) heldKeys_.remove(ke->key());
    } else if ((files || cmds) && event->type() == QEvent::FocusOut) {
        // The releases of keys held now go to another widget: they are held no longer here.
        heldKeys_.clear();
    }
    return QObject::eventFilter(watched, event);
}

bool CommandLists::IsHeld(int key) const {
    return heldKeys_.contains(key);
}

// ---------------------------------------------------------------------------------------------
// Lists

void CommandLists::SaveCurrent() {
    if (w.ListIndex >= 0 && w.ListLoaded) w.SaveCommands(w.ListIndex);
}

void CommandLists::SelectFilesRow(int row) {
    FlagScope guard(selecting_);
    w.strFiles->setCurrentRow(row);
}

void CommandLists::ShowCurrent() {
    w.strCmds->clear();
    w.ListLoaded = false;
    if (w.ListIndex >= 0) w.LoadCommands(w.ListIndex);
}

void CommandLists::strFilesClick() {
    const int row = w.strFiles->currentRow();
    if (row < 0 || row >= w.ListPaths.size()) return;
    try {
        SaveCurrent();
    } catch (...) {
        // The edits are still in the box, under the list they belong to.
        SelectFilesRow(w.ListIndex);
        throw;
    }
    w.ListIndex = row;
    ShowCurrent();
}

void CommandLists::NovaLista1Click() {
    const QString chosen =
        w.dialogs().SaveFile(&w, "Nova Lista", kListFilter, w.ListsFolder, QString());
    if (chosen.isEmpty()) return;
    const QFileInfo target(QString::fromStdString(WithCmdsExtension(chosen.toStdString())));
    // Creating the list anew would empty an existing one and lose its commands.
    if (target.isFile() &&
        !w.dialogs().Question(&w,
                              QString("The list %1 already exists. Replace it with an empty list?")
                                  .arg(target.fileName())))
        return;

    SaveCurrent();
    WriteCmdsFile(target.filePath().toStdString(), {}, TextEncoding::Ansi);
    w.ListsFolder = FolderOf(target);
    {
        FlagScope guard(selecting_);
        w.LoadListFiles();
    }
    // The new list is the one shown: commands added next belong to it.
    int row = -1;
    const std::string name = target.fileName().toStdString();
    for (int i = 0; i < w.ListPaths.size(); ++i) {
        if (FileNameOf(w.ListPaths[i].toStdString()) == name) {
            row = i;
            break;
        }
    }
    if (row < 0) {
        row =
            ClampListIndex(std::max(w.ListIndex, 0), static_cast<std::size_t>(w.ListPaths.size()));
    }
    w.ListIndex = row;
    SelectFilesRow(row);
    ShowCurrent();
}

void CommandLists::ExlcuiLista1Click() {
    if (w.ListIndex < 0 || w.ListIndex >= w.ListPaths.size()) return;
    if (!w.dialogs().Question(&w, kAskDeleteFile)) return;
    // A file that cannot be deleted simply shows up again in the listing.
    QFile::remove(w.ListPaths[w.ListIndex]);
    {
        FlagScope guard(selecting_);
        w.LoadListFiles();
    }
    w.strCmds->clear();
    w.ListLoaded = false;
    const int count = static_cast<int>(w.ListPaths.size());
    if (count == 0) {
        w.ListIndex = -1;
        SelectFilesRow(-1);
        return;
    }
    w.ListIndex = std::min(w.ListIndex, count - 1);
    SelectFilesRow(w.ListIndex);
    ShowCurrent();
}

void CommandLists::rocaroLocaldeArmazenamentodasListas1Click() {
    QString folder = w.dialogs().ChooseFolder(&w, kFolderTitle, w.ListsFolder);
    if (folder.isEmpty()) return;
    folder = QDir::toNativeSeparators(folder);
    while (folder.size() > 1 && (folder.endsWith('/') || folder.endsWith('\\'))) folder.chop(1);
    w.ListsFolder = folder;
    w.dialogs().Warning(&w, kRestart, "ATTENTION");
}

// ---------------------------------------------------------------------------------------------
// Commands

int CommandLists::AddCommandSorted(const QString& command) {
    std::vector<std::string> items;
    items.reserve(static_cast<std::size_t>(w.strCmds->count()));
    for (int i = 0; i < w.strCmds->count(); ++i)
        items.push_back(w.strCmds->item(i)->text().toStdString());
    const int row = static_cast<int>(SortedInsertPosition(items, command.toStdString()));
    w.strCmds->insertItem(row, command);
    return row;
}

void CommandLists::btnMemAddClick() {
    const QString text = w.edtSend->text();
    if (!text.isEmpty()) AddCommandSorted(text);
}

void CommandLists::ExcluirItemSelecionado1Click() {
    QListWidgetItem* item = w.strCmds->currentItem();
    if (!item || !item->isSelected()) return;
    if (!w.dialogs().Question(&w, kAskDeleteItem)) return;
    delete w.strCmds->takeItem(w.strCmds->row(item));
}

void CommandLists::LimpaaLista1Click() {
    w.strCmds->clear();
}

void CommandLists::strCmdsDblClick() {
    QListWidgetItem* item = w.strCmds->currentItem();
    if (!item || !item->isSelected()) return;
    const QString command = item->text();
    w.edtSend->setText(command);
    if (!w.cbxSendCmd->isChecked()) {
        w.edtSend->setFocus();
        return;
    }
    if (!w.uartDriver->Connected()) {
        w.print_Log(w.ColorWarning, "UART disconnected");
        return;
    }
    if (w.fileTransferActive) {
        w.print_Log(w.ColorWarning, "Command ignored, there are an file being transferred");
        return;
    }
    w.sendControl->SendCommand(command, false);
    w.memoUart->setFocus();
}

// ---------------------------------------------------------------------------------------------
// Appearance and keys

void CommandLists::Fonte3Click() {
    if (!ChooseFontRecord(w.dialogs(), &w, w.strFilesFont)) return;
    w.ApplyListAppearance();
    w.ApplyListColors();
}

void CommandLists::Cor3Click() {
    if (!ChooseColorValue(w.dialogs(), &w, w.strFilesColor)) return;
    w.ApplyListAppearance();
    w.ApplyListColors();
}

void CommandLists::Font1Click() {
    if (ChooseFontRecord(w.dialogs(), &w, w.strCmdsFont)) w.ApplyListAppearance();
}

void CommandLists::Cor4Click() {
    if (ChooseColorValue(w.dialogs(), &w, w.strCmdsColor)) w.ApplyListAppearance();
}

void CommandLists::strFilesKeyDown(int key) {
    if (key == Qt::Key_Delete || IsHeld(Qt::Key_Delete)) {
        ExlcuiLista1Click();
    } else if (key == Qt::Key_Insert || IsHeld(Qt::Key_Insert)) {
        NovaLista1Click();
    }
}

void CommandLists::strCmdsKeyDown(int key) {
    if (key == Qt::Key_Delete || IsHeld(Qt::Key_Delete)) ExcluirItemSelecionado1Click();
}

}  // namespace corvel
