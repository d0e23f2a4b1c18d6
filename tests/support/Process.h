// Runs a program of the project as a child process, with its output in a
// file, and waits for it with a deadline.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace velmora::test {

class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& args, const std::string& outputFile,
                 const std::map<std::string, std::string>& extraEnv = {})
        : m_outputFile(outputFile) {
        std::vector<std::string> argStore = args;
        std::vector<char*> argv;
        for (auto& a : argStore) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> envStore;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (extraEnv.count(name) == 0) {
                envStore.push_back(entry);
            }
        }
        for (const auto& [k, v] : extraEnv) {
            envStore.push_back(k + "=" + v);
        }
        std::vector<char*> envp;
        for (auto& e : envStore) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        m_spawnError = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (m_spawnError == 0) {
            const pid_t pid = m_pid;
            m_exit = std::async(std::launch::async, [pid] {
                int status = 0;
                while (waitpid(pid, &status, 0) < 0) {
                    if (errno != EINTR) {
                        return -1;
                    }
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            });
        }
    }
    ~ChildProcess() {
        if (m_spawnError == 0 && m_exit.valid() &&
            m_exit.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            kill(m_pid, SIGKILL);
            m_exit.wait();
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_spawnError == 0; }
    pid_t Pid() const { return m_pid; }
    void Signal(int sig) { kill(m_pid, sig); }

    // The exit status, or -2 when it did not end within `timeout` (it is then killed).
    int Wait(std::chrono::milliseconds timeout) {
        if (m_spawnError != 0) {
            return -3;
        }
        if (m_exit.wait_for(timeout) != std::future_status::ready) {
            kill(m_pid, SIGKILL);
            m_exit.wait();
            return -2;
        }
        return m_exit.get();
    }
    std::string Output() const {
        std::ifstream in(m_outputFile);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Waits until the output contains `text`; false at the deadline.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (Output().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline ||
                m_exit.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready) {
                return Output().find(text) != std::string::npos;
            }
        }
        return true;
    }

private:
    std::string m_outputFile;
    pid_t m_pid = -1;
    int m_spawnError = -1;
    std::future<int> m_exit;
};

}  // namespace velmora::test
