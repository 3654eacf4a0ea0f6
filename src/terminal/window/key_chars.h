#pragma once
// What a key pressed in the receive window sends to the board, as characters (each goes out as
// its low 8 bits): printable text, Enter, Backspace, Tab, Esc and the control characters a
// terminal keyboard makes with Ctrl. Keys that only move or edit give nothing.

#include <string>

class QKeyEvent;

namespace corvel {

std::u16string CharactersOf(const QKeyEvent* ke);

// The sequence an xterm sends for a key that moves or edits (arrows, Home, End, Insert, Delete,
// Page Up and Down) or a function key F1 to F12, with Shift, Alt and Ctrl folded into the
// sequence the xterm way (Ctrl+Up is ESC [ 1 ; 5 A). Empty for every other key.
std::string TerminalKeySequence(const QKeyEvent* ke);

}  // namespace corvel
