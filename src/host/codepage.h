#pragma once
// The system's 8-bit (ANSI) code page: the real one on Windows, Windows-1252 elsewhere.
// Program text is UTF-8; text files the program writes for people (debug logs, command lists,
// saved windows) and commands sent from the send line go out in this code page.

#include <string>
#include <string_view>

namespace corvel {

// The number of that code page (1252 where there is no 8-bit system code page): what saved
// rich text names as its code page.
unsigned AnsiCodePage();
// UTF-8 to the 8-bit code page; characters without a mapping become '?'. Invalid UTF-8 bytes
// are taken as Latin-1 characters, so nothing is silently dropped.
std::string Utf8ToAnsi(std::string_view utf8);
// One Unicode code point to its 8-bit code, or '?' when the code page has none.
unsigned char CodePointToAnsi(char32_t cp);
// The 8-bit code page to UTF-8 (undefined code points map to U+FFFD).
std::string AnsiToUtf8(std::string_view ansi);
// Latin-1 bytes (received bytes as the windows show them) to UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);
// Decodes UTF-8 into code points; malformed bytes become their Latin-1 characters.
std::u32string DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(std::u32string_view text);

}  // namespace corvel
