#pragma once
// Sends bytes to a board that has no flow control, slowly enough for it to keep up: a pause
// after each character and a further pause after each line end, timed by the host's clock so
// the window keeps handling events (and a Stop) between pieces. With no pause set, bytes go out
// at once in one write, as they always did.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "host/host.h"

namespace corvel {

struct Pacing {
    std::uint32_t charDelayMs = 0;
    std::uint32_t lineDelayMs = 0;
    bool On() const { return charDelayMs != 0 || lineDelayMs != 0; }
};

class tPacedSender {
  public:
    // Hands bytes to the port; returns how many it took (fewer: the line stalled).
    using WriteFn = std::function<std::int32_t(const std::uint8_t*, std::int32_t)>;

    tPacedSender(Host& host, WriteFn write);
    ~tPacedSender();
    tPacedSender(const tPacedSender&) = delete;
    tPacedSender& operator=(const tPacedSender&) = delete;

    void SetPacing(Pacing pacing) { pacing_ = pacing; }
    const Pacing& GetPacing() const { return pacing_; }

    // Queues the bytes behind those still waiting. What may go now goes before this returns.
    void Send(std::string_view bytes);
    // Bytes queued and not yet written.
    std::size_t Pending() const { return queue_.size() - head_; }
    bool Busy() const { return Pending() != 0; }
    // Drops everything still queued; returns how many bytes that was.
    std::size_t Stop();

    // Sends the bytes and returns once they are written, the line stalled, or keepGoing (asked
    // between pieces) said no; the host's events run meanwhile. Returns the bytes written.
    std::size_t SendAndWait(std::string_view bytes, const std::function<bool()>& keepGoing);

    // Each piece as it was written (the window echoes it); a stall with what was written and
    // what was dropped (the piece's rest and the queue).
    std::function<void(std::string_view written)> onWritten;
    std::function<void(std::size_t written, std::size_t dropped)> onStall;
    // The queue ran empty by sending it all.
    std::function<void()> onIdle;

    std::uint64_t TotalWritten() const { return totalWritten_; }

  private:
    void Step();
    void Arm(std::uint64_t dueMs);
    bool LineEndAt(std::size_t i) const;

    Host& host_;
    WriteFn write_;
    Pacing pacing_;
    std::string queue_;
    std::size_t head_ = 0;
    // The next piece may not go before this time (the pause after the last one).
    std::uint64_t notBeforeMs_ = 0;
    Host::TimerId timer_ = 0;
    bool stepping_ = false;
    std::uint64_t totalWritten_ = 0;
};

}  // namespace corvel
