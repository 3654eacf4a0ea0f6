// Linux: termios2 with BOTHER carries the rate as a number.

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "comport/posix_baud.h"

namespace corvel {

int SetAnyBaudRate(int fd, std::uint32_t rate) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    if (::ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

int GetBaudRate(int fd, std::uint32_t& rate) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
    rate = t.c_ospeed;
    return 0;
}

}  // namespace corvel
