#include <gtest/gtest.h>

#include <cmath>
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

struct TxRig {
    FakeHost host;
    std::vector<int> progress;
    std::vector<std::pair<std::uint32_t, int>> marks;  // bytes sent when a position was shown
    std::vector<std::string> labels;
    tKmodem km{host,
               [this](int p) {
                   progress.push_back(p);
                   marks.emplace_back(km.BytesSent(), p);
               },
               [this](const std::string& t) { labels.push_back(t); }};
    kmtest::ScriptedPort port;
    kmtest::TempDir dir;

    TxRig() {
        port.Bind(km);
        km.logFolder = dir.str();
        host.autoAdvanceMs = 10;
    }
    std::string File(const Bytes& content, const std::string& name = "out.bin") {
        const std::string p = dir / name;
        kmtest::WriteBytes(p, content);
        return p;
    }
};

TEST(KmodemTransmit, WorkedExamplesTravelByteForByte) {
    {
        TxRig r;
        r.port.AckEveryPacket();
        EXPECT_EQ(r.km.TransmitFile(r.File({'a', 'b', 'c'})), KM_OK);
        EXPECT_EQ(r.port.sent, (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x04, 0x61,
                                      0x62, 0x63, 0x26, 0x08}));
        // Each frame goes out in one write.
        EXPECT_EQ(r.port.outSizes, (std::vector<std::int32_t>{5, 3, 5, 1}));
        ASSERT_EQ(r.port.flushes.size(), 1u);
        EXPECT_EQ(r.port.flushes[0], std::make_pair(true, true));
        EXPECT_EQ(r.progress.front(), 0);
        EXPECT_EQ(r.progress.back(), 100);
        ASSERT_FALSE(r.labels.empty());
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
        EXPECT_FALSE(r.km.RateTimerRunning());
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u);
        EXPECT_EQ(r.km.State(), tSts::SEND_SIZE_DATA);
        // No debug: no log files.
        EXPECT_FALSE(std::filesystem::exists(r.dir / "KmodemLogTX.txt"));
    }
    {
        TxRig r;
        r.port.AckEveryPacket();
        EXPECT_EQ(r.km.TransmitFile(r.File({0x9C})), KM_OK);
        EXPECT_EQ(r.port.sent,
                  (Bytes{0x01, 0x01, 0, 0, 0, 0x02, 0x01, 0x00, 0x04, 0x9C, 0x9C, 0x08}));
    }
}

