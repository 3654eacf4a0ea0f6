#include "terminal/format.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

TEST(FormatByteSize, UnitThresholdsAndHalfToEven) {
    EXPECT_EQ(FormatByteSize(0), "0 bytes");
    EXPECT_EQ(FormatByteSize(1024), "1024 bytes");
    EXPECT_EQ(FormatByteSize(1025), "1 Kbytes");
    EXPECT_EQ(FormatByteSize(1536), "2 Kbytes");  // 1.5 -> 2 (even)
    EXPECT_EQ(FormatByteSize(2560), "2 Kbytes");  // 2.5 -> 2 (even)
    EXPECT_EQ(FormatByteSize(2561), "3 Kbytes");
    EXPECT_EQ(FormatByteSize(3584), "4 Kbytes");  // 3.5 -> 4
    EXPECT_EQ(FormatByteSize(1048576), "1024 Kbytes");
    EXPECT_EQ(FormatByteSize(1048577), "1 Mbytes");
    EXPECT_EQ(FormatByteSize(3u * 1048576 - 1), "3 Mbytes");
    EXPECT_EQ(FormatByteSize(5u * 1048576 / 2), "2 Mbytes");  // 2.5 Mbytes -> 2
    EXPECT_EQ(FormatByteSize(0xFFFFFFFFu), "4096 Mbytes");
}

TEST(FormatText, FormatsAndSurvivesLongOutput) {
    EXPECT_EQ(FormatText("Adjusted for %u bytes", 2038u), "Adjusted for 2038 bytes");
    EXPECT_EQ(FormatText("%s|%d", "a", -5), "a|-5");
    const std::string big(5000, 'x');
    EXPECT_EQ(FormatText("<%s>", big.c_str()), "<" + big + ">");
}

}  // namespace
}  // namespace corvel
