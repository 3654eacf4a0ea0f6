#include "board/shell_keys.h"

namespace corvel {

ShellKeys::Key ShellKeys::Feed(std::uint8_t c) {
    switch (state_) {
        case State::Ground:
            if (c == 0x1b) {
                state_ = State::Esc;
                return Key::None;
            }
            return Key::Byte;
        case State::Esc:
            if (c == '[') {
                state_ = State::Csi;
                return Key::None;
            }
            if (c == 'O') {
                state_ = State::Ss3;
                return Key::None;
            }
            // A lone Escape: it is dropped and what follows is typed text.
            state_ = State::Ground;
            return c == 0x1b ? Feed(c) : Key::Byte;
        case State::Csi:
            // Parameters and intermediates, then one final byte.
            if (c >= 0x20 && c <= 0x3f) return Key::None;
            state_ = State::Ground;
            if (c == 'A') return Key::Up;
            if (c == 'B') return Key::Down;
            return c >= 0x40 && c <= 0x7e ? Key::Other : Key::Byte;
        case State::Ss3:
            state_ = State::Ground;
            if (c == 'A') return Key::Up;
            if (c == 'B') return Key::Down;
            return c >= 0x40 && c <= 0x7e ? Key::Other : Key::Byte;
    }
    return Key::Byte;
}

void ShellHistory::Add(const std::string& line) {
    pos_ = -1;
    if (line.empty() || (!lines_.empty() && lines_.front() == line)) return;
    lines_.push_front(line);
    if (lines_.size() > kLines) lines_.pop_back();
}

bool ShellHistory::Walk(bool older, const std::string& typed, std::string& shown) {
    const int next = pos_ + (older ? 1 : -1);
    if (next < -1 || next >= static_cast<int>(lines_.size())) return false;
    if (pos_ == -1) draft_ = typed;
    pos_ = next;
    shown = next == -1 ? draft_ : lines_[static_cast<std::size_t>(next)];
    return true;
}

}  // namespace corvel
