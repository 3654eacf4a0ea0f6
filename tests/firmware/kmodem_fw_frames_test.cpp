// The board library against scripted lines: exact bytes out, exact reactions to bytes in.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "board_port.h"

namespace corvel::fwtest {
namespace {

Bytes Text(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

TEST(FirmwareTransmit, WorkedExamplesAreByteExact) {
    {
        ScriptPort p;
        p.file = Text("abc");
        p.Feed({0xFF});
        EXPECT_EQ(kmfw_transmit(&p.ctx, 3), KMFW_OK);
        EXPECT_EQ(p.out, (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x04, 0x61, 0x62,
                                0x63, 0x26, 0x08}));
        // Size frame, length frame, data frame and finish each go out in one piece.
        EXPECT_EQ(p.putSizes, (std::vector<std::size_t>{5, 3, 5, 1}));
        EXPECT_EQ(p.ctx.done, 3u);
    }
    {
        ScriptPort p;
        p.file = {0xA7};
        p.Feed({0xFF});
        EXPECT_EQ(kmfw_transmit(&p.ctx, 1), KMFW_OK);
        EXPECT_EQ(p.out,
                  (Bytes{0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x04, 0xA7, 0xA7, 0x08}));
    }
    {
        // 3 x 512 + 1: three full packets, then one of a single byte.
        ScriptPort p;
        p.file = RandomBytes(3 * 512 + 1, 7);
        p.Feed({0xFF, 0xFF, 0xFF, 0xFF});
        EXPECT_EQ(kmfw_transmit(&p.ctx, 1537), KMFW_OK);
        EXPECT_EQ(p.out, Frames(p.file, 512));
        const Bytes full{0x02, 0x00, 0x02}, last{0x02, 0x01, 0x00};
        EXPECT_TRUE(std::equal(full.begin(), full.end(), p.out.begin() + 5));
        EXPECT_TRUE(std::equal(last.begin(), last.end(), p.out.end() - 7));
        EXPECT_TRUE(p.in.empty());
    }
    {
        // Exactly one packet's worth, with the smallest packet allowed.
        ScriptPort p(256);
        p.file = RandomBytes(256, 8);
        p.Feed({0xFF});
        EXPECT_EQ(kmfw_transmit(&p.ctx, 256), KMFW_OK);
        EXPECT_EQ(p.out, Frames(p.file, 256));
    }
}

TEST(FirmwareTransmit, ReplyOtherThanAckOrNoneEndsTheTransfer) {
    const Bytes file = RandomBytes(600, 9);
    const Bytes all = Frames(file, 512, false);
    const Bytes firstPacket(all.begin(), all.begin() + 5 + 3 + 514);
    {
        // A peer's CMD_CANCEL as the reply is an ACK error, and the transmitter still cancels.
        ScriptPort p;
        p.file = file;
        p.Feed({0x10});
        EXPECT_EQ(kmfw_transmit(&p.ctx, 600), KMFW_ACK_ERROR);
        Bytes expected = firstPacket;
        expected.push_back(0x10);
        EXPECT_EQ(p.out, expected);
        EXPECT_EQ(p.ctx.done, 0u);
    }
    {
        // Silence: time-out after exactly timeout_ms, nothing sent after the data frame; the
        // millisecond counter wraps during the wait.
        ScriptPort p;
        p.file = file;
        p.clock = 0xFFFFFFFFu - 1000u;
        p.ctx.timeout_ms = 2000;
        p.ctx.poll_ms = 7;
        EXPECT_EQ(kmfw_transmit(&p.ctx, 600), KMFW_TIMEOUT);
        EXPECT_EQ(p.out, firstPacket);
        EXPECT_EQ(p.clock, 999u);  // 0xFFFFFFFF - 1000 + 2000, wrapped
    }
    {
        // Cancel while waiting for the first reply: CMD_CANCEL goes out, no more data.
        ScriptPort p;
        p.file = file;
        p.onPut = [](ScriptPort& s) { s.cancel = s.out.size() >= 5 + 3 + 514; };
        EXPECT_EQ(kmfw_transmit(&p.ctx, 600), KMFW_USER_CANCEL);
        Bytes expected = firstPacket;
        expected.push_back(0x10);
        EXPECT_EQ(p.out, expected);
    }
    {
        // Cancel noticed after an acknowledged packet: the second packet never goes out.
        ScriptPort p;
        p.file = file;
        p.Feed({0xFF, 0xFF});
        p.cancelWhen = [](ScriptPort& s) { return s.in.size() == 1; };
        EXPECT_EQ(kmfw_transmit(&p.ctx, 600), KMFW_USER_CANCEL);
        Bytes expected = firstPacket;
        expected.push_back(0x10);
        EXPECT_EQ(p.out, expected);
        EXPECT_EQ(p.ctx.done, 512u);
    }
}

TEST(FirmwareTransmit, BadSettingsAndFailingCallbacks) {
    {
        ScriptPort p;
        p.file = Text("abc");
        p.ctx.packet_size = 255;
        EXPECT_EQ(kmfw_transmit(&p.ctx, 3), KMFW_PACKAGE_SIZE);
        p.ctx.packet_size = 513;  // the buffer holds 512
        EXPECT_EQ(kmfw_transmit(&p.ctx, 3), KMFW_PACKET_TOO_BIG);
        p.ctx.packet_size = 512;
        EXPECT_EQ(kmfw_transmit(&p.ctx, 0), KMFW_FILE_EMPTY);
        p.cancel = true;
        EXPECT_EQ(kmfw_transmit(&p.ctx, 3), KMFW_USER_CANCEL);
        EXPECT_TRUE(p.out.empty());
    }
    {
        EXPECT_EQ(kmfw_transmit(nullptr, 3), KMFW_BAD_SETUP);
        EXPECT_EQ(kmfw_receive(nullptr), KMFW_BAD_SETUP);
        ScriptPort p;
        kmfw_port noRead = ScriptPort::kPort;
        noRead.read = nullptr;
        noRead.write = nullptr;
        p.ctx.port = &noRead;
        EXPECT_EQ(kmfw_transmit(&p.ctx, 3), KMFW_BAD_SETUP);
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_BAD_SETUP);
        kmfw_init(&p.ctx, &ScriptPort::kPort, &p, nullptr, 514);
        EXPECT_EQ(kmfw_transmit(&p.ctx, 3), KMFW_BAD_SETUP);
        EXPECT_TRUE(p.out.empty());
    }
    {
        // The second packet cannot be read: the receiver hears CMD_CANCEL where a command is due.
        ScriptPort p;
        p.file = RandomBytes(700, 10);
        p.failReadAt = 512;
        p.Feed({0xFF});
        EXPECT_EQ(kmfw_transmit(&p.ctx, 700), KMFW_STORAGE_ERROR);
        Bytes expected = Frames(p.file, 512, false);
        expected.resize(5 + 3 + 514);
        expected.push_back(0x10);
        EXPECT_EQ(p.out, expected);
    }
    {
        // The line refuses the length frame: stop at once, say nothing more.
        ScriptPort p;
        p.file = Text("abc");
        p.putLimit = 6;
        EXPECT_EQ(kmfw_transmit(&p.ctx, 3), KMFW_LINK_ERROR);
        EXPECT_EQ(p.putSizes.size(), 2u);
    }
}

TEST(FirmwareReceive, StoresCheckedPacketsAndAcknowledges) {
    {
        ScriptPort p;
        p.Feed(
            {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x04, 0x61, 0x62, 0x63, 0x26, 0x08});
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_OK);
        EXPECT_EQ(p.out, Bytes{0xFF});
        EXPECT_EQ(p.stored, Text("abc"));
        EXPECT_EQ(p.ctx.file_size, 3u);
        EXPECT_EQ(p.ctx.done, 3u);
    }
    {
        ScriptPort p;
        const Bytes file = RandomBytes(3 * 512 + 1, 11);
        p.Feed(Frames(file, 512));
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_OK);
        EXPECT_EQ(p.out, Bytes(4, 0xFF));
        EXPECT_EQ(p.stored, file);
        EXPECT_EQ(p.writeOffsets, (std::vector<std::uint32_t>{0, 512, 1024, 1536}));
    }
    {
        // Finish and cancel bytes inside data and checksum are data. 08 + 08 = checksum 10.
        ScriptPort p;
        p.Feed({0x01, 0x04, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x04, 0x08,
                0x08, 0x10, 0x02, 0x02, 0x00, 0x04, 0x10, 0xF8, 0x08, 0x08});
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_OK);
        EXPECT_EQ(p.stored, (Bytes{0x08, 0x08, 0x10, 0xF8}));
        EXPECT_EQ(p.out, (Bytes{0xFF, 0xFF}));
    }
    {
        // A packet as large as the buffer, though larger than anything this board would send.
        ScriptPort p(2038);
        p.ctx.packet_size = 256;
        const Bytes file = RandomBytes(2038, 12);
        p.Feed(Frames(file, 2038));
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_OK);
        EXPECT_EQ(p.stored, file);
    }
    {
        // Finish as the very first byte: nothing announced, nothing stored, success.
        ScriptPort p;
        p.Feed({0x08});
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_OK);
        EXPECT_TRUE(p.stored.empty());
        EXPECT_TRUE(p.out.empty());
    }
}

