// corvel-kmodem as a user runs it: a program on pseudo-terminals. Two pty pairs bridged by a
// relay thread make a null-modem cable; a single pair whose master the test reads or closes
// plays a silent or vanishing peer.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

struct Pty {
    Pty() {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        // A program started later must not keep the pair alive behind the test's back.
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        path = name;
    }
    ~Pty() {
        CloseMaster();
        if (slave >= 0) close(slave);
    }
    void CloseMaster() {
        if (master >= 0) close(master);
        master = -1;
    }
    int master = -1;
    int slave = -1;  // kept open so the master never sees a hang-up between programs
    std::string path;
};

// Reads the master until `want` has gone by; the guard only stops a broken program from hanging
// the test.
std::string ReadUntil(int fd, const std::string& want, std::uint64_t guardMs = 20000) {
    std::string got;
    const std::uint64_t end = NowMs() + guardMs;
    while (got.find(want) == std::string::npos && NowMs() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

// Copies bytes both ways between two masters until stopped.
class Relay {
  public:
    Relay(int a, int b) : a_(a), b_(b) {
        if (pipe2(stop_, O_CLOEXEC) != 0) stop_[0] = stop_[1] = -1;
        thread_ = std::thread([this] { Run(); });
    }
    ~Relay() {
        const char x = 0;
        if (write(stop_[1], &x, 1) < 0) {
        }
        thread_.join();
        close(stop_[0]);
        close(stop_[1]);
    }

  private:
    bool Forward(int from, int to) {
        char buf[65536];
        const ssize_t n = read(from, buf, sizeof buf);
        if (n <= 0) return true;
        for (ssize_t at = 0; at < n;) {
            const ssize_t w = write(to, buf + at, static_cast<std::size_t>(n - at));
            if (w > 0) {
                at += w;
                continue;
            }
            pollfd p[2] = {{to, POLLOUT, 0}, {stop_[0], POLLIN, 0}};
            poll(p, 2, 100);
            if (p[1].revents) return false;
        }
        return true;
    }
    void Run() {
        for (;;) {
            pollfd p[3] = {{a_, POLLIN, 0}, {b_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (poll(p, 3, 1000) < 0) continue;
            if (p[2].revents) return;
            if ((p[0].revents & POLLIN) && !Forward(a_, b_)) return;
            if ((p[1].revents & POLLIN) && !Forward(b_, a_)) return;
        }
    }
    int a_, b_;
    int stop_[2];
    std::thread thread_;
};

struct Child {
    pid_t pid = -1;
    int err = -1;  // the program's standard error
};

struct Outcome {
    int status = -1;  // exit status, or -1 when it had to be killed
    std::string err;
};

Child Spawn(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        std::vector<char*> argv;
        static std::string tool = CORVEL_KMODEM_TOOL;
        argv.push_back(tool.data());
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

Outcome Wait(Child c, std::uint64_t guardMs = 60000) {
    Outcome o;
    const std::uint64_t end = NowMs() + guardMs;
    bool eof = false;
    int status = 0;
    bool exited = false;
    while (!(eof && exited)) {
        if (NowMs() > end) {
            kill(c.pid, SIGKILL);
            waitpid(c.pid, &status, 0);
            close(c.err);
            o.status = -1;
            return o;
        }
        if (!eof) {
            pollfd p{c.err, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buf[4096];
                const ssize_t n = read(c.err, buf, sizeof buf);
                if (n > 0)
                    o.err.append(buf, static_cast<std::size_t>(n));
                else
                    eof = true;
            }
        }
        if (!exited && waitpid(c.pid, &status, eof ? 0 : WNOHANG) == c.pid) exited = true;
    }
    close(c.err);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

Outcome RunTool(const std::vector<std::string>& args) {
    return Wait(Spawn(args));
}

struct TempDir {
    TempDir() {
        static int n = 0;
        path = fs::temp_directory_path() /
               ("corvel_tool_" + std::to_string(getpid()) + "_" + std::to_string(++n));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string File(const char* name) const { return (path / name).string(); }
    fs::path path;
};

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(gen());
    return b;
}

void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST(KmodemTool, SendToReceiveAcrossAPtyCableByteExact) {
    TempDir dir;
    std::uint32_t seed = 7;
    for (const char* packet : {"256", "2038", "65525"}) {
        for (std::size_t size : {std::size_t{1}, std::size_t{300007}}) {
            const std::string what = std::string(packet) + "/" + std::to_string(size);
            const Bytes file = RandomBytes(size, ++seed);
            WriteFile(dir.File("in.bin"), file);
            Pty a, b;
            ASSERT_FALSE(a.path.empty());
            // The receiver announces itself with a start command once it has purged its input
            // and waits for the first frame; only then is the cable connected.
            Child rx = Spawn({"receive", dir.File("out.bin"), "--port", b.path, "--baud", "921600",
                              "--start-command", "ready"});
            EXPECT_NE(ReadUntil(b.master, "ready\n").find("ready\n"), std::string::npos);
            Outcome tx, got;
            {
                Relay relay(a.master, b.master);
                tx = RunTool({"send", dir.File("in.bin"), "--port", a.path, "--baud", "921600",
                              "--packet-size", packet});
                got = Wait(rx);
            }
            EXPECT_EQ(tx.status, 0) << what << tx.err;
            EXPECT_EQ(got.status, 0) << what << got.err;
            EXPECT_NE(tx.err.find("Transmission made successfully"), std::string::npos) << what;
            EXPECT_NE(got.err.find("received " + std::to_string(size) + " bytes in"),
                      std::string::npos)
                << what << got.err;
            EXPECT_TRUE(ReadFile(dir.File("out.bin")) == file) << what;
        }
    }
}

TEST(KmodemTool, ExitStatusesOfFailedTransfers) {
    TempDir dir;
    WriteFile(dir.File("in.bin"), RandomBytes(5000, 1));
    {
        // Nobody answers: time-out after one unit (0.864 s).
        Pty p;
        const Outcome o = RunTool({"send", dir.File("in.bin"), "--port", p.path, "--timeout", "1"});
        EXPECT_EQ(o.status, 15) << o.err;
        EXPECT_NE(o.err.find("No receiver response"), std::string::npos) << o.err;
    }
    {
        // The start command is never echoed.
        Pty p;
        const Outcome o = RunTool({"send", dir.File("in.bin"), "--port", p.path, "--timeout", "1",
                                   "--start-command", "rx", "--echo"});
        EXPECT_EQ(o.status, 20) << o.err;
        EXPECT_NE(o.err.find("Echo command not received"), std::string::npos) << o.err;
        EXPECT_EQ(ReadUntil(p.master, "r", 2000), "r");  // it waited for the first echo
    }
    {
        // Ctrl+C while a transmitter waits for its first acknowledgement: status 9, and the
        // other end is told with the cancel byte.
        Pty p;
        Child c = Spawn({"send", dir.File("in.bin"), "--port", p.path, "--timeout", "255"});
        std::string line = ReadUntil(p.master, std::string(1, '\x04'));
        line += ReadUntil(p.master, "\xff\xff", 300);  // the rest of the first packet
        kill(c.pid, SIGINT);
        const Outcome o = Wait(c);
        EXPECT_EQ(o.status, 9) << o.err;
        EXPECT_NE(o.err.find("User cancellation"), std::string::npos) << o.err;
        line += ReadUntil(p.master, "\x10", 5000);
        EXPECT_EQ(line.back(), '\x10');
    }
    {
        // The far end goes away while a receiver waits without limit: an error, not a hang.
        Pty p;
        Child c = Spawn({"receive", dir.File("out.bin"), "--port", p.path, "--timeout", "255",
                         "--start-command", "tx"});
        ReadUntil(p.master, "tx\n");
        close(p.slave);
        p.slave = -1;
        p.CloseMaster();
        const Outcome o = Wait(c, 20000);
        EXPECT_EQ(o.status, 1) << o.err;
        EXPECT_NE(o.err.find("lost the port"), std::string::npos) << o.err;
    }
}

TEST(KmodemTool, CommandLineAndFileErrors) {
    TempDir dir;
    Pty p;
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{}, "say send or receive"},
        {{"send", dir.File("x"), "--baud"}, "needs a value"},
        {{"send", dir.File("x"), "--port", p.path, "--packet-size", "255"}, "256 to 65525"},
        {{"send", dir.File("x"), "--port", p.path, "--terminator", "lfcr"}, "lf, crlf or cr"},
        {{"send", dir.File("x"), "--port", p.path, "--echo=yes"}, "takes no value"},
        {{"send", dir.File("x"), "--port", p.path, "--bogus"}, "unknown option --bogus"},
        {{"fetch", dir.File("x"), "--port", p.path}, "unknown command 'fetch'"},
        {{"send", dir.File("x")}, "which port?"},
        {{"send", dir.File("missing"), "--port", p.path}, "cannot read"},
        {{"receive", dir.path.string(), "--port", p.path}, "is a folder"},
        {{"send", dir.File("x"), "--port", dir.File("no-such-port")}, "cannot open"},
    };
    WriteFile(dir.File("x"), {1, 2, 3});
    for (const Case& c : cases) {
        const Outcome o = RunTool(c.args);
        EXPECT_EQ(o.status, 1) << c.message << ": " << o.err;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    }
    const Outcome v = RunTool({"--version"});
    EXPECT_EQ(v.status, 0);
    const Outcome h = RunTool({"send", "--help"});
    EXPECT_EQ(h.status, 0);
}

TEST(KmodemTool, TalksToTheVirtualBoard) {
    TempDir dir;
    const Bytes file = RandomBytes(40000, 3);
    WriteFile(dir.File("in.bin"), file);
    // Each run of the program powers its own board: send it a file, and fetch its demo file.
    const Outcome up =
        RunTool({"send", dir.File("in.bin"), "--port", "SIM-BOARD", "--baud", "2000000",
                 "--start-command", "rx", "--echo", "--packet-size", "2038"});
    EXPECT_EQ(up.status, 0) << up.err;
    const Outcome down = RunTool({"receive", dir.File("demo.txt"), "--port", "SIM-BOARD", "--baud",
                                  "2000000", "--start-command", "tx", "--echo"});
    EXPECT_EQ(down.status, 0) << down.err;
    const Bytes demo = ReadFile(dir.File("demo.txt"));
    EXPECT_EQ(std::string(demo.begin(), demo.begin() + 13), "Corvel virtua");
}

}  // namespace
