#include "transfer_ends.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace corvel::reliability {

namespace {

// The engine's getChar wait, as the driver's default ComPortPollingGetChar.
constexpr std::uint64_t kGetCharWaitMs = 100;

class EngineEnd : public TransferEnd {
  public:
    EngineEnd(SimLine& line, int id, std::uint16_t packet, const std::string& folder)
        : line_(line), id_(id), host_(line), km_(host_), folder_(folder) {
        km_.packageSize = packet;
        km_.timerOutValue = static_cast<std::int32_t>(kTimeoutMs / KM_MS_PER_TIMEOUT_UNIT);
        km_.kmodem_In = [this](std::uint8_t& c) {
            // The user's stop button, pressed on the simulated clock.
            if (line_.CancelRequested(id_)) km_.canceled = true;
            return line_.Get(id_, c, kGetCharWaitMs);
        };
        km_.kmodem_Out = [this](const std::uint8_t* c, std::int32_t n) {
            line_.Put(id_, c, static_cast<std::size_t>(n));
            return n;
        };
        km_.kmodem_Flush = [this](bool inBuf, bool) {
            if (inBuf) line_.DropArrived(id_);
        };
    }

    int Transmit(const Bytes& file) override {
        const std::string path = Path("send.bin");
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(file.data()),
                      static_cast<std::streamsize>(file.size()));
        }
        return km_.TransmitFile(path);
    }

    int Receive() override { return km_.ReceiveFile(Path("received.bin")); }

    Bytes Received() override {
        std::ifstream in(Path("received.bin"), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::size_t LeftOpen() override {
        return host_.ActiveTimers() + (km_.RateTimerRunning() ? 1 : 0);
    }

  private:
    std::string Path(const char* name) const {
        return (std::filesystem::path(folder_) / (std::to_string(id_) + name)).string();
    }

    SimLine& line_;
    int id_;
    SimLineHost host_;
    tKmodem km_;
    std::string folder_;
};

class BoardEnd : public TransferEnd {
  public:
    BoardEnd(SimLine& line, int id, std::uint16_t packet)
        : line_(line), id_(id), buf_(KMFW_BUFFER_SIZE(packet)) {
        kmfw_init(&ctx_, &kPort, this, buf_.data(), static_cast<std::uint16_t>(buf_.size()));
        ctx_.timeout_ms = kTimeoutMs;
    }

    int Transmit(const Bytes& file) override {
        file_ = file;
        return kmfw_transmit(&ctx_, static_cast<std::uint32_t>(file.size()));
    }
    int Receive() override { return kmfw_receive(&ctx_); }
    Bytes Received() override { return stored_; }
    std::size_t LeftOpen() override { return 0; }

  private:
    static std::int8_t GetByte(void* user, std::uint8_t* byte, std::uint32_t waitMs) {
        auto& b = *static_cast<BoardEnd*>(user);
        return b.line_.Get(b.id_, *byte, waitMs) ? KMFW_IN_BYTE : KMFW_IN_NONE;
    }
    static std::uint16_t PutBytes(void* user, const std::uint8_t* data, std::uint16_t len) {
        auto& b = *static_cast<BoardEnd*>(user);
        b.line_.Put(b.id_, data, len);
        return len;
    }
    static std::uint32_t NowMs(void* user) {
        return static_cast<std::uint32_t>(static_cast<BoardEnd*>(user)->line_.Now());
    }
    static std::uint8_t Read(void* user, std::uint32_t offset, std::uint8_t* dst,
                             std::uint16_t len) {
        auto& b = *static_cast<BoardEnd*>(user);
        if (std::size_t{offset} + len > b.file_.size()) return 0;
        std::copy(b.file_.begin() + offset, b.file_.begin() + offset + len, dst);
        return 1;
    }
    static std::uint8_t Write(void* user, std::uint32_t offset, const std::uint8_t* src,
                              std::uint16_t len) {
        auto& b = *static_cast<BoardEnd*>(user);
        if (offset != b.stored_.size()) return 0;
        b.stored_.insert(b.stored_.end(), src, src + len);
        return 1;
    }
    static std::uint8_t Cancelled(void* user) {
        auto& b = *static_cast<BoardEnd*>(user);
        return b.line_.CancelRequested(b.id_) ? 1 : 0;
    }
    static constexpr kmfw_port kPort{GetByte, PutBytes, NowMs, Read, Write, Cancelled};

    SimLine& line_;
    int id_;
    Bytes buf_;
    kmfw_ctx ctx_{};
    Bytes file_;
    Bytes stored_;
};

}  // namespace

std::unique_ptr<TransferEnd> MakeEnd(Impl impl, SimLine& line, int id, std::uint16_t packet,
                                     const std::string& folder) {
    if (impl == Impl::Engine) return std::make_unique<EngineEnd>(line, id, packet, folder);
    return std::make_unique<BoardEnd>(line, id, packet);
}

}  // namespace corvel::reliability
