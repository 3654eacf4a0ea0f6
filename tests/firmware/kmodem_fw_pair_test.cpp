// Board transmitter and board receiver on two threads, joined by byte pipes.

#include <gtest/gtest.h>

#include <thread>

#include "board_port.h"

namespace corvel::fwtest {
namespace {

struct PairResult {
    std::int16_t tx;
    std::int16_t rx;
};

// Runs one transfer; the receiver is started first but nothing depends on that, since it does
// not purge its input. Closing the pipes afterwards frees a receiver that is still waiting.
PairResult Transfer(PipeBoard& sender, PipeBoard& receiver) {
    std::int16_t rx = 1;
    std::thread t([&] { rx = kmfw_receive(&receiver.ctx); });
    std::int16_t tx = kmfw_transmit(&sender.ctx, static_cast<std::uint32_t>(sender.file.size()));
    // The receiver reports its end within its own time-out; only a hang needs the close.
    receiver.in.Close();
    t.join();
    return {tx, rx};
}

TEST(FirmwarePair, FilesOfManySizesArriveIntact) {
    std::uint32_t seed = 100;
    for (std::uint16_t packet : {256, 512, 2038}) {
        for (std::size_t size : {std::size_t{1}, std::size_t{255}, std::size_t{packet},
                                 std::size_t{3u * packet + 1u}, std::size_t{1000003}}) {
            BytePipe toRx, toTx;
            PipeBoard tx(toTx, toRx, packet), rx(toRx, toTx, packet);
            tx.file = RandomBytes(size, ++seed);
            PairResult r = Transfer(tx, rx);
            EXPECT_EQ(r.tx, KMFW_OK) << packet << " " << size;
            EXPECT_EQ(r.rx, KMFW_OK) << packet << " " << size;
            EXPECT_TRUE(rx.stored == tx.file) << packet << " " << size;
            EXPECT_EQ(tx.sent, Frames(tx.file, packet));
            EXPECT_EQ(rx.sent, Bytes((size + packet - 1) / packet, 0xFF));
        }
    }
}

TEST(FirmwarePair, RefusalEndsBothSidesPromptlyAndCleanly) {
    {
        // Packets of 2038 bytes for a board with room for 512.
        BytePipe toRx, toTx;
        PipeBoard tx(toTx, toRx, 2038), rx(toRx, toTx, 512);
        tx.file = RandomBytes(5000, 7);
        // Long time-outs: the test would take minutes if either side waited one out.
        tx.ctx.timeout_ms = rx.ctx.timeout_ms = 120000;
        PairResult r = Transfer(tx, rx);
        EXPECT_EQ(r.tx, KMFW_ACK_ERROR);
        EXPECT_EQ(r.rx, KMFW_PACKET_TOO_BIG);
        EXPECT_TRUE(rx.stored.empty());
        EXPECT_TRUE(toRx.Empty());
        EXPECT_TRUE(toTx.Empty());
    }
    {
        BytePipe toRx, toTx;
        PipeBoard tx(toTx, toRx, 512), rx(toRx, toTx, 512);
        tx.file = RandomBytes(5000, 8);
        rx.ctx.max_file_size = 4096;
        tx.ctx.timeout_ms = rx.ctx.timeout_ms = 120000;
        PairResult r = Transfer(tx, rx);
        EXPECT_EQ(r.tx, KMFW_ACK_ERROR);
        EXPECT_EQ(r.rx, KMFW_TOO_LARGE);
        EXPECT_TRUE(toRx.Empty());
        EXPECT_TRUE(toTx.Empty());
    }
}

}  // namespace
}  // namespace corvel::fwtest