TEST(KmodemTransmit, PacketsAreFullSizedExceptTheLast) {
    for (std::size_t n : {std::size_t{512}, std::size_t{513}, std::size_t{3 * 512 + 1}}) {
        TxRig r;
        r.port.AckEveryPacket();
        const Bytes file = kmtest::RandomBytes(n, static_cast<std::uint32_t>(n));
        EXPECT_EQ(r.km.TransmitFile(r.File(file)), KM_OK) << n;
        Bytes expected = kmtest::ExpectedFrames(file, 512);
        expected.push_back(0x08);
        EXPECT_EQ(r.port.sent, expected) << n;
        EXPECT_EQ(r.km.BytesSent(), n);
    }
    // 3 x 512 + 1: length frames 02 00 02 three times, then 02 01 00.
    TxRig r;
    r.port.AckEveryPacket();
    ASSERT_EQ(r.km.TransmitFile(r.File(Bytes(3 * 512 + 1, 0x08))), KM_OK);
    std::vector<Bytes> lengths;
    std::size_t pos = 0;
    for (auto n : r.port.outSizes) {
        if (n == 3 && r.port.sent[pos] == 0x02)
            lengths.push_back(Bytes(r.port.sent.begin() + static_cast<std::ptrdiff_t>(pos),
                                    r.port.sent.begin() + static_cast<std::ptrdiff_t>(pos + 3)));
        pos += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(lengths, (std::vector<Bytes>{{2, 0, 2}, {2, 0, 2}, {2, 0, 2}, {2, 1, 0}}));
}

TEST(KmodemTransmit, StartCommandTerminatorsAndEcho) {
    const std::pair<std::uint8_t, Bytes> cases[] = {{0, {'r', 'x', 0x0A}},
                                                    {1, {'r', 'x', 0x0D, 0x0A}},
                                                    {2, {'r', 'x', 0x0D}},
                                                    {7, {'r', 'x', 0x0D, 0x0A}}};
    for (const auto& [term, cmd] : cases) {
        TxRig r;
        r.port.AckEveryPacket();
        r.km.cmdTX = "rx";
        r.km.cmd_terminator = term;
        EXPECT_EQ(r.km.TransmitFile(r.File({'a'})), KM_OK);
        Bytes expected = cmd;
        for (auto b : kmtest::ExpectedFrames({'a'}, 512)) expected.push_back(b);
        expected.push_back(0x08);
        EXPECT_EQ(r.port.sent, expected) << int{term};
        // One write per command byte.
        for (std::size_t i = 0; i < cmd.size(); ++i) EXPECT_EQ(r.port.outSizes[i], 1);
    }
    {
        // Characters go out as the low 8 bits of their code, not as UTF-8.
        TxRig r;
        r.port.AckEveryPacket();
        r.km.cmdTX = "r\xC3\xA9";  // "ré"
        EXPECT_EQ(r.km.TransmitFile(r.File({'a'})), KM_OK);
        EXPECT_EQ(Bytes(r.port.sent.begin(), r.port.sent.begin() + 3), (Bytes{'r', 0xE9, 0x0A}));
    }
    {
        // Echo on with a peer that echoes: each echo is taken (whatever its value) and logged.
        TxRig r;
        r.km.cmdTX = "rx";
        r.km.cmd_useEcho = true;
        r.km.useDebug = true;
        r.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
            if (n == 1 && c[0] != 0x08) r.port.Push({static_cast<std::uint8_t>(c[0] + 1)});
            if (n >= 2 && c[0] == 0x04) r.port.Push({0xFF});
        };
        EXPECT_EQ(r.km.TransmitFile(r.File({'a'})), KM_OK);
        EXPECT_EQ(kmtest::ReadText(r.dir / "KmodemlogCMD_TX.txt"),
                  kmtest::CrLfLines(
                      {"TX: 0x72", "TX: 0x73", "TX: 0x78", "TX: 0x79", "TX: 0x0A", "TX: 0x0B"}));
    }
    {
        // No echo: -20 after the first byte's time-out, nothing else sent, command log discarded.
        TxRig r;
        r.km.cmdTX = "rx";
        r.km.cmd_useEcho = true;
        r.km.useDebug = true;
        std::uint64_t sentAt = 0;
        r.port.onOut = [&](const std::uint8_t*, std::int32_t) { sentAt = r.host.NowMs(); };
        EXPECT_EQ(r.km.TransmitFile(r.File({'a'})), KM_NO_ECHO);
        EXPECT_EQ(r.port.sent, (Bytes{'r'}));
        EXPECT_EQ(r.host.NowMs() - sentAt, 4330u);  // first pump past 5 x 864 ms
        EXPECT_FALSE(std::filesystem::exists(r.dir / "KmodemlogCMD_TX.txt"));
        EXPECT_FALSE(std::filesystem::exists(r.dir / "KmodemLogTX.txt"));
    }
    {
        // A stop click while waiting for an echo.
        TxRig r;
        r.km.cmdTX = "rx";
        r.km.cmd_useEcho = true;
        r.host.onProcessMessages = [&] { r.km.canceled = true; };
        EXPECT_EQ(r.km.TransmitFile(r.File({'a'})), KM_USER_CANCEL);
        EXPECT_EQ(r.port.sent, (Bytes{'r'}));
    }
}

