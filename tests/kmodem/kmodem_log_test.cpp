#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host/fake_host.h"
#include "host/text_file.h"
#include "kmodem/u_kmodem.h"
#include "kmodem_support.h"

namespace corvel {
namespace {

using kmtest::Bytes;
using kmtest::CrLfLines;
using kmtest::ReadText;

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

struct LogRig {
    FakeHost host;
    tKmodem km{host};
    kmtest::ScriptedPort port;
    kmtest::TempDir dir;

    LogRig() {
        port.Bind(km);
        km.logFolder = dir.str();
        km.useDebug = true;
        host.autoAdvanceMs = 10;
    }
};

TEST(KmodemDebugLog, TransmitterLinesForOneSmallFile) {
    LogRig r;
    r.port.AckEveryPacket();
    r.km.cmdTX = "rx";
    kmtest::WriteBytes(r.dir / "abc", {'a', 'b', 'c'});
    ASSERT_EQ(r.km.TransmitFile(r.dir / "abc"), KM_OK);
    EXPECT_EQ(ReadText(r.dir / "KmodemlogCMD_TX.txt"),
              CrLfLines({"TX: 0x72", "TX: 0x78", "TX: 0x0A"}));
    EXPECT_EQ(ReadText(r.dir / "KmodemLogTX.txt"),
              CrLfLines({"Init TX packageSize (512) filesize (3)",
                         "Send CMD GET SIZE FILE(0x1)",
                         "  tx 0x3",
                         "  tx 0x0",
                         "  tx 0x0",
                         "  tx 0x0",
                         "Send file size 3",
                         "APP process",
                         "Send CMD size data (0x2)",
                         "  tx 0x3",
                         "  tx 0x0",
                         "Send size data 3",
                         "APP process",
                         "Send CMD DATA (0x4) - size 3",
                         "  tx 0x61 (0)",
                         "  tx 0x62 (1)",
                         "  tx 0x63 (2)",
                         "Send 3 bytes de 3 bytes",
                         "Send checksum 38",
                         "RX ack 255",
                         "ACK ok 255",
                         "END - 0 ",
                         "Send CMD Finish - TX completed 0 "}));
    EXPECT_FALSE(std::filesystem::exists(r.dir / "KmodemLogRX.txt"));

    // The failure endings, and a later transfer replacing the earlier files.
    r.km.cmdTX.clear();
    r.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
        if (n >= 2 && c[0] == 0x04) r.port.Push({0x10});
    };
    kmtest::WriteBytes(r.dir / "big", Bytes(300, 0xAB));
    ASSERT_EQ(r.km.TransmitFile(r.dir / "big"), KM_ACK_ERROR);
    const std::string log = ReadText(r.dir / "KmodemLogTX.txt");
    EXPECT_EQ(log.substr(0, 40), "Init TX packageSize (512) filesize (300)");
    EXPECT_NE(log.find("  tx 0xAB (299)\r\nSend 300 bytes de 300 bytes\r\nSend checksum 100\r\n"),
              std::string::npos);
    EXPECT_TRUE(EndsWith(log, "RX ack 16\r\nACK error 16\r\nACK error. Send CMD cancel TX \r\n"));

