#pragma once
// The receive road has one reader (the driver's tick) and one renderer; everything else that
// wants the received bytes (counters, capture, the plot) listens here and is fed each chunk once,
// in arrival order, on the UI thread. Nobody else reads the port, so every listener sees exactly
// the bytes the receive window shows.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace corvel {

class ReceiveListeners {
  public:
    // data/size: the chunk, valid only during the call; nowMs: the host clock when the driver
    // handed the chunk over (right after it read it).
    using Listener =
        std::function<void(const std::uint8_t* data, std::size_t size, std::uint64_t nowMs)>;
    using Id = std::uint32_t;

    Id Add(Listener listener) {
        const Id id = ++lastId_;
        listeners_.emplace_back(id, std::make_shared<Listener>(std::move(listener)));
        return id;
    }
    // Removing an unknown id does nothing; a listener may remove itself (or others) while fed.
    void Remove(Id id) {
        std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
    }
    bool Empty() const { return listeners_.empty(); }
    std::size_t Count() const { return listeners_.size(); }

    void Feed(const std::uint8_t* data, std::size_t size, std::uint64_t nowMs) {
        if (listeners_.empty() || size == 0) return;
        if (listeners_.size() == 1) {
            const auto keep = listeners_.front().second;
            (*keep)(data, size, nowMs);
            return;
        }
        // A snapshot, so that a listener changing the set cannot invalidate the walk.
        const auto snapshot = listeners_;
        for (const auto& entry : snapshot) (*entry.second)(data, size, nowMs);
    }

  private:
    std::vector<std::pair<Id, std::shared_ptr<Listener>>> listeners_;
    Id lastId_ = 0;
};

}  // namespace corvel