TEST(FirmwareReceive, ProtocolFaultsEndWithoutReply) {
    struct Case {
        Bytes in;
        std::int16_t result;
        std::size_t stored;
    };
    const Case cases[] = {
        {{0x02}, KMFW_SYNC_ERROR, 0},
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x04}, KMFW_SYNC_ERROR, 0},
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x02}, KMFW_SYNC_ERROR, 0},
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x10}, KMFW_CANCEL_REMOTE, 0},
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x10}, KMFW_CANCEL_REMOTE, 0},
        // Checksum off by one: nothing stored, nothing answered.
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x04, 0x61, 0x62, 0x63, 0x27},
         KMFW_CHECKSUM_ERROR,
         0},
        {{0x01, 0x00, 0x00, 0x00, 0x00}, KMFW_FILE_EMPTY, 0},
        // Finish after one packet of a file announced as 4 bytes.
        {{0x01, 0x04, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x04, 0x61, 0x62, 0x63, 0x26, 0x08},
         KMFW_INCOMPLETE,
         3},
        // The line goes quiet inside a packet.
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x04, 0x61}, KMFW_TIMEOUT, 0},
        {{0x01, 0x03, 0x00}, KMFW_TIMEOUT, 0},
    };
    for (const Case& c : cases) {
        ScriptPort p;
        p.Feed(c.in);
        std::uint32_t start = p.clock;
        EXPECT_EQ(kmfw_receive(&p.ctx), c.result) << ::testing::PrintToString(c.in);
        EXPECT_TRUE(p.in.empty());
        EXPECT_EQ(p.stored.size(), c.stored);
        EXPECT_EQ(p.out, c.stored ? Bytes{0xFF} : Bytes{});
        if (c.result == KMFW_TIMEOUT) {
            EXPECT_EQ(p.clock - start, 4320u);
        }
    }
}

