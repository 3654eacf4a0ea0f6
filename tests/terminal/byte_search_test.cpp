#include "terminal/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace corvel {
namespace {

std::size_t Naive(std::string_view text, std::string_view needle, bool matchCase, bool latin1,
                  std::size_t from) {
    const auto fold = [&](unsigned char c) -> unsigned char {
        if (matchCase) return c;
        if (c >= 'A' && c <= 'Z') return c + 32;
        if (latin1 && c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
        return c;
    };
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        std::size_t j = 0;
        while (j < needle.size() && fold(text[i + j]) == fold(needle[j])) ++j;
        if (j == needle.size()) return i;
    }
    return ByteSearch::npos;
}

TEST(ByteSearch, AgreesWithAPlainScanOnRandomBytes) {
    // Few distinct letters in both cases make many near misses, the shifts' hard cases.
    std::mt19937 rng(7);
    const std::string alphabet = "aAbB\xC9\xE9\xD7\xF7";
    const auto make = [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += alphabet[rng() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 3000; ++round) {
        const std::string text = make(rng() % 40);
        const std::string needle = make(1 + rng() % 4);
        const bool matchCase = round % 2;
        const bool latin1 = round % 3 != 0;
        const ByteSearch search(needle, matchCase, latin1);
        for (std::size_t from = 0; from <= text.size(); from += 3)
            ASSERT_EQ(search.FindIn(text, from), Naive(text, needle, matchCase, latin1, from))
                << round;
        std::size_t last = ByteSearch::npos;
        for (std::size_t at = Naive(text, needle, matchCase, latin1, 0); at != ByteSearch::npos;
             at = Naive(text, needle, matchCase, latin1, at + 1))
            last = at;
        ASSERT_EQ(search.FindLastIn(text), last) << round;
    }
}

TEST(ByteSearch, CaseRules) {
    EXPECT_EQ(ByteSearch("boot", false, true).FindIn("U-Boot BOOT"), 2u);
    EXPECT_EQ(ByteSearch("BOOT", true, true).FindIn("U-Boot BOOT"), 7u);
    EXPECT_EQ(ByteSearch("Boot", true, true).FindIn("BOOT boot"), ByteSearch::npos);
    // Latin-1 letters fold in Latin-1 lines; × and ÷ are not a pair.
    EXPECT_EQ(ByteSearch("\xC9t\xC9", false, true).FindIn("\xE9t\xE9"), 0u);
    EXPECT_EQ(ByteSearch("\xD7", false, true).FindIn("\xF7"), ByteSearch::npos);
    // In UTF-8 those bytes are halves of characters and must stay as they are.
    EXPECT_EQ(ByteSearch("\xC3\x89", false, false).FindIn("\xC3\xA9"), ByteSearch::npos);
    EXPECT_EQ(ByteSearch("\xC3\x89T", false, false).FindIn("x\xC3\x89t"), 1u);
}

TEST(ByteSearch, LinesFromAPlaceRoundTheEndBothWays) {
    const std::vector<std::string> lines{"err 1", "ok", "err 2 err 3", "ok"};
    const ByteSearch err("ERR", false, true);
    const auto at = [](std::optional<LineMatch> m) {
        return m ? std::pair<std::size_t, std::size_t>{m->line, m->column}
                 : std::pair<std::size_t, std::size_t>{99, 99};
    };
    using P = std::pair<std::size_t, std::size_t>;
    EXPECT_EQ(at(FindLine(lines, err, 0, 0, false)), P(0, 0));
    EXPECT_EQ(at(FindLine(lines, err, 0, 1, false)), P(2, 0));
    EXPECT_EQ(at(FindLine(lines, err, 2, 1, false)), P(2, 6));
    EXPECT_EQ(at(FindLine(lines, err, 2, 7, false)), P(0, 0));  // round the end
    EXPECT_EQ(at(FindLine(lines, err, 2, 6, true)), P(2, 0));
    EXPECT_EQ(at(FindLine(lines, err, 2, 0, true)), P(0, 0));
    EXPECT_EQ(at(FindLine(lines, err, 0, 0, true)), P(2, 6));  // round the start
    EXPECT_EQ(at(FindLine(lines, err, 4, 0, true)), P(2, 6));  // from past the end: the last
    // The only match, searched from just after it, is found again by going round.
    const std::vector<std::string> one{"a", "x err", "b"};
    EXPECT_EQ(at(FindLine(one, err, 1, 3, false)), P(1, 2));
    EXPECT_EQ(at(FindLine(one, err, 1, 2, true)), P(1, 2));
    EXPECT_EQ(at(FindLine(lines, ByteSearch("warn", false, true), 1, 0, false)), P(99, 99));
    EXPECT_EQ(at(FindLine(lines, ByteSearch("", false, true), 0, 0, false)), P(99, 99));
}

}  // namespace
}  // namespace corvel