    r.port.onOut = nullptr;
    r.host.onProcessMessages = [&] { r.km.canceled = true; };
    ASSERT_EQ(r.km.TransmitFile(r.dir / "big"), KM_USER_CANCEL);
    const std::string cancelLog = ReadText(r.dir / "KmodemLogTX.txt");
    EXPECT_TRUE(EndsWith(
        cancelLog,
        "Send size data 300\r\nUser cancel - -9 \r\nUser cancel. Send CMD cancel TX \r\n"));
}

TEST(KmodemDebugLog, ReceiverLinesForOneSmallFile) {
    LogRig r;
    r.port.Push({0x01, 0x03, 0, 0, 0, 0x02, 0x03, 0x00, 0x04, 0x61, 0x62, 0x63, 0x26, 0x08});
    ASSERT_EQ(r.km.ReceiveFile(r.dir / "abc"), KM_OK);
    EXPECT_EQ(ReadText(r.dir / "KmodemLogRX.txt"), CrLfLines({"Init RX packageSize (512)",
                                                              "Get CMD GET SIZE FILE(0x1)",
                                                              "  rx 0x3",
                                                              "  rx 0x0",
                                                              "  rx 0x0",
                                                              "  rx 0x0",
                                                              "Get file size 3",
                                                              "APP process",
                                                              "Get CMD size data (0x2)",
                                                              "  rx 0x3",
                                                              "  rx 0x0",
                                                              "Get size data 3",
                                                              "APP process",
                                                              "Get CMD DATA (0x4) - size 3",
                                                              "  rx 0x61 (0)",
                                                              "  rx 0x62 (1)",
                                                              "  rx 0x63 (2)",
                                                              "Receive 3 bytes de 3 bytes",
                                                              "Checksum ok 38 = 38",
                                                              "Enviando ACK 255",
                                                              "APP process",
                                                              "Finish",
                                                              "Return 0 "}));
    EXPECT_FALSE(std::filesystem::exists(r.dir / "KmodemlogCMD_RX.txt"));

    // Failure lines; the Portuguese text lands in the 8-bit code page.
    struct Case {
        Bytes script;
        std::string tail;
    };
    const Case cases[] = {
        {{1, 3, 0, 0, 0, 2, 3, 0, 4, 'a'},
         "  rx 0x61 (0)\r\nErro durante recep\xE7\xE3o dados -15 \r\nReturn -15 \r\n"},
        {{1, 3, 0, 0, 0, 2, 3, 0, 2},
         "Get size data 3\r\nAPP process\r\nErro sync     2 - GET_DATA\r\nReturn -10 \r\n"},
        {{1, 3, 0, 0, 0, 0x08},
         "Finish\r\nIncomplete file: received 0 of 3 bytes\r\nReturn -19 \r\n"},
    };
    for (const Case& c : cases) {
        r.port.input.clear();
        r.port.Push(c.script);
        r.km.ReceiveFile(r.dir / "x");
        const std::string log = ReadText(r.dir / "KmodemLogRX.txt");
        EXPECT_TRUE(EndsWith(log, c.tail)) << log;
    }

    // A stop noticed at the end of a step logs the last byte read (here the checksum).
    r.port.input.clear();
    r.port.Push({0x01, 0x03, 0, 0, 0, 0x02, 0x03, 0x00, 0x04, 0x61, 0x62, 0x63, 0x26, 0x08});
    r.port.onOut = [&](const std::uint8_t*, std::int32_t) { r.km.canceled = true; };
    EXPECT_EQ(r.km.ReceiveFile(r.dir / "x"), KM_USER_CANCEL);
    const std::string log = ReadText(r.dir / "KmodemLogRX.txt");
    EXPECT_TRUE(EndsWith(log, "Enviando ACK 255\r\nuser cancel - 38 \r\nReturn -9 \r\n"));
}

TEST(KmodemDebugLog, StartCommandLogWithEchoAndNoLogsWithoutDebug) {
    LogRig r;
    r.km.cmdRX = "t";
    r.km.cmd_useEcho = true;
    r.km.cmd_terminator = 1;
    r.port.Push({'T', 0x00, 0x0A, 0x08});
    ASSERT_EQ(r.km.ReceiveFile(r.dir / "x"), KM_OK);
    EXPECT_EQ(ReadText(r.dir / "KmodemlogCMD_RX.txt"),
              CrLfLines({"TX: 0x74", "TX: 0x54", "TX: 0x0D", "TX: 0x00", "TX: 0x0A", "TX: 0x0A"}));

    LogRig quiet;
    quiet.km.useDebug = false;
    quiet.km.cmdTX = "rx";
    quiet.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
        if (n >= 2 && c[0] == 0x04) quiet.port.Push({0x00});
    };
    kmtest::WriteBytes(quiet.dir / "f", {1});
    EXPECT_EQ(quiet.km.TransmitFile(quiet.dir / "f"), KM_ACK_ERROR);
    EXPECT_EQ(quiet.port.sent.back(), 0x10);
    for (const char* name : {KM_LOG_TX, KM_LOG_RX, KM_LOG_CMD_TX, KM_LOG_CMD_RX})
        EXPECT_FALSE(std::filesystem::exists(quiet.dir / name)) << name;
}

