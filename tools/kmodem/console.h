#pragma once
// The two things the tool asks of its console: Ctrl+C, and whether standard error is a terminal.
// One file per system, chosen by the build.

namespace corvel::tool {

inline constexpr int kExitCancelled = 9;

// From now on Ctrl+C (and a polite termination request) only sets the flag that CancelRequested
// reads, so the transfer can end in order; a second one ends the program at once with status 9.
void InstallCancelHandler();
bool CancelRequested();

bool StderrIsTerminal();

}  // namespace corvel::tool
