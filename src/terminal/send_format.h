#pragma once
// What the send line and the command lists put on the wire for a line of text, in one of three
// formats: the text itself in the 8-bit code page; hex bytes ("01 02 ff", "0x55 0xAA", "55AA");
// or text with escapes (\r \n \t \e \xNN \\). A line that does not parse gives no bytes at all
// and says where it went wrong, so a half-understood command never reaches the board.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvel {

enum class SendFormat : std::int32_t { Text = 0, Hex = 1, Escapes = 2 };

struct SendParse {
    bool ok = true;
    std::string bytes;
    // When !ok: the position of the first character that could not be taken, counted in
    // characters (code points) from 0, and what is wrong there.
    std::size_t errorAt = 0;
    std::string error;
};

// The line is UTF-8 as the send box holds it.
SendParse ParseSendLine(std::string_view utf8, SendFormat format);

// A stored format number outside the known ones reads as Text.
SendFormat SendFormatFromInt(std::int32_t value);

}  // namespace corvel
