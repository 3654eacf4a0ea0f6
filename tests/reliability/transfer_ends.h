#pragma once
// The two Kmodem implementations as ends of a SimLine: the terminal's engine (files on disk, as
// the window uses it) and the board library (file in memory, as a board keeps it in flash).

#include <cstdint>
#include <memory>
#include <string>

#include "kmodem/u_kmodem.h"
#include "kmodem_fw.h"
#include "sim_line.h"

namespace corvel::reliability {

enum class Impl { Engine, Board };

// Both implementations wait this long for a byte (the engine's default 5 units of 864 ms).
inline constexpr std::uint32_t kTimeoutMs = 5 * KM_MS_PER_TIMEOUT_UNIT;

struct TransferEnd {
    virtual ~TransferEnd() = default;
    // Runs the transfer on the line's thread of end `id`; returns the result code.
    virtual int Transmit(const Bytes& file) = 0;
    virtual int Receive() = 0;
    // What the receiver kept.
    virtual Bytes Received() = 0;
    // Timers or files the end left open (0 when everything was put back).
    virtual std::size_t LeftOpen() = 0;
};

std::unique_ptr<TransferEnd> MakeEnd(Impl impl, SimLine& line, int id, std::uint16_t packet,
                                     const std::string& folder);

}  // namespace corvel::reliability
