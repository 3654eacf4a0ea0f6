#include "board/board_shell.h"

#include <cstdlib>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kmodem_fw.h"

namespace corvel {

namespace {

constexpr std::uint8_t kCtrlC = 0x03;
constexpr std::size_t kChunk = 256;  // stream output between two looks for Ctrl+C
// How long a line ended by CR waits for an LF before a transfer starts: the terminal sends the
// LF of a CR LF terminator only once it has seen the CR's echo.
constexpr std::uint32_t kLfWaitMs = 500;
// After sending a file the terminal needs a moment to show the line again, or the result text
// lands in its transfer reader and is lost.
constexpr std::uint64_t kAfterTxMs = 200;
constexpr std::size_t kMaxNameLength = 40;

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// Splits "word rest" at the first blank.
std::pair<std::string, std::string> SplitWord(const std::string& line) {
    const std::string t = Trim(line);
    const auto blank = t.find_first_of(" \t");
    if (blank == std::string::npos) return {t, {}};
    return {t.substr(0, blank), Trim(t.substr(blank))};
}

bool ParseCount(const std::string& s, std::uint64_t& out) {
    if (s.empty() || s.size() > 10) return false;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v == 0 || v > BoardShell::kMaxCount) return false;
    out = v;
    return true;
}

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F) return false;
    }
    return true;
}

std::string Format(const char* fmt, unsigned long long a, unsigned long long b = 0,
                   unsigned long long c = 0) {
    char buf[160];
    const int n = std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return n < 0 ? std::string() : std::string(buf, std::min<std::size_t>(n, sizeof buf - 1));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Files

std::size_t BoardFiles::Used() const {
    std::size_t used = 0;
    for (const auto& [name, data] : files) used += data.size();
    return used;
}

std::size_t BoardFiles::RoomFor(const std::string& name) const {
    const auto it = files.find(name);
    const std::size_t replaced = it == files.end() ? 0 : it->second.size();
    const std::size_t used = Used() - replaced;
    return used >= kCapacity ? 0 : kCapacity - used;
}

std::vector<std::uint8_t> BoardFiles::DemoText() {
    std::string t =
        "Corvel virtual board - demo file\n"
        "================================\n"
        "\n"
        "This file lives in the board's RAM. The board sends it with Kmodem on \"tx\" and\n"
        "stores what it receives on \"rx\"; \"ls\" lists the RAM, \"cat NAME\" prints a file.\n"
        "\n";
    for (int i = 1; i <= 40; ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "%02d  The quick brown fox jumps over the lazy dog.\n", i);
        t += line;
    }
    return std::vector<std::uint8_t>(t.begin(), t.end());
}

std::shared_ptr<BoardFiles> BoardFiles::WithDemo() {
    auto f = std::make_shared<BoardFiles>();
    f->files[kDemoName] = DemoText();
    f->newest = kDemoName;
    return f;
}

// ---------------------------------------------------------------------------------------------
// The C library's callbacks

struct BoardShell::Transfer {
    BoardShell* shell = nullptr;
    const std::vector<std::uint8_t>* source = nullptr;
    std::vector<std::uint8_t> received;
    std::size_t limit = 0;

    static Transfer& Of(void* user) { return *static_cast<Transfer*>(user); }

    static std::int8_t GetByte(void* user, std::uint8_t* byte, std::uint32_t waitMs) {
        switch (Of(user).shell->Get(*byte, waitMs)) {
            case BoardLink::In::Byte:
                return KMFW_IN_BYTE;
            case BoardLink::In::None:
                return KMFW_IN_NONE;
            case BoardLink::In::Closed:
                break;
        }
        return KMFW_IN_CLOSED;
    }
    static std::uint16_t PutBytes(void* user, const std::uint8_t* data, std::uint16_t len) {
        return Of(user).shell->Send(data, len) ? len : 0;
    }
    static std::uint32_t NowMs(void* user) {
        return static_cast<std::uint32_t>(Of(user).shell->link_.NowMs());
    }
    static std::uint8_t Read(void* user, std::uint32_t offset, std::uint8_t* dst,
                             std::uint16_t len) {
        const auto* src = Of(user).source;
        if (!src || offset > src->size() || src->size() - offset < len) return 0;
        std::memcpy(dst, src->data() + offset, len);
        return 1;
    }
    static std::uint8_t Write(void* user, std::uint32_t offset, const std::uint8_t* src,
                              std::uint16_t len) {
        Transfer& t = Of(user);
        if (offset != t.received.size() || t.received.size() + len > t.limit) return 0;
        t.received.insert(t.received.end(), src, src + len);
        return 1;
    }
    static std::uint8_t Cancelled(void* user) {
        BoardShell& s = *Of(user).shell;
        return s.gone_ || s.link_.Stopping() || s.LineEvent();
    }

