#include "terminal/window/status_fields.h"

#include <QLabel>
#include <QStatusBar>

namespace corvel {

StatusFields::StatusFields(QStatusBar* bar) : bar_(bar) {
    bar_->setSizeGripEnabled(false);
}

StatusFields::Field* StatusFields::Find(const std::string& key) {
    for (auto& field : fields_)
        if (field.key == key) return &field;
    return nullptr;
}

const StatusFields::Field* StatusFields::Find(const std::string& key) const {
    for (const auto& field : fields_)
        if (field.key == key) return &field;
    return nullptr;
}

void StatusFields::Set(const std::string& key, const QString& text) {
    Field* field = Find(key);
    if (!field) {
        auto* label = new QLabel(bar_);
        label->setObjectName(QString::fromStdString("status_" + key));
        bar_->addWidget(label);
        fields_.push_back({key, label});
        field = &fields_.back();
    }
    field->label->setText(text);
    field->label->setVisible(!text.isEmpty());
}

void StatusFields::SetToolTip(const std::string& key, const QString& tip) {
    if (Field* field = Find(key)) field->label->setToolTip(tip);
}

QString StatusFields::Text(const std::string& key) const {
    const Field* field = Find(key);
    return field ? field->label->text() : QString();
}

QString StatusFields::Joined() const {
    QStringList parts;
    for (const auto& field : fields_)
        if (!field.label->text().isEmpty()) parts << field.label->text();
    return parts.join(" | ");
}

}  // namespace corvel
