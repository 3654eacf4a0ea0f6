#include <signal.h>
#include <unistd.h>

#include "console.h"

namespace corvel::tool {

namespace {

volatile sig_atomic_t g_requests = 0;

void OnSignal(int) {
    if (g_requests > 0) _exit(kExitCancelled);  // the orderly stop is stuck: leave now
    g_requests = 1;
}

}  // namespace

void InstallCancelHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a wait in the driver returns and sees the request
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

bool CancelRequested() {
    return g_requests != 0;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

}  // namespace corvel::tool