TEST(FirmwareReceive, WaitsCancelsAndNoticesADeadLink) {
    {
        // The first command may wait as long as the board allows, then the usual limit applies.
        ScriptPort p;
        p.ctx.first_wait_ms = 60000;
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_TIMEOUT);
        EXPECT_EQ(p.clock, 61000u);
    }
    {
        // Without a limit only cancel ends the first wait, seen within one poll.
        ScriptPort p;
        p.cancelWhen = [](ScriptPort& s) { return s.clock >= 500000; };
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_USER_CANCEL);
        EXPECT_LE(p.clock, 500000u + p.ctx.poll_ms);
        EXPECT_TRUE(p.out.empty());
    }
    {
        // Cancel between packets: the transmitter is not told.
        ScriptPort p;
        p.Feed(Frames(RandomBytes(1000, 13), 512));
        p.cancelWhen = [](ScriptPort& s) { return s.out.size() == 1; };
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_USER_CANCEL);
        EXPECT_EQ(p.out, Bytes{0xFF});
        EXPECT_EQ(p.stored.size(), 512u);
    }
    {
        ScriptPort p;
        p.closed = true;
        p.Feed({0x01, 0x03});
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_LINK_ERROR);
    }
    {
        ScriptPort small(255);
        small.Feed({0x08});
        EXPECT_EQ(kmfw_receive(&small.ctx), KMFW_PACKAGE_SIZE);
        EXPECT_EQ(small.in.size(), 1u);  // untouched
    }
}

