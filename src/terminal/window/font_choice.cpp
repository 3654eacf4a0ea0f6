#include "terminal/window/font_choice.h"

#include <QColor>
#include <QString>
#include <algorithm>
#include <cstdio>

#include "host/text_file.h"
#include "terminal/window/dialogs.h"
#include "terminal/window/terminal.h"

namespace corvel {

QFont QFontOf(const FontRecord& rec) {
    QFont f(QString::fromStdString(rec.name));
    f.setPointSize(std::clamp(rec.size, 1, 1000));
    f.setBold(rec.style & kFontBold);
    f.setItalic(rec.style & kFontItalic);
    f.setUnderline(rec.style & kFontUnderline);
    f.setStrikeOut(rec.style & kFontStrikeOut);
    return f;
}

namespace {

// The stored value for a colour coming back from a dialog: unchanged stays as it was.
std::int32_t StoredColor(std::int32_t before, const QColor& chosen) {
    if (TfrmTerminal::ToQColor(before) == chosen.toRgb()) return before;
    const QColor c = chosen.toRgb();
    return RgbToColor(Rgb{static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                          static_cast<std::uint8_t>(c.blue())});
}

}  // namespace

bool ChooseFontRecord(Dialogs& dialogs, QWidget* parent, FontRecord& font,
                      std::optional<std::int32_t> presetColor) {
    const std::int32_t preset = presetColor.value_or(font.color);
    QFont qfont = QFontOf(font);
    QColor color = TfrmTerminal::ToQColor(preset);
    if (!dialogs.ChooseFont(parent, qfont, color)) return false;
    FontRecord chosen = font;
    if (!qfont.family().isEmpty()) chosen.name = qfont.family().toStdString();
    // A font given in pixels has no point size; it then keeps the size it had.
    if (qfont.pointSize() > 0) chosen.size = std::clamp(qfont.pointSize(), 1, 1000);
    chosen.style = (qfont.bold() ? kFontBold : 0) | (qfont.italic() ? kFontItalic : 0) |
                   (qfont.underline() ? kFontUnderline : 0) |
                   (qfont.strikeOut() ? kFontStrikeOut : 0);
    chosen.color = StoredColor(preset, color);
    font = chosen;
    return true;
}

bool ChooseColorValue(Dialogs& dialogs, QWidget* parent, std::int32_t& color) {
    QColor chosen = TfrmTerminal::ToQColor(color);
    if (!dialogs.ChooseColor(parent, chosen)) return false;
    color = StoredColor(color, chosen);
    return true;
}

void ReportHandlerError(Dialogs& dialogs, QWidget* parent, const std::exception& e) {
    QString text = QString::fromUtf8(e.what());
    if (const auto* fe = dynamic_cast<const FileError*>(&e)) {
        const QString path = QString::fromStdString(fe->path());
        if (!path.isEmpty() && !text.contains(path)) text += QString(" (%1)").arg(path);
    }
    std::fprintf(stderr, "corvel: %s\n", text.toLocal8Bit().constData());
    dialogs.Error(parent, text);
}

}  // namespace corvel
