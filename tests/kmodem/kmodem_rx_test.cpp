#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/fake_host.h"
#include "host/text_file.h"
#include "kmodem/u_kmodem.h"
#include "kmodem_support.h"

namespace corvel {
namespace {

using kmtest::Bytes;

struct RxRig {
    FakeHost host;
    std::vector<int> progress;
    std::vector<std::string> labels;
    tKmodem km{host, [this](int p) { progress.push_back(p); },
               [this](const std::string& t) { labels.push_back(t); }};
    kmtest::ScriptedPort port;
    kmtest::TempDir dir;
    std::string out = dir / "in.bin";

    RxRig() {
        port.Bind(km);
        km.logFolder = dir.str();
        host.autoAdvanceMs = 10;
    }
    std::int32_t Receive(const Bytes& script) {
        port.Push(script);
        return km.ReceiveFile(out);
    }
    Bytes Received() const { return kmtest::ReadBytes(out); }
};

TEST(KmodemReceive, WorkedExampleAndPacketBoundaries) {
    {
        RxRig r;
        EXPECT_EQ(
            r.Receive({0x01, 0x03, 0, 0, 0, 0x02, 0x03, 0x00, 0x04, 0x61, 0x62, 0x63, 0x26, 0x08}),
            KM_OK);
        EXPECT_EQ(r.Received(), (Bytes{'a', 'b', 'c'}));
        EXPECT_EQ(r.port.sent, (Bytes{0xFF}));
        ASSERT_EQ(r.port.flushes.size(), 1u);
        EXPECT_EQ(r.port.flushes[0], std::make_pair(true, true));
        EXPECT_EQ(r.progress, (std::vector<int>{0, 0, 0, 100}));
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u);
        EXPECT_EQ(r.km.State(), tSts::GET_SIZE_DATA);
        EXPECT_EQ(r.km.ResultReport(KM_OK, KmodemDirection::Receive).text,
                  "Reception made successfully with the maximum rate of 0 KBytes/S");
    }
    for (std::size_t n : {std::size_t{1}, std::size_t{512}, std::size_t{513}, std::size_t{2000}}) {
        // Command bytes inside data and checksums are data.
        RxRig r;
        Bytes file = kmtest::RandomBytes(n, static_cast<std::uint32_t>(n));
        for (std::size_t i = 0; i < n; i += 7) file[i] = (i / 7) % 2 ? 0x08 : 0x10;
        const Bytes script = kmtest::TransmitterScript(file, 512);
        EXPECT_EQ(r.Receive(script), KM_OK) << n;
        EXPECT_EQ(r.Received(), file) << n;
        EXPECT_EQ(r.port.sent, Bytes((n + 511) / 512, 0xFF)) << n;
        EXPECT_TRUE(r.port.input.empty());
    }
    {
        // A checksum byte of value 08 (and data bytes 08 / 10).
        RxRig r;
        EXPECT_EQ(r.Receive({1, 2, 0, 0, 0, 2, 2, 0, 4, 0x08, 0x00, 0x08, 0x08}), KM_OK);
        EXPECT_EQ(r.Received(), (Bytes{0x08, 0x00}));
    }
    {
        // A length above our own packageSize is taken in full.
        RxRig r;
        r.km.packageSize = 256;
        const Bytes file = kmtest::RandomBytes(1000, 4);
        EXPECT_EQ(r.Receive(kmtest::TransmitterScript(file, 1000)), KM_OK);
        EXPECT_EQ(r.Received(), file);
        EXPECT_EQ(r.port.sent, (Bytes{0xFF}));
    }
}

TEST(KmodemReceive, CommandBytesWhereACommandIsDue) {
    struct Case {
        Bytes script;
        std::int32_t result;
        Bytes file;
    };
    const Bytes head = {1, 4, 0, 0, 0, 2, 2, 0, 4, 'h', 'i', 0xD1};  // 4 announced, 2 sent
    auto with = [&](Bytes tail) {
        Bytes s = head;
        s.insert(s.end(), tail.begin(), tail.end());
        return s;
    };
    const Case cases[] = {
        {{0x08}, KM_OK, {}},             // finish first: empty announcement
        {{0x10}, KM_CANCEL_REMOTE, {}},  // cancel instead of the size frame
        {{0x02}, KM_SYNC_ERROR, {}},     // length frame before the size frame
        {{0x04}, KM_SYNC_ERROR, {}},
        {with({0x04}), KM_SYNC_ERROR, {'h', 'i'}},  // data frame without its length frame
        {with({0x01}), KM_SYNC_ERROR, {'h', 'i'}},
        {with({2, 2, 0, 0x10}), KM_CANCEL_REMOTE, {'h', 'i'}},  // cancel instead of 04
        {with({2, 2, 0, 0x02}), KM_SYNC_ERROR, {'h', 'i'}},
        {with({2, 2, 0, 4, '!', '!', 0x42, 0x08}), KM_OK, {'h', 'i', '!', '!'}},
        // Finish before the announced size arrived: not a success.
        {with({0x08}), KM_INCOMPLETE, {'h', 'i'}},
        {with({2, 2, 0, 0x08}), KM_INCOMPLETE, {'h', 'i'}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        RxRig r;
        EXPECT_EQ(r.Receive(cases[i].script), cases[i].result) << i;
        EXPECT_EQ(r.Received(), cases[i].file) << i;
        // Only good packets are answered.
        EXPECT_EQ(r.port.sent, Bytes(cases[i].file.size() / 2, 0xFF)) << i;
        EXPECT_TRUE(r.port.input.empty()) << i;
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u) << i;
    }
    RxRig r;
    EXPECT_EQ(r.Receive(with({0x08})), KM_INCOMPLETE);
    EXPECT_EQ(r.km.ResultReport(KM_INCOMPLETE, KmodemDirection::Receive).text,
              "Incomplete file: received 2 of 4 bytes");
    EXPECT_EQ(r.km.ResultReport(KM_INCOMPLETE, KmodemDirection::Receive).kind,
              KmodemReportKind::Error);
}

TEST(KmodemReceive, ChecksumEmptyAnnouncementAndTimeOuts) {
    {
        // Off by one: no reply, and the file keeps the bad packet's bytes.
        RxRig r;
        EXPECT_EQ(r.Receive({1, 3, 0, 0, 0, 2, 3, 0, 4, 'a', 'b', 'c', 0x27, 0x08}),
                  KM_CHECKSUM_ERROR);
        EXPECT_TRUE(r.port.sent.empty());
        EXPECT_EQ(r.Received(), (Bytes{'a', 'b', 'c'}));
        EXPECT_EQ(r.port.input, (std::deque<std::uint8_t>{0x08}));  // nothing read past it
    }
    {
        // Size 0 is refused after all four size bytes have been read.
        RxRig r;
        EXPECT_EQ(r.Receive({1, 0, 0, 0, 0, 0x08}), KM_FILE_EMPTY);
        EXPECT_EQ(r.port.input.size(), 1u);
        EXPECT_TRUE(r.Received().empty());
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u);
    }
    // Silence at each later point ends with -15 after 5 x 864 ms; what arrived stays in the file.
    const Bytes stops[] = {{1, 5, 0},
                           {1, 5, 0, 0, 0},
                           {1, 5, 0, 0, 0, 2, 5},
                           {1, 5, 0, 0, 0, 2, 5, 0},
                           {1, 5, 0, 0, 0, 2, 5, 0, 4, 'a', 'b'},
                           {1, 5, 0, 0, 0, 2, 5, 0, 4, 'a', 'b', 'c', 'd', 'e'}};
    for (const Bytes& script : stops) {
        RxRig r;
        std::uint64_t lastByteAt = 0;
        r.port.Push(script);
        r.km.kmodem_In = [&](std::uint8_t& c) {
            if (r.port.input.empty()) return false;
            c = r.port.input.front();
            r.port.input.pop_front();
            lastByteAt = r.host.NowMs();
            return true;
        };
        EXPECT_EQ(r.km.ReceiveFile(r.out), KM_TIMEOUT) << script.size();
        // A byte that completes a step is followed by one more pump before the next wait.
        const bool stepDone = script.size() == 5 || script.size() == 8;
        EXPECT_EQ(r.host.NowMs() - lastByteAt, stepDone ? 4340u : 4330u) << script.size();
        const Bytes arrived = script.size() > 9 ? Bytes(script.begin() + 9, script.end()) : Bytes{};
        EXPECT_EQ(r.Received(), arrived) << script.size();
        EXPECT_TRUE(r.port.sent.empty());
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u);
    }
    {
        // The first command byte is awaited without limit: hours of silence, then a transfer.
        RxRig r;
        r.host.autoAdvanceMs = 60'000;
        int pumps = 0;
        r.host.onProcessMessages = [&] {
            if (++pumps == 200) r.port.Push(kmtest::TransmitterScript({'z'}, 512));
        };
        EXPECT_EQ(r.km.ReceiveFile(r.out), KM_OK);
        EXPECT_GE(pumps, 200);
        EXPECT_EQ(r.Received(), (Bytes{'z'}));
    }
}

