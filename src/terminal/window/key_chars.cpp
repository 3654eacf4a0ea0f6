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

std::string TerminalKeySequence(const QKeyEvent* ke) {
    // Final letter of the cursor-style keys (ESC [ x, or ESC O x for F1 to F4), or the number
    // of the ESC [ n ~ keys.
    char letter = 0;
    int number = 0;
    bool ss3 = false;
    switch (ke->key()) {
        case Qt::Key_Up:
            letter = 'A';
            break;
        case Qt::Key_Down:
            letter = 'B';
            break;
        case Qt::Key_Right:
            letter = 'C';
            break;
        case Qt::Key_Left:
            letter = 'D';
            break;
        case Qt::Key_Home:
            letter = 'H';
            break;
        case Qt::Key_End:
            letter = 'F';
            break;
        case Qt::Key_F1:
        case Qt::Key_F2:
        case Qt::Key_F3:
        case Qt::Key_F4:
            letter = static_cast<char>('P' + (ke->key() - Qt::Key_F1));
            ss3 = true;
            break;
        case Qt::Key_Insert:
            number = 2;
            break;
        case Qt::Key_Delete:
            number = 3;
            break;
        case Qt::Key_PageUp:
            number = 5;
            break;
        case Qt::Key_PageDown:
            number = 6;
            break;
        default:
            if (ke->key() >= Qt::Key_F5 && ke->key() <= Qt::Key_F12) {
                // 15, 17..21, 23, 24: the gaps are the old terminals' unused numbers.
                static constexpr int kNumbers[] = {15, 17, 18, 19, 20, 21, 23, 24};
                number = kNumbers[ke->key() - Qt::Key_F5];
            }
            break;
    }
    if (letter == 0 && number == 0) return {};
    const Qt::KeyboardModifiers m = ke->modifiers();
#if defined(Q_OS_MACOS)
    const bool ctrl = m & Qt::MetaModifier;
#else
    const bool ctrl = m & Qt::ControlModifier;
#endif
    const int mod =
        1 + ((m & Qt::ShiftModifier) ? 1 : 0) + ((m & Qt::AltModifier) ? 2 : 0) + (ctrl ? 4 : 0);
    const std::string suffix = mod > 1 ? ";" + std::to_string(mod) : std::string();
    if (number != 0) return "\x1b[" + std::to_string(number) + suffix + "~";
    if (mod > 1) return "\x1b[1" + suffix + letter;
    return std::string(ss3 ? "\x1bO" : "\x1b[") + letter;
}

}  // namespace corvel
