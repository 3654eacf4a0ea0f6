#pragma once
// The names of the serial ports present, for the port list: what the system reports, in a stable
// order, followed by the extra names given in the environment (virtual ports, ptys).

#include <string>
#include <string_view>
#include <vector>

namespace corvel {

inline constexpr const char* kExtraPortsVariable = "CORVEL_EXTRA_PORTS";

// The ports of this system plus those in CORVEL_EXTRA_PORTS.
std::vector<std::string> ScanSerialPorts();

// --- Pieces, exposed so they can be tested against fake inputs ---

// Linux: the ttys under <sysfsRoot>/class/tty that have a device behind them, as "/dev/<name>".
// USB adapters are always listed; ttyS* only when a real UART answers (its "type" is not 0).
// Sorted by name with numbers in numeric order (ttyS2 before ttyS10).
std::vector<std::string> ScanSysfsSerialPorts(const std::string& sysfsRoot);

// Splits a list of paths by separator, skipping empty parts.
std::vector<std::string> SplitPortList(std::string_view list, char separator);

// Appends each extra name not already listed.
std::vector<std::string> MergePortLists(std::vector<std::string> ports,
                                        const std::vector<std::string>& extra);

}  // namespace corvel
