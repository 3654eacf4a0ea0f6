#pragma once
// Every modal question the window asks goes through this seam, so window tests can answer them
// without a person and check exactly what was asked.

#include <QColor>
#include <QFont>
#include <QString>
#include <deque>
#include <optional>
#include <vector>

class QWidget;

namespace corvel {

class Dialogs {
  public:
    virtual ~Dialogs() = default;

    // File choosers return the chosen path, or an empty string when dismissed.
    virtual QString OpenFile(QWidget* parent, const QString& title, const QString& filter,
                             const QString& folder) = 0;
    virtual QString SaveFile(QWidget* parent, const QString& title, const QString& filter,
                             const QString& folder, const QString& defaultSuffix) = 0;
    virtual QString ChooseFolder(QWidget* parent, const QString& title, const QString& folder) = 0;
    // Font and colour choosers are preset with the values passed in; true (and the values
    // replaced) on OK.
    virtual bool ChooseFont(QWidget* parent, QFont& font, QColor& color) = 0;
    virtual bool ChooseColor(QWidget* parent, QColor& color) = 0;
    // Warning box with one OK button.
    virtual void Warning(QWidget* parent, const QString& text, const QString& caption) = 0;
    void Warning(QWidget* parent, const QString& text) { Warning(parent, text, "Warning"); }
    // Warning box with Yes and No; true only for Yes.
    virtual bool Question(QWidget* parent, const QString& text) = 0;
    // The report of an error that escaped an event handler.
    virtual void Error(QWidget* parent, const QString& text) = 0;
};

class QtDialogs : public Dialogs {
  public:
    QString OpenFile(QWidget* parent, const QString& title, const QString& filter,
                     const QString& folder) override;
    QString SaveFile(QWidget* parent, const QString& title, const QString& filter,
                     const QString& folder, const QString& defaultSuffix) override;
    QString ChooseFolder(QWidget* parent, const QString& title, const QString& folder) override;
    bool ChooseFont(QWidget* parent, QFont& font, QColor& color) override;
    bool ChooseColor(QWidget* parent, QColor& color) override;
    using Dialogs::Warning;
    void Warning(QWidget* parent, const QString& text, const QString& caption) override;
    bool Question(QWidget* parent, const QString& text) override;
    void Error(QWidget* parent, const QString& text) override;
};

// Answers from queues filled by the test; an empty queue answers "dismissed" (empty path,
// Cancel, No). Every question is recorded in order.
class ScriptedDialogs : public Dialogs {
  public:
    enum class Kind { OpenFile, SaveFile, Folder, Font, Color, Warning, Question, Error };
    struct Asked {
        Kind kind;
        QString title;  // title of a file or folder chooser, caption of a warning box
        QString text;   // text of a box
        QString folder;
        QString filter;
    };
    struct FontAnswer {
        QFont font;
        QColor color;
    };

    std::deque<QString> files;    // OpenFile and SaveFile
    std::deque<QString> folders;  // ChooseFolder
    std::deque<std::optional<FontAnswer>> fonts;
    std::deque<std::optional<QColor>> colors;
    std::deque<bool> answers;  // Question
    std::vector<Asked> asked;

    // Texts of every warning box shown, in order.
    std::vector<QString> Warnings() const;
    std::vector<QString> Errors() const;
    int Count(Kind kind) const;

    QString OpenFile(QWidget* parent, const QString& title, const QString& filter,
                     const QString& folder) override;
    QString SaveFile(QWidget* parent, const QString& title, const QString& filter,
                     const QString& folder, const QString& defaultSuffix) override;
    QString ChooseFolder(QWidget* parent, const QString& title, const QString& folder) override;
    bool ChooseFont(QWidget* parent, QFont& font, QColor& color) override;
    bool ChooseColor(QWidget* parent, QColor& color) override;
    using Dialogs::Warning;
    void Warning(QWidget* parent, const QString& text, const QString& caption) override;
    bool Question(QWidget* parent, const QString& text) override;
    void Error(QWidget* parent, const QString& text) override;
};

}  // namespace corvel