// The lines go to "<log>.tmp" while the transfer runs and replace the log only when it ends; a
// transfer cut short by a file error leaves the earlier log as it was and no temporary file.
TEST(KmodemDebugLog, LinesStreamToATemporaryFileRenamedAtTheEnd) {
    LogRig r;
    const std::string log = r.dir / KM_LOG_TX;
    const std::string temp = log + ".tmp";
    kmtest::WriteBytes(log, {'o', 'l', 'd'});
    kmtest::WriteBytes(r.dir / "big", kmtest::RandomBytes(512 * 8, 3));
    std::vector<std::uintmax_t> tempSizes;
    r.port.onOut = [&](const std::uint8_t* c, std::int32_t n) {
        if (n < 2 || c[0] != CMD_DATA) return;
        EXPECT_EQ(ReadText(log), "old");
        tempSizes.push_back(std::filesystem::file_size(temp));
        r.port.Push({ACK});
    };
    ASSERT_EQ(r.km.TransmitFile(r.dir / "big"), KM_OK);
    ASSERT_EQ(tempSizes.size(), 8u);
    // Written out as the transfer goes (the stream's buffer is 64 KiB; each packet logs ~8 KiB).
    EXPECT_GT(tempSizes.back(), tempSizes.front() + 32 * 1024);
    EXPECT_FALSE(std::filesystem::exists(temp));
    const std::string text = ReadText(log);
    EXPECT_EQ(text.substr(0, 41), "Init TX packageSize (512) filesize (4096)");
    EXPECT_TRUE(EndsWith(text, "END - 0 \r\nSend CMD Finish - TX completed 0 \r\n"));
    EXPECT_GT(std::filesystem::file_size(log), tempSizes.back());

#ifdef __linux__
    // The file to receive into takes no data: the receiver log keeps its old text.
    const std::string rxLog = r.dir / KM_LOG_RX;
    kmtest::WriteBytes(rxLog, {'o', 'l', 'd'});
    r.port.onOut = nullptr;
    r.port.Push(kmtest::TransmitterScript(Bytes(600, 1), 512));
    EXPECT_THROW(r.km.ReceiveFile("/dev/full"), FileError);
    EXPECT_EQ(ReadText(rxLog), "old");
    EXPECT_FALSE(std::filesystem::exists(rxLog + ".tmp"));
#endif
}

TEST(KmodemResults, LogWindowTextsForEachCode) {
    using D = KmodemDirection;
    struct Row {
        std::int32_t code;
        const char* tx;
        const char* rx;
    };
    // The rows that differ by direction or carry a number.
    const Row rows[] = {
        {KM_OK, "Transmission made successfully with the maximum rate of 37 KBytes/S",
         "Reception made successfully with the maximum rate of 37 KBytes/S"},
        {KM_FILE_EMPTY, "File empty", "Transmitter is trying to send an empty file"},
        {KM_TIMEOUT, "No receiver response", "No response from transmitter"},
        {KM_PACKAGE_SIZE, "The size of the kmodem data packet is less than 256",
         "The size of the kmodem data packet is less than 256"},
        {KM_INCOMPLETE, "Incomplete file: received 5 of 4000000000 bytes",
         "Incomplete file: received 5 of 4000000000 bytes"},
        {KM_USER_CANCEL, "User cancellation", "User cancellation"},
        {-3, "Erro desconhecido -3", "Unknown error: -3"},
    };
    for (const Row& row : rows) {
        const auto tx = KmodemResultReport(row.code, D::Transmit, 37, 5, 4000000000u);
        const auto rx = KmodemResultReport(row.code, D::Receive, 37, 5, 4000000000u);
        EXPECT_EQ(tx.text, row.tx);
        EXPECT_EQ(rx.text, row.rx);
        const auto kind = row.code == KM_OK ? KmodemReportKind::Message : KmodemReportKind::Error;
        EXPECT_EQ(tx.kind, kind) << row.code;
        EXPECT_EQ(rx.kind, kind) << row.code;
    }
}

}  // namespace
}  // namespace corvel
