#include "terminal/cmds_file.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/codepage.h"
#include "terminal/whole_file.h"

namespace corvel {
namespace fs = std::filesystem;

namespace {

std::string_view UpToNul(std::string_view s) {
    const std::size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

// Lines of a text whose line ends are the ASCII CR and LF (8-bit and UTF-8 text alike).
template <typename Fn>
void ForEachLine(std::string_view text, Fn&& fn) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        fn(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) fn(text.substr(start));
}

void AppendUtf8(std::string& out, char32_t cp) {
    char32_t one[1] = {cp};
    out += EncodeUtf8(std::u32string_view(one, 1));
}

// UTF-16 to UTF-8, up to the first NUL character.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian, bool& repaired) {
    if (bytes.size() % 2 != 0) {
        repaired = true;
        bytes.remove_suffix(1);
    }
    std::string out;
    out.reserve(bytes.size() / 2);
    const auto unit = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return static_cast<char32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    const std::size_t count = bytes.size() / 2;
    for (std::size_t i = 0; i < count; ++i) {
        char32_t u = unit(i);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const char32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            repaired = true;
            u = 0xFFFD;
        }
        AppendUtf8(out, u);
    }
    return out;
}

void AppendUtf16(std::string& out, char32_t cp, bool bigEndian) {
    const auto put = [&](char32_t u) {
        const char hi = static_cast<char>((u >> 8) & 0xFF);
        const char lo = static_cast<char>(u & 0xFF);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    };
    if (cp >= 0x10000) {
        cp -= 0x10000;
        put(0xD800 + (cp >> 10));
        put(0xDC00 + (cp & 0x3FF));
    } else {
        put(cp);
    }
}

char32_t FoldCase(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x100 && c <= 0x137) return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177) return c | 1;
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(static_cast<unsigned char>(a[i])) !=
            FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

CmdsText DecodeCmdsText(std::string_view bytes) {
    CmdsText result;
    std::string decoded;  // UTF-16 content turned into UTF-8
    std::string_view text;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        result.encoding = TextEncoding::Utf8;
        text = UpToNul(bytes.substr(3));
    } else if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
        const bool bigEndian = bytes[0] == '\xFE';
        result.encoding = bigEndian ? TextEncoding::Utf16BE : TextEncoding::Utf16LE;
        decoded = Utf16ToUtf8(bytes.substr(2), bigEndian, result.repaired);
        text = decoded;
    } else {
        text = UpToNul(bytes);
    }
    ForEachLine(text, [&](std::string_view line) {
        if (result.encoding == TextEncoding::Ansi) {
            result.lines.push_back(AnsiToUtf8(line));
        } else if (result.encoding == TextEncoding::Utf8) {
            std::string clean = EncodeUtf8(DecodeUtf8(line));
            if (clean != line) result.repaired = true;
            result.lines.push_back(std::move(clean));
        } else {
            result.lines.emplace_back(line);
        }
    });
    return result;
}

std::string EncodeCmdsText(const std::vector<std::string>& lines, TextEncoding encoding) {
    std::string out;
    switch (encoding) {
        case TextEncoding::Ansi:
            for (const auto& l : lines) out += Utf8ToAnsi(l) + "\r\n";
            break;
        case TextEncoding::Utf8:
            out = "\xEF\xBB\xBF";
            for (const auto& l : lines) out += EncodeUtf8(DecodeUtf8(l)) + "\r\n";
            break;
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE: {
            const bool bigEndian = encoding == TextEncoding::Utf16BE;
            AppendUtf16(out, 0xFEFF, bigEndian);
            for (const auto& l : lines) {
                for (char32_t cp : DecodeUtf8(l)) AppendUtf16(out, cp, bigEndian);
                AppendUtf16(out, '\r', bigEndian);
                AppendUtf16(out, '\n', bigEndian);
            }
            break;
        }
    }
    return out;
}

CmdsText ReadCmdsFile(const std::string& path) {
    return DecodeCmdsText(ReadWholeFile(path, kMaxCmdsFileBytes));
}

void WriteCmdsFile(const std::string& path, const std::vector<std::string>& lines,
                   TextEncoding encoding) {
    ReplaceFileContent(path, EncodeCmdsText(lines, encoding));
}

std::vector<std::string> FindFiles(const std::string& folder, std::string_view extension) {
    std::vector<std::string> found;
    const std::string suffix = "." + std::string(extension);
    std::error_code ec;
    fs::directory_iterator it(PathFromUtf8(folder), fs::directory_options::skip_permission_denied,
                              ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = PathToUtf8(it->path().filename());
        if (name.size() < suffix.size() ||
            !AsciiEqualNoCase(std::string_view(name).substr(name.size() - suffix.size()), suffix))
            continue;
        std::error_code typeEc;
        // Following links: a link to a list is a list; FIFOs and devices are not (reading
        // one could block the window).
        if (!it->is_regular_file(typeEc) || typeEc) continue;
        found.push_back(PathToUtf8(it->path()));
    }
    SortNoCase(found);
    return found;
}

bool LessNoCase(std::string_view a, std::string_view b) {
    const std::u32string ca = DecodeUtf8(a);
    const std::u32string cb = DecodeUtf8(b);
    const std::size_t n = std::min(ca.size(), cb.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t x = FoldCase(ca[i]);
        const char32_t y = FoldCase(cb[i]);
        if (x != y) return x < y;
    }
    if (ca.size() != cb.size()) return ca.size() < cb.size();
    return a < b;
}

void SortNoCase(std::vector<std::string>& items) {
    std::stable_sort(items.begin(), items.end(),
                     [](const std::string& a, const std::string& b) { return LessNoCase(a, b); });
}

std::size_t SortedInsertPosition(const std::vector<std::string>& sorted, std::string_view item) {
    const auto it =
        std::upper_bound(sorted.begin(), sorted.end(), item,
                         [](std::string_view v, const std::string& e) { return LessNoCase(v, e); });
    return static_cast<std::size_t>(it - sorted.begin());
}

std::string FileNameOf(std::string_view path) {
    const std::size_t sep = path.find_last_of("/\\");
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string WithCmdsExtension(std::string_view path) {
    const std::size_t sep = path.find_last_of("/\\");
    const std::size_t nameStart = sep == std::string_view::npos ? 0 : sep + 1;
    const std::size_t dot = path.find_last_of('.');
    const std::size_t stemEnd =
        (dot != std::string_view::npos && dot >= nameStart) ? dot : path.size();
    return std::string(path.substr(0, stemEnd)) + ".cmds";
}

std::int32_t ClampListIndex(std::int32_t stored, std::size_t count) {
    if (count == 0) return -1;
    if (stored < 0) return 0;
    const std::size_t last = count - 1;
    return static_cast<std::size_t>(stored) > last ? static_cast<std::int32_t>(last) : stored;
}

}  // namespace corvel
