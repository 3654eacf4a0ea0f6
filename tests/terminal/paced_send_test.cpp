#include "terminal/paced_send.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/fake_host.h"

namespace corvel {
namespace {

// Records each write with the time it happened; can stall after a number of bytes.
struct Wire {
    FakeHost host;
    std::vector<std::pair<std::uint64_t, std::string>> writes;
    std::size_t acceptUpTo = SIZE_MAX;
    std::size_t accepted = 0;
    tPacedSender sender{host, [this](const std::uint8_t* p, std::int32_t n) {
                            const std::size_t room = acceptUpTo - accepted;
                            const std::size_t take = std::min<std::size_t>(room, n);
                            accepted += take;
                            writes.emplace_back(
                                host.NowMs(), std::string(reinterpret_cast<const char*>(p), take));
                            return static_cast<std::int32_t>(take);
                        }};
    std::string All() const {
        std::string s;
        for (const auto& w : writes) s += w.second;
        return s;
    }
};

TEST(PacedSend, WithoutPacingEverythingGoesInOneWrite) {
    Wire w;
    w.sender.Send("ls\r\npwd\r\n");
    ASSERT_EQ(w.writes.size(), 1u);
    EXPECT_EQ(w.writes[0].second, "ls\r\npwd\r\n");
    EXPECT_FALSE(w.sender.Busy());
    EXPECT_EQ(w.host.ActiveTimerCount(), 0u);
}

TEST(PacedSend, CharacterAndLinePausesFollowTheClock) {
    Wire w;
    w.sender.SetPacing({10, 100});
    const std::uint64_t t0 = w.host.NowMs();
    w.sender.Send("ab\r\nc\rd");
    // The first character goes at once; the others wait on the clock.
    ASSERT_EQ(w.writes.size(), 1u);
    w.host.Advance(1000);
    std::vector<std::pair<std::uint64_t, std::string>> want{
        {t0, "a"},       {t0 + 10, "b"},   {t0 + 20, "\r"}, {t0 + 30, "\n"},
        {t0 + 140, "c"}, {t0 + 150, "\r"}, {t0 + 260, "d"}};
    EXPECT_EQ(w.writes, want);
    EXPECT_FALSE(w.sender.Busy());
    EXPECT_EQ(w.host.ActiveTimerCount(), 0u);
}

TEST(PacedSend, LinePauseAloneSendsWholeLinesAndHoldsTheNextSend) {
    Wire w;
    bool idle = false;
    w.sender.onIdle = [&] { idle = true; };
    w.sender.SetPacing({0, 50});
    const std::uint64_t t0 = w.host.NowMs();
    w.sender.Send("one\ntwo\nthree");
    w.host.Advance(200);
    std::vector<std::pair<std::uint64_t, std::string>> want{
        {t0, "one\n"}, {t0 + 50, "two\n"}, {t0 + 100, "three"}};
    EXPECT_EQ(w.writes, want);
    EXPECT_TRUE(idle);

    // A line sent right after a line end still waits out the pause.
    w.writes.clear();
    w.sender.Send("x\n");
    w.sender.Send("y\n");
    const std::uint64_t t1 = w.host.NowMs();
    w.host.Advance(200);
    want = {{t1, "x\n"}, {t1 + 50, "y\n"}};
    EXPECT_EQ(w.writes, want);
}

TEST(PacedSend, StopDropsTheRestAndAStallIsReported) {
    Wire w;
    w.sender.SetPacing({5, 0});
    w.sender.Send("abcdef");
    w.host.Advance(10);
    EXPECT_EQ(w.sender.Stop(), 3u);
    w.host.Advance(100);
    EXPECT_EQ(w.All(), "abc");
    EXPECT_EQ(w.host.ActiveTimerCount(), 0u);

    Wire s;
    std::size_t written = 99, dropped = 99;
    s.sender.onStall = [&](std::size_t a, std::size_t b) {
        written = a;
        dropped = b;
    };
    s.sender.SetPacing({0, 10});
    s.acceptUpTo = 5;
    s.sender.Send("abc\ndef\nghi\n");
    s.host.Advance(100);
    EXPECT_EQ(s.All(), "abc\nd");
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(dropped, 7u);  // "ef\n" and "ghi\n"
    EXPECT_FALSE(s.sender.Busy());
}

TEST(PacedSend, SendAndWaitPumpsUntilDoneOrTold) {
    Wire w;
    w.sender.SetPacing({2, 0});
    int asked = 0;
    EXPECT_EQ(w.sender.SendAndWait("12345", [&] { return ++asked > 0; }), 5u);
    EXPECT_EQ(w.All(), "12345");
    EXPECT_EQ(w.writes.back().first - w.writes.front().first, 8u);

    w.host.Advance(100);
    w.writes.clear();
    asked = 0;
    EXPECT_EQ(w.sender.SendAndWait("abcdef", [&] { return ++asked < 3; }), 3u);
    EXPECT_EQ(w.All(), "abc");
    EXPECT_FALSE(w.sender.Busy());
}

}  // namespace
}  // namespace corvel
