#pragma once
// Any bit rate, not only the standard table, where the kernel allows it. Kept apart from the
// termios code because the kernel's termios2 headers clash with the C library's <termios.h>.

#include <cstdint>

namespace corvel {

// Sets both directions of the open tty fd to rate. Returns 0 or an errno value.
int SetAnyBaudRate(int fd, std::uint32_t rate);
// Reads the output rate actually set on fd. Returns 0 or an errno value.
int GetBaudRate(int fd, std::uint32_t& rate);

}  // namespace corvel