TEST(KmodemTransmit, BadReplyTimeOutAndPacketSizeLimits) {
    {
        // A cancel byte from the peer is a wrong reply: we still send our own cancel.
        TxRig r;
        r.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
            if (n >= 2 && c[0] == 0x04) r.port.Push({0x10});
        };
        EXPECT_EQ(r.km.TransmitFile(r.File(Bytes(700, 1))), KM_ACK_ERROR);
        ASSERT_EQ(r.port.outSizes, (std::vector<std::int32_t>{5, 3, 514, 1}));
        EXPECT_EQ(r.port.sent.back(), 0x10);
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u);
    }
    {
        // Silence: -15 once more than 5 x 864 ms have passed since the data frame; nothing after.
        TxRig r;
        std::uint64_t sentAt = 0;
        r.port.onOut = [&](const std::uint8_t*, std::int32_t) { sentAt = r.host.NowMs(); };
        EXPECT_EQ(r.km.TransmitFile(r.File({1, 2, 3})), KM_TIMEOUT);
        EXPECT_EQ(r.port.outSizes, (std::vector<std::int32_t>{5, 3, 5}));
        EXPECT_EQ(r.host.NowMs() - sentAt, 4330u);
    }
    {
        // One unit is 864 ms; 255 never runs out.
        TxRig r;
        r.km.timerOutValue = 1;
        std::uint64_t sentAt = 0;
        r.port.onOut = [&](const std::uint8_t*, std::int32_t) { sentAt = r.host.NowMs(); };
        r.host.autoAdvanceMs = 1;
        EXPECT_EQ(r.km.TransmitFile(r.File({1})), KM_TIMEOUT);
        EXPECT_EQ(r.host.NowMs() - sentAt, 865u);
    }
    {
        TxRig r;
        r.km.timerOutValue = 255;
        r.host.autoAdvanceMs = 60'000;
        std::uint64_t pumps = 0;
        r.host.onProcessMessages = [&] {
            if (++pumps == 200) r.port.Push({0xFF});
        };
        EXPECT_EQ(r.km.TransmitFile(r.File({1})), KM_OK);
        EXPECT_GE(pumps, 200u);  // hours of fake time
    }
    for (std::uint16_t ps : {std::uint16_t{255}, std::uint16_t{0}}) {
        // Refused before anything: no flush, no command, no file access (the file is missing).
        TxRig r;
        r.km.packageSize = ps;
        r.km.cmdTX = "rx";
        EXPECT_EQ(r.km.TransmitFile(r.dir / "missing.bin"), KM_PACKAGE_SIZE);
        EXPECT_TRUE(r.port.sent.empty());
        EXPECT_TRUE(r.port.flushes.empty());
        EXPECT_TRUE(r.labels.empty());
    }
    {
        TxRig r;
        r.km.packageSize = 256;
        r.port.AckEveryPacket();
        const Bytes file = kmtest::RandomBytes(600, 9);
        EXPECT_EQ(r.km.TransmitFile(r.File(file)), KM_OK);
        Bytes expected = kmtest::ExpectedFrames(file, 256);
        expected.push_back(0x08);
        EXPECT_EQ(r.port.sent, expected);
    }
}

TEST(KmodemTransmit, UserCancelAtEachWaitingPoint) {
    // Stop clicked during the pump after step `at` (0 size frame, 1 length frame) or during the
    // reply wait (2): what went out before the cancel byte.
    const std::vector<std::vector<std::int32_t>> expectedWrites = {
        {5, 3, 1},        // the length frame still goes, then 10
        {5, 3, 514, 1},   // the data frame still goes, its reply is not awaited
        {5, 3, 514, 1}};  // cancelled while waiting for the reply
    for (int at = 0; at < 3; ++at) {
        TxRig r;
        int pumps = 0;
        r.host.onProcessMessages = [&] {
            if (pumps++ == at) r.km.canceled = true;
        };
        EXPECT_EQ(r.km.TransmitFile(r.File(Bytes(1000, 7))), KM_USER_CANCEL) << at;
        EXPECT_EQ(r.port.outSizes, expectedWrites[static_cast<std::size_t>(at)]) << at;
        EXPECT_EQ(r.port.sent.back(), 0x10) << at;
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u);
    }
}