    static constexpr kmfw_port kPort{GetByte, PutBytes, NowMs, Read, Write, Cancelled};
};

// ---------------------------------------------------------------------------------------------
// The shell

BoardShell::BoardShell(BoardLink& link, std::shared_ptr<BoardFiles> files)
    : link_(link), files_(files ? std::move(files) : BoardFiles::WithDemo()) {}

void BoardShell::Run() {
    while (!gone_) {
        std::uint8_t c = 0;
        const BoardLink::In r = Get(c, 50);
        if (r == BoardLink::In::Byte) OnByte(c);
        if (LineEvent()) HandleLineEvent();
    }
}

bool BoardShell::LineEvent() {
    const ControlLines now = link_.Control();
    if (now.dtrRises != seen_.dtrRises) resetBy_ = "DTR";
    if (now.rtsRises != seen_.rtsRises) resetBy_ = "RTS";
    if (now.breaks != seen_.breaks) breakSeen_ = true;
    seen_ = now;
    return resetBy_ || breakSeen_;
}

void BoardShell::HandleLineEvent() {
    line_.clear();
    skipLf_ = false;
    if (resetBy_) {
        // A reset loses whatever the UART had received, and a BREAK with it.
        const char* cause = resetBy_;
        resetBy_ = nullptr;
        breakSeen_ = false;
        pending_.clear();
        credit_ = 0;
        Banner(cause);
    } else if (breakSeen_) {
        breakSeen_ = false;
        Send(Format("\r\nBREAK received (%llu ms)\r\n", seen_.lastBreakMs));
    }
    Prompt();
}

void BoardShell::Banner(const char* cause) {
    Send(std::string("\r\nCorvel virtual board restarted (reset by ") + cause + ")\r\n" +
         Format("%llu KB of RAM for files. Type help for the commands.\r\n",
                BoardFiles::kCapacity / 1024));
}

BoardLink::In BoardShell::Get(std::uint8_t& byte, std::uint32_t waitMs) {
    if (!pending_.empty()) {
        byte = pending_.front();
        pending_.pop_front();
        return BoardLink::In::Byte;
    }
    if (gone_ || link_.Stopping()) {
        gone_ = true;
        return BoardLink::In::Closed;
    }
    const BoardLink::In r = link_.GetByte(byte, waitMs);
    if (r == BoardLink::In::Closed) gone_ = true;
    return r;
}

