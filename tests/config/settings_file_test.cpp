#include "terminal/settings_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <csignal>
#include <filesystem>
#include <random>

#include "host/text_file.h"
#include "temp_folder.h"

namespace corvel {
namespace {

using test::TempFolder;

TEST(ParseIniInteger, DecimalHexAndRejects) {
    EXPECT_EQ(ParseIniInteger("12"), 12);
    EXPECT_EQ(ParseIniInteger(" -5 "), -5);
    EXPECT_EQ(ParseIniInteger("+7"), 7);
    EXPECT_EQ(ParseIniInteger("0x10"), 16);
    EXPECT_EQ(ParseIniInteger("0X1c200"), 115200);
    EXPECT_EQ(ParseIniInteger("$ff"), 255);
    EXPECT_EQ(ParseIniInteger("-$10"), -16);
    EXPECT_EQ(ParseIniInteger("0xFF000005"), -16777211);  // all 32 bits: a system colour
    EXPECT_EQ(ParseIniInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseIniInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseIniInteger("00000000000000000042"), 42);
    for (const char* bad : {"", " ", "-", "0x", "$", "2147483648", "-2147483649", "0x100000000",
                            "12abc", "1 2", "ff", "1e3", "1.5", "++1", "0x-1", "4294967295"})
        EXPECT_EQ(ParseIniInteger(bad), std::nullopt) << '"' << bad << '"';
}

TEST(IniFile, ReadsLikeThePrivateProfileFunctions) {
    TempFolder dir;
    // Mixed line ends, odd case, blanks around names and values, quotes, a comment.
    dir.Put("t.ini",
            "; hand edited\r\n[Uart]\r\n  port = COM5  \r\nBaudRate=0x1C200\n[color]\r"
            "REPORT ERROR=$FF\r\nQuoted=\"  two  \"\r\nBad=12abc\nOn=2\nOff=0x0\nEmpty=");
    tIniFile ini(dir.File("t.ini"));
    EXPECT_EQ(ini.ReadString("UART", "PORT", "x"), "COM5");
    EXPECT_EQ(ini.ReadInteger("uart", "baudrate", 0), 115200);
    EXPECT_EQ(ini.ReadInteger("COLOR", "report error", 0), 255);
    EXPECT_EQ(ini.ReadString("COLOR", "QUOTED", ""), "  two  ");
    EXPECT_EQ(ini.ReadInteger("COLOR", "Bad", 77), 77);
    EXPECT_TRUE(ini.ReadBool("COLOR", "On", false));
    EXPECT_FALSE(ini.ReadBool("COLOR", "Off", true));
    EXPECT_TRUE(ini.ReadBool("COLOR", "Bad", true));
    EXPECT_TRUE(ini.ReadBool("COLOR", "Empty", true));  // empty is not a number
    EXPECT_EQ(ini.ReadString("COLOR", "Empty", "d"), "");
    EXPECT_EQ(ini.ReadString("COLOR", "missing", "d"), "d");
    EXPECT_EQ(ini.ReadInteger("NOPE", "PORT", -3), -3);
    EXPECT_TRUE(ini.SectionExists("uart"));
    EXPECT_FALSE(ini.ValueExists("uart", "REPORT ERROR"));

    tIniFile none(dir.File("absent.ini"));
    EXPECT_EQ(none.ReadString("UART", "PORT", "COM1"), "COM1");
    EXPECT_FALSE(std::filesystem::exists(dir.File("absent.ini")));
}

TEST(IniFile, WritesKeepTheRestOfAHandEditedFile) {
    TempFolder dir;
    dir.Put("t.ini",
            "; top comment\n[UART]\nport=COM5\n# note\nbaudrate=9600\n\n; about colours\n"
            "[COLOR]\nX=1\n[OTHER]\nkeep = me");
    tIniFile ini(dir.File("t.ini"));
    ini.WriteString("Uart", "PORT", "COM7");     // existing key: file spelling kept
    ini.WriteInteger("UART", "USE DEBUG", -12);  // new key after the section's last key
    ini.WriteBool("NEW", "ENABLED", true);       // new section at the end
    ini.WriteBool("new", "USE_ECHO", false);
    EXPECT_EQ(dir.Get("t.ini"),
              "; top comment\r\n[UART]\r\nport=COM7\r\n# note\r\nbaudrate=9600\r\n"
              "USE DEBUG=-12\r\n\r\n; about colours\r\n[COLOR]\r\nX=1\r\n[OTHER]\r\n"
              "keep = me\r\n[NEW]\r\nENABLED=1\r\nUSE_ECHO=0\r\n");

    tIniFile fresh(dir.File("new.ini"));
    fresh.WriteString("A", "k", "v");
    EXPECT_EQ(dir.Get("new.ini"), "[A]\r\nk=v\r\n");
}

TEST(IniFile, ManyWritesReadTheSameAsAFreshParse) {
    TempFolder dir;
    dir.Put("t.ini", "[A]\nk0=x\n; c\n[B]\n[a]\nk1=dup\n[C]\nk2=y\n");
    tIniFile ini(dir.File("t.ini"));
    const char* sections[] = {"A", "b", "C", "D", "a"};
    const char* keys[] = {"k0", "K1", "k2", "k3", " k4 ", "a=b", "x]y"};
    std::mt19937 rng(3);
    const auto compare = [&] {
        tIniFile fresh(dir.File("t.ini"));
        for (const char* sec : sections)
            for (const char* key : keys)
                EXPECT_EQ(ini.ReadString(sec, key, "-"), fresh.ReadString(sec, key, "-"))
                    << sec << '/' << key;
    };
    // Ordinary names first, then names that read back differently from how they were given.
    for (std::size_t names : {5u, 7u}) {
        ini.Update([&] {
            for (int i = 0; i < 200; ++i)
                ini.WriteInteger(sections[rng() % 5], keys[rng() % names], i);
        });
        compare();
    }
}

TEST(IniFile, FirstOfDuplicatedSectionsAndKeysWins) {
    TempFolder dir;
    dir.Put("t.ini", "[A]\nk=1\nk=2\n[B]\nk=3\n[a]\nk=4\nonly=5\n");
    tIniFile ini(dir.File("t.ini"));
    EXPECT_EQ(ini.ReadInteger("A", "k", 0), 1);
    EXPECT_EQ(ini.ReadInteger("A", "only", 0), 0);  // it lives in the repeated section
    ini.WriteInteger("a", "K", 9);
    ini.WriteInteger("A", "only", 6);
    EXPECT_EQ(dir.Get("t.ini"),
              "[A]\r\nk=9\r\nk=2\r\nonly=6\r\n[B]\r\nk=3\r\n[a]\r\nk=4\r\nonly=5\r\n");
}

TEST(IniFile, ValuesRoundTripSafely) {
    TempFolder dir;
    tIniFile ini(dir.File("t.ini"));
    ini.WriteString("S", "padded", "  both ends ");
    ini.WriteString("S", "quoted", "\"q\"");
    ini.WriteString("S", "inject", "a\r\nPORT=evil\nb");
    ini.WriteString("S", "accents", "ação €");
    ini.WriteString("S", "nul", std::string("cut\0here", 8));
    const std::string longValue(3000, 'v');
    ini.WriteString("S", "long", longValue);
    EXPECT_EQ(ini.ReadString("S", "padded", ""), "  both ends ");
    EXPECT_EQ(ini.ReadString("S", "quoted", ""), "\"q\"");
    EXPECT_EQ(ini.ReadString("S", "inject", ""), "a  PORT=evil b");
    EXPECT_FALSE(ini.ValueExists("S", "PORT"));
    EXPECT_EQ(ini.ReadString("S", "accents", ""), "ação €");
    EXPECT_EQ(ini.ReadString("S", "nul", ""), "cut");
    EXPECT_EQ(ini.ReadString("S", "long", "").size(), tIniFile::kMaxValueChars);
    const std::string file = dir.Get("t.ini");
    EXPECT_NE(file.find("accents=a\xE7\xE3o \x80\r\n"), std::string::npos);  // 8-bit code page
    EXPECT_NE(file.find("long=" + longValue + "\r\n"), std::string::npos);   // stored whole

    // A file saved with a UTF-8 mark stays UTF-8.
    dir.Put("u.ini", "\xEF\xBB\xBF[S]\r\nname=ação\r\n");
    tIniFile utf(dir.File("u.ini"));
    EXPECT_EQ(utf.ReadString("S", "name", ""), "ação");
    utf.WriteString("S", "more", "€");
    EXPECT_EQ(dir.Get("u.ini"), "\xEF\xBB\xBF[S]\r\nname=ação\r\nmore=€\r\n");
}

TEST(IniFile, ReadsFollowChangesMadeByOthers) {
    TempFolder dir;
    tIniFile a(dir.File("t.ini"));
    tIniFile b(dir.File("t.ini"));
    EXPECT_EQ(a.ReadInteger("S", "k", 0), 0);
    b.WriteInteger("S", "k", 1);
    EXPECT_EQ(a.ReadInteger("S", "k", 0), 1);
    a.WriteInteger("S", "other", 2);  // a's write must not lose b's key
    b.WriteInteger("S", "k", 12345);
    EXPECT_EQ(a.ReadInteger("S", "k", 0), 12345);
    EXPECT_EQ(b.ReadInteger("S", "other", 0), 2);
    std::filesystem::remove(dir.File("t.ini"));
    EXPECT_EQ(a.ReadInteger("S", "k", 7), 7);
}

TEST(IniFile, UpdateStoresOnceOrNotAtAll) {
    TempFolder dir;
    tIniFile ini(dir.File("t.ini"));
    ini.WriteInteger("S", "k", 1);
    ini.Update([&] {
        ini.WriteInteger("S", "k", 2);
        ini.Update([&] { ini.WriteInteger("S", "j", 3); });
        EXPECT_EQ(dir.Get("t.ini"), "[S]\r\nk=1\r\n");  // nothing on disk yet
        EXPECT_EQ(ini.ReadInteger("S", "j", 0), 3);     // but readable
    });
    EXPECT_EQ(dir.Get("t.ini"), "[S]\r\nk=2\r\nj=3\r\n");

    EXPECT_THROW(ini.Update([&] {
        ini.WriteInteger("S", "k", 99);
        throw std::runtime_error("abandon");
    }),
                 std::runtime_error);
    EXPECT_EQ(ini.ReadInteger("S", "k", 0), 2);
    EXPECT_EQ(dir.Get("t.ini"), "[S]\r\nk=2\r\nj=3\r\n");
}

TEST(IniFile, FailedWritesThrowAndKeepTheOldFile) {
    TempFolder dir;
    dir.Put("plain", "x");
    tIniFile underFile(dir.File("plain/t.ini"));  // a folder that cannot exist
    EXPECT_EQ(underFile.ReadInteger("S", "k", 4), 4);
    EXPECT_THROW(underFile.WriteInteger("S", "k", 1), FileError);

    std::filesystem::create_directory(dir.File("isdir.ini"));
    tIniFile aFolder(dir.File("isdir.ini"));
    EXPECT_EQ(aFolder.ReadInteger("S", "k", 4), 4);
    EXPECT_THROW(aFolder.WriteInteger("S", "k", 1), FileError);

#ifndef _WIN32
    // A full disk, played by the file size limit (POSIX only): the old file survives whole.
    const std::string old = "[S]\r\nk=1\r\n";
    dir.Put("t.ini", old);
    tIniFile ini(dir.File("t.ini"));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        ini.WriteString("S", "big", std::string(200, 'z'));
    } catch (const FileError& e) {
        threw = true;
        EXPECT_EQ(e.path(), dir.File("t.ini"));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(dir.Get("t.ini"), old);
    EXPECT_EQ(ini.ReadString("S", "big", "none"), "none");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 3u);  // plain, isdir.ini, t.ini: no temporary file left behind
#endif
}

#ifndef _WIN32  // links and POSIX permission bits
TEST(IniFile, WritesKeepTheLinkAndPermissionsOfTheFile) {
    TempFolder dir;
    dir.Put("real.ini", "[S]\r\nk=1\r\n");
    namespace fs = std::filesystem;
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(dir.File("real.ini"), perms);
    std::filesystem::create_symlink(dir.File("real.ini"), dir.File("link.ini"));
    tIniFile ini(dir.File("link.ini"));
    ini.WriteInteger("S", "k", 2);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(dir.Get("real.ini"), "[S]\r\nk=2\r\n");
    EXPECT_EQ(fs::status(dir.File("real.ini")).permissions(), perms);
}
#endif

TEST(IniFile, HostileFilesNeitherCrashNorStall) {
    TempFolder dir;
    std::mt19937 rng(7);
    std::string garbage;
    for (int i = 0; i < 200000; ++i) garbage.push_back(static_cast<char>(rng()));
    garbage += "\n[GOOD]\nk=5";  // no line end at the very end
    dir.Put("g.ini", garbage);
    tIniFile g(dir.File("g.ini"));
    EXPECT_EQ(g.ReadInteger("GOOD", "k", 0), 5);
    g.WriteInteger("GOOD", "k", 6);
    EXPECT_EQ(g.ReadInteger("GOOD", "k", 0), 6);
    const std::size_t firstEnd = garbage.find_first_of("\r\n");
    EXPECT_EQ(dir.Get("g.ini").substr(0, firstEnd + 2), garbage.substr(0, firstEnd) + "\r\n");

    // One 10 MB line, NUL bytes in a value, a section header without its bracket.
    std::string big = "[BIG]\nhuge=" + std::string(10 * 1024 * 1024, 'h') + "\n";
    big += std::string("nul=ab\0cd\n[OPEN\nk=1\n", 20);
    dir.Put("b.ini", big);
    tIniFile b(dir.File("b.ini"));
    EXPECT_EQ(b.ReadString("BIG", "huge", "").size(), tIniFile::kMaxValueChars);
    EXPECT_EQ(b.ReadString("BIG", "nul", ""), "ab");
    EXPECT_EQ(b.ReadInteger("OPEN", "k", 0), 1);
    for (int i = 0; i < 60; ++i) EXPECT_EQ(b.ReadInteger("OPEN", "k", 0), 1);  // parsed once
}

TEST(SettingsLocation, ProgramFolderWhenWritableElsePerUserFolder) {
    TempFolder dir;
    std::filesystem::create_directory(dir.File("bin"));
    SettingsLocation here = ChooseSettingsLocation(dir.File("bin"), dir.File("user"));
    EXPECT_TRUE(here.inExecutableFolder);
    EXPECT_EQ(here.path, dir.File("bin/tool_terminal.ini"));
    EXPECT_FALSE(here.reason.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.File("user")));

    dir.Put("plain", "x");  // tests run as root: only a folder that cannot exist is unwritable
    SettingsLocation away = ChooseSettingsLocation(dir.File("plain/bin"), dir.File("cfg/corvel"));
    EXPECT_FALSE(away.inExecutableFolder);
    EXPECT_EQ(away.path, dir.File("cfg/corvel/tool_terminal.ini"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("cfg/corvel")));
    tIniFile ini(away.path);
    ini.WriteInteger("S", "k", 1);  // the chosen place takes writes
}

}  // namespace
}  // namespace corvel
