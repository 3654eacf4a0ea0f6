// One-byte round trip across a pseudo-terminal pair (for example two socat links): a byte written
// at one end is echoed by a thread at the other, and the time until it is back is recorded.
//
//   pty_rtt END_A END_B [COUNT]
//
// Prints "rtt_mean_us", "rtt_p50_us" and "rtt_p99_us" lines.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

int OpenRaw(const char* path) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path);
        std::exit(2);
    }
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

bool ReadOne(int fd, char& c, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    return read(fd, &c, 1) == 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pty_rtt END_A END_B [COUNT]\n");
        return 2;
    }
    const int count = argc > 3 ? std::atoi(argv[3]) : 2000;
    const int a = OpenRaw(argv[1]);
    const int b = OpenRaw(argv[2]);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        char c;
        while (!stop) {
            if (ReadOne(b, c, 50) && write(b, &c, 1) != 1) break;
        }
    });
    using Clock = std::chrono::steady_clock;
    std::vector<double> us;
    for (int i = 0; i < count + 50; ++i) {
        char c = static_cast<char>('a' + i % 26), back = 0;
        const auto t0 = Clock::now();
        if (write(a, &c, 1) != 1 || !ReadOne(a, back, 1000) || back != c) {
            std::fprintf(stderr, "pty_rtt: byte %d did not come back\n", i);
            stop = true;
            echo.join();
            return 1;
        }
        // The first round trips warm the path up.
        if (i >= 50)
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    stop = true;
    echo.join();
    double sum = 0;
    for (double v : us) sum += v;
    std::sort(us.begin(), us.end());
    std::printf("rtt_mean_us=%.1f\nrtt_p50_us=%.1f\nrtt_p99_us=%.1f\n", sum / us.size(),
                us[us.size() / 2], us[us.size() * 99 / 100]);
    return 0;
}
