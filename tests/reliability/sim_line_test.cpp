// The faulty line itself: what a plan does to the bytes, the simulated clock, and the user who
// gives up on an end waiting on a dead line.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim_line.h"

namespace corvel::reliability {
namespace {

TEST(SimLine, BytesArriveInOrderAfterTheLatencyAndStallsHoldBackWhatFollows) {
    SimLine line(1);
    FaultRates f;
    f.delay = 1.0;
    f.maxDelayMs = 50;
    line.SetRates(1, f);
    std::vector<std::uint8_t> got;
    std::vector<std::uint64_t> when;
    line.Run(
        [&] {
            std::uint8_t b = 0;
            while (got.size() < 20 && line.Get(0, b, 1000)) {
                got.push_back(b);
                when.push_back(line.Now());
            }
        },
        [&] {
            std::vector<std::uint8_t> data(20);
            for (int i = 0; i < 20; ++i)
                data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
            line.Put(1, data.data(), data.size());
        },
        10'000);
    ASSERT_EQ(got.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(got[static_cast<std::size_t>(i)], i);
    for (std::size_t i = 1; i < when.size(); ++i) EXPECT_GE(when[i], when[i - 1]);
    EXPECT_GE(when.front(), SimLine::kLatencyMs + 1);
    EXPECT_EQ(line.Faults(1).delayed, 20u);
}

TEST(SimLine, DropCorruptDuplicateAndTargetedBytes) {
    auto send = [](const FaultRates& f, std::uint64_t corruptIndex, std::uint8_t value) {
        SimLine line(7);
        line.SetRates(1, f);
        if (corruptIndex != ~std::uint64_t{0}) line.CorruptAt(1, corruptIndex, value);
        std::vector<std::uint8_t> got;
        line.Run(
            [&] {
                std::uint8_t b = 0;
                while (line.Get(0, b, 100)) got.push_back(b);
            },
            [&] {
                const std::vector<std::uint8_t> data(100, 0x42);
                line.Put(1, data.data(), data.size());
            },
            1000);
        return std::make_pair(got, line.Faults(1));
    };
    FaultRates drop;
    drop.drop = 1.0;
    EXPECT_TRUE(send(drop, ~std::uint64_t{0}, 0).first.empty());
    FaultRates dup;
    dup.duplicate = 1.0;
    EXPECT_EQ(send(dup, ~std::uint64_t{0}, 0).first.size(), 200u);
    FaultRates corrupt;
    corrupt.corrupt = 1.0;
    for (auto b : send(corrupt, ~std::uint64_t{0}, 0).first) EXPECT_NE(b, 0x42);
    const auto [got, counts] = send(FaultRates{}, 5, 0x99);
    ASSERT_EQ(got.size(), 100u);
    EXPECT_EQ(got[5], 0x99);
    EXPECT_EQ(got[4], 0x42);
    EXPECT_EQ(counts.corrupted, 1u);
}

TEST(SimLine, WaitsMoveTheClockAndAWaitWithoutEndIsGivenUp) {
    SimLine line(3);
    std::uint64_t timedOutAt = 0;
    bool endless = false;
    line.Run(
        [&] {
            std::uint8_t b = 0;
            // Waits in short looks for ever, until the user gives up on it.
            while (!line.CancelRequested(0)) line.Get(0, b, 20);
            endless = true;
        },
        [&] {
            std::uint8_t b = 0;
            EXPECT_FALSE(line.Get(1, b, 4320));
            timedOutAt = line.Now();
        },
        5000);
    EXPECT_EQ(timedOutAt, 4320u);
    EXPECT_TRUE(endless);
    EXPECT_TRUE(line.WasCancelled(0));
    EXPECT_EQ(line.EndTime(0), 4320u + 5000u);
    EXPECT_FALSE(line.Stuck());
}

}  // namespace
}  // namespace corvel::reliability
