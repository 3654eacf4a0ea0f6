#pragma once
// A board that is not there: the shell firmware of board_shell.h running on a thread of its own
// behind one end of a simulated cable. The terminal opens the other end like any port; the board
// follows the line settings the terminal applies to it (baud rate pacing, RTS/CTS).

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "board/board_shell.h"
#include "comport/sim_port.h"

namespace corvel {

class VirtualBoard {
  public:
    // terminalEnd is the device the terminal opens; boardEnd, its pair, is the board's UART.
    // files is the board's RAM (a fresh disk with the demo file when null).
    // onReplug is told when the firmware's usb-reset drops the board off the bus (the terminal's
    // end then fails like an unplugged adapter); banner, when given, is what the board prints
    // once the terminal has opened and set up its end, as firmware does after a reset.
    VirtualBoard(std::shared_ptr<SimDevice> terminalEnd, std::shared_ptr<SimDevice> boardEnd,
                 std::shared_ptr<BoardFiles> files = nullptr,
                 std::function<void(std::uint32_t absentMs)> onReplug = {},
                 std::string banner = {});
    ~VirtualBoard();
    VirtualBoard(const VirtualBoard&) = delete;
    VirtualBoard& operator=(const VirtualBoard&) = delete;

    // Stops the firmware and waits for its thread; quick whatever the board was doing.
    void Stop();

    // The far end's receive queue above which RTS/CTS holds the board off, when the terminal
    // set no queue size of its own.
    static constexpr std::size_t kDefaultHoldOff = 1536;
    // Without flow control the board still stops short of flooding a terminal that reads nothing.
    static constexpr std::size_t kMaxUnread = 1u << 20;

  private:
    class Link;
    std::unique_ptr<Link> link_;
    std::thread thread_;
};

// A port whose far end sends back everything it receives.
class LoopbackDevice {
  public:
    LoopbackDevice();
    ~LoopbackDevice();
    LoopbackDevice(const LoopbackDevice&) = delete;
    LoopbackDevice& operator=(const LoopbackDevice&) = delete;

    std::shared_ptr<SimDevice> Device() const { return device_; }
    void Stop();

  private:
    std::shared_ptr<SimDevice> device_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace corvel
