#include "board/virtual_board.h"

#include <algorithm>
#include <chrono>

namespace corvel {

namespace {
constexpr const char* kBoardPortName = "board-uart";
// The terminal's settings are read this often; a copy of the device's records is not free.
constexpr std::uint64_t kLineRefreshMs = 50;

std::uint64_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

class VirtualBoard::Link : public BoardLink {
  public:
    Link(std::shared_ptr<SimDevice> terminalEnd, std::shared_ptr<SimDevice> boardEnd,
         std::function<void(std::uint32_t)> onReplug)
        : terminal_(std::move(terminalEnd)),
          board_(std::move(boardEnd)),
          onReplug_(std::move(onReplug)) {
        registry_.Add(kBoardPortName, board_);
        io_ = registry_.MakeIo();
        io_->Open(kBoardPortName);
    }

    In GetByte(std::uint8_t& byte, std::uint32_t waitMs) override {
        const std::uint64_t deadline = NowMs() + waitMs;
        for (;;) {
            if (pos_ < len_) {
                byte = buf_[pos_++];
                return In::Byte;
            }
            if (stop_.load()) return In::Closed;
            const std::int32_t n = io_->Read(buf_, sizeof buf_);
            if (n < 0) return In::Closed;
            if (n > 0) {
                pos_ = 0;
                len_ = static_cast<std::size_t>(n);
                continue;
            }
            const std::uint64_t now = NowMs();
            if (now >= deadline) return In::None;
            io_->WaitReadable(static_cast<std::uint32_t>(deadline - now));
        }
    }

    std::int32_t Put(const std::uint8_t* data, std::size_t n) override {
        if (stop_.load()) return -1;
        Refresh();
        const std::size_t unread = terminal_->RxQueued();
        if (unread >= kMaxUnread || (line_.rtscts && unread >= holdOff_)) return 0;
        return io_->Write(data, static_cast<std::int32_t>(std::min<std::size_t>(n, 0x7FFFFFFF)));
    }

    void Idle(std::uint32_t ms) override {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
    }

    std::uint64_t NowMs() override { return SteadyMs(); }

    LineState Line() override {
        Refresh();
        return line_;
    }

    bool Stopping() override { return stop_.load(); }

    ControlLines Control() override {
        const SimDevice::LineState line = terminal_->CurrentLine();
        return {line.dtr, line.rts, line.dtrRises, line.rtsRises, line.breaks, line.lastBreakMs};
    }
    ModemStatus ModemInputs() override { return terminal_->ModemInputs(); }
    void SetModemInputs(const ModemStatus& lines) override { terminal_->SetModemInputs(lines); }
    void Replug(std::uint32_t absentMs) override {
        // Let the goodbye line reach the terminal, and the terminal read it, before the cable
        // goes dead (up to a second).
        for (int i = 0; i < 200 && !stop_.load(); ++i) {
            if (board_->OutQueued() == 0 && terminal_->RxQueued() == 0) break;
            Idle(5);
        }
        if (onReplug_) onReplug_(absentMs);
        terminal_->Unplug();
    }

    // Waits (up to two seconds) until the terminal has opened and purged its end, so what the
    // board says first is not thrown away by the terminal's own set-up.
    void AwaitTerminal() {
        for (int i = 0; i < 200 && !stop_.load(); ++i) {
            if (terminal_->GetRecords().timeoutsSet > 0) return;
            Idle(10);
        }
    }

    void RequestStop() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_.store(true);
        }
        cv_.notify_all();
        // Ends a wait on the cable at once: every operation on the board's end now fails.
        board_->Unplug();
    }

    void Close() { io_->Close(); }

  private:
    void Refresh() {
        const std::uint64_t now = NowMs();
        if (refreshed_ && now - lastRefresh_ < kLineRefreshMs) return;
        refreshed_ = true;
        lastRefresh_ = now;
        const SimDevice::LineState line = terminal_->CurrentLine();
        if (line.configured) {
            line_.baud = line.settings.BaudRate;
            line_.rtscts = (line.settings.Flags & kDcbRtsControlHandshake) != 0;
        }
        // Like a UART driver that drops RTS when its queue is three quarters full.
        holdOff_ = kDefaultHoldOff;
        if (line.inQueue >= 64) holdOff_ = line.inQueue / 4 * 3;
    }

    std::shared_ptr<SimDevice> terminal_;
    std::shared_ptr<SimDevice> board_;
    std::function<void(std::uint32_t)> onReplug_;
    SimPortRegistry registry_;
    std::unique_ptr<ComPortIo> io_;
    std::uint8_t buf_[4096];
    std::size_t pos_ = 0;
    std::size_t len_ = 0;

    LineState line_;
    std::size_t holdOff_ = kDefaultHoldOff;
    bool refreshed_ = false;
    std::uint64_t lastRefresh_ = 0;

    std::mutex mu_;
    std::condition_variable cv_;
    std::atomic<bool> stop_{false};
};

VirtualBoard::VirtualBoard(std::shared_ptr<SimDevice> terminalEnd,
                           std::shared_ptr<SimDevice> boardEnd, std::shared_ptr<BoardFiles> files,
                           std::function<void(std::uint32_t)> onReplug, std::string banner)
    : link_(std::make_unique<Link>(std::move(terminalEnd), std::move(boardEnd),
                                   std::move(onReplug))) {
    thread_ = std::thread([this, files = std::move(files), banner = std::move(banner)]() mutable {
        if (!banner.empty()) {
            link_->AwaitTerminal();
            link_->Put(reinterpret_cast<const std::uint8_t*>(banner.data()), banner.size());
        }
        BoardShell shell(*link_, std::move(files));
        shell.Run();
    });
}

VirtualBoard::~VirtualBoard() {
    Stop();
}

void VirtualBoard::Stop() {
    if (!thread_.joinable()) return;
    link_->RequestStop();
    thread_.join();
    link_->Close();
}

// ---------------------------------------------------------------------------------------------

LoopbackDevice::LoopbackDevice() : device_(SimDevice::Make()) {
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            // The wait is short so that Stop never waits long for the thread.
            if (!device_->RemoteWait(1, 20)) continue;
            device_->RemoteWrite(device_->RemoteRead(64 * 1024));
        }
    });
}

LoopbackDevice::~LoopbackDevice() {
    Stop();
}

void LoopbackDevice::Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

}  // namespace corvel
