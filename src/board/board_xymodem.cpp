// The virtual board's XMODEM and YMODEM commands, as boot loaders offer them: loadx and loady
// receive into the RAM files, sx and sy send from them. They run the terminal's own engine on
// the board's thread, with the board's clock and RAM in place of the host and the disk.

#include <algorithm>
#include <map>

#include "board/board_shell.h"
#include "xymodem/xymodem.h"

namespace corvel {

namespace {

// The board has no window to keep alive and no rate label: time is the link's, timers never run.
class BoardHost : public Host {
  public:
    explicit BoardHost(BoardLink& link) : link_(link) {}
    std::uint64_t NowMs() override { return link_.NowMs(); }
    TimerId StartTimer(std::uint32_t, TickFn) override { return 0; }
    void StopTimer(TimerId) override {}
    void ProcessMessages() override {}
    void Beep() override {}

  private:
    BoardLink& link_;
};

class RamReader : public XyReader {
  public:
    explicit RamReader(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
    std::size_t Read(std::uint8_t* to, std::size_t n) override {
        const std::size_t part = std::min(n, data_.size() - at_);
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(at_), part, to);
        at_ += part;
        return part;
    }

  private:
    std::vector<std::uint8_t> data_;
    std::size_t at_ = 0;
};

class RamStore : public XyStore {
  public:
    explicit RamStore(BoardFiles& files) : files_(files) {}

    class Writer : public XyWriter {
      public:
        Writer(RamStore& store, std::string name)
            : store_(store), name_(std::move(name)), room_(store.files_.RoomFor(name_)) {}
        bool Write(const std::uint8_t* data, std::size_t n) override {
            if (data_.size() + n > room_) return false;
            data_.insert(data_.end(), data, data + n);
            return true;
        }
        // Staged only: the shell keeps the files the engine reports whole.
        void Close(std::int64_t) override { store_.staged[name_] = std::move(data_); }

      private:
        RamStore& store_;
        std::string name_;
        std::size_t room_;
        std::vector<std::uint8_t> data_;
    };

    std::unique_ptr<XyReader> OpenRead(const std::string& path, XyFileInfo& info) override {
        const auto it = files_.files.find(path);
        std::vector<std::uint8_t> data =
            it == files_.files.end() ? std::vector<std::uint8_t>{} : it->second;
        info.name = path;
        info.size = data.size();
        info.hasSize = true;
        info.mtime = 0;
        return std::make_unique<RamReader>(std::move(data));
    }
    std::unique_ptr<XyWriter> Create(const std::string& path) override {
        return std::make_unique<Writer>(*this, path);
    }
    std::string Join(const std::string&, const std::string& name) override { return name; }

    // Moves the complete files into RAM; a broken one never replaces a good file.
    void Keep(const std::vector<std::string>& complete) {
        for (const std::string& name : complete) {
            files_.files[name] = std::move(staged[name]);
            files_.newest = name;
        }
    }

    BoardFiles& files_;
    std::map<std::string, std::vector<std::uint8_t>> staged;
};

}  // namespace

void BoardShell::CmdXyReceive(bool ymodem, const std::string& nameArg) {
    std::string name = nameArg;
    if (!ymodem && name.empty()) {
        for (int i = 1; name.empty(); ++i) {
            const std::string candidate = kReceivedStem + std::to_string(i) + ".bin";
            if (!files_->files.count(candidate)) name = candidate;
        }
    }
    const char* cmd = ymodem ? "loady" : "loadx";
    if (!ymodem && !XySafeName(name)) {
        Send(std::string(cmd) + ": bad file name\r\n");
        Prompt();
        return;
    }
    BoardHost host(link_);
    RamStore store(*files_);
    tXymodem xy(host);
    BindXy(xy);
    xy.store = &store;
    xy.protocol = ymodem ? XyProtocol::Ymodem : XyProtocol::Xmodem1k;
    xy.startTimeoutMs = 30000;
    const std::int32_t r = xy.ReceiveFiles(ymodem ? std::string() : name);
    if (gone_) return;
    store.Keep(xy.filesDone);
    DiscardInput();
    if (r == XY_OK) {
        std::size_t count = xy.filesDone.size();
        Send(std::string(cmd) + ": stored " + std::to_string(xy.bytesDone) + " bytes in " +
             std::to_string(count) + (count == 1 ? " file" : " files") + "\r\n");
    } else {
        Send(std::string(cmd) + ": " + xy.ResultReport(r, false).text + "\r\n");
    }
    Prompt();
}

void BoardShell::CmdXySend(bool ymodem, const std::string& namesArg) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at < namesArg.size();) {
        const std::size_t end = namesArg.find(' ', at);
        const std::string word = namesArg.substr(at, end == std::string::npos ? end : end - at);
        if (!word.empty()) names.push_back(word);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (names.empty() && !files_->newest.empty()) names.push_back(files_->newest);
    const char* cmd = ymodem ? "sy" : "sx";
    for (const std::string& n : names)
        if (!files_->files.count(n)) {
            Send(std::string(cmd) + ": no such file: " + n + "\r\n");
            Prompt();
            return;
        }
    if (names.empty() || (!ymodem && names.size() != 1)) {
        Send(std::string("usage: ") + cmd + (ymodem ? " NAME..." : " NAME") + "\r\n");
        Prompt();
        return;
    }
    BoardHost host(link_);
    RamStore store(*files_);
    tXymodem xy(host);
    BindXy(xy);
    xy.store = &store;
    xy.protocol = ymodem ? XyProtocol::Ymodem : XyProtocol::Xmodem1k;
    xy.startTimeoutMs = 30000;
    const std::int32_t r = xy.TransmitFiles(names);
    if (gone_) return;
    DiscardInput();
    if (r == XY_OK)
        Send(std::string(cmd) + ": sent " + std::to_string(xy.bytesDone) + " bytes\r\n");
    else
        Send(std::string(cmd) + ": " + xy.ResultReport(r, true).text + "\r\n");
    Prompt();
}

void BoardShell::BindXy(tXymodem& xy) {
    xy.xy_Out = [this](const std::uint8_t* c, std::int32_t n) {
        return Send(c, static_cast<std::size_t>(n)) ? n : 0;
    };
    xy.xy_In = [this, &xy](std::uint8_t& c) {
        const BoardLink::In r = Get(c, 20);
        if (r == BoardLink::In::Closed) xy.canceled = true;
        return r == BoardLink::In::Byte;
    };
    xy.xy_Flush = [this](bool in, bool) {
        if (!in) return;
        pending_.clear();
        std::uint8_t b = 0;
        while (Get(b, 0) == BoardLink::In::Byte) {
        }
    };
}

// What the terminal sent after giving up (its CANs, a repeated request) is no command.
void BoardShell::DiscardInput() {
    const std::uint64_t until = link_.NowMs() + 300;
    std::uint8_t b = 0;
    while (!gone_ && link_.NowMs() < until) Get(b, 50);
}

}  // namespace corvel
