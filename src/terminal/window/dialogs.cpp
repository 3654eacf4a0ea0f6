#include "terminal/window/dialogs.h"

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvel {

namespace {

// The font chooser of the toolkit has no colour; the window's fonts carry one, so the chooser
// is embedded next to a colour button.
class FontColorDialog : public QDialog {
  public:
    FontColorDialog(QWidget* parent, const QFont& font, const QColor& color)
        : QDialog(parent), color_(color) {
        setWindowTitle("Fonte");
        fonts_ = new QFontDialog(font, this);
        fonts_->setWindowFlags(Qt::Widget);
        fonts_->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
        swatch_ = new QLabel(this);
        swatch_->setFixedSize(48, 20);
        swatch_->setAutoFillBackground(true);
        ShowColor();
        auto* pick = new QPushButton("Cor...", this);
        connect(pick, &QPushButton::clicked, this, [this] {
            const QColor c = QColorDialog::getColor(color_, this);
            if (c.isValid()) {
                color_ = c;
                ShowColor();
            }
        });
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        auto* colorRow = new QHBoxLayout;
        colorRow->addWidget(new QLabel("Cor:", this));
        colorRow->addWidget(swatch_);
        colorRow->addWidget(pick);
        colorRow->addStretch();
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(fonts_);
        layout->addLayout(colorRow);
        layout->addWidget(buttons);
    }
    QFont SelectedFont() const { return fonts_->currentFont(); }
    QColor SelectedColor() const { return color_; }

  private:
    void ShowColor() {
        QPalette p = swatch_->palette();
        p.setColor(QPalette::Window, color_);
        swatch_->setPalette(p);
    }
    QFontDialog* fonts_;
    QLabel* swatch_;
    QColor color_;
};

}  // namespace

QString QtDialogs::OpenFile(QWidget* parent, const QString& title, const QString& filter,
                            const QString& folder) {
    QFileDialog dlg(parent, title, folder, filter);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setOption(QFileDialog::ReadOnly);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().first();
}

QString QtDialogs::SaveFile(QWidget* parent, const QString& title, const QString& filter,
                            const QString& folder, const QString& defaultSuffix) {
    QFileDialog dlg(parent, title, folder, filter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    if (!defaultSuffix.isEmpty()) dlg.setDefaultSuffix(defaultSuffix);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().first();
}

QString QtDialogs::ChooseFolder(QWidget* parent, const QString& title, const QString& folder) {
    return QFileDialog::getExistingDirectory(parent, title, folder);
}

bool QtDialogs::ChooseFont(QWidget* parent, QFont& font, QColor& color) {
    FontColorDialog dlg(parent, font, color);
    if (dlg.exec() != QDialog::Accepted) return false;
    font = dlg.SelectedFont();
    color = dlg.SelectedColor();
    return true;
}

bool QtDialogs::ChooseColor(QWidget* parent, QColor& color) {
    const QColor chosen = QColorDialog::getColor(color, parent);
    if (!chosen.isValid()) return false;
    color = chosen;
    return true;
}

void QtDialogs::Warning(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtDialogs::Question(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, "Confirm", text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtDialogs::Error(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, "Corvel", text, QMessageBox::Ok, parent);
    box.exec();
}

std::vector<QString> ScriptedDialogs::Warnings() const {
    std::vector<QString> out;
    for (const Asked& a : asked)
        if (a.kind == Kind::Warning) out.push_back(a.text);
    return out;
}

std::vector<QString> ScriptedDialogs::Errors() const {
    std::vector<QString> out;
    for (const Asked& a : asked)
        if (a.kind == Kind::Error) out.push_back(a.text);
    return out;
}

int ScriptedDialogs::Count(Kind kind) const {
    int n = 0;
    for (const Asked& a : asked)
        if (a.kind == kind) ++n;
    return n;
}

QString ScriptedDialogs::OpenFile(QWidget*, const QString& title, const QString& filter,
                                  const QString& folder) {
    asked.push_back({Kind::OpenFile, title, {}, folder, filter});
    if (files.empty()) return {};
    QString f = files.front();
    files.pop_front();
    return f;
}

QString ScriptedDialogs::SaveFile(QWidget*, const QString& title, const QString& filter,
                                  const QString& folder, const QString&) {
    asked.push_back({Kind::SaveFile, title, {}, folder, filter});
    if (files.empty()) return {};
    QString f = files.front();
    files.pop_front();
    return f;
}

QString ScriptedDialogs::ChooseFolder(QWidget*, const QString& title, const QString& folder) {
    asked.push_back({Kind::Folder, title, {}, folder, {}});
    if (folders.empty()) return {};
    QString f = folders.front();
    folders.pop_front();
    return f;
}

bool ScriptedDialogs::ChooseFont(QWidget*, QFont& font, QColor& color) {
    asked.push_back({Kind::Font, {}, {}, {}, {}});
    if (fonts.empty()) return false;
    std::optional<FontAnswer> a = fonts.front();
    fonts.pop_front();
    if (!a) return false;
    font = a->font;
    color = a->color;
    return true;
}

bool ScriptedDialogs::ChooseColor(QWidget*, QColor& color) {
    asked.push_back({Kind::Color, {}, {}, {}, {}});
    if (colors.empty()) return false;
    std::optional<QColor> a = colors.front();
    colors.pop_front();
    if (!a) return false;
    color = *a;
    return true;
}

void ScriptedDialogs::Warning(QWidget*, const QString& text, const QString& caption) {
    asked.push_back({Kind::Warning, caption, text, {}, {}});
}

bool ScriptedDialogs::Question(QWidget*, const QString& text) {
    asked.push_back({Kind::Question, {}, text, {}, {}});
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
}

void ScriptedDialogs::Error(QWidget*, const QString& text) {
    asked.push_back({Kind::Error, {}, text, {}, {}});
}

}  // namespace corvel
