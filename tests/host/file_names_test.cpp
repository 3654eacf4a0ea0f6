#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "host/text_file.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

// A name with characters outside every 8-bit code page: on Windows a narrow open would read
// it in the ANSI code page and create or miss some other file.
TEST(FileNames, Utf8NamesOpenTheFileTheyName) {
    const fs::path dir = fs::temp_directory_path() / "corvel_names_test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::u8string shown = u8"dados-\u00e7\u00e3o-\u0416-\u4e2d.bin";
    const std::string utf8(shown.begin(), shown.end());
    const std::string name = (dir / "x").string();
    const std::string path = name.substr(0, name.size() - 1) + utf8;

    std::FILE* f = OpenFileNoWait(path, true);
    ASSERT_NE(f, nullptr);
    std::fputs("payload", f);
    std::fclose(f);

    EXPECT_EQ(PathFromUtf8(path).filename(), fs::path(shown));
    EXPECT_TRUE(fs::exists(dir / fs::path(shown)));
    EXPECT_EQ(fs::file_size(PathFromUtf8(path)), 7u);
    f = OpenFileNoWait(path, false);
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 7u);
    std::fclose(f);
    EXPECT_EQ(std::string(buf), "payload");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace corvel
