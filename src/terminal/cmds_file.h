#pragma once
// Command-list files (".cmds"): one command per line, CR LF after every line. A file is written
// back in the encoding it was read in: the 8-bit code page without a byte-order mark unless it
// began with a UTF-8, UTF-16 LE or UTF-16 BE mark. Commands are UTF-8 in memory.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

enum class TextEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

struct CmdsText {
    std::vector<std::string> lines;  // UTF-8
    TextEncoding encoding = TextEncoding::Ansi;
    // Bytes that did not form valid text (bad UTF-8 after a UTF-8 mark, unpaired UTF-16
    // surrogates, a lone last byte of UTF-16) were found; they were kept as well as the
    // encoding allows (Latin-1 characters, U+FFFD) or, for a lone byte, dropped.
    bool repaired = false;
};

// Files larger than this are refused with a FileError: a list box of millions of commands would
// freeze the window, and nobody keeps a command list that size.
inline constexpr std::size_t kMaxCmdsFileBytes = 32u * 1024 * 1024;

// Decodes a file's bytes: the byte-order mark chooses the encoding; lines end at CR LF, a lone
// CR or a lone LF; a NUL character ends the text; a last line without an end still counts.
CmdsText DecodeCmdsText(std::string_view bytes);
// The bytes of a file: the mark of the encoding (none for Ansi), then every line and CR LF.
// Characters the 8-bit code page lacks become '?'.
std::string EncodeCmdsText(const std::vector<std::string>& lines, TextEncoding encoding);

// Throw FileError when the file cannot be read or written. Writing replaces the file safely
// (a crash leaves the old or the new list, never half of one).
CmdsText ReadCmdsFile(const std::string& path);
void WriteCmdsFile(const std::string& path, const std::vector<std::string>& lines,
                   TextEncoding encoding);

// Full paths of the regular files directly in folder whose extension is extension (without the
// dot, compared without regard to case), sorted without regard to case. Subfolders are not
// searched; a missing or unreadable folder gives an empty list.
std::vector<std::string> FindFiles(const std::string& folder, std::string_view extension);

// The order of the command list boxes: without regard to case (Unicode letters of the Latin,
// Greek and Cyrillic alphabets folded), ties broken by the exact text so the order is total.
bool LessNoCase(std::string_view a, std::string_view b);
void SortNoCase(std::vector<std::string>& items);
// Where item goes in an already sorted list (after its equals).
std::size_t SortedInsertPosition(const std::vector<std::string>& sorted, std::string_view item);

// The file name part of a path (after the last '/' or '\\').
std::string FileNameOf(std::string_view path);
// The name a new list file gets: the extension replaced by ".cmds", or ".cmds" appended.
std::string WithCmdsExtension(std::string_view path);
// A stored list index brought into 0..count-1 (negative to 0, too large to the last); -1 when
// there are no lists.
std::int32_t ClampListIndex(std::int32_t stored, std::size_t count);

}  // namespace corvel