TEST(KmodemReceive, UserCancelPacketSizeAndStartCommand) {
    {
        // Stop while waiting for the first byte: nothing is sent.
        RxRig r;
        r.host.onProcessMessages = [&] { r.km.canceled = true; };
        EXPECT_EQ(r.km.ReceiveFile(r.out), KM_USER_CANCEL);
        EXPECT_TRUE(r.port.sent.empty());
        EXPECT_TRUE(std::filesystem::exists(r.out));
    }
    {
        // Stop during the pump after the first packet: the transmitter is not told.
        RxRig r;
        r.port.Push(kmtest::TransmitterScript(Bytes(600, 'q'), 512));
        r.port.onOut = [&](const std::uint8_t*, std::int32_t) { r.km.canceled = true; };
        EXPECT_EQ(r.km.ReceiveFile(r.out), KM_USER_CANCEL);
        EXPECT_EQ(r.port.sent, (Bytes{0xFF}));
        EXPECT_EQ(r.Received(), Bytes(512, 'q'));
    }
    {
        RxRig r;
        r.km.packageSize = 255;
        r.km.cmdRX = "tx";
        EXPECT_EQ(r.Receive({0x08}), KM_PACKAGE_SIZE);
        EXPECT_TRUE(r.port.flushes.empty());
        EXPECT_TRUE(r.port.sent.empty());
        EXPECT_FALSE(std::filesystem::exists(r.out));
        EXPECT_EQ(r.km.ResultReport(KM_PACKAGE_SIZE, KmodemDirection::Receive).text,
                  "The size of the kmodem data packet is less than 256");
    }
    {
        // The start command goes out after the flush and before any frame is read.
        RxRig r;
        r.km.cmdRX = "tx";
        r.km.cmd_terminator = 2;
        r.km.cmd_useEcho = true;
        r.port.Push({'t', 'x', '\r'});
        r.port.Push(kmtest::TransmitterScript({'k'}, 512));
        EXPECT_EQ(r.km.ReceiveFile(r.out), KM_OK);
        EXPECT_EQ(r.port.sent, (Bytes{'t', 'x', '\r', 0xFF}));
        EXPECT_EQ(r.Received(), (Bytes{'k'}));
    }
    {
        // Missing echo: -20, and the file is not touched.
        RxRig r;
        r.km.cmdRX = "tx";
        r.km.cmd_useEcho = true;
        kmtest::WriteBytes(r.out, {'o', 'l', 'd'});
        EXPECT_EQ(r.km.ReceiveFile(r.out), KM_NO_ECHO);
        EXPECT_EQ(r.port.sent, (Bytes{'t'}));
        EXPECT_EQ(r.Received(), (Bytes{'o', 'l', 'd'}));
    }
}

