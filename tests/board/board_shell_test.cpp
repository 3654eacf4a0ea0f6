// The board's shell on a scripted line with a fake clock: input arrives at given moments, waiting
// moves the clock, and each byte sent is stamped with the moment it left.

#include "board/board_shell.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace corvel {
namespace {

struct ScriptLink : BoardLink {
    std::uint64_t now = 0;
    std::deque<std::pair<std::uint64_t, std::uint8_t>> input;
    std::string out;
    std::vector<std::uint64_t> stamps;  // one per byte of out
    LineState line;
    std::uint64_t holdUntil = 0;  // the line holds the board off until then

    void Type(std::uint64_t at, const std::string& s) {
        for (char c : s) input.emplace_back(at, static_cast<std::uint8_t>(c));
    }

    In GetByte(std::uint8_t& byte, std::uint32_t waitMs) override {
        if (input.empty()) return waitMs > 0 ? In::Closed : In::None;  // the user is done
        if (input.front().first > now) {
            now = std::min(now + waitMs, input.front().first);
            if (input.front().first > now) return In::None;
        }
        byte = input.front().second;
        input.pop_front();
        return In::Byte;
    }
    std::int32_t Put(const std::uint8_t* data, std::size_t n) override {
        if (now < holdUntil) return 0;
        out.append(reinterpret_cast<const char*>(data), n);
        stamps.insert(stamps.end(), n, now);
        return static_cast<std::int32_t>(n);
    }
    void Idle(std::uint32_t ms) override { now += ms; }
    std::uint64_t NowMs() override { return now; }
    LineState Line() override { return line; }
    bool Stopping() override { return false; }
};

std::string Shell(ScriptLink& link, std::shared_ptr<BoardFiles> files = nullptr) {
    BoardShell shell(link, std::move(files));
    shell.Run();
    return link.out;
}

std::string Shell(const std::string& typed, std::shared_ptr<BoardFiles> files = nullptr) {
    ScriptLink link;
    link.Type(0, typed);
    return Shell(link, std::move(files));
}

TEST(BoardShell, EchoesEveryByteAndEditsWithBackspace) {
    // A typo mended with backspace runs the mended command; the echo shows the edit.
    const std::string out = Shell("helq\bp\n");
    EXPECT_EQ(out.rfind("helq\b \bp\nCorvel virtual board", 0), 0u) << out;
    EXPECT_NE(out.find("  stream N "), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 2), "> ");

    // Backspace (and DEL) on an empty line rings the bell instead of eating the prompt.
    EXPECT_EQ(Shell("\b\x7f"), "\a\a");
    // Ctrl+C drops the line being typed.
    EXPECT_EQ(Shell("abc\x03"), "abc^C\r\n> ");
    // Stray control bytes (protocol leftovers, Escape) are neither echoed nor kept.
    EXPECT_EQ(Shell("l\x01\x10\x1bs\n").substr(0, 4), "ls\nd");
    // A line longer than the shell keeps rings the bell for each extra byte.
    const std::string longLine(BoardShell::kMaxLine + 3, 'x');
    const std::string out2 = Shell(longLine + "\n");
    EXPECT_EQ(out2.substr(0, BoardShell::kMaxLine), std::string(BoardShell::kMaxLine, 'x'));
    EXPECT_EQ(out2.substr(BoardShell::kMaxLine, 4), "\a\a\a\n");
}

TEST(BoardShell, ArrowKeysWalkTheLinesTypedBefore) {
    const std::string unknown = "unknown command: %s (type help for the list)\r\n> ";
    auto answer = [&](const char* word) {
        std::string s = unknown;
        return s.replace(s.find("%s"), 2, word);
    };
    // Up brings the last line back in place of what is typed; Enter runs it again.
    EXPECT_EQ(Shell("one\ntwo\nxy\x1b[A\x1b[A\n"),
              "one\n" + answer("one") + "two\n" + answer("two") +
                  "xy\b \b\b \btwo\b \b\b \b\b \bone\n" + answer("one"));
    // Down past the newest brings back the line being typed; the xterm's SS3 form works too.
    EXPECT_EQ(Shell("a\nb\x1bOA\x1b[B\n"), "a\n" + answer("a") + "b\b \ba\b \bb\n" + answer("b"));
    // No history: nothing moves. Other sequences (Left, F5, Delete) never reach the line.
    EXPECT_EQ(Shell("\x1b[Aq\x1b[D\x1b[15~\x1b[3~\n"), "q\n" + answer("q"));
}

