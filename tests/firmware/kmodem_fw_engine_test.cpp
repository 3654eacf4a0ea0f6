// The board library against the terminal's engine: two implementations written apart must agree
// on every byte, in both directions, with and without the shell's start command.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>

#include "board_port.h"
#include "host/std_host.h"
#include "kmodem/u_kmodem.h"

namespace corvel::fwtest {
namespace {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("corvel_fw_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "_" +
                 std::to_string(++counter));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(const char* name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The terminal's side: the engine bound to the pipes as the window binds it to the driver.
// Everything it writes is also recorded, to compare with the expected frames.
struct Terminal {
    Terminal(BytePipe& inPipe, BytePipe& outPipe) : k(host) {
        k.kmodem_Out = [this, &outPipe](const std::uint8_t* c, std::int32_t n) {
            sent.insert(sent.end(), c, c + n);
            outPipe.Push(c, static_cast<std::size_t>(n));
            return n;
        };
        // Like the driver's getChar: a short wait, then "nothing".
        k.kmodem_In = [&inPipe](std::uint8_t& c) { return inPipe.Pop(c, 5) == KMFW_IN_BYTE; };
        k.kmodem_Flush = [this, &inPipe](bool inBuf, bool) {
            if (inBuf) inPipe.Clear();
            if (!flushed.exchange(true)) firstFlush.set_value();
        };
    }
    StdHost host;
    tKmodem k;
    Bytes sent;
    std::atomic<bool> flushed{false};
    std::promise<void> firstFlush;
};

// Plays the board's shell for one command: echoes every byte of the line unchanged, and once the
// line end has been echoed starts the transfer the line names.
std::int16_t RunShellCommand(PipeBoard& board) {
    std::string line;
    for (;;) {
        std::uint8_t c = 0;
        if (board.in.Pop(c, 20000) != KMFW_IN_BYTE) return -100;
        board.out.Push(&c, 1);
        if (c == '\n') break;
        if (c != '\r') line.push_back(static_cast<char>(c));
    }
    if (line == "rx") return kmfw_receive(&board.ctx);
    if (line == "tx")
        return kmfw_transmit(&board.ctx, static_cast<std::uint32_t>(board.file.size()));
    return -101;
}

struct Outcome {
    std::int32_t terminal;
    std::int16_t board;
};

// Terminal sends, board receives. With a start command the board waits in its shell.
Outcome TerminalToBoard(Terminal& t, PipeBoard& board, const std::string& path, bool shell) {
    std::int16_t rx = 1;
    std::thread th([&] { rx = shell ? RunShellCommand(board) : kmfw_receive(&board.ctx); });
    const std::int32_t tx = t.k.TransmitFile(path);
    board.in.Close();
    th.join();
    return {tx, rx};
}

// Board sends, terminal receives. Without a start command the board must not begin before the
// terminal has purged its input, as a user would start the receiving side first.
Outcome BoardToTerminal(Terminal& t, PipeBoard& board, const std::string& path, bool shell,
                        BytePipe& terminalIn) {
    std::int16_t tx = 1;
    std::future<void> flushed = t.firstFlush.get_future();
    std::thread th([&] {
        if (shell) {
            tx = RunShellCommand(board);
            return;
        }
        flushed.wait();
        tx = kmfw_transmit(&board.ctx, static_cast<std::uint32_t>(board.file.size()));
    });
    const std::int32_t rx = t.k.ReceiveFile(path);
    board.in.Close();
    terminalIn.Close();
    th.join();
    return {rx, tx};
}

TEST(FirmwareWithEngine, FilesCrossBothWaysByteExact) {
    TempDir dir;
    std::uint32_t seed = 500;
    for (std::uint16_t packet : {256, 512, 2038}) {
        for (std::size_t size : {std::size_t{1}, std::size_t{3}, std::size_t{packet},
                                 std::size_t{3u * packet + 1u}, std::size_t{300007}}) {
            const Bytes file = RandomBytes(size, ++seed);
            const Bytes acks((size + packet - 1) / packet, 0xFF);
            const std::string path = dir.File("file.bin");
            {
                BytePipe toBoard, toTerminal;
                Terminal t(toTerminal, toBoard);
                t.k.packageSize = packet;
                PipeBoard board(toBoard, toTerminal, packet);
                WriteFile(path, file);
                const Outcome r = TerminalToBoard(t, board, path, false);
                EXPECT_EQ(r.terminal, KM_OK) << packet << " " << size;
                EXPECT_EQ(r.board, KMFW_OK) << packet << " " << size;
                EXPECT_TRUE(board.stored == file) << packet << " " << size;
                EXPECT_TRUE(t.sent == Frames(file, packet)) << packet << " " << size;
                EXPECT_EQ(board.sent, acks);
            }
            {
                BytePipe toBoard, toTerminal;
                Terminal t(toTerminal, toBoard);
                t.k.packageSize = 256;  // a receiver takes whatever length is announced
                PipeBoard board(toBoard, toTerminal, packet);
                board.file = file;
                const Outcome r = BoardToTerminal(t, board, path, false, toTerminal);
                EXPECT_EQ(r.terminal, KM_OK) << packet << " " << size;
                EXPECT_EQ(r.board, KMFW_OK) << packet << " " << size;
                EXPECT_TRUE(ReadFile(path) == file) << packet << " " << size;
                EXPECT_TRUE(board.sent == Frames(file, packet)) << packet << " " << size;
                EXPECT_EQ(t.sent, acks);
            }
        }
    }
}

TEST(FirmwareWithEngine, StartCommandsEchoedByTheBoardShell) {
    TempDir dir;
    // Terminator 0 (LF) and 1 (CR LF): the shell's line ends at LF, the last byte of either.
    for (std::uint8_t terminator : {0, 1}) {
        {
            // "rx": the terminal sends, the board receives. The size frame follows the echo of
            // the line end at once and must find the board listening.
            BytePipe toBoard, toTerminal;
            Terminal t(toTerminal, toBoard);
            t.k.cmdTX = "rx";
            t.k.cmd_useEcho = true;
            t.k.cmd_terminator = terminator;
            PipeBoard board(toBoard, toTerminal, 512);
            const Bytes file = RandomBytes(70000, 700u + terminator);
            const std::string path = dir.File("to_board.bin");
            WriteFile(path, file);

            const Outcome r = TerminalToBoard(t, board, path, true);
            EXPECT_EQ(r.terminal, KM_OK);
            EXPECT_EQ(r.board, KMFW_OK);
            EXPECT_TRUE(board.stored == file);
            Bytes command{'r', 'x'};
            if (terminator == 1) command.push_back('\r');
            command.push_back('\n');
            Bytes expected = command;
            const Bytes frames = Frames(file, 512);
            expected.insert(expected.end(), frames.begin(), frames.end());
            EXPECT_TRUE(t.sent == expected);
            // The echo is the shell's; the library itself only acknowledged.
            EXPECT_EQ(board.sent, Bytes((file.size() + 511) / 512, 0xFF));
        }
        {
            // "tx": the board sends right after echoing the line end.
            BytePipe toBoard, toTerminal;
            Terminal t(toTerminal, toBoard);
            t.k.cmdRX = "tx";
            t.k.cmd_useEcho = true;
            t.k.cmd_terminator = terminator;
            PipeBoard board(toBoard, toTerminal, 2038);
            board.file = RandomBytes(70001, 710u + terminator);
            const std::string path = dir.File("from_board.bin");

            const Outcome r = BoardToTerminal(t, board, path, true, toTerminal);
            EXPECT_EQ(r.terminal, KM_OK);
            EXPECT_EQ(r.board, KMFW_OK);
            EXPECT_TRUE(ReadFile(path) == board.file);
        }
    }
}

TEST(FirmwareWithEngine, BoardRefusalReachesTheTerminalAsAckError) {
    // The terminal sends 2038-byte packets to a board with room for 512: the board refuses the
    // first packet, the terminal stops at once with an ACK error, and its closing cancel byte is
    // taken by the board, so nothing is left on the line for the shell.
    TempDir dir;
    BytePipe toBoard, toTerminal;
    Terminal t(toTerminal, toBoard);
    t.k.packageSize = 2038;
    t.k.timerOutValue = 100;  // 86 s: a wait run out would show as a very slow test
    PipeBoard board(toBoard, toTerminal, 512);
    board.ctx.timeout_ms = 86400;
    const std::string path = dir.File("big.bin");
    WriteFile(path, RandomBytes(10000, 800));

    const Outcome r = TerminalToBoard(t, board, path, false);
    EXPECT_EQ(r.terminal, KM_ACK_ERROR);
    EXPECT_EQ(r.board, KMFW_PACKET_TOO_BIG);
    EXPECT_EQ(board.sent, Bytes{0x10});
    EXPECT_TRUE(toBoard.Empty());
    EXPECT_TRUE(toTerminal.Empty());
}

}  // namespace
}  // namespace corvel::fwtest
