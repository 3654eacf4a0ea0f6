#pragma once
// The line being edited when the receive window decodes UTF-8 or shows colours: a row of
// characters, each with its own style, so that CR, BS and the erase sequences work on
// characters (not bytes) and a character keeps its colour while others around it are edited.
// The window stores the line as text (UTF-8 or Latin-1) plus style runs.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/text_style.h"

namespace corvel {

class tRichLine {
  public:
    std::size_t Size() const { return chars_.size(); }
    bool Empty() const { return chars_.empty(); }
    void Clear();
    // Writes c at column at (0-based; at == Size() appends).
    void Put(std::size_t at, char32_t c, const TermStyle& style);
    // Removes the character at column at.
    void Erase(std::size_t at);
    // Keeps the first count characters.
    void Truncate(std::size_t count);
    // The first count characters become blanks of the default style.
    void Blank(std::size_t count);
    // Appends blanks until the line is count characters long.
    void PadTo(std::size_t count);

    // The line as the window stores it. Latin-1 text can hold only characters below 256.
    std::string Text(bool utf8) const;
    LineStyle Runs() const;
    // Takes up a line from the window again.
    void Load(std::string_view text, bool utf8, const LineStyle& runs);

    const std::vector<char32_t>& Chars() const { return chars_; }

  private:
    std::vector<char32_t> chars_;
    std::vector<TermStyle> styles_;
};

// UTF-8 of one character.
void AppendUtf8(std::string& out, char32_t c);
// The characters of stored UTF-8 text; a byte that starts no valid sequence is its Latin-1
// character, as the renderer shows it.
std::vector<char32_t> DecodeUtf8Lenient(std::string_view text);

}  // namespace corvel
