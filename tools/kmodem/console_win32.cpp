#include <windows.h>

#include <io.h>
#include <atomic>
#include <cstdio>

#include "console.h"

namespace corvel::tool {

namespace {

std::atomic<int> g_requests{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (g_requests.fetch_add(1) > 0) ExitProcess(kExitCancelled);
    return TRUE;
}

}  // namespace

void InstallCancelHandler() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool CancelRequested() {
    return g_requests.load() != 0;
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

}  // namespace corvel::tool
