// Runs a program the way a user would from a shell, for the benchmarks that
// time whole commands (keo, gst-launch-1.0): its output and messages to
// /dev/null, and its wall time and CPU time (user and system, of it and
// every thread it started) once it has ended.
#pragma once

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace keo::bench {

struct Run {
    int status = -1; // the exit status; -1 when it did not exit
    double cpuSeconds = 0;
    double wallSeconds = 0;
};

// `program` (a path, or a name looked up in PATH) with `args`, standard
// input from the file `input` when one is named.
inline Run runProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input = std::string()) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!input.empty())
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        struct rusage usage {};
        if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status))
            run.status = WEXITSTATUS(status);
        run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    run.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

} // namespace keo::bench