bool BoardShell::Send(const std::string& s) {
    return Send(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

bool BoardShell::Send(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        if (gone_ || link_.Stopping()) {
            gone_ = true;
            return false;
        }
        const LineState line = link_.Line();
        std::size_t allow = std::min<std::size_t>(n, 4096);
        if (line.baud != 0) {
            // A UART sends baud / 10 bytes a second (start bit, 8 data bits, stop bit). Credit
            // saved while idle is capped at 20 ms of line time so a pause buys no burst.
            const std::uint64_t now = link_.NowMs();
            const std::uint64_t cap = std::max<std::uint64_t>(64, line.baud / 500) * 10000;
            credit_ = std::min(cap, credit_ + (now - std::min(now, lastRefill_)) * line.baud);
            lastRefill_ = now;
            allow = static_cast<std::size_t>(std::min<std::uint64_t>(allow, credit_ / 10000));
            if (allow == 0) {
                const std::uint64_t need = 10000 - credit_;
                const std::uint64_t ms = (need + line.baud - 1) / line.baud;
                link_.Idle(static_cast<std::uint32_t>(std::clamp<std::uint64_t>(ms, 1, 20)));
                continue;
            }
        }
        const std::int32_t k = link_.Put(data, allow);
        if (k < 0) {
            gone_ = true;
            return false;
        }
        if (k == 0) {  // held off (RTS/CTS) or the UART's queue is full
            link_.Idle(5);
            continue;
        }
        if (line.baud != 0) credit_ -= std::min<std::uint64_t>(credit_, std::uint64_t(k) * 10000);
        data += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

void BoardShell::Prompt() {
    // After a reset or BREAK the prompt comes with its report.
    if (resetBy_ || breakSeen_) return;
    Send(kPrompt);
}

bool BoardShell::Interrupted() {
    if (LineEvent()) return true;
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (*it == kCtrlC) {
            pending_.erase(it);
            return true;
        }
    }
    // Keystrokes typed meanwhile stay for the shell, up to a bound.
    while (pending_.size() < kMaxLine) {
        std::uint8_t b = 0;
        const BoardLink::In r = link_.GetByte(b, 0);
        if (r == BoardLink::In::Closed) gone_ = true;
        if (r != BoardLink::In::Byte) break;
        if (b == kCtrlC) return true;
        pending_.push_back(b);
    }
    return gone_;
}

void BoardShell::OnByte(std::uint8_t c) {
    const bool afterCr = skipLf_;
    skipLf_ = false;
    if (c == '\n' && afterCr) return;

    // Up and Down bring back earlier lines; other terminal keys are read and ignored.
    const ShellKeys::Key key = keys_.Feed(c);
    if (key != ShellKeys::Key::Byte) {
        std::string shown;
        if ((key == ShellKeys::Key::Up || key == ShellKeys::Key::Down) &&
            history_.Walk(key == ShellKeys::Key::Up, line_, shown)) {
            std::string redraw;
            for (std::size_t i = 0; i < line_.size(); ++i) redraw += "\b \b";
            line_ = shown.substr(0, kMaxLine);
            Send(redraw + line_);
        }
        return;
    }

    if (c == '\r' || c == '\n') {
        // Every byte of a line is echoed once and unchanged: a terminal that sends a start
        // command with echo counts exactly one echo per byte.
        Send(&c, 1);
        const std::string line = line_;
        line_.clear();
        history_.Add(line);
        bool crOnly = c == '\r';
        if (crOnly) {
            const std::string word = SplitWord(line).first;
            if (word == "rx" || word == "tx") {
                std::uint8_t next = 0;
                if (Get(next, kLfWaitMs) == BoardLink::In::Byte) {
                    if (next == '\n') {
                        Send(&next, 1);
                        crOnly = false;
                    } else {
                        pending_.push_front(next);  // the transfer's first byte
                    }
                }
            } else {
                skipLf_ = true;
            }
        }
        Execute(line, crOnly);
        return;
    }
    if (c == 0x08 || c == 0x7F) {
        if (line_.empty()) {
            Send("\a");
        } else {
            line_.pop_back();
            Send("\b \b");
        }
        return;
    }
    if (c == kCtrlC) {
        line_.clear();
        history_.Add({});
        Send("^C\r\n");
        Prompt();
        return;
    }
    if (c == '\t' || c >= 0x20) {
        if (c == 0x7F) return;
        if (line_.size() >= kMaxLine) {
            Send("\a");
            return;
        }
        line_.push_back(static_cast<char>(c));
        Send(&c, 1);
    }
    // Other control bytes (a stray protocol byte, Escape) never reach the command line.
}

void BoardShell::Execute(const std::string& line, bool crOnly) {
    const auto [word, rest] = SplitWord(line);
    if (word == "rx" || word == "tx") {
        // Nothing may go out before the transfer starts: the terminal reads it as protocol.
        if (word == "rx")
            CmdRx(rest);
        else
            CmdTx(rest);
        return;
    }
    // A line ended by a lone CR leaves the cursor on the command's own line.
    if (crOnly) Send("\n");
    if (word.empty()) {
    } else if (word == "help") {
        CmdHelp();
    } else if (word == "ls") {
        CmdLs();
    } else if (word == "cat") {
        CmdCat(rest);
    } else if (word == "rm") {
        CmdRm(rest);
    } else if (word == "ansi") {
        CmdAnsi();
    } else if (word == "log") {
        CmdLog();
    } else if (word == "line") {
        CmdLine(rest);
    } else if (word == "stream" || word == "hex") {
        CmdStream(rest, word == "hex");
    } else if (word == "usb-reset") {
        CmdUsbReset(rest);
        return;  // no prompt: the board is gone
    } else {
        Send("unknown command: " + word + " (type help for the list)\r\n");
    }
    Prompt();
}

void BoardShell::CmdHelp() {
    Send(Format("Corvel virtual board, %llu KB of RAM for files.\r\n",
                BoardFiles::kCapacity / 1024) +
         "Commands:\r\n"
         "  help          this list\r\n"
         "  ls            list the files in RAM\r\n"
         "  cat NAME      print a file\r\n"
         "  rm NAME       delete a file\r\n"
         "  rx [NAME]     receive a file with Kmodem (the terminal sends it)\r\n"
         "  tx [NAME]     send a file with Kmodem (default: the newest file)\r\n"
         "  ansi          coloured text and the erase sequences\r\n"
         "  log           a firmware log: UTF-8 text, a TAB table, coloured levels\r\n"
         "  stream N      N bytes of numbered text lines, as fast as the line allows\r\n"
         "  hex N         N bytes counting 0 to 255\r\n"
         "  line [L on|off]  show the control lines; set L (cts, dsr, dcd, ri)\r\n"
         "  usb-reset [MS] vanish from the bus for MS ms (default 2000), then come back\r\n"
         "Ctrl+C stops stream, hex and cat. DTR or RTS going on restarts the board;\r\n"
         "a BREAK is reported.\r\n");
}

void BoardShell::CmdUsbReset(const std::string& arg) {
    std::uint64_t ms = 2000;
    if (!arg.empty()) {
        char* end = nullptr;
        ms = std::strtoull(arg.c_str(), &end, 10);
        if (end == arg.c_str() || *end != '\0' || ms < 100 || ms > 60000) {
            Send("usb-reset: give 100 to 60000 ms\r\n");
            Prompt();
            return;
        }
    }
    Send(Format("re-enumerating, back in %llu ms\r\n", static_cast<unsigned long long>(ms)));
    link_.Replug(static_cast<std::uint32_t>(ms));
    gone_ = true;
}

void BoardShell::CmdLs() {
    if (files_->files.empty()) {
        Send("no files\r\n");
        return;
    }
    for (const auto& [name, data] : files_->files) {
        std::string row = name;
        row.resize(std::max<std::size_t>(row.size() + 1, kMaxNameLength + 2), ' ');
        Send(row + Format("%10llu\r\n", data.size()));
    }
    const std::size_t used = files_->Used();
    Send(Format("%llu files, %llu bytes used, %llu free\r\n", files_->files.size(), used,
                BoardFiles::kCapacity - std::min(used, BoardFiles::kCapacity)));
}

void BoardShell::CmdCat(const std::string& name) {
    if (name.empty()) {
        Send("usage: cat NAME\r\n");
        return;
    }
    const auto it = files_->files.find(name);
    if (it == files_->files.end()) {
        Send("cat: no such file: " + name + "\r\n");
        return;
    }
    const std::vector<std::uint8_t> data = it->second;  // a copy: rm cannot run meanwhile, but
                                                        // the disk is not ours to pin
    for (std::size_t at = 0; at < data.size(); at += kChunk) {
        if (Interrupted()) {
            if (!resetBy_ && !breakSeen_) Send("\r\n^C\r\n");
            return;
        }
        if (!Send(data.data() + at, std::min(kChunk, data.size() - at))) return;
    }
    if (!data.empty() && data.back() != '\n') Send("\r\n");
}

void BoardShell::CmdRm(const std::string& name) {
    if (name.empty()) {
        Send("usage: rm NAME\r\n");
        return;
    }
    if (files_->files.erase(name) == 0) {
        Send("rm: no such file: " + name + "\r\n");
        return;
    }
    if (files_->newest == name)
        files_->newest = files_->files.empty() ? std::string() : files_->files.rbegin()->first;
    Send("removed " + name + "\r\n");
}

void BoardShell::CmdAnsi() {
    const std::string esc = "\x1b[";
    std::string s = esc + "2J";  // starts on an empty window
    s += "ESC [ 2 J cleared the window before this line.\r\n";
    s += "Colours (ESC [ 3x m; shown plain if the terminal ignores them): " + esc + "31mred" + esc +
         "0m " + esc + "32mgreen" + esc + "0m " + esc + "33myellow" + esc + "0m " + esc +
         "34mblue" + esc + "0m " + esc + "35mmagenta" + esc + "0m " + esc + "36mcyan" + esc +
         "0m\r\n";
    const std::string k = "ESC [ K   erased the rest of this line";
    s += k + ": THIS TEXT MUST NOT SHOW\r" + k + esc + "K\r\n";
    s += "ESC [ 1 K blanked the start of the next line:\r\n";
    s += "THIS TEXT MUST NOT SHOW" + esc + "1K" + " <- only blanks before the arrow\r\n";
    s += "THIS WHOLE LINE MUST NOT SHOW" + esc + "2K" +
         "ESC [ 2 K erased the line this text replaced\r\n";
    const std::string j = "ESC [ J   erased from the cursor to the end of the window";
    s += j + ": THIS TEXT MUST NOT SHOW\r" + j + esc + "J\r\n";
    Send(s);
}

// What a firmware's logging prints: levels in colour (with bold, faint, 256-colour and true
// colour among them), a reading with a degree sign in UTF-8, and a table aligned by TABs.
void BoardShell::CmdLog() {
    const std::string esc = "\x1b[";
    std::string s;
    s += esc + "32mI (1023) boot: " + esc + "0mapplication start, chip revision 3\r\n";
    s += esc + "32mI (1187) sensor: " + esc +
         "0mtemperature 23.5\xc2\xb0"
         "C, humidity 41 %\r\n";
    s += esc + "33mW (1204) wifi: " + esc + "0mretrying in 2 s \xe2\x80\x94 no beacon\r\n";
    s += esc + "1;31mE (1290) spi: " + esc + "22mbus fault at 0x3FF4" + esc + "0m\r\n";
    s += esc + "2mD (1301) heap: free 182 KiB" + esc + "0m\r\n";
    s += esc + "38;5;208mV (1302) 256-colour orange" + esc + "39m, " + esc +
         "38;2;80;160;255mtrue-colour blue" + esc + "0m, " + esc + "7minverse" + esc + "27m, " +
         esc + "4munderlined" + esc + "24m, " + esc + "3mitalic" + esc + "23m\r\n";
    s += "task\tstate\tprio\tstack\r\n";
    s += "main\tR\t1\t2048\r\n";
    s += "idle\tB\t0\t512\r\n";
    s += "net_rx\tS\t5\t4096\r\n";
    Send(s);
}

void BoardShell::CmdStream(const std::string& arg, bool hex) {
    std::uint64_t n = 0;
    if (!ParseCount(arg, n)) {
        Send(std::string("usage: ") + (hex ? "hex" : "stream") + " N (1 to " +
             Format("%llu", kMaxCount) + ")\r\n");
        return;
    }
    std::vector<std::uint8_t> chunk;
    std::string pendingText;  // the unsent rest of the current text line
    std::uint64_t lineNo = 0;
    std::uint64_t sent = 0;
    std::uint8_t last = '\n';
    while (sent < n) {
        if (Interrupted()) {
            if (!resetBy_ && !breakSeen_) Send("\r\n^C\r\n");
            return;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, n - sent));
        chunk.clear();
        if (hex) {
            for (std::size_t i = 0; i < want; ++i)
                chunk.push_back(static_cast<std::uint8_t>((sent + i) & 0xFF));
        } else {
            while (chunk.size() < want) {
                if (pendingText.empty()) {
                    char text[80];
                    std::snprintf(
                        text, sizeof text,
                        "%08llu The quick brown fox jumps over the lazy dog 012345678\r\n",
                        static_cast<unsigned long long>(++lineNo));
                    pendingText = text;
                }
                const std::size_t take = std::min(pendingText.size(), want - chunk.size());
                chunk.insert(chunk.end(), pendingText.begin(), pendingText.begin() + take);
                pendingText.erase(0, take);
            }
        }
        if (!Send(chunk.data(), chunk.size())) return;
        sent += chunk.size();
        last = chunk.back();
    }
    if (hex || last != '\n') Send("\r\n");
}

void BoardShell::CmdLine(const std::string& arg) {
    ModemStatus out = link_.ModemInputs();
    if (!arg.empty()) {
        const auto [name, level] = SplitWord(arg);
        bool* target = name == "cts"   ? &out.cts
                       : name == "dsr" ? &out.dsr
                       : name == "dcd" ? &out.dcd
                       : name == "ri"  ? &out.ri
                                       : nullptr;
        if (!target || (level != "on" && level != "off")) {
            Send("usage: line [cts|dsr|dcd|ri on|off]\r\n");
            return;
        }
        *target = level == "on";
        link_.SetModemInputs(out);
    }
    const ControlLines in = link_.Control();
    auto onOff = [](bool on) { return on ? "on" : "off"; };
    Send(std::string("from the terminal: DTR ") + onOff(in.dtr) + ", RTS " + onOff(in.rts) +
         "\r\nto the terminal:   CTS " + onOff(out.cts) + ", DSR " + onOff(out.dsr) + ", DCD " +
         onOff(out.dcd) + ", RI " + onOff(out.ri) + "\r\n");
}

void BoardShell::CmdRx(const std::string& nameArg) {
    std::string name = nameArg;
    if (name.empty()) {
        for (int i = 1; name.empty(); ++i) {
            const std::string candidate = kReceivedStem + std::to_string(i) + ".bin";
            if (!files_->files.count(candidate)) name = candidate;
        }
    }
    if (!ValidName(name)) {
        Send("rx: bad file name\r\n");
        Prompt();
        return;
    }
    Transfer t;
    t.shell = this;
    t.limit = files_->RoomFor(name);
    // Big enough for any packet a terminal can send that still fits a 16-bit buffer size.
    std::vector<std::uint8_t> buf(0xFFFF);
    kmfw_ctx ctx{};
    kmfw_init(&ctx, &Transfer::kPort, &t, buf.data(), static_cast<std::uint16_t>(buf.size()));
    ctx.max_file_size = static_cast<std::uint32_t>(t.limit);
    ctx.first_wait_ms = 10000;
    const std::int16_t r = kmfw_receive(&ctx);
    if (gone_) return;
    if (r == KMFW_OK) {
        const std::size_t size = t.received.size();
        files_->files[name] = std::move(t.received);
        files_->newest = name;
        Send(Format("rx: stored %llu bytes as ", size) + name + "\r\n");
    } else {
        kmfw_discard_input(&ctx, 50);
        Send(std::string("rx: ") + kmfw_result_text(r) + "\r\n");
    }
    Prompt();
}

void BoardShell::CmdTx(const std::string& nameArg) {
    const std::string name = nameArg.empty() ? files_->newest : nameArg;
    const auto it = files_->files.find(name);
    if (it == files_->files.end() || it->second.empty()) {
        // The terminal is waiting for a frame; text ends its wait with a sync error at once.
        Send(name.empty()
                 ? std::string("tx: no file to send\r\n")
                 : (it == files_->files.end() ? "tx: no such file: " : "tx: empty file: ") + name +
                       "\r\n");
        Prompt();
        return;
    }
    const std::vector<std::uint8_t> data = it->second;
    Transfer t;
    t.shell = this;
    t.source = &data;
    std::vector<std::uint8_t> buf(KMFW_BUFFER_SIZE(kTxPacket));
    kmfw_ctx ctx{};
    kmfw_init(&ctx, &Transfer::kPort, &t, buf.data(), static_cast<std::uint16_t>(buf.size()));
    ctx.packet_size = kTxPacket;
    const std::int16_t r = kmfw_transmit(&ctx, static_cast<std::uint32_t>(data.size()));
    if (gone_) return;
    if (r == KMFW_OK) {
        const std::uint64_t until = link_.NowMs() + kAfterTxMs;
        while (!gone_ && !link_.Stopping() && link_.NowMs() < until)
            link_.Idle(static_cast<std::uint32_t>(until - link_.NowMs()));
        Send(Format("tx: sent %llu bytes of ", data.size()) + name + "\r\n");
    } else {
        kmfw_discard_input(&ctx, 50);
        Send(std::string("tx: ") + kmfw_result_text(r) + "\r\n");
    }
    Prompt();
}

}  // namespace corvel