// With a reader of whole pieces bound, the engine takes a data frame a piece at a time; the
// file, the replies, what it leaves unread and its debug log are those of the byte-by-byte path.
TEST(KmodemReceive, PiecesGiveTheSameTransferAsSingleBytes) {
    const Bytes file = kmtest::RandomBytes(3000, 11);
    Bytes script = kmtest::TransmitterScript(file, 1024);
    script.push_back('!');  // after the finish: not the engine's to take
    auto run = [&](std::vector<std::size_t> pieces, std::string& log) {
        RxRig r;
        r.km.useDebug = true;
        if (!pieces.empty()) r.port.BindRead(r.km, pieces);
        EXPECT_EQ(r.Receive(script), KM_OK);
        EXPECT_EQ(r.Received(), file);
        EXPECT_EQ(r.port.sent, Bytes(3, 0xFF));
        EXPECT_EQ(r.port.input, (std::deque<std::uint8_t>{'!'}));
        for (std::int32_t max : r.port.maxAsked) {
            EXPECT_GT(max, 0);
            EXPECT_LE(max, 1025);  // the rest of a frame and its checksum, never more
        }
        log = kmtest::ReadText(r.dir / KM_LOG_RX);
        return r.port.maxAsked.size();
    };
    std::string bytewise, whole, ragged, single;
    run({}, bytewise);
    // The whole rest of a frame per call: one call per packet, checksum included.
    EXPECT_EQ(run({1 << 20}, whole), 3u);
    // Pieces that end anywhere: mid-frame, on the last data byte, on the checksum.
    EXPECT_GT(run({1, 7, 300, 2, 1023}, ragged), 3u);
    run({1}, single);
    EXPECT_FALSE(bytewise.empty());
    EXPECT_EQ(whole, bytewise);
    EXPECT_EQ(ragged, bytewise);
    EXPECT_EQ(single, bytewise);
}

