#include "terminal/window/key_chars.h"

#include <QKeyEvent>

namespace corvel {

namespace {

// Ctrl with a key outside A to Z: the control characters of the ASCII table's first column, as
// terminals type them (Ctrl+Space and Ctrl+@ are NUL, Ctrl+[ is ESC, and so on).
int ControlCharacterOf(int key) {
    switch (key) {
        case Qt::Key_At:
        case Qt::Key_Space:
            return 0;
        case Qt::Key_BracketLeft:
            return 27;
        case Qt::Key_Backslash:
            return 28;
        case Qt::Key_BracketRight:
            return 29;
        case Qt::Key_AsciiCircum:
            return 30;
        case Qt::Key_Underscore:
            return 31;
        case Qt::Key_Backspace:
            return 127;
        default:
            return -1;
    }
}

}  // namespace

std::u16string CharactersOf(const QKeyEvent* ke) {
    const int key = ke->key();
#if defined(Q_OS_MACOS)
    const bool ctrl = ke->modifiers() & Qt::MetaModifier;
#else
    const bool ctrl = ke->modifiers() & Qt::ControlModifier;
#endif
    const bool alt = ke->modifiers() & Qt::AltModifier;
    if (ctrl && !alt) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return std::u16string(1, static_cast<char16_t>(key - Qt::Key_A + 1));
        if (const int c = ControlCharacterOf(key); c >= 0)
            return std::u16string(1, static_cast<char16_t>(c));
    }
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return u"\r";
        case Qt::Key_Backspace:
            return u"\b";
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return u"\t";
        case Qt::Key_Escape:
            return u"\x1b";
        case Qt::Key_Delete:
            return {};
        default:
            break;
    }
    std::u16string out;
    for (QChar c : ke->text()) {
        // Other control characters in the text come from keys that only edit or move.
        if (c.unicode() >= 32 && c.unicode() != 127) out.push_back(c.unicode());
    }
    return out;
}

}  // namespace corvel
