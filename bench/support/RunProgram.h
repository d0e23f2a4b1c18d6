// Runs a program to its end and measures it: wall time, and its own CPU time
// (user + system, from wait4), which is what the benchmarks' CPU figures count.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace velmora::bench {

struct ProgramRun {
    bool started = false;
    bool succeeded = false;  // exited with status 0
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

inline double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// A program started and not yet waited for.
class Program {
public:
    // `output` empty: the program writes where this process writes.
    explicit Program(std::vector<std::string> args, const std::string& output = {}) {
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!output.empty()) {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
            posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        }
        m_start = std::chrono::steady_clock::now();
        m_started = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
    }

    bool Started() const { return m_started; }

    // Waits for the program's end; with `stop`, ends it first (SIGTERM), as
    // for a window that stays open once its work is done.
    ProgramRun Finish(bool stop = false) {
        ProgramRun run;
        run.started = m_started;
        if (!m_started) {
            return run;
        }
        if (stop) {
            kill(m_pid, SIGTERM);
        }
        int status = 0;
        rusage usage{};
        wait4(m_pid, &status, 0, &usage);
        run.wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
        run.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        m_started = false;
        return run;
    }

private:
    pid_t m_pid = -1;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_start;
};

inline ProgramRun RunProgram(std::vector<std::string> args, const std::string& output = {}) {
    Program program(std::move(args), output);
    return program.Finish();
}

}  // namespace velmora::bench
