#pragma once
// The window's status bar as a set of named fields. Each part of the window that has something to
// say while it runs (the connection, line state, capture, reconnect watching...) owns a key and
// sets its text; fields keep the order in which their keys were first set, and an empty text hides
// a field without giving up its place.

#include <QString>
#include <string>
#include <vector>

class QLabel;
class QStatusBar;

namespace corvel {

class StatusFields {
  public:
    explicit StatusFields(QStatusBar* bar);

    void Set(const std::string& key, const QString& text);
    // Tool tip of a field (shown over its text); the field must have been set once.
    void SetToolTip(const std::string& key, const QString& tip);
    // The field's text, empty when it was never set or is hidden.
    QString Text(const std::string& key) const;
    // Every visible field's text in order, joined by " | " (what a test or a screenshot reads).
    QString Joined() const;

  private:
    struct Field {
        std::string key;
        QLabel* label = nullptr;
    };
    Field* Find(const std::string& key);
    const Field* Find(const std::string& key) const;

    QStatusBar* bar_;
    std::vector<Field> fields_;
};

}  // namespace corvel