TEST(KmodemReceive, PiecesKeepChecksumTimeOutAndCancel) {
    {
        // A wrong checksum that comes with the data is still refused.
        RxRig r;
        r.port.BindRead(r.km, {100});
        EXPECT_EQ(r.Receive({1, 3, 0, 0, 0, 2, 3, 0, 4, 'a', 'b', 'c', 0x27, 0x08}),
                  KM_CHECKSUM_ERROR);
        EXPECT_TRUE(r.port.sent.empty());
        EXPECT_EQ(r.Received(), (Bytes{'a', 'b', 'c'}));
        EXPECT_EQ(r.port.input, (std::deque<std::uint8_t>{0x08}));
    }
    for (const bool checksumMissing : {false, true}) {
        // Silence inside the data, or just before the checksum: -15 after 5 x 864 ms, each
        // logged as the byte-by-byte path logs it.
        RxRig r;
        r.km.useDebug = true;
        r.port.BindRead(r.km, {2});
        Bytes script = {1, 5, 0, 0, 0, 2, 5, 0, 4, 'a', 'b', 'c'};
        if (checksumMissing) script.insert(script.end(), {'d', 'e'});
        const std::uint64_t t0 = r.host.NowMs();
        EXPECT_EQ(r.Receive(script), KM_TIMEOUT);
        EXPECT_GE(r.host.NowMs() - t0, 4320u);
        EXPECT_LE(r.host.NowMs() - t0, 4400u);
        const std::string log = kmtest::ReadText(r.dir / KM_LOG_RX);
        const std::string want =
            checksumMissing ? "Erro na espera checksum -15 \r\n" : " dados -15 \r\n";
        EXPECT_NE(log.find(want), std::string::npos) << log;
        EXPECT_EQ(r.Received(), Bytes(script.begin() + 9, script.end()));
    }
    {
        // A stop while a frame is half in ends the wait at once, without a reply.
        RxRig r;
        r.port.BindRead(r.km, {3});
        r.host.onProcessMessages = [&] {
            if (r.port.input.empty()) r.km.canceled = true;
        };
        EXPECT_EQ(r.Receive({1, 9, 0, 0, 0, 2, 9, 0, 4, 'a', 'b', 'c', 'd'}), KM_USER_CANCEL);
        EXPECT_TRUE(r.port.sent.empty());
        EXPECT_EQ(r.Received(), (Bytes{'a', 'b', 'c', 'd'}));
    }
}

TEST(KmodemReceive, FileErrorsAreThrownAfterCleanup) {
    {
        RxRig r;
        const std::string bad = r.dir / "no such folder/in.bin";
        try {
            r.km.ReceiveFile(bad);
            ADD_FAILURE() << "no FileError";
        } catch (const FileError& e) {
            EXPECT_EQ(e.path(), bad);
        }
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
    }
    if (std::filesystem::exists("/dev/full")) {
        // Writes fail once the buffered bytes reach the device: thrown with the timer stopped.
        RxRig r;
        r.out = "/dev/full";
        const Bytes file = kmtest::RandomBytes(200'000, 5);
        r.port.Push(kmtest::TransmitterScript(file, 60'000));
        EXPECT_THROW(r.km.ReceiveFile(r.out), FileError);
        EXPECT_FALSE(r.km.RateTimerRunning());
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u);
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
    }
    {
        // An unwritable debug log is raised last, after the file was closed.
        RxRig r;
        r.km.useDebug = true;
        r.km.logFolder = r.dir / "missing";
        r.port.Push(kmtest::TransmitterScript({'a', 'b'}, 512));
        EXPECT_THROW(r.km.ReceiveFile(r.out), FileError);
        EXPECT_EQ(r.Received(), (Bytes{'a', 'b'}));
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
    }
}

// The moment an acknowledgement leaves, the file on disk holds every byte acknowledged so far:
// a process killed right then loses nothing the peer counts as delivered. Packets far smaller
// than the write buffer, taken byte by byte and in pieces.
TEST(KmodemReceive, EveryAcknowledgedByteIsOnDiskWhenTheAckLeaves) {
    const Bytes file = kmtest::RandomBytes(300 * 9 + 17, 8);
    for (bool pieces : {false, true}) {
        SCOPED_TRACE(pieces);
        RxRig r;
        if (pieces) r.port.BindRead(r.km, {7, 300, 1000});
        std::vector<std::size_t> onDisk;
        r.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
            if (n == 1 && c[0] == ACK) {
                const Bytes now = kmtest::ReadBytes(r.out);
                onDisk.push_back(now.size());
                EXPECT_EQ(now, Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(
                                                                      r.km.BytesReceived())));
            }
        };
        // The peer vanishes after the fourth packet: the transfer is left to its time-out.
        Bytes script = kmtest::ExpectedFrames(file, 300);
        script.resize(5 + 4 * (4 + 300 + 1));
        EXPECT_EQ(r.Receive(script), KM_TIMEOUT);
        EXPECT_EQ(onDisk, (std::vector<std::size_t>{300, 600, 900, 1200}));
    }
}

}  // namespace
}  // namespace corvel