TEST(BoardShell, LineEndsAndUnknownCommands) {
    EXPECT_EQ(Shell("frobnicate 12\n"),
              "frobnicate 12\nunknown command: frobnicate (type help for the list)\r\n> ");
    EXPECT_EQ(Shell("\n"), "\n> ");
    // A lone CR is echoed as it came; the output then starts on a line of its own.
    EXPECT_EQ(Shell("nope\r"), "nope\r\nunknown command: nope (type help for the list)\r\n> ");
    // CR LF is one line end: one answer, one prompt, and the LF is not echoed after it.
    EXPECT_EQ(Shell("nope\r\n"), "nope\r\nunknown command: nope (type help for the list)\r\n> ");
    EXPECT_EQ(Shell("\r\n\r\n"), "\r\n> \r\n> ");
    // A transfer command with nothing to send answers in text, which ends a terminal's wait
    // for a first frame at once.
    EXPECT_EQ(Shell("tx nope\n"), "tx nope\ntx: no such file: nope\r\n> ");
}

TEST(BoardShell, FilesListPrintAndRemove) {
    auto files = BoardFiles::WithDemo();
    const auto demo = BoardFiles::DemoText();
    files->files["b.bin"] = {'x', 'y'};

    std::string out = Shell("ls\n", files);
    EXPECT_NE(out.find("b.bin"), std::string::npos);
    EXPECT_NE(out.find("demo.txt"), std::string::npos);
    EXPECT_NE(out.find(std::to_string(demo.size()) + "\r\n"), std::string::npos);
    EXPECT_NE(out.find("2 files, " + std::to_string(demo.size() + 2) + " bytes used"),
              std::string::npos);

    // cat prints the bytes as they are, and ends an unfinished last line.
    out = Shell("cat demo.txt\ncat b.bin\n", files);
    EXPECT_EQ(out,
              "cat demo.txt\n" + std::string(demo.begin(), demo.end()) + "> cat b.bin\nxy\r\n> ");

    out = Shell("rm demo.txt\nrm demo.txt\ncat demo.txt\ncat\nrm\n", files);
    EXPECT_EQ(out,
              "rm demo.txt\nremoved demo.txt\r\n> "
              "rm demo.txt\nrm: no such file: demo.txt\r\n> "
              "cat demo.txt\ncat: no such file: demo.txt\r\n> "
              "cat\nusage: cat NAME\r\n> "
              "rm\nusage: rm NAME\r\n> ");
    EXPECT_EQ(files->files.size(), 1u);
    EXPECT_EQ(files->newest, "b.bin");  // a bare tx now sends what is left
    Shell("rm b.bin\n", files);
    EXPECT_EQ(Shell("ls\ntx\n", files), "ls\nno files\r\n> tx\ntx: no file to send\r\n> ");
}

TEST(BoardShell, StreamAndHexSendExactlyWhatWasAskedFor) {
    std::string out = Shell("stream 150\n");
    const std::string head = "stream 150\n";
    ASSERT_EQ(out.rfind(head, 0), 0u);
    const std::string body = out.substr(head.size(), 150);
    EXPECT_EQ(body.substr(0, 64),
              "00000001 The quick brown fox jumps over the lazy dog 012345678\r\n");
    EXPECT_EQ(body.substr(64, 9), "00000002 ");
    EXPECT_EQ(body.substr(128), "00000003 The quick bro");
    EXPECT_EQ(out.substr(head.size() + 150), "\r\n> ");

    out = Shell("hex 300\n");
    ASSERT_EQ(out.size(), 8 + 300 + 4u);
    for (std::size_t i = 0; i < 300; ++i)
        ASSERT_EQ(static_cast<std::uint8_t>(out[8 + i]), i & 0xFF) << i;
    EXPECT_EQ(out.substr(308), "\r\n> ");

    for (const char* bad :
         {"stream\n", "stream 0\n", "stream -5\n", "hex 12x\n", "hex 99999999999\n"}) {
        const std::string o = Shell(bad);
        EXPECT_NE(o.find("usage: "), std::string::npos) << bad;
        EXPECT_EQ(o.substr(o.size() - 2), "> ") << bad;
    }
}

