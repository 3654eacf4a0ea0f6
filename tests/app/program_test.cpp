// The program itself: its options, and an orderly close on SIGTERM (the settings are written).

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <string>
#include <vector>

#include "terminal/settings_file.h"

extern char** environ;

namespace corvel {
namespace {

#if defined(CORVEL_EXE) && !defined(_WIN32)

struct ProgramRun {
    int status = -1;
};

// Starts the program with SIGTERM blocked, so a SIGTERM sent at once stays pending until the
// program has its handler: no race with its start-up, no waiting on a clock.
ProgramRun RunProgram(const std::string& exe, std::vector<std::string> args, bool terminate,
                      const std::string& outFile,
                      const std::string& platform = "QT_QPA_PLATFORM=offscreen") {
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore{platform};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0) envStore.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    ProgramRun run;
    if (posix_spawn(&pid, exe.c_str(), &actions, &attr, argv.data(), envp.data()) == 0) {
        if (terminate) kill(pid, SIGTERM);
        waitpid(pid, &run.status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return run;
}

TEST(Program, OptionsAndAnOrderlyCloseOnSigterm) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The settings live beside the executable, so the program runs from a folder of its own.
    const QString exe = dir.filePath("corvel");
    ASSERT_TRUE(QFile::copy(CORVEL_EXE, exe));
    const std::string out = dir.filePath("out.txt").toStdString();
    auto output = [&] {
        QFile f(QString::fromStdString(out));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };

    ProgramRun help = RunProgram(exe.toStdString(), {"--help"}, false, out);
    ASSERT_TRUE(WIFEXITED(help.status));
    EXPECT_EQ(WEXITSTATUS(help.status), 0);
    EXPECT_TRUE(output().contains("CORVEL_EXTRA_PORTS"));
    EXPECT_TRUE(output().contains("--connect"));
    ProgramRun version = RunProgram(exe.toStdString(), {"--version"}, false, out);
    EXPECT_EQ(WEXITSTATUS(version.status), 0);
    EXPECT_EQ(output(), "corvel 2.6\n");
    ProgramRun list = RunProgram(exe.toStdString(), {"--list-ports"}, false, out);
    EXPECT_EQ(WEXITSTATUS(list.status), 0);
    EXPECT_TRUE(output().contains("SIM-BOARD\t")) << output().toStdString();
    ProgramRun bad = RunProgram(exe.toStdString(), {"--baud", "fast"}, false, out);
    EXPECT_EQ(WEXITSTATUS(bad.status), 2);
    for (const char* wrong : {"9N1", "8X1", "8N3", "8N"}) {
        ProgramRun badFormat = RunProgram(exe.toStdString(), {"--format", wrong}, false, out);
        EXPECT_EQ(WEXITSTATUS(badFormat.status), 2) << wrong;
    }
    ProgramRun badDtr = RunProgram(exe.toStdString(), {"--dtr", "high"}, false, out);
    EXPECT_EQ(WEXITSTATUS(badDtr.status), 2);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("tool_terminal.ini")));

    QFile screens(dir.filePath("screens.json"));
    ASSERT_TRUE(screens.open(QIODevice::WriteOnly));
    screens.write(R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1920,
                      "height": 1080, "logicalDpi": 96}]})");
    screens.close();
    ProgramRun term =
        RunProgram(exe.toStdString(), {"--baud", "57600", "--format=7E1", "--dtr", "on"}, true, out,
                   "QT_QPA_PLATFORM=offscreen:configfile=" + screens.fileName().toStdString());
    ASSERT_TRUE(WIFEXITED(term.status)) << "killed by signal " << WTERMSIG(term.status);
    EXPECT_EQ(WEXITSTATUS(term.status), 0);
    const tIniFile ini(dir.filePath("tool_terminal.ini").toStdString());
    EXPECT_EQ(ini.ReadInteger("WINDOWS", "W", 0), 1035);
    // The baud rate of the command line was for that run only.
    EXPECT_EQ(ini.ReadInteger("UART", "BAUDRATE", 0), 9600);
    EXPECT_EQ(ini.ReadString("LINE", "FORMAT", ""), "8N1");
    EXPECT_FALSE(ini.ReadBool("LINE", "DTR", true));
}

// On a first start on a small screen the window is made to fit it, the log and Exit included.
TEST(Program, AFirstStartFitsASmallScreen) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exe = dir.filePath("corvel");
    ASSERT_TRUE(QFile::copy(CORVEL_EXE, exe));
    QFile screens(dir.filePath("screens.json"));
    ASSERT_TRUE(screens.open(QIODevice::WriteOnly));
    screens.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1024,
                      "height": 700, "logicalDpi": 96}]})");
    screens.close();
    const std::string platform =
        "QT_QPA_PLATFORM=offscreen:configfile=" + screens.fileName().toStdString();
    ProgramRun run =
        RunProgram(exe.toStdString(), {}, true, dir.filePath("out.txt").toStdString(), platform);
    ASSERT_TRUE(WIFEXITED(run.status));
    const tIniFile ini(dir.filePath("tool_terminal.ini").toStdString());
    EXPECT_LE(ini.ReadInteger("WINDOWS", "W", 0), 1024);
    EXPECT_LE(ini.ReadInteger("WINDOWS", "H", 0), 700);
    EXPECT_GT(ini.ReadInteger("WINDOWS", "W", 0), 800);
}

#endif

}  // namespace
}  // namespace corvel
