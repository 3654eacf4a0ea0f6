#pragma once
// Translation of the line-settings record into a raw termios, apart from the port so it can be
// checked field by field (pseudo-terminals force 8 data bits and no parity, hiding mistakes).

#include <termios.h>

#include <string>

#include "comport/comport_io.h"

namespace corvel {

// Rewrites t as a raw line with the record's format and flow control. The speed is left alone.
void FillRawTermios(const LineSettingsRecord& r, termios& t);
// The format a termios carries, as "8N1", "7E2", "8M1".
std::string TermiosFormatName(const termios& t);

}  // namespace corvel