TEST(BoardShell, OutputIsPacedByTheBaudRateAndHeldOffByTheLine) {
    for (std::uint32_t baud : {9600u, 115200u, 921600u}) {
        ScriptLink link;
        link.line.baud = baud;
        const std::uint64_t n = baud / 5;  // two seconds of line time
        link.Type(0, "stream " + std::to_string(n) + "\n");
        Shell(link);
        const std::size_t first = std::string("stream \n").size() + std::to_string(n).size();
        const std::uint64_t took = link.stamps[first + n - 1] - link.stamps[first];
        // baud / 10 bytes a second; a few bytes of burst at the start.
        EXPECT_GE(took, 1980u) << baud;
        EXPECT_LE(took, 2001u) << baud;
    }
    {
        // A line that holds the board off delays the output without losing any of it.
        ScriptLink link;
        link.holdUntil = 3000;
        link.Type(0, "hex 1000\n");
        Shell(link);
        EXPECT_EQ(link.out.size(), 9 + 1000 + 4u);
        EXPECT_GE(link.stamps[9], 3000u);
        for (std::size_t i = 0; i < 1000; ++i)
            ASSERT_EQ(static_cast<std::uint8_t>(link.out[9 + i]), i & 0xFF);
    }
}

TEST(BoardShell, CtrlCStopsAStreamAndKeepsWhatWasTypedMeanwhile) {
    ScriptLink link;
    link.line.baud = 115200;  // 11520 bytes a second
    link.Type(0, "stream 100000000\n");
    link.Type(1000, "l");
    link.Type(1001, "\x03");
    link.Type(1500, "s\n");
    const std::string out = Shell(link);
    const auto stop = out.find("\r\n^C\r\n> ");
    ASSERT_NE(stop, std::string::npos);
    EXPECT_GT(stop, 11000u);
    EXPECT_LT(stop, 12500u);
    // The "l" typed during the stream was kept; "s" completed it after the prompt.
    EXPECT_EQ(out.substr(stop + 8, 4), "ls\nd");
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

// A line whose control lines change at given moments of the fake clock.
struct ControlScriptLink : ScriptLink {
    std::vector<std::pair<std::uint64_t, ControlLines>> controls;
    ModemStatus inputs{true, false, false, false};
    ControlLines Control() override {
        ControlLines now;
        for (const auto& [at, c] : controls)
            if (at <= this->now) now = c;
        return now;
    }
    ModemStatus ModemInputs() override { return inputs; }
    void SetModemInputs(const ModemStatus& lines) override { inputs = lines; }
};

TEST(BoardShell, RestartsOnAResetPulseReportsABreakAndDrivesTheModemInputs) {
    ControlScriptLink link;
    link.line.baud = 9600;  // the stream takes fake seconds, so the pulse lands inside it
    link.Type(0, "stream 1000000\n");
    ControlLines pulsed;
    pulsed.dtrRises = 1;  // DTR went on (and maybe off again) meanwhile
    link.controls.emplace_back(1000, pulsed);
    link.Type(2000, "line cts off\nline dcd on\nline ri blink\n");
    ControlLines broke = pulsed;
    broke.dtr = true;
    broke.breaks = 1;
    broke.lastBreakMs = 250;
    link.controls.emplace_back(3000, broke);
    link.Type(3100, "ab");
    link.Type(4000, "\n");
    const std::string out = Shell(link);

    const std::string banner =
        "\r\nCorvel virtual board restarted (reset by DTR)\r\n4096 KB of RAM for files. Type "
        "help for the commands.\r\n> ";
    const auto at = out.find(banner);
    ASSERT_NE(at, std::string::npos) << out.substr(0, 200);
    // The stream stopped at the reset, without a ^C, about 1 s of 9600 baud in.
    EXPECT_EQ(out.find("^C"), std::string::npos);
    EXPECT_GT(at, 800u);
    EXPECT_LT(at, 1100u);
    EXPECT_EQ(out.substr(at + banner.size()),
              "line cts off\n"
              "from the terminal: DTR off, RTS off\r\n"
              "to the terminal:   CTS off, DSR off, DCD off, RI off\r\n> "
              "line dcd on\n"
              "from the terminal: DTR off, RTS off\r\n"
              "to the terminal:   CTS off, DSR off, DCD on, RI off\r\n> "
              "line ri blink\nusage: line [cts|dsr|dcd|ri on|off]\r\n> "
              "\r\nBREAK received (250 ms)\r\n> ab\nunknown command: ab (type help for the "
              "list)\r\n> ");
    EXPECT_EQ(link.inputs, (ModemStatus{false, false, true, false}));
}

}  // namespace
}  // namespace corvel
