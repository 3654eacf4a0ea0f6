#pragma once
// What a key pressed in the receive window sends to the board, as characters (each goes out as
// its low 8 bits): printable text, Enter, Backspace, Tab, Esc and the control characters a
// terminal keyboard makes with Ctrl. Keys that only move or edit give nothing.

#include <string>

class QKeyEvent;

namespace corvel {

std::u16string CharactersOf(const QKeyEvent* ke);

}  // namespace corvel
