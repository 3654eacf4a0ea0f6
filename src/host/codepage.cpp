#include "host/codepage.h"

#include <array>

#ifdef _WIN32
#include <windows.h>
#endif

namespace corvel {
namespace {

using HighHalf = std::array<char32_t, 128>;  // the characters of bytes 0x80..0xFF; 0: none

// Windows-1252. Its five unassigned bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control
// characters of the same number, as Windows itself converts them, so every byte goes through a
// save, a list or a send unchanged.
HighHalf Windows1252() {
    static constexpr std::array<char32_t, 32> k80 = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    HighHalf t{};
    for (std::size_t i = 0; i < 128; ++i) t[i] = i < 32 ? k80[i] : static_cast<char32_t>(0x80 + i);
    return t;
}

struct CodePage {
    unsigned number;
    HighHalf high;
};

#ifdef _WIN32
// The system's ANSI code page as the OS converts it, byte by byte. A code page of several bytes
// per character (the East Asian ones, UTF-8) has no 8-bit form: Windows-1252 stands in for it.
CodePage Load() {
    const UINT acp = ::GetACP();
    CPINFO info{};
    if (!::GetCPInfo(acp, &info) || info.MaxCharSize != 1) return {1252, Windows1252()};
    CodePage cp{acp, {}};
    for (std::size_t i = 0; i < 128; ++i) {
        const char byte = static_cast<char>(0x80 + i);
        wchar_t wide = 0;
        if (::MultiByteToWideChar(acp, MB_ERR_INVALID_CHARS, &byte, 1, &wide, 1) == 1)
            cp.high[i] = wide;
    }
    return cp;
}
#else
CodePage Load() {
    return {1252, Windows1252()};
}
#endif

const CodePage& Page() {
    static const CodePage page = Load();
    return page;
}

}  // namespace

unsigned AnsiCodePage() {
    return Page().number;
}

std::u32string DecodeUtf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        int len = 0;
        char32_t cp = 0;
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
            cp = b & 0x07;
        }
        bool ok = len > 0 && i + len <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const unsigned char c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (ok && ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) ||
                   (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (ok) {
            out.push_back(cp);
            i += len;
        } else {
            out.push_back(b);
            ++i;
        }
    }
    return out;
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

unsigned char CodePointToAnsi(char32_t cp) {
    if (cp < 0x80) return static_cast<unsigned char>(cp);
    const HighHalf& high = Page().high;
    // Most text is Latin-1, which most 8-bit code pages keep in place.
    if (cp <= 0xFF && high[cp - 0x80] == cp) return static_cast<unsigned char>(cp);
    for (std::size_t k = 0; k < high.size(); ++k)
        if (high[k] != 0 && high[k] == cp) return static_cast<unsigned char>(0x80 + k);
    return '?';
}

std::string Utf8ToAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char32_t cp : DecodeUtf8(utf8)) out.push_back(static_cast<char>(CodePointToAnsi(cp)));
    return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
    std::u32string cps;
    cps.reserve(ansi.size());
    for (char c : ansi) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b >= 0x80) {
            const char32_t m = Page().high[b - 0x80];
            cps.push_back(m ? m : 0xFFFD);
        } else {
            cps.push_back(b);
        }
    }
    return EncodeUtf8(cps);
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::u32string cps(latin1.begin(), latin1.end());
    for (auto& c : cps) c &= 0xFF;
    return EncodeUtf8(cps);
}

}  // namespace corvel
