#include "terminal/cmds_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#include "host/text_file.h"
#include "temp_folder.h"

namespace corvel {
namespace {

using test::TempFolder;
using Lines = std::vector<std::string>;

std::string Utf16(const std::u16string& s, bool bigEndian) {
    std::string out;
    for (char16_t u : s) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

TEST(CmdsFile, ListReadSortedAndWrittenBackInItsEncoding) {
    TempFolder dir;
    struct Case {
        TextEncoding encoding;
        std::string file;
    };
    const Case cases[] = {
        {TextEncoding::Ansi, "b\r\nA\r\nc\r\n"},
        {TextEncoding::Utf8,
         "\xEF\xBB\xBF"
         "b\r\nA\r\nc\r\n"},
        {TextEncoding::Utf16LE, Utf16(u"\uFEFFb\r\nA\r\nc\r\n", false)},
        {TextEncoding::Utf16BE, Utf16(u"\uFEFFb\r\nA\r\nc\r\n", true)},
    };
    for (const Case& c : cases) {
        dir.Put("l.cmds", c.file);
        CmdsText text = ReadCmdsFile(dir.File("l.cmds"));
        EXPECT_EQ(text.encoding, c.encoding);
        EXPECT_FALSE(text.repaired);
        SortNoCase(text.lines);
        EXPECT_EQ(text.lines, (Lines{"A", "b", "c"}));
        WriteCmdsFile(dir.File("l.cmds"), text.lines, text.encoding);
        const CmdsText again = DecodeCmdsText(dir.Get("l.cmds"));
        EXPECT_EQ(again.lines, (Lines{"A", "b", "c"}));
        EXPECT_EQ(again.encoding, c.encoding);
    }
    EXPECT_EQ(dir.Get("l.cmds"), Utf16(u"\uFEFFA\r\nb\r\nc\r\n", true));

    // Text beyond ASCII in each encoding, an empty command, a character outside the BMP.
    const Lines rich{"ação €", "", "\xF0\x9F\x98\x80 smile"};
    for (TextEncoding e : {TextEncoding::Utf8, TextEncoding::Utf16LE, TextEncoding::Utf16BE}) {
        const CmdsText back = DecodeCmdsText(EncodeCmdsText(rich, e));
        EXPECT_EQ(back.lines, rich);
        EXPECT_FALSE(back.repaired);
    }
    EXPECT_EQ(EncodeCmdsText({"ação €", "", "\xF0\x9F\x98\x80"}, TextEncoding::Ansi),
              "a\xE7\xE3o \x80\r\n\r\n?\r\n");
    EXPECT_EQ(EncodeCmdsText({}, TextEncoding::Ansi), "");
    EXPECT_EQ(EncodeCmdsText({}, TextEncoding::Utf8), "\xEF\xBB\xBF");
}

TEST(CmdsFile, LineEndsNulAndEveryByteOfTheCodePage) {
    EXPECT_EQ(DecodeCmdsText("a\r\nb\rc\nd").lines, (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(DecodeCmdsText("a\r\n\r\n").lines, (Lines{"a", ""}));
    EXPECT_EQ(DecodeCmdsText("\n\r").lines, (Lines{"", ""}));
    EXPECT_EQ(DecodeCmdsText("\r\r\n").lines, (Lines{"", ""}));
    EXPECT_TRUE(DecodeCmdsText("").lines.empty());
    EXPECT_EQ(DecodeCmdsText(std::string("a\r\nb\0c\r\nd", 9)).lines, (Lines{"a", "b"}));
    EXPECT_EQ(DecodeCmdsText(std::string("\xEF\xBB\xBFx\0y", 6)).lines, (Lines{"x"}));
    EXPECT_EQ(DecodeCmdsText(Utf16(u"\uFEFFx\r\ny\0z", false)).lines, (Lines{"x", "y"}));

    // A list in the 8-bit code page goes back to the disk byte for byte, undefined bytes too.
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != '\r' && b != '\n') all.push_back(static_cast<char>(b));
    const CmdsText text = DecodeCmdsText(all + "\r\n");
    EXPECT_EQ(text.encoding, TextEncoding::Ansi);
    EXPECT_EQ(text.lines.size(), 1u);
    EXPECT_EQ(EncodeCmdsText(text.lines, TextEncoding::Ansi), all + "\r\n");
    EXPECT_EQ(DecodeCmdsText("\x80").lines, (Lines{"€"}));
}

TEST(CmdsFile, BrokenTextIsReadClearly) {
    // Bad UTF-8 after a UTF-8 mark: the bytes are kept as Latin-1 characters.
    CmdsText t = DecodeCmdsText("\xEF\xBB\xBFok\r\nbad\xFF\xC3(\r\n");
    EXPECT_EQ(t.encoding, TextEncoding::Utf8);
    EXPECT_TRUE(t.repaired);
    EXPECT_EQ(t.lines, (Lines{"ok", "bad\xC3\xBF\xC3\x83("}));

    // UTF-16 of odd length, and unpaired surrogates.
    t = DecodeCmdsText(Utf16(u"\uFEFFab", false) + "c");
    EXPECT_TRUE(t.repaired);
    EXPECT_EQ(t.lines, (Lines{"ab"}));
    std::u16string lone = u"\uFEFFx";
    lone += static_cast<char16_t>(0xD800);
    lone += u"y";
    lone += static_cast<char16_t>(0xDC00);
    t = DecodeCmdsText(Utf16(lone, true));
    EXPECT_TRUE(t.repaired);
    EXPECT_EQ(t.lines, (Lines{"x\xEF\xBF\xBDy\xEF\xBF\xBD"}));
    // Only a mark.
    EXPECT_TRUE(DecodeCmdsText("\xFF\xFE").lines.empty());
    EXPECT_EQ(DecodeCmdsText("\xFF\xFE").encoding, TextEncoding::Utf16LE);
}

TEST(CmdsFile, FileErrorsAreThrown) {
    TempFolder dir;
    EXPECT_THROW(ReadCmdsFile(dir.File("absent.cmds")), FileError);
    dir.Put("plain", "x");
    EXPECT_THROW(WriteCmdsFile(dir.File("plain/l.cmds"), {"a"}, TextEncoding::Ansi), FileError);
    EXPECT_THROW(WriteCmdsFile(dir.File("nowhere/l.cmds"), {"a"}, TextEncoding::Ansi), FileError);

    // Too large to be a command list: refused, not loaded into the window.
    dir.Put("huge.cmds", "");
    std::filesystem::resize_file(dir.File("huge.cmds"), kMaxCmdsFileBytes + 1);
    try {
        ReadCmdsFile(dir.File("huge.cmds"));
        ADD_FAILURE() << "a huge list was read";
    } catch (const FileError& e) {
        EXPECT_EQ(e.path(), dir.File("huge.cmds"));
    }
}

TEST(FindFiles, OnlyListFilesDirectlyInTheFolderSortedWithoutCase) {
    TempFolder dir;
    dir.Put("b.cmds", "");
    dir.Put("A.cmds", "");
    dir.Put("c.CMDS", "");
    dir.Put("note.txt", "");
    dir.Put("x.cmds.bak", "");
    dir.Put("cmds", "");
    std::filesystem::create_directory(dir.File("folder.cmds"));
    std::filesystem::create_directory(dir.File("sub"));
    dir.Put("sub/deep.cmds", "");
    Lines want{dir.File("A.cmds"), dir.File("b.cmds"), dir.File("c.CMDS")};
#ifndef _WIN32
    // Symbolic links and FIFOs as ordinary users make them exist on POSIX systems only.
    std::filesystem::create_symlink(dir.File("b.cmds"), dir.File("linked.cmds"));
    std::filesystem::create_symlink(dir.File("gone"), dir.File("broken.cmds"));
    ASSERT_EQ(mkfifo(dir.File("pipe.cmds").c_str(), 0600), 0);
    want.push_back(dir.File("linked.cmds"));
#endif

    EXPECT_EQ(FindFiles(dir.path(), "cmds"), want);
    EXPECT_EQ(FindFiles(dir.path() + "/", "cmds").size(), want.size());
    EXPECT_TRUE(FindFiles(dir.File("missing"), "cmds").empty());
    EXPECT_TRUE(FindFiles(dir.File("note.txt"), "cmds").empty());
}

TEST(ListHelpers, SortingNamesAndIndices) {
    Lines items{"b", "A", "c", "a", "_x", "É1", "e2", "10", "9", "B"};
    SortNoCase(items);
    EXPECT_EQ(items, (Lines{"10", "9", "_x", "A", "a", "B", "b", "c", "e2", "É1"}));
    EXPECT_EQ(SortedInsertPosition(items, "b"), 7u);  // after its equals
    EXPECT_EQ(SortedInsertPosition(items, "0"), 0u);
    EXPECT_EQ(SortedInsertPosition(items, "zz"), 9u);
    EXPECT_TRUE(LessNoCase("apple", "Banana"));
    EXPECT_FALSE(LessNoCase("Banana", "apple"));
    EXPECT_TRUE(LessNoCase("ÁGUA", "águas"));
    EXPECT_FALSE(LessNoCase("x", "x"));

    EXPECT_EQ(WithCmdsExtension("/lists/board.txt"), "/lists/board.cmds");
    EXPECT_EQ(WithCmdsExtension("/lists/board"), "/lists/board.cmds");
    EXPECT_EQ(WithCmdsExtension("/my.lists/board"), "/my.lists/board.cmds");
    EXPECT_EQ(WithCmdsExtension("C:\\a.b\\x.cmds"), "C:\\a.b\\x.cmds");
    EXPECT_EQ(FileNameOf("/lists/board.cmds"), "board.cmds");
    EXPECT_EQ(FileNameOf("C:\\lists\\b.cmds"), "b.cmds");

    EXPECT_EQ(ClampListIndex(-5, 3), 0);
    EXPECT_EQ(ClampListIndex(7, 3), 2);
    EXPECT_EQ(ClampListIndex(1, 3), 1);
    EXPECT_EQ(ClampListIndex(0, 0), -1);
    EXPECT_EQ(ClampListIndex(INT32_MAX, 1), 0);
}

}  // namespace
}  // namespace corvel
