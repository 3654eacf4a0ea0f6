/* Preloaded into the lrzsz peers on pseudo-terminals, where two of their flushes lose data that
 * a real UART would not:
 * - they discard their output queue just before exiting; on a UART that queue is already on the
 *   wire after tcdrain, but on a pty it still holds the last bytes, which the far end never sees;
 * - their receivers discard their input right after each ACK; on a pty the sender's next block
 *   may already be queued there, so it is thrown away and the run stalls for a retry time-out
 *   (at random: the same transfer took 1.5 s, 7.6 s or 25.6 s).
 * Both become no-ops here, whether asked of tcflush or of the ioctl. Nothing else flushes in
 * these tests, so nothing stale is kept. */
#define _GNU_SOURCE
#include <termios.h>

int tcflush(int fd, int queue) {
    (void)fd;
    (void)queue;
    return 0;
}

/* Some of them purge with the ioctl itself rather than tcflush (rb was seen doing it after its
 * requests, losing the block sent in answer and stalling 20 s for the retry). */
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>

int ioctl(int fd, unsigned long request, ...) {
    static int (*real)(int, unsigned long, void*);
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (request == TCFLSH) return 0;
    if (!real) real = (int (*)(int, unsigned long, void*))dlsym(RTLD_NEXT, "ioctl");
    return real(fd, request, arg);
}
