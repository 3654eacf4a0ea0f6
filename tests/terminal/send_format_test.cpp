#include "terminal/send_format.h"

#include <gtest/gtest.h>

#include <string>

namespace corvel {
namespace {

std::string Bytes(std::string_view line, SendFormat f) {
    const SendParse p = ParseSendLine(line, f);
    EXPECT_TRUE(p.ok) << line << ": " << p.error << " at " << p.errorAt;
    return p.bytes;
}

TEST(SendFormat, HexTakesTheUsualSpellings) {
    const std::string want("\x01\x02\xff", 3);
    EXPECT_EQ(Bytes("01 02 ff", SendFormat::Hex), want);
    EXPECT_EQ(Bytes("0102FF", SendFormat::Hex), want);
    EXPECT_EQ(Bytes("0x01,0x02, 0XfF", SendFormat::Hex), want);
    EXPECT_EQ(Bytes("1 2 ff", SendFormat::Hex), want);
    EXPECT_EQ(Bytes("0x55 0xAA", SendFormat::Hex), "\x55\xAA");
    EXPECT_EQ(Bytes("55AA", SendFormat::Hex), "\x55\xAA");
    EXPECT_EQ(Bytes("\t 00 ", SendFormat::Hex), std::string(1, '\0'));
    EXPECT_EQ(Bytes("   ", SendFormat::Hex), "");
}

TEST(SendFormat, BadHexIsRefusedAtItsCharacter) {
    struct Case {
        const char* line;
        std::size_t at;
    };
    for (const Case& c : {Case{"01 0g", 4}, Case{"123", 0}, Case{"ff 0x", 3}, Case{"01 é", 3},
                          Case{"01 02 fff", 6}, Case{"0x1x", 3}}) {
        const SendParse p = ParseSendLine(c.line, SendFormat::Hex);
        EXPECT_FALSE(p.ok) << c.line;
        EXPECT_EQ(p.errorAt, c.at) << c.line;
        EXPECT_TRUE(p.bytes.empty()) << c.line;
        EXPECT_FALSE(p.error.empty());
    }
}

TEST(SendFormat, EscapesMixWithCodePageText) {
    EXPECT_EQ(Bytes(R"(AT\r\n)", SendFormat::Escapes), "AT\r\n");
    EXPECT_EQ(Bytes(R"(\e[2J\tx\\y\x00\xFf)", SendFormat::Escapes),
              std::string("\x1b[2J\tx\\y\x00\xff", 10));
    // Text around escapes still goes out in the 8-bit code page.
    EXPECT_EQ(Bytes("caf\xc3\xa9\\n\xe2\x82\xac", SendFormat::Escapes), "caf\xe9\n\x80");
    // In plain text a backslash is a backslash.
    EXPECT_EQ(Bytes(R"(a\n)", SendFormat::Text), R"(a\n)");
}

TEST(SendFormat, BadEscapesAreRefusedAtTheBackslash) {
    struct Case {
        const char* line;
        std::size_t at;
    };
    for (const Case& c : {Case{R"(ok\q)", 2}, Case{R"(end\)", 3}, Case{R"(\x4)", 0},
                          Case{R"(a\xg0)", 1}, Case{R"(\\\)", 2}, Case{"é\\q", 1}}) {
        const SendParse p = ParseSendLine(c.line, SendFormat::Escapes);
        EXPECT_FALSE(p.ok) << c.line;
        EXPECT_EQ(p.errorAt, c.at) << c.line;
        EXPECT_TRUE(p.bytes.empty()) << c.line;
    }
}

TEST(SendFormat, StoredNumbersOutsideTheFormatsReadAsText) {
    EXPECT_EQ(SendFormatFromInt(1), SendFormat::Hex);
    EXPECT_EQ(SendFormatFromInt(2), SendFormat::Escapes);
    EXPECT_EQ(SendFormatFromInt(-1), SendFormat::Text);
    EXPECT_EQ(SendFormatFromInt(3), SendFormat::Text);
}

}  // namespace
}  // namespace corvel