TEST(KmodemTransmit, EmptyMissingAndUnreadableFiles) {
    {
        TxRig r;
        r.km.cmdTX = "rx";
        EXPECT_EQ(r.km.TransmitFile(r.File({})), KM_FILE_EMPTY);
        EXPECT_EQ(r.port.sent, (Bytes{'r', 'x', 0x0A}));  // the command, but no frame at all
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u);
    }
    {
        // The open fails after the start command; everything is put back before the throw.
        TxRig r;
        r.km.cmdTX = "rx";
        r.km.useDebug = true;
        const std::string missing = r.dir / "missing.bin";
        try {
            r.km.TransmitFile(missing);
            ADD_FAILURE() << "no FileError";
        } catch (const FileError& e) {
            EXPECT_EQ(e.path(), missing);
        }
        EXPECT_EQ(r.port.sent, (Bytes{'r', 'x', 0x0A}));
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
        EXPECT_TRUE(std::filesystem::exists(r.dir / "KmodemlogCMD_TX.txt"));
        EXPECT_FALSE(std::filesystem::exists(r.dir / "KmodemLogTX.txt"));
    }
    {
        // A file that shrinks under us fails its read mid-transfer: thrown after cleanup.
        TxRig r;
        const std::string path = r.File(Bytes(200000, 3));
        r.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
            if (n >= 2 && c[0] == 0x04) {
                std::filesystem::resize_file(path, 600);
                r.port.Push({0xFF});
            }
        };
        EXPECT_THROW(r.km.TransmitFile(path), FileError);
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
        EXPECT_FALSE(r.km.RateTimerRunning());
        EXPECT_EQ(r.host.ActiveTimerCount(), 0u);
        EXPECT_EQ(r.port.outSizes.back(), 3);  // a length frame; no finish for a broken file
    }
    {
        // A debug log that cannot be written is a file error, raised last.
        TxRig r;
        r.port.AckEveryPacket();
        r.km.useDebug = true;
        r.km.logFolder = r.dir / "no such folder";
        EXPECT_THROW(r.km.TransmitFile(r.File({1, 2})), FileError);
        EXPECT_EQ(r.port.sent.back(), 0x08);
        EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
    }
}

// Sparse files let us test the 4 GiB boundary without writing gigabytes.
bool MakeSparse(const std::string& path, std::uintmax_t size) {
    kmtest::WriteBytes(path, {});
    std::error_code ec;
    std::filesystem::resize_file(path, size, ec);
    return !ec && std::filesystem::file_size(path, ec) == size;
}

TEST(KmodemTransmit, FilesOfFourGibibytesAreRefusedBeforeAnythingIsSent) {
    TxRig r;
    const std::string big = r.dir / "big.bin";
    if (!MakeSparse(big, std::uintmax_t{1} << 32)) GTEST_SKIP() << "no sparse files here";
    r.km.cmdTX = "rx";
    EXPECT_EQ(r.km.TransmitFile(big), KM_FILE_TOO_LARGE);
    EXPECT_TRUE(r.port.sent.empty());
    EXPECT_TRUE(r.port.flushes.empty());
    EXPECT_EQ(r.km.ResultReport(KM_FILE_TOO_LARGE, KmodemDirection::Transmit).text,
              "File too large for Kmodem (4 GiB or more)");

    // One byte less fits: the size frame carries FF FF FF FF, and the progress over 4 GiB is
    // computed without overflow.
    const std::string largest = r.dir / "largest.bin";
    ASSERT_TRUE(MakeSparse(largest, 0xFFFFFFFFu));
    r.km.cmdTX.clear();
    r.km.packageSize = 65535;
    std::uint32_t packets = 0;
    Bytes sizeFrame;
    r.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
        if (sizeFrame.empty()) sizeFrame.assign(c, c + n);
        r.port.sent.clear();  // 45 MB of zeros need not be kept
        if (n >= 2 && c[0] == 0x04)
            r.port.Push({static_cast<std::uint8_t>(++packets < 660 ? 0xFF : 0x00)});
    };
    EXPECT_EQ(r.km.TransmitFile(largest), KM_ACK_ERROR);
    EXPECT_EQ(sizeFrame, (Bytes{1, 0xFF, 0xFF, 0xFF, 0xFF}));
    const auto& marks = r.marks;
    ASSERT_FALSE(marks.empty());
    for (const auto& [done, pos] : marks) {
        const double exact = double(done) * 100.0 / 4294967295.0;
        EXPECT_LE(std::abs(pos - exact), 0.5) << done;
    }
    EXPECT_GT(marks.back().first, 43'000'000u);  // past the point where a 32-bit product wraps
}

