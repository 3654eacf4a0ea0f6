#pragma once
// The board shell's answer to a terminal's keys: the escape sequences an xterm sends for arrows,
// Home, End and the function keys are read whole (never half-typed into the command line), and
// Up and Down walk the lines typed before, as a board's shell with history does.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace corvel {

class ShellKeys {
  public:
    enum class Key { None, Byte, Up, Down, Other };

    // Feeds one received byte. Byte: not part of a sequence, the shell takes it as typed; None:
    // swallowed into a sequence not yet complete; Up, Down, Other: a complete sequence.
    Key Feed(std::uint8_t c);
    // Drops a half-read sequence (Ctrl+C, a new line).
    void Reset() { state_ = State::Ground; }

  private:
    enum class State { Ground, Esc, Csi, Ss3 };
    State state_ = State::Ground;
};

class ShellHistory {
  public:
    static constexpr std::size_t kLines = 20;

    // A line run by the shell; empty lines and a repeat of the newest are not kept.
    void Add(const std::string& line);
    // The line Up (older) or Down (newer) brings, given the line being typed; false when there
    // is none further that way.
    bool Walk(bool older, const std::string& typed, std::string& shown);

  private:
    std::deque<std::string> lines_;  // newest first
    int pos_ = -1;                   // -1: the line being typed
    std::string draft_;
};

}  // namespace corvel
