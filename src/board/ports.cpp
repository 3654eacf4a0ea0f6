#include "board/ports.h"

#include <chrono>
#include <mutex>

#include "board/virtual_board.h"
#include "comport/port_scan.h"
#include "comport/sim_port.h"

namespace corvel {

namespace {

// Which simulated ports are open in this process, and the virtual board's RAM, which outlives a
// connection as a powered board's would.
struct SimPorts {
    std::mutex mu;
    bool boardOpen = false;
    bool loopOpen = false;
    std::shared_ptr<BoardFiles> files;
    // After the board's usb-reset: gone from the list and refusing opens until then.
    std::chrono::steady_clock::time_point boardBackAt{};
    bool boardReset = false;  // the next board to open prints its boot line
};

bool BoardAbsent(SimPorts& s) {
    return std::chrono::steady_clock::now() < s.boardBackAt;
}

SimPorts& Sims() {
    static SimPorts s;
    return s;
}

class AnyPortIo : public ComPortIo {
  public:
    ~AnyPortIo() override { Close(); }

    bool Open(const std::string& name) override {
        if (IsOpen()) return Fail(PortErrorKind::Busy, "port already open");
        if (name == kSimBoardPort || name == kSimLoopPort) return OpenSim(name);
        active_ = MakeSystemPortIo();
        return active_->Open(name);
    }

    bool IsOpen() const override { return active_ && active_->IsOpen(); }

    void Close() override {
        if (active_) active_->Close();
        board_.reset();  // stops the firmware's thread
        loop_.reset();
        SimPorts& s = Sims();
        std::lock_guard<std::mutex> lock(s.mu);
        if (holds_ == Holds::Board) s.boardOpen = false;
        if (holds_ == Holds::Loop) s.loopOpen = false;
        holds_ = Holds::None;
    }

    ComHandleValue Handle() const override { return active_ ? active_->Handle() : 0; }

    bool Adopt(ComHandleValue handle) override {
        Close();
        active_ = MakeSystemPortIo();
        return active_->Adopt(handle);
    }

    void Detach() override {
        if (active_) active_->Detach();
    }

    bool ApplySettings(const LineSettingsRecord& record) override {
        return Check() && active_->ApplySettings(record);
    }
    bool Purge(std::uint32_t flags) override { return Check() && active_->Purge(flags); }
    bool SetupQueues(std::uint32_t inSize, std::uint32_t outSize) override {
        return Check() && active_->SetupQueues(inSize, outSize);
    }
    bool SetNonBlockingTimeouts() override { return Check() && active_->SetNonBlockingTimeouts(); }
    std::int32_t Read(std::uint8_t* buf, std::int32_t maxBytes) override {
        return Check() ? active_->Read(buf, maxBytes) : -1;
    }
    std::int32_t Write(const std::uint8_t* data, std::int32_t size) override {
        return Check() ? active_->Write(data, size) : -1;
    }
    std::int32_t OutQueueCount() override { return Check() ? active_->OutQueueCount() : -1; }
    bool Escape(std::uint32_t function) override { return Check() && active_->Escape(function); }
    bool SetBreak(bool on) override { return Check() && active_->SetBreak(on); }
    bool GetModemStatus(ModemStatus& status) override {
        return Check() && active_->GetModemStatus(status);
    }
    std::string SettingsNote() const override {
        return active_ ? active_->SettingsNote() : std::string();
    }
    bool WaitReadable(std::uint32_t ms) override { return Check() && active_->WaitReadable(ms); }
    bool WaitWritable(std::uint32_t ms) override { return Check() && active_->WaitWritable(ms); }
    bool WaitForBytes(std::uint32_t count, std::uint32_t ms) override {
        return Check() && active_->WaitForBytes(count, ms);
    }

    PortErrorKind LastErrorKind() const override {
        return own_ || !active_ ? kind_ : active_->LastErrorKind();
    }
    std::string LastErrorMessage() const override {
        return own_ || !active_ ? message_ : active_->LastErrorMessage();
    }

  private:
    enum class Holds { None, Board, Loop };

    bool Fail(PortErrorKind kind, std::string message) {
        own_ = true;
        kind_ = kind;
        message_ = std::move(message);
        return false;
    }

    bool Check() {
        if (active_) {
            own_ = false;
            return true;
        }
        return Fail(PortErrorKind::Other, "port not open");
    }

    bool OpenSim(const std::string& name) {
        const bool board = name == kSimBoardPort;
        SimPorts& s = Sims();
        {
            std::lock_guard<std::mutex> lock(s.mu);
            bool& taken = board ? s.boardOpen : s.loopOpen;
            if (taken) return Fail(PortErrorKind::Busy, "port in use: " + name);
            if (board && BoardAbsent(s)) return Fail(PortErrorKind::NotFound, "re-enumerating");
            taken = true;
            if (board && !s.files) s.files = BoardFiles::WithDemo();
        }
        holds_ = board ? Holds::Board : Holds::Loop;
        SimPortRegistry registry;
        if (board) {
            auto [terminalEnd, boardEnd] = SimDevice::MakePair();
            std::string banner;
            {
                std::lock_guard<std::mutex> lock(s.mu);
                if (s.boardReset) banner = "Corvel virtual board: boot after USB reset\r\n> ";
                s.boardReset = false;
            }
            auto onReplug = [](std::uint32_t absentMs) {
                SimPorts& sims = Sims();
                std::lock_guard<std::mutex> lock(sims.mu);
                sims.boardBackAt =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(absentMs);
                sims.boardReset = true;
            };
            board_ = std::make_unique<VirtualBoard>(terminalEnd, boardEnd, s.files, onReplug,
                                                    std::move(banner));
            registry.Add(name, terminalEnd);
        } else {
            loop_ = std::make_unique<LoopbackDevice>();
            registry.Add(name, loop_->Device());
        }
        active_ = registry.MakeIo();
        own_ = false;
        if (active_->Open(name)) return true;
        Close();
        return Fail(PortErrorKind::Other, "cannot open " + name);
    }

    std::unique_ptr<ComPortIo> active_;
    std::unique_ptr<VirtualBoard> board_;
    std::unique_ptr<LoopbackDevice> loop_;
    Holds holds_ = Holds::None;
    bool own_ = false;
    PortErrorKind kind_ = PortErrorKind::None;
    std::string message_;
};

}  // namespace

std::vector<std::string> ScanAllPorts() {
    std::vector<std::string> ports = ScanSerialPorts();
    bool boardAbsent = false;
    {
        SimPorts& s = Sims();
        std::lock_guard<std::mutex> lock(s.mu);
        boardAbsent = BoardAbsent(s);
    }
    if (!boardAbsent) ports.emplace_back(kSimBoardPort);
    ports.emplace_back(kSimLoopPort);
    return ports;
}

std::unique_ptr<ComPortIo> MakeAnyPortIo() {
    return std::make_unique<AnyPortIo>();
}

}  // namespace corvel
