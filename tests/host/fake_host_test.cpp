#include "host/fake_host.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvel {
namespace {

TEST(FakeHost, TimersFireInTimeOrderAndCanStopThemselves) {
    FakeHost host;
    std::vector<int> order;
    Host::TimerId fast = 0;
    int fastTicks = 0;
    fast = host.StartTimer(10, [&] {
        order.push_back(10);
        if (++fastTicks == 3) host.StopTimer(fast);
    });
    host.StartTimer(25, [&] { order.push_back(25); });
    const auto t0 = host.NowMs();
    host.Advance(60);
    EXPECT_EQ(host.NowMs(), t0 + 60);
    EXPECT_EQ(order, (std::vector<int>{10, 10, 25, 10, 25}));
    EXPECT_FALSE(host.IsTimerActive(fast));
    EXPECT_EQ(host.ActiveTimerCount(), 1u);
}

TEST(FakeHost, ProcessMessagesRunsHookAndAdvances) {
    FakeHost host;
    int hook = 0;
    host.onProcessMessages = [&] { ++hook; };
    host.autoAdvanceMs = 7;
    const auto t0 = host.NowMs();
    host.ProcessMessages();
    host.ProcessMessages();
    EXPECT_EQ(hook, 2);
    EXPECT_EQ(host.NowMs(), t0 + 14);
    EXPECT_EQ(host.processMessagesCalls, 2u);
}

TEST(FakeHost, ATickThatAdvancesTheClockNeverSendsItBack) {
    FakeHost host;
    const auto t0 = host.NowMs();
    host.StartTimer(10, [&] {
        if (host.NowMs() < t0 + 15) host.Advance(100);  // a wait inside the first tick
    });
    host.Advance(20);
    EXPECT_GE(host.NowMs(), t0 + 110);
}

}  // namespace
}  // namespace corvel
