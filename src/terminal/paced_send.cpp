#include "terminal/paced_send.h"

#include <algorithm>
#include <limits>

namespace corvel {

tPacedSender::tPacedSender(Host& host, WriteFn write) : host_(host), write_(std::move(write)) {}

tPacedSender::~tPacedSender() {
    host_.StopTimer(timer_);
}

// A lone CR ends a line as LF and CR LF do; in CR LF the pause comes after the LF.
bool tPacedSender::LineEndAt(std::size_t i) const {
    if (queue_[i] == '\n') return true;
    return queue_[i] == '\r' && (i + 1 >= queue_.size() || queue_[i + 1] != '\n');
}

void tPacedSender::Send(std::string_view bytes) {
    if (bytes.empty()) return;
    if (head_ == queue_.size()) {
        queue_.clear();
        head_ = 0;
    }
    queue_.append(bytes);
    if (timer_ == 0) Step();
}

std::size_t tPacedSender::Stop() {
    const std::size_t dropped = Pending();
    queue_.clear();
    head_ = 0;
    host_.StopTimer(timer_);
    timer_ = 0;
    return dropped;
}

void tPacedSender::Arm(std::uint64_t dueMs) {
    host_.StopTimer(timer_);
    const std::uint64_t now = host_.NowMs();
    const std::uint64_t wait = dueMs > now ? dueMs - now : 1;
    timer_ = host_.StartTimer(static_cast<std::uint32_t>(std::min<std::uint64_t>(wait, UINT32_MAX)),
                              [this] {
                                  host_.StopTimer(timer_);
                                  timer_ = 0;
                                  Step();
                              });
}

void tPacedSender::Step() {
    // A write may pump events (a stall wait) and a handler may queue more: one loop at a time.
    if (stepping_) return;
    stepping_ = true;
    while (Busy()) {
        const std::uint64_t now = host_.NowMs();
        if (now < notBeforeMs_) {
            Arm(notBeforeMs_);
            break;
        }
        // The piece: one character when characters are paced, else up to the next line end,
        // else all (no pacing at all).
        std::size_t end = queue_.size();
        if (pacing_.charDelayMs != 0) {
            end = head_ + 1;
        } else if (pacing_.lineDelayMs != 0) {
            for (std::size_t i = head_; i < queue_.size(); ++i) {
                if (LineEndAt(i)) {
                    end = i + 1;
                    break;
                }
            }
        }
        const std::size_t size = std::min<std::size_t>(end - head_, INT32_MAX);
        end = head_ + size;
        const bool lineEnd = LineEndAt(end - 1);
        const std::string piece = queue_.substr(head_, size);
        const std::int32_t wrote = write_(reinterpret_cast<const std::uint8_t*>(piece.data()),
                                          static_cast<std::int32_t>(size));
        const auto moved = static_cast<std::size_t>(
            std::clamp<std::int32_t>(wrote, 0, static_cast<std::int32_t>(size)));
        totalWritten_ += moved;
        if (moved != 0 && onWritten) onWritten(std::string_view(piece).substr(0, moved));
        if (moved < size) {
            const std::size_t dropped = Stop() - moved;
            if (onStall) onStall(moved, dropped);
            break;
        }
        // Stop() from onWritten empties the queue under us.
        if (!Busy()) break;
        head_ = end;
        const std::uint64_t pause = pacing_.charDelayMs + (lineEnd ? pacing_.lineDelayMs : 0);
        notBeforeMs_ = host_.NowMs() + pause;
        if (!Busy() && onIdle) onIdle();
    }
    stepping_ = false;
}

std::size_t tPacedSender::SendAndWait(std::string_view bytes,
                                      const std::function<bool()>& keepGoing) {
    const std::uint64_t before = totalWritten_;
    bool stalled = false;
    auto previous = std::move(onStall);
    onStall = [&](std::size_t w, std::size_t d) {
        stalled = true;
        if (previous) previous(w, d);
    };
    Send(bytes);
    while (Busy() && !stalled) {
        if (!keepGoing()) {
            Stop();
            break;
        }
        host_.WaitMessages();
    }
    onStall = std::move(previous);
    return static_cast<std::size_t>(totalWritten_ - before);
}

}  // namespace corvel
