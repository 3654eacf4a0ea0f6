#pragma once
// The receive window's line editor: a copy of the window's last line, a cursor column in it, the
// state of an escape sequence being collected (ASCII mode) and the byte count of the unfinished
// hex line (HEX mode). It edits through the LineBox it is bound to and does not own it.
//
// Invariant: 1 <= curY <= memoLine.size() + 1. The operations keep it; code that changes the fields
// directly must keep it too (the operations still refuse to index outside the line).

#include <cstdint>
#include <string>

#include "terminal/line_box.h"

namespace corvel {

class tRxControl {
  public:
    explicit tRxControl(LineBox& memo);
    tRxControl(const tRxControl&) = delete;
    tRxControl& operator=(const tRxControl&) = delete;

    // Empties the line and resets the cursor and hex count. An escape sequence in progress
    // survives: it ends only at its final character.
    void ControlClean();
    // Loads line linePos (0-based) of the window, cursor after its end.
    void capLine(int linePos);
    // Backspace: removes the character at column pos and moves the cursor one left; nothing at
    // column 1.
    void deleteChar(int pos);
    // Writes byte p at the cursor (overwrites inside the line, appends at its end), then advances.
    void insertChar(std::uint8_t p);
    // Writes the line over the window's last line (appending when the window is empty). With
    // newLine, an empty line is then opened and becomes the line edited; without it, an empty
    // line writes nothing.
    void replaceLine(bool newLine);

    LineBox& memoUart;
    std::string memoLine;  // Latin-1 bytes
    std::int32_t curY = 1;
    std::uint8_t countRx = 0;
    std::string escape;  // characters after ESC, up to and including the final one
    bool escapeInit = false;

  private:
    void WriteBack();
};

}  // namespace corvel
