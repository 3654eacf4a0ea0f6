// Systems without a portable way to set a non-standard rate: refuse it plainly.

#include <termios.h>

#include <cerrno>

#include "comport/posix_baud.h"

namespace corvel {

int SetAnyBaudRate(int, std::uint32_t) {
    return EINVAL;
}

int GetBaudRate(int fd, std::uint32_t& rate) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return errno;
    rate = static_cast<std::uint32_t>(::cfgetospeed(&t));
    return 0;
}

}  // namespace corvel
