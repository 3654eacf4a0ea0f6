// corvel-kmodem when the far end of its pseudo-terminal goes away in the middle of a transfer
// (a USB adapter pulled out): it must end with a non-zero status and a message, without waiting
// out its time-outs and without spinning a core meanwhile. Also a FIFO given as the file.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvel {
namespace {

namespace fs = std::filesystem;

struct Child {
    pid_t pid = -1;
    int err = -1;  // read end of the child's stderr
};

// Starts the tool with its stderr on a pipe of ours.
Child Spawn(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 2);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return {pid, pipeFds[0]};
}

// Reads from fd until `want` bytes came or timeoutMs passed without any.
std::string ReadSome(int fd, std::size_t want, int timeoutMs) {
    std::string got;
    char buf[4096];
    while (got.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) break;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

struct Ended {
    bool ended = false;
    int status = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    std::string stderrText;
};

// Waits for the child to end, at most limitMs, without sleeping: its stderr pipe reaches end of
// file when it exits (it holds the only writing end). A child still running after the limit is
// killed and reported as not ended.
Ended WaitEnd(Child c, int limitMs) {
    Ended e;
    const auto t0 = std::chrono::steady_clock::now();
    const auto deadline = t0 + std::chrono::milliseconds(limitMs);
    char buf[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{c.err, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
        const ssize_t n = ::read(c.err, buf, sizeof buf);
        if (n < 0) break;
        if (n == 0) {
            e.ended = true;
            break;
        }
        e.stderrText.append(buf, static_cast<std::size_t>(n));
    }
    if (!e.ended) ::kill(c.pid, SIGKILL);
    rusage use{};
    ::wait4(c.pid, &e.status, 0, &use);
    e.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    e.cpuSeconds = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                   static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    ::close(c.err);
    return e;
}

class CliDeviceLoss : public ::testing::Test {
  protected:
    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        slave = ::ptsname(master);
        termios t{};
        ASSERT_EQ(::tcgetattr(master, &t), 0);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
        folder = fs::temp_directory_path() / ("corvel_cli_loss_" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override {
        if (master >= 0) ::close(master);
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    // The adapter goes: the far end of the line disappears.
    void PullOut() {
        ::close(master);
        master = -1;
    }
    static void ExpectCleanFailure(const Ended& e) {
        ASSERT_TRUE(e.ended) << "still running long after the port was lost";
        ASSERT_TRUE(WIFEXITED(e.status)) << "ended by signal " << WTERMSIG(e.status);
        EXPECT_NE(WEXITSTATUS(e.status), 0);
        EXPECT_NE(e.stderrText.find("lost the port"), std::string::npos) << e.stderrText;
        // Far below the 4.32 s time-out: the loss itself ended the transfer.
        EXPECT_LT(e.wallSeconds, 3.0);
        EXPECT_LT(e.cpuSeconds, 1.5) << "busy while waiting";
    }

    int master = -1;
    std::string slave;
    fs::path folder;
};

TEST_F(CliDeviceLoss, SendEndsWhenThePortGoesMidTransfer) {
    const std::string file = (folder / "send.bin").string();
    {
        std::ofstream out(file, std::ios::binary);
        out << std::string(3000, 'q');
    }
    Child c = Spawn({CORVEL_KMODEM_TOOL, "send", file, "--port", slave, "--packet-size", "512"});
    ASSERT_GT(c.pid, 0);
    // The size frame, one packet's length and data frames: the tool now waits for the reply.
    const std::string first = ReadSome(master, 5 + 3 + 514, 10000);
    ASSERT_EQ(first.size(), 5u + 3u + 514u);
    // Acknowledge it, take the second packet, then pull the adapter out.
    const char ack = static_cast<char>(0xFF);
    ASSERT_EQ(::write(master, &ack, 1), 1);
    ASSERT_EQ(ReadSome(master, 3 + 514, 10000).size(), 3u + 514u);
    PullOut();
    ExpectCleanFailure(WaitEnd(c, 20000));
}

TEST_F(CliDeviceLoss, ReceiveEndsWhenThePortGoesMidTransfer) {
    const std::string file = (folder / "received.bin").string();
    Child c =
        Spawn({CORVEL_KMODEM_TOOL, "receive", file, "--port", slave, "--start-command", "tx"});
    ASSERT_GT(c.pid, 0);
    // The start command shows the port is open and set up; then half a file arrives.
    ASSERT_EQ(ReadSome(master, 3, 10000), "tx\n");
    std::string frames = {'\x01', '\x00', '\x04', '\x00', '\x00', '\x02', '\x00', '\x02', '\x04'};
    frames += std::string(100, 'r');
    ASSERT_EQ(::write(master, frames.data(), frames.size()), static_cast<ssize_t>(frames.size()));
    PullOut();
    ExpectCleanFailure(WaitEnd(c, 20000));
}

TEST_F(CliDeviceLoss, ReceiveEndsWhenThePortGoesBeforeTheFirstFrame) {
    // The first frame is awaited without a time limit: only the loss can end this wait.
    const std::string file = (folder / "never.bin").string();
    Child c =
        Spawn({CORVEL_KMODEM_TOOL, "receive", file, "--port", slave, "--start-command", "tx"});
    ASSERT_GT(c.pid, 0);
    ASSERT_EQ(ReadSome(master, 3, 10000), "tx\n");
    PullOut();
    ExpectCleanFailure(WaitEnd(c, 20000));
}

// Not a device loss, but the same promise: a FIFO given as the file (nobody at its far end)
// ends the tool at once with a message, in both directions.
TEST_F(CliDeviceLoss, AFifoAsTheFileIsAnErrorNotAWait) {
    const std::string fifo = (folder / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const char* mode : {"send", "receive"}) {
        SCOPED_TRACE(mode);
        Child c = Spawn({CORVEL_KMODEM_TOOL, mode, fifo, "--port", "SIM-LOOP", "--timeout", "1"});
        ASSERT_GT(c.pid, 0);
        const Ended e = WaitEnd(c, 20000);
        ASSERT_TRUE(e.ended) << "waiting on the FIFO";
        ASSERT_TRUE(WIFEXITED(e.status));
        EXPECT_NE(WEXITSTATUS(e.status), 0);
        EXPECT_NE(e.stderrText.find(fifo), std::string::npos) << e.stderrText;
        EXPECT_LT(e.wallSeconds, 3.0);
    }
}

}  // namespace
}  // namespace corvel
