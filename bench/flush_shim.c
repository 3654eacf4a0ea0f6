/* Preloaded into the lrzsz peers on pseudo-terminals. They discard their output queue just before
 * exiting; on a real UART that queue is already on the wire after tcdrain, but on a pty it still
 * holds the last bytes, which the far end then never sees and the transfer hangs. Output flushes
 * become no-ops here; input flushes still happen. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <termios.h>

int tcflush(int fd, int queue) {
    static int (*real_tcflush)(int, int);
    if (!real_tcflush) real_tcflush = (int (*)(int, int))dlsym(RTLD_NEXT, "tcflush");
    if (queue == TCOFLUSH) return 0;
    if (queue == TCIOFLUSH) queue = TCIFLUSH;
    return real_tcflush ? real_tcflush(fd, queue) : 0;
}
