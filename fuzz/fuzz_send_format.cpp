// The send-line formats fed an arbitrary line.
//
// Checked: every format answers (no crash, no hang); a refusal gives no bytes and points inside
// the line; text never fails; any bytes written back as hex pairs or as \xNN escapes parse to
// exactly those bytes again; an escaped line without a backslash is its text in the code page.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "host/codepage.h"
#include "terminal/send_format.h"

using namespace corvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::size_t chars = DecodeUtf8(line).size();
    for (SendFormat f : {SendFormat::Text, SendFormat::Hex, SendFormat::Escapes}) {
        const SendParse p = ParseSendLine(line, f);
        if (!p.ok) {
            FUZZ_CHECK(f != SendFormat::Text);
            FUZZ_CHECK(p.bytes.empty());
            FUZZ_CHECK(p.errorAt < chars);
            FUZZ_CHECK(!p.error.empty());
        }
    }
    if (line.find('\\') == std::string_view::npos) {
        const SendParse p = ParseSendLine(line, SendFormat::Escapes);
        FUZZ_CHECK(p.ok && p.bytes == Utf8ToAnsi(line));
    }

    static const char* digits = "0123456789abcdef";
    std::string hex, escaped;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned b = data[i];
        // Two bytes a token, every other token with 0x, blanks and commas between.
        if (i % 4 == 0) hex += "0x";
        hex += digits[b >> 4];
        hex += digits[b & 15];
        if (i % 2 == 1) hex += i % 4 == 1 ? " " : ", ";
        escaped += "\\x";
        escaped += digits[b >> 4];
        escaped += digits[b & 15];
    }
    const SendParse h = ParseSendLine(hex, SendFormat::Hex);
    FUZZ_CHECK(h.ok && h.bytes == line);
    const SendParse e = ParseSendLine(escaped, SendFormat::Escapes);
    FUZZ_CHECK(e.ok && e.bytes == line);
    return 0;
}
