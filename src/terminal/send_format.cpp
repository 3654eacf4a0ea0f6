#include "terminal/send_format.h"

#include "host/codepage.h"

namespace corvel {

namespace {

int HexValue(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Commas let a C array's initialiser be pasted as it is.
bool IsSeparator(char32_t c) {
    return c == ' ' || c == '\t' || c == ',';
}

SendParse Fail(std::size_t at, const char* why) {
    SendParse r;
    r.ok = false;
    r.errorAt = at;
    r.error = why;
    return r;
}

SendParse ParseHex(const std::u32string& s) {
    SendParse r;
    std::size_t i = 0;
    while (i < s.size()) {
        if (IsSeparator(s[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        if (s[i] == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) i += 2;
        const std::size_t digits = i;
        while (i < s.size() && !IsSeparator(s[i])) {
            if (HexValue(s[i]) < 0) return Fail(i, "not a hex digit");
            ++i;
        }
        const std::size_t n = i - digits;
        if (n == 0) return Fail(start, "0x without hex digits");
        // One digit alone is one byte ("1 2 ff"); a run of more is read in pairs, and an odd
        // run has no reading that is plainly the right one.
        if (n == 1) {
            r.bytes.push_back(static_cast<char>(HexValue(s[digits])));
            continue;
        }
        if (n % 2 != 0) return Fail(start, "odd number of hex digits");
        for (std::size_t k = digits; k < i; k += 2)
            r.bytes.push_back(static_cast<char>(HexValue(s[k]) * 16 + HexValue(s[k + 1])));
    }
    return r;
}

SendParse ParseEscapes(const std::u32string& s) {
    SendParse r;
    std::u32string plain;
    auto flushPlain = [&] {
        if (plain.empty()) return;
        r.bytes += Utf8ToAnsi(EncodeUtf8(plain));
        plain.clear();
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            plain.push_back(s[i]);
            continue;
        }
        if (i + 1 >= s.size()) return Fail(i, "backslash at the end of the line");
        const char32_t e = s[i + 1];
        char byte = 0;
        switch (e) {
            case 'r':
                byte = '\r';
                break;
            case 'n':
                byte = '\n';
                break;
            case 't':
                byte = '\t';
                break;
            case 'e':
                byte = '\x1b';
                break;
            case '\\':
                byte = '\\';
                break;
            case 'x': {
                const int hi = i + 2 < s.size() ? HexValue(s[i + 2]) : -1;
                const int lo = i + 3 < s.size() ? HexValue(s[i + 3]) : -1;
                if (hi < 0 || lo < 0) return Fail(i, "\\x needs two hex digits");
                byte = static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return Fail(i, "unknown escape");
        }
        flushPlain();
        r.bytes.push_back(byte);
        ++i;
    }
    flushPlain();
    return r;
}

}  // namespace

SendFormat SendFormatFromInt(std::int32_t value) {
    switch (value) {
        case 1:
            return SendFormat::Hex;
        case 2:
            return SendFormat::Escapes;
        default:
            return SendFormat::Text;
    }
}

SendParse ParseSendLine(std::string_view utf8, SendFormat format) {
    switch (format) {
        case SendFormat::Hex:
            return ParseHex(DecodeUtf8(utf8));
        case SendFormat::Escapes:
            return ParseEscapes(DecodeUtf8(utf8));
        case SendFormat::Text:
            break;
    }
    SendParse r;
    r.bytes = Utf8ToAnsi(utf8);
    return r;
}

}  // namespace corvel
