// Hostile and unlucky files the colleagues' own tests do not already cover: things that are not
// regular files where a file is expected (a FIFO would block an open for ever, a folder reads as
// an error), a command list whose rewrite fails on a full disk, and Kmodem files that are not
// files at all. Each gives a clear FileError with the path, or the defaults, promptly; nothing
// good is replaced by something broken.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/fake_host.h"
#include "host/text_file.h"
#include "kmodem/u_kmodem.h"
#include "terminal/cmds_file.h"
#include "terminal/settings_file.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

class Folder {
  public:
    Folder() {
        static int n = 0;
        path_ = fs::temp_directory_path() /
                ("corvel_hostile_" + std::to_string(::getpid()) + "_" + std::to_string(++n));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    void Put(const std::string& name, const std::string& bytes) const {
        std::ofstream(File(name), std::ios::binary) << bytes;
    }
    std::string Get(const std::string& name) const {
        std::ifstream in(File(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    fs::path path_;
};

// Runs fn, which must not block on the FIFO at path. Should it block, a helper opens the FIFO's
// other end after a few seconds so the test ends (and fails) instead of hanging; when fn returns
// at once the helper is woken and leaves without touching the FIFO.
bool ReturnsWithoutWaitingOnFifo(const std::string& fifo, const std::function<void()>& fn) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::atomic<bool> rescued{false};
    std::thread rescuer([&] {
        std::unique_lock<std::mutex> lock(m);
        if (cv.wait_for(lock, std::chrono::seconds(5), [&] { return done; })) return;
        rescued = true;
        // Either end unblocks the other: open both ways, non-blocking, and hold them a moment.
        const int r = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        lock.unlock();
        if (w >= 0) ::close(w);
        cv.notify_all();
        lock.lock();
        cv.wait_for(lock, std::chrono::seconds(5), [&] { return done; });
        if (r >= 0) ::close(r);
    });
    fn();
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
    }
    cv.notify_all();
    rescuer.join();
    return !rescued;
}

TEST(HostileFiles, AFifoWhereASettingsFileShouldBeGivesDefaultsAndRefusesWrites) {
    Folder dir;
    const std::string path = dir.File("tool_terminal.ini");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    tIniFile ini(path);
    EXPECT_TRUE(ReturnsWithoutWaitingOnFifo(path, [&] {
        EXPECT_EQ(ini.ReadInteger("UART", "BAUDRATE", 9600), 9600);
        EXPECT_EQ(ini.ReadString("UART", "PORT", "COM1"), "COM1");
        try {
            ini.WriteInteger("UART", "BAUDRATE", 115200);
            ADD_FAILURE() << "a write over a FIFO was reported as done";
        } catch (const FileError& e) {
            EXPECT_EQ(e.path(), path);
        }
    }));
    // Whatever it is, it is still there: not replaced by a file of ours.
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(HostileFiles, AFifoOrAFolderAsACommandListIsAFileError) {
    Folder dir;
    const std::string fifo = dir.File("pipe.cmds");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(ReturnsWithoutWaitingOnFifo(fifo, [&] {
        try {
            ReadCmdsFile(fifo);
            ADD_FAILURE() << "a FIFO was read as a command list";
        } catch (const FileError& e) {
            EXPECT_EQ(e.path(), fifo);
        }
    }));
    fs::create_directory(dir.File("folder.cmds"));
    EXPECT_THROW(ReadCmdsFile(dir.File("folder.cmds")), FileError);
    // Neither shows up in the listing of lists.
    dir.Put("real.cmds", "help\r\n");
    EXPECT_EQ(FindFiles(dir.File(""), "cmds"), std::vector<std::string>{dir.File("real.cmds")});
}

TEST(HostileFiles, ACommandListRewriteOnAFullDiskKeepsTheOldList) {
    Folder dir;
    const std::string old = "help\r\nled on\r\n";
    dir.Put("board.cmds", old);
    // A full disk, played by the file size limit (root ignores permission bits, not this).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        WriteCmdsFile(dir.File("board.cmds"), {"help", "led on", std::string(100, 'x')},
                      TextEncoding::Ansi);
    } catch (const FileError& e) {
        threw = true;
        EXPECT_EQ(e.path(), dir.File("board.cmds"));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(dir.Get("board.cmds"), old);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.File(""))) ++entries;
    EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
}

