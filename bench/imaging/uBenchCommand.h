#pragma once

// Timing a command run as a reference beside code measured in-process. The ratio report
// reads the CPU time of the benchmark's own thread, which a child process does not add
// to, so the thread is charged with the command's wall time instead (the stricter of the
// two: a multi-threaded command uses more CPU than wall time).

#include <string>
#include <vector>

double ThreadCpuSeconds();
// Adds ASeconds to this thread's CPU clock.
void ChargeThread(double ASeconds);

struct TCommandRun {
    bool Ok = false;
    double WallSeconds = 0, CpuSeconds = 0;
    std::string Error;
};

// Runs the command (looked up on the PATH), its output to /dev/null, and waits for it.
TCommandRun RunCommand(const std::vector<std::string>& AArgs);