// After a refusal every protocol byte of the exchange is consumed; 'x' stands for what the shell
// would see next.
TEST(FirmwareReceive, RefusesWhatItCannotHoldAndLeavesTheLineClean) {
    {
        // A 512-byte packet for a 256-byte buffer.
        ScriptPort p(256);
        p.Feed(Frames(RandomBytes(512, 14), 512, false));
        p.Feed({0x10, 'x'});
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_PACKET_TOO_BIG);
        EXPECT_EQ(p.out, Bytes{0x10});
        EXPECT_EQ(p.in, std::deque<std::uint8_t>{'x'});
        EXPECT_TRUE(p.stored.empty());
    }
    {
        // A file larger than the board's storage, refused at its first packet.
        ScriptPort p;
        p.ctx.max_file_size = 100;
        p.Feed(Frames(RandomBytes(300, 15), 512, false));
        p.Feed({0x10, 'x'});
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_TOO_LARGE);
        EXPECT_EQ(p.ctx.file_size, 300u);
        EXPECT_EQ(p.out, Bytes{0x10});
        EXPECT_EQ(p.in, std::deque<std::uint8_t>{'x'});
        EXPECT_TRUE(p.stored.empty());
    }
    {
        // More data than announced: 3 announced, a 4-byte packet arrives.
        ScriptPort p;
        p.Feed({0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x04, 1, 2, 3, 4, 10, 0x10, 'x'});
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_TOO_LARGE);
        EXPECT_EQ(p.out, Bytes{0x10});
        EXPECT_EQ(p.in, std::deque<std::uint8_t>{'x'});
    }
    {
        // Storage fails on the second packet: the first stays stored, the second is refused.
        ScriptPort p;
        p.failWriteAt = 512;
        const Bytes file = RandomBytes(1000, 16);
        p.Feed(Frames(file, 512, false));
        p.Feed({0x10, 'x'});
        EXPECT_EQ(kmfw_receive(&p.ctx), KMFW_STORAGE_ERROR);
        EXPECT_EQ(p.out, (Bytes{0xFF, 0x10}));
        EXPECT_EQ(p.stored, Bytes(file.begin(), file.begin() + 512));
        EXPECT_EQ(p.in, std::deque<std::uint8_t>{'x'});
    }
}

TEST(FirmwareReceive, GarbageNeverOverrunsOrHangs) {
    // Random lines, half of them starting like a real transfer so that random lengths reach the
    // packet buffer. Every run must end, store no more than announced and answer only ACK or
    // CMD_CANCEL.
    std::mt19937 gen(4242);
    for (int run = 0; run < 400; ++run) {
        ScriptPort p(256);
        p.ctx.first_wait_ms = 1000;
        if (run % 2) p.Feed({0x01, static_cast<std::uint8_t>(gen()), 0x01, 0x00, 0x00});
        Bytes noise = RandomBytes(gen() % 1200, static_cast<std::uint32_t>(run));
        for (std::size_t i = 0; i + 3 < noise.size(); i += 1 + gen() % 600) {
            noise[i] = static_cast<std::uint8_t>(1u << (gen() % 3));  // 01, 02 or 04
            noise[i + 2] = static_cast<std::uint8_t>(gen() % 3);      // lengths up to 767
        }
        p.Feed(noise);
        const std::int16_t r = kmfw_receive(&p.ctx);
        EXPECT_LE(r, 0);
        EXPECT_LE(p.stored.size(), p.ctx.file_size);
        EXPECT_EQ(p.stored.size(), p.ctx.done);
        for (std::uint8_t b : p.out) EXPECT_TRUE(b == 0xFF || b == 0x10);
    }
}

TEST(FirmwareHelpers, DiscardInputDropsUntilQuiet) {
    ScriptPort p;
    p.Feed(Bytes(40, 0x55));
    const std::uint32_t start = p.clock;
    EXPECT_EQ(kmfw_discard_input(&p.ctx, 50), 40u);
    EXPECT_EQ(p.clock - start, 50u);
    EXPECT_STREQ(kmfw_result_text(KMFW_PACKET_TOO_BIG), "packet larger than buffer");
    EXPECT_STREQ(kmfw_result_text(-20), "?");
}

}  // namespace
}  // namespace corvel::fwtest