TEST(HostileFiles, ASettingsWriteWhereTheFileCannotBeWrittenKeepsTheOtherKeysReadable) {
    Folder dir;
    dir.Put("tool_terminal.ini", "[UART]\r\nPORT=/dev/ttyUSB0\r\n");
    tIniFile ini(dir.File("tool_terminal.ini"));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(ini.Update([&] {
        ini.WriteInteger("UART", "BAUDRATE", 115200);
        ini.WriteString("UART", "PORT", "/dev/ttyACM0");
    }),
                 FileError);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    // Neither write took: memory is not ahead of the disk.
    EXPECT_EQ(ini.ReadString("UART", "PORT", ""), "/dev/ttyUSB0");
    EXPECT_EQ(ini.ReadInteger("UART", "BAUDRATE", 9600), 9600);
}

// Kmodem: a folder as the file to send or to receive into is a FileError with the path, and the
// transfer leaves no timer running.
TEST(HostileFiles, KmodemFilesThatAreFolders) {
    Folder dir;
    const std::string folder = dir.File("a folder");
    fs::create_directory(folder);
    FakeHost host;
    host.autoAdvanceMs = 100;
    tKmodem km(host);
    std::vector<std::uint8_t> sent;
    km.kmodem_Out = [&](const std::uint8_t* c, std::int32_t n) {
        sent.insert(sent.end(), c, c + n);
        return n;
    };
    km.kmodem_In = [](std::uint8_t&) { return false; };
    km.kmodem_Flush = [](bool, bool) {};
    for (bool transmit : {true, false}) {
        SCOPED_TRACE(transmit ? "transmit" : "receive");
        sent.clear();
        try {
            if (transmit)
                km.TransmitFile(folder);
            else
                km.ReceiveFile(folder);
            ADD_FAILURE() << "a folder was taken for a file";
        } catch (const FileError& e) {
            EXPECT_EQ(e.path(), folder);
        }
        EXPECT_TRUE(sent.empty()) << "frames went out for a file that is not one";
        EXPECT_EQ(host.ActiveTimerCount(), 0u);
        EXPECT_TRUE(fs::is_directory(folder));
    }
}

// A FIFO picked as the file to send or to receive into: a FileError at once, not a window
// frozen in the open until some other program opens the far end.
TEST(HostileFiles, KmodemFilesThatAreFifos) {
    Folder dir;
    const std::string fifo = dir.File("pipe.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FakeHost host;
    host.autoAdvanceMs = 100;
    tKmodem km(host);
    std::vector<std::uint8_t> sent;
    km.kmodem_Out = [&](const std::uint8_t* c, std::int32_t n) {
        sent.insert(sent.end(), c, c + n);
        return n;
    };
    km.kmodem_In = [](std::uint8_t&) { return false; };
    km.kmodem_Flush = [](bool, bool) {};
    for (bool transmit : {true, false}) {
        SCOPED_TRACE(transmit ? "transmit" : "receive");
        sent.clear();
        EXPECT_TRUE(ReturnsWithoutWaitingOnFifo(fifo, [&] {
            try {
                if (transmit)
                    km.TransmitFile(fifo);
                else
                    km.ReceiveFile(fifo);
                ADD_FAILURE() << "a FIFO without a peer was taken for a file";
            } catch (const FileError& e) {
                EXPECT_EQ(e.path(), fifo);
            }
        }));
        EXPECT_TRUE(sent.empty());
        EXPECT_EQ(host.ActiveTimerCount(), 0u);
    }
}

}  // namespace
}  // namespace corvel
