// The ".cmds" reader fed an arbitrary file.
//
// Checked: decoding never fails; the lines hold valid UTF-8 without line breaks or NULs; a list
// written back in the encoding read and read again gives the same lines and encoding (what the
// window does at exit must not change a list it only displayed); the file path reads the same as
// the bytes; the sort helpers give a total order.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "terminal/cmds_file.h"

using namespace corvel;
using namespace corvel::fuzz;

namespace {

bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        const std::uint32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const CmdsText first = DecodeCmdsText(bytes);
    for (const std::string& line : first.lines) {
        FUZZ_CHECK(ValidUtf8(line));
        FUZZ_CHECK(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    }

    const std::string encoded = EncodeCmdsText(first.lines, first.encoding);
    const CmdsText second = DecodeCmdsText(encoded);
    FUZZ_CHECK(second.encoding == first.encoding);
    FUZZ_CHECK(!second.repaired);
    if (first.encoding == TextEncoding::Ansi) {
        // Characters the code page lacks come back as '?': same count of lines, same length
        // in characters is not promised, so compare only where the text is plain ASCII.
        FUZZ_CHECK(second.lines.size() == first.lines.size());
        for (std::size_t i = 0; i < first.lines.size(); ++i) {
            const std::string& a = first.lines[i];
            if (std::all_of(a.begin(), a.end(), [](char c) { return (c & 0x80) == 0; }))
                FUZZ_CHECK(second.lines[i] == a);
        }
    } else {
        FUZZ_CHECK(second.lines == first.lines);
    }
    // Written again, the bytes no longer change.
    FUZZ_CHECK(EncodeCmdsText(second.lines, second.encoding) == encoded);

    const std::string path = ScratchFile("list.cmds");
    try {
        WriteFileBytes(path, bytes);
        const CmdsText fromFile = ReadCmdsFile(path);
        FUZZ_CHECK(fromFile.lines == first.lines && fromFile.encoding == first.encoding);
        WriteCmdsFile(path, first.lines, first.encoding);
        FUZZ_CHECK(ReadCmdsFile(path).lines == second.lines);
    } catch (...) {
        FUZZ_CHECK(!"a list file in a writable folder could not be read or written");
    }

    std::vector<std::string> sorted = first.lines;
    SortNoCase(sorted);
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        FUZZ_CHECK(!LessNoCase(sorted[i], sorted[i - 1]));
        FUZZ_CHECK(!(LessNoCase(sorted[i - 1], sorted[i]) && LessNoCase(sorted[i], sorted[i - 1])));
    }
    return 0;
}
