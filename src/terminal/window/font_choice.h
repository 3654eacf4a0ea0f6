#pragma once
// Font and colour choices of the context menus, kept in the settings file's terms: a FontRecord
// and a stored colour value. A value the user confirms without changing it stays as stored, so
// a system colour remains a system colour (and follows the desktop's theme) after an OK.

#include <QFont>
#include <cstdint>
#include <exception>
#include <optional>

#include "terminal/font_record.h"

class QWidget;

namespace corvel {

class Dialogs;

// The font a widget shows for a record (size kept within what the settings file accepts).
QFont QFontOf(const FontRecord& rec);

// Runs the font dialog preset with font; presetColor, when given, replaces the record's colour
// in the preset. On OK the record takes the chosen face, size, style and colour (the character
// set stays) and true is returned.
bool ChooseFontRecord(Dialogs& dialogs, QWidget* parent, FontRecord& font,
                      std::optional<std::int32_t> presetColor = std::nullopt);

// Runs the colour dialog preset with color; on OK color takes the choice and true is returned.
bool ChooseColorValue(Dialogs& dialogs, QWidget* parent, std::int32_t& color);

// The error report of a menu command or list operation that failed (a file that cannot be read
// or written): one line on the console and the error box, with the file's path when the
// message lacks it.
void ReportHandlerError(Dialogs& dialogs, QWidget* parent, const std::exception& e);

// Runs a handler from a signal: errors end the operation and are reported, they never cross
// the toolkit's signal machinery.
template <typename Fn>
void RunReported(Dialogs& dialogs, QWidget* parent, Fn&& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        ReportHandlerError(dialogs, parent, e);
    }
}

}  // namespace corvel