TEST(KmodemTransmit, ProgressRoundsHalvesToEven) {
    // 51200 bytes in 256-byte packets: after 1, 3, 5, 7 packets the exact values are 0.5, 1.5,
    // 2.5 and 3.5 percent.
    TxRig r;
    r.port.AckEveryPacket();
    r.km.packageSize = 256;
    ASSERT_EQ(r.km.TransmitFile(r.File(Bytes(51200, 0))), KM_OK);
    auto at = [&](std::uint32_t done) {
        int last = -1;
        for (const auto& [d, p] : r.marks)
            if (d == done) last = p;
        return last;
    };
    EXPECT_EQ(at(256), 0);
    EXPECT_EQ(at(768), 2);
    EXPECT_EQ(at(1280), 2);
    EXPECT_EQ(at(1792), 4);
    EXPECT_EQ(at(25600), 50);
    EXPECT_EQ(r.marks.back(), std::make_pair(51200u, 100));
}

TEST(KmodemTransmit, RateMeterReportsKilobytesPerSecond) {
    TxRig r;
    r.host.autoAdvanceMs = 0;
    int packets = 0;
    r.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
        if (n >= 2 && c[0] == 0x04) {
            // Four 512-byte packets per second of fake time, then one slow second.
            if (++packets % 4 == 0) r.host.Advance(packets == 8 ? 2000 : 1000);
            r.port.Push({0xFF});
        }
    };
    ASSERT_EQ(r.km.TransmitFile(r.File(Bytes(512 * 12, 1))), KM_OK);
    EXPECT_EQ(r.km.maxByteRate, 2u);
    EXPECT_EQ(r.labels.front(), "2 Kbytes/S");
    EXPECT_EQ(r.labels.back(), "0 Kbytes/S");
    EXPECT_EQ(r.km.ResultReport(KM_OK, KmodemDirection::Transmit).text,
              "Transmission made successfully with the maximum rate of 2 KBytes/S");
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

// Under a second the meter never ticks: the report gives the bytes over the elapsed time, in
// both directions. 20 packets of 512 bytes, 20 ms of fake time apiece: 10 KiB in 400 ms.
TEST(KmodemRate, TransferShorterThanASecondReportsBytesOverElapsedTime) {
    const Bytes file = kmtest::RandomBytes(512 * 20, 6);
    {
        TxRig r;
        r.host.autoAdvanceMs = 0;
        r.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
            if (n >= 2 && c[0] == CMD_DATA) {
                r.host.Advance(20);
                r.port.Push({ACK});
            }
        };
        ASSERT_EQ(r.km.TransmitFile(r.File(file)), KM_OK);
        EXPECT_EQ(r.km.ResultReport(KM_OK, KmodemDirection::Transmit).text,
                  "Transmission made successfully with the maximum rate of 25 KBytes/S");
    }
    {
        TxRig r;
        r.host.autoAdvanceMs = 0;
        const Bytes script = kmtest::TransmitterScript(file, 512);
        std::size_t at = 0;
        // The next frame arrives 20 ms after each acknowledgement.
        r.port.onOut = [&](const std::uint8_t*, std::int32_t) { r.host.Advance(20); };
        r.km.kmodem_In = [&](std::uint8_t& c) {
            if (at == script.size()) return false;
            c = script[at++];
            return true;
        };
        ASSERT_EQ(r.km.ReceiveFile(r.dir / "in.bin"), KM_OK);
        EXPECT_EQ(r.km.ResultReport(KM_OK, KmodemDirection::Receive).text,
                  "Reception made successfully with the maximum rate of 25 KBytes/S");
    }
}

}  // namespace
}  // namespace corvel
