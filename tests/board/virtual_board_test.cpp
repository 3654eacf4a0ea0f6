// The virtual board on its thread, reached the way the window reaches it: the driver, the
// simulated cable and the terminal's Kmodem engine, with the board preset's start commands.

#include "board/virtual_board.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "board/ports.h"
#include "comport/comport.h"
#include "host/std_host.h"
#include "kmodem/u_kmodem.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    return b;
}

void WriteFile(const fs::path& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct TempDir {
    TempDir() {
        static int n = 0;
        path =
            fs::temp_directory_path() /
            ("corvel_board_" + std::to_string(std::random_device{}()) + "_" + std::to_string(++n));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

// The terminal's side of a connection: driver and engine bound as the window binds them.
struct Terminal {
    explicit Terminal(std::unique_ptr<ComPortIo> io, const std::string& port = "T")
        : driver(host, std::move(io)), k(host) {
        driver.SetComPort(port);
        driver.SetComPortSpeed(2000000);
        driver.EnableDTROnOpen = false;
        k.kmodem_Out = [this](const std::uint8_t* c, std::int32_t n) {
            return driver.SendData(c, n);
        };
        k.kmodem_In = [this](std::uint8_t& c) { return driver.getChar(c); };
        k.kmodem_Flush = [this](bool in, bool out) { driver.FlushBuffers(in, out); };
        // The board preset.
        k.cmdTX = "rx";
        k.cmdRX = "tx";
        k.cmd_useEcho = true;
        k.timerOutValue = 6;
    }

    void Type(const std::string& s) {
        driver.SendData(reinterpret_cast<const std::uint8_t*>(s.data()),
                        static_cast<std::int32_t>(s.size()));
    }

    // Reads until the text ends with `suffix`; the guard only keeps a broken board from hanging
    // the test.
    std::string ReadUntil(const std::string& suffix) {
        std::string got;
        const std::uint64_t guard = host.NowMs() + 20000;
        std::uint8_t c = 0;
        while (host.NowMs() < guard) {
            if (!driver.getChar(c)) continue;
            got.push_back(static_cast<char>(c));
            if (got.size() >= suffix.size() &&
                got.compare(got.size() - suffix.size(), suffix.size(), suffix) == 0)
                break;
        }
        return got;
    }

    StdHost host;
    TCommPortDriver driver;
    tKmodem k;
};

struct Bench {
    Bench() {
        auto [t, b] = SimDevice::MakePair();
        registry.Add("T", t);
        board = std::make_unique<VirtualBoard>(t, b, files);
        term = std::make_unique<Terminal>(registry.MakeIo());
        EXPECT_TRUE(term->driver.Connect());
    }
    SimPortRegistry registry;
    std::shared_ptr<BoardFiles> files = BoardFiles::WithDemo();
    std::unique_ptr<VirtualBoard> board;
    std::unique_ptr<Terminal> term;
};

TEST(VirtualBoard, KmodemBothWaysWithTheBoardPresetByteExact) {
    TempDir dir;
    Bench bench;
    Terminal& t = *bench.term;
    std::uint32_t seed = 1;
    int received = 0;
    for (std::uint16_t packet : {256, 512, 2038, 8192}) {
        for (std::size_t size : {std::size_t{1}, std::size_t{packet} + 1, std::size_t{30011}}) {
            // LF (the preset), CR LF and CR: the shell must see the line end the same way.
            for (std::uint8_t terminator : {0, 1, 2}) {
                if (terminator != 0 && packet != 2038) continue;
                const std::string what = std::to_string(packet) + "/" + std::to_string(size) + "/" +
                                         std::to_string(terminator);
                const Bytes file = RandomBytes(size, ++seed);
                WriteFile(dir.path / "up.bin", file);
                t.k.packageSize = packet;
                t.k.cmd_terminator = terminator;
                ASSERT_EQ(t.k.TransmitFile((dir.path / "up.bin").string()), KM_OK) << what;
                const std::string name = "recv" + std::to_string(++received) + ".bin";
                EXPECT_EQ(t.ReadUntil("> "),
                          "rx: stored " + std::to_string(size) + " bytes as " + name + "\r\n> ")
                    << what;

                // A bare "tx" sends the newest file: what the board just stored.
                ASSERT_EQ(t.k.ReceiveFile((dir.path / "down.bin").string()), KM_OK) << what;
                EXPECT_TRUE(ReadFile(dir.path / "down.bin") == file) << what;
                EXPECT_EQ(t.ReadUntil("> "),
                          "tx: sent " + std::to_string(size) + " bytes of " + name + "\r\n> ")
                    << what;
            }
        }
    }
    // The shell is still in step after all of that.
    t.Type("ls\n");
    EXPECT_NE(t.ReadUntil("free\r\n> ").find("recv" + std::to_string(received) + ".bin"),
              std::string::npos);
}

TEST(VirtualBoard, FailedTransfersLeaveTheShellUsable) {
    TempDir dir;
    Bench bench;
    Terminal& t = *bench.term;
    // Nothing to send: the terminal stops at once on the text instead of waiting for ever.
    t.k.cmdRX = "tx missing";
    t.k.timerOutValue = KM_NO_TIMEOUT;
    EXPECT_EQ(t.k.ReceiveFile((dir.path / "x.bin").string()), KM_SYNC_ERROR);
    t.ReadUntil("> ");
    // A file larger than the board's RAM is refused at its first packet.
    WriteFile(dir.path / "big.bin", Bytes(BoardFiles::kCapacity + 1, 0x55));
    t.k.timerOutValue = 6;
    EXPECT_EQ(t.k.TransmitFile((dir.path / "big.bin").string()), KM_ACK_ERROR);
    EXPECT_NE(t.ReadUntil("> ").find("rx: "), std::string::npos);
    t.Type("ls\n");
    const std::string ls = t.ReadUntil("free\r\n> ");
    EXPECT_NE(ls.find("1 files"), std::string::npos) << ls;
}

TEST(VirtualBoard, StopsPromptlyWhateverItIsDoing) {
    // Each destructor below must return, with the board streaming slowly, held off, or waiting
    // for a transfer's first frame; a board that ignored the stop would hang the test.
    for (const char* command : {"stream 1000000\n", "rx\n", "tx\n", "ls\n"}) {
        Bench bench;
        bench.term->driver.SetComPortSpeed(300);
        bench.term->driver.SetComPortHwHandshaking(hhRTSCTS);
        bench.term->Type(command);
        bench.term->ReadUntil("\n");
        bench.board.reset();
    }
}

TEST(VirtualBoard, FollowsTheTerminalsControlLines) {
    Bench bench;
    TCommPortDriver& d = bench.term->driver;
    ASSERT_TRUE(d.PulseLine(TComPortLine::DTR, true, 20));
    EXPECT_NE(bench.term->ReadUntil("commands.\r\n> ").find("restarted (reset by DTR)"),
              std::string::npos);
    while (d.PulseActive()) bench.term->host.ProcessMessages();

    ASSERT_TRUE(d.SendBreak(30));
    while (d.BreakActive()) bench.term->host.ProcessMessages();
    const std::string reported = bench.term->ReadUntil("> ");
    EXPECT_NE(reported.find("BREAK received ("), std::string::npos) << reported;

    bench.term->Type("line cts off\n");
    bench.term->ReadUntil("> ");
    ModemStatus st;
    ASSERT_TRUE(d.GetModemStatus(st));
    EXPECT_FALSE(st.cts);
    bench.term->Type("line dcd on\n");
    bench.term->ReadUntil("> ");
    ASSERT_TRUE(d.GetModemStatus(st));
    EXPECT_TRUE(st.dcd);
}

TEST(Ports, ListAndOpenTheSimulatedPorts) {
    const auto ports = ScanAllPorts();
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[ports.size() - 2], kSimBoardPort);
    EXPECT_EQ(ports.back(), kSimLoopPort);

    {
        Terminal loop(MakeAnyPortIo(), kSimLoopPort);
        ASSERT_TRUE(loop.driver.Connect());
        loop.Type("ping\x01\xff");
        EXPECT_EQ(loop.ReadUntil("\xff"), "ping\x01\xff");
    }
    {
        Terminal board(MakeAnyPortIo(), kSimBoardPort);
        ASSERT_TRUE(board.driver.Connect());
        // One connection at a time, like a real port.
        auto second = MakeAnyPortIo();
        EXPECT_FALSE(second->Open(kSimBoardPort));
        EXPECT_EQ(second->LastErrorKind(), PortErrorKind::Busy);
        board.Type("rm demo.txt\n");
        board.ReadUntil("> ");
        board.driver.Disconnect();
        // The board's RAM outlives the connection.
        ASSERT_TRUE(board.driver.Connect());
        board.Type("ls\n");
        EXPECT_EQ(board.ReadUntil("> "), "ls\nno files\r\n> ");
    }
    auto real = MakeAnyPortIo();
    EXPECT_FALSE(real->Open("/dev/corvel-no-such-port"));
    EXPECT_EQ(real->LastErrorKind(), PortErrorKind::NotFound);
    EXPECT_FALSE(real->IsOpen());
    EXPECT_EQ(real->Read(nullptr, 0), -1);
}

}  // namespace
}  // namespace corvel
