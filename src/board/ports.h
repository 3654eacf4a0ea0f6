#pragma once
// Every port the program can open: the serial ports of the system, the virtual board and a
// loopback. One ComPortIo opens any of them by name, so the driver needs no special case.

#include <memory>
#include <string>
#include <vector>

#include "comport/comport_io.h"

namespace corvel {

inline constexpr const char* kSimBoardPort = "SIM-BOARD";
inline constexpr const char* kSimLoopPort = "SIM-LOOP";

// ScanSerialPorts() followed by "SIM-BOARD" and "SIM-LOOP".
std::vector<std::string> ScanAllPorts();

// Opens "SIM-BOARD" as a virtual board on a fresh simulated cable (its files stay in the
// process's memory from one connection to the next), "SIM-LOOP" as a port that sends back what
// it receives, and anything else through the system's port layer. Each simulated port can be
// open once at a time, like a real one.
std::unique_ptr<ComPortIo> MakeAnyPortIo();

}  // namespace corvel
