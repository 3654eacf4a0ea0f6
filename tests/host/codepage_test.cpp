#include "host/codepage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "host/text_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace corvel {
namespace {

TEST(CodePage, MapsLatinAndWindowsExtrasAndSubstitutesTheRest) {
    EXPECT_EQ(Utf8ToAnsi("Fun\xC3\xA7\xC3\xA3o"), "Fun\xE7\xE3o");  // Função
    EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC"), "\x80");                  // euro sign
    EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD"), "?");                     // a CJK character
    EXPECT_EQ(AnsiToUtf8("\x80\xE7"), "\xE2\x82\xAC\xC3\xA7");
    EXPECT_EQ(Latin1ToUtf8("\x80\xFF"), "\xC2\x80\xC3\xBF");
}

// One codec for every writer: each byte the code page defines comes back from its character,
// the five that Windows-1252 leaves unassigned included (as the control characters of the same
// number). On Windows the code page is the system's own, as the OS converts it.
TEST(CodePage, EveryByteComesBackFromItsCharacter) {
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string utf8 = AnsiToUtf8(one);
        if (utf8 == "\xEF\xBF\xBD") continue;  // a byte the code page leaves undefined
        EXPECT_EQ(Utf8ToAnsi(utf8), one) << b;
    }
#ifdef _WIN32
    const UINT acp = ::GetACP();
    CPINFO info{};
    ASSERT_TRUE(::GetCPInfo(acp, &info));
    if (info.MaxCharSize != 1) {
        EXPECT_EQ(AnsiCodePage(), 1252u);
        return;
    }
    EXPECT_EQ(AnsiCodePage(), acp);
    for (int b = 0x80; b < 0x100; ++b) {
        const char byte = static_cast<char>(b);
        wchar_t wide = 0;
        if (::MultiByteToWideChar(acp, MB_ERR_INVALID_CHARS, &byte, 1, &wide, 1) != 1) continue;
        EXPECT_EQ(AnsiToUtf8(std::string(1, byte)), EncodeUtf8(std::u32string(1, wide))) << b;
    }
#else
    EXPECT_EQ(AnsiCodePage(), 1252u);
    for (const char* b : {"\x81", "\x8D", "\x8F", "\x90", "\x9D"})
        EXPECT_EQ(AnsiToUtf8(b), Latin1ToUtf8(b));
#endif
}

TEST(CodePage, MalformedUtf8KeepsEveryByte) {
    // A lone continuation byte and a truncated sequence are read as Latin-1, not dropped.
    EXPECT_EQ(DecodeUtf8("a\x80z\xC3"), (std::u32string{U'a', 0x80, U'z', 0xC3}));
    EXPECT_EQ(DecodeUtf8("\xC0\xAF"), (std::u32string{0xC0, 0xAF}));  // overlong '/'
    const std::u32string round = DecodeUtf8(EncodeUtf8(U"x\u00e9\u20ac\U0001F600"));
    EXPECT_EQ(round, U"x\u00e9\u20ac\U0001F600");
}

TEST(TextFile, WritesCrLfInCodePageAndReportsFailures) {
    const std::string path = ::testing::TempDir() + "/corvel_text_file_test.txt";
    WriteTextLines(path, {"Fechando a porta COM3", "Fun\xC3\xA7\xC3\xA3o"});
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "Fechando a porta COM3\r\nFun\xE7\xE3o\r\n");
    std::remove(path.c_str());
    try {
        WriteTextLines("/nonexistent-dir/x.txt", {"a"});
        FAIL() << "expected FileError";
    } catch (const FileError& e) {
        EXPECT_EQ(e.path(), "/nonexistent-dir/x.txt");
        EXPECT_NE(std::string(e.what()).find("/nonexistent-dir/x.txt"), std::string::npos);
    }
}

}  // namespace
}  // namespace corvel
