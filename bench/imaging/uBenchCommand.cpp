#include "uBenchCommand.h"

#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

void ChargeThread(double ASeconds) {
    const double until = ThreadCpuSeconds() + ASeconds;
    while (ThreadCpuSeconds() < until) {
    }
}

TCommandRun RunCommand(const std::vector<std::string>& AArgs) {
    TCommandRun run;
    std::vector<char*> argv;
    for (const std::string& a : AArgs)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        run.Error = AArgs[0] + ": cannot start";
        return run;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        run.Error = AArgs[0] + ": wait failed";
        return run;
    }
    run.WallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.CpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
    run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!run.Ok)
        run.Error = AArgs[0] + ": failed (status " + std::to_string(status) + ")";
    return run;
}
