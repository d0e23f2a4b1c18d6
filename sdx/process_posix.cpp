// The process layer on POSIX systems: fork and exec, then a blocking wait.
#include "sdx/process_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "sdx/ProcessLayer.h"

#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace velmora {

namespace posix {

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < commandLine.size()) {
        const std::size_t begin = commandLine.find_first_not_of(' ', at);
        if (begin == std::string_view::npos) {
            break;
        }
        std::size_t end = commandLine.find(' ', begin);
        if (end == std::string_view::npos) {
            end = commandLine.size();
        }
        words.emplace_back(commandLine.substr(begin, end - begin));
        at = end;
    }
    return words;
}

namespace {

bool IsExecutableFile(const std::filesystem::path& candidate) {
    struct stat info {};
    return ::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(candidate.c_str(), X_OK) == 0;
}

std::string Absolute(const std::filesystem::path& p) {
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(p, ec);
    return ec ? p.string() : abs.lexically_normal().string();
}

}  // namespace

std::optional<std::string> LocateProgram(const std::string& name, const std::string& exeDir,
                                         const std::string& pathVar) {
    if (name.empty()) {
        return std::nullopt;
    }
    if (name.find('/') != std::string::npos) {
        return IsExecutableFile(name) ? std::optional<std::string>(Absolute(name)) : std::nullopt;
    }
    if (!exeDir.empty()) {
        const std::filesystem::path candidate = std::filesystem::path(exeDir) / name;
        if (IsExecutableFile(candidate)) {
            return Absolute(candidate);
        }
    }
    std::size_t at = 0;
    while (at <= pathVar.size()) {
        std::size_t end = pathVar.find(':', at);
        if (end == std::string::npos) {
            end = pathVar.size();
        }
        const std::string dir = pathVar.substr(at, end - at);
        // An empty entry is the current directory: PATH asks for it explicitly.
        const std::filesystem::path candidate =
            dir.empty() ? std::filesystem::path(".") / name : std::filesystem::path(dir) / name;
        if (IsExecutableFile(candidate)) {
            return Absolute(candidate);
        }
        if (end == pathVar.size()) {
            break;
        }
        at = end + 1;
    }
    return std::nullopt;
}

std::string ExecutableDirectory() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || self.empty()) {
        return {};
    }
    return self.parent_path().string();
}

}  // namespace posix

namespace {

// Closes every descriptor from `first` on except `keep`; only
// async-signal-safe calls, for the child between fork and exec.
void CloseDescriptorsFrom(int first, int keep) {
#if defined(__linux__) && defined(SYS_close_range)
    bool done = true;
    if (keep > first && ::syscall(SYS_close_range, first, keep - 1, 0) != 0) {
        done = false;
    }
    if (done && ::syscall(SYS_close_range, keep + 1, ~0U, 0) == 0) {
        return;
    }
#endif
    const long max = ::sysconf(_SC_OPEN_MAX);
    const int limit = max > 0 && max < 65536 ? static_cast<int>(max) : 65536;
    for (int fd = first; fd < limit; ++fd) {
        if (fd != keep) {
            ::close(fd);
        }
    }
}

// The child side, between fork and exec. Reports a failure to start as an
// errno value on `report` (close-on-exec, so a successful exec closes it).
[[noreturn]] void ExecChild(const char* program, char* const argv[], const char* workDir,
                            int report) {
    auto fail = [report](int error) {
        [[maybe_unused]] const ssize_t n = ::write(report, &error, sizeof error);
        ::_exit(127);
    };
    // No controlling terminal: a session of its own (and a process group
    // that a stop request can end as a whole).
    if (::setsid() < 0) {
        fail(errno);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) {
        fail(errno);
    }
    if (::dup2(null, STDIN_FILENO) < 0 || ::dup2(null, STDOUT_FILENO) < 0) {
        fail(errno);
    }
    if (null > STDERR_FILENO) {
        ::close(null);
    }
    // Nothing of the tool's own (serial port, files) is handed to the program.
    CloseDescriptorsFrom(STDERR_FILENO + 1, report);
    if (workDir[0] != '\0' && ::chdir(workDir) != 0) {
        fail(errno);
    }
    ::execv(program, argv);
    fail(errno);
    ::_exit(127);
}

// The folders to search for a program: PATH, or without PATH at all the
// system's default search path, as the shell uses.
std::string SearchPath() {
    const char* pathEnv = std::getenv("PATH");
    std::string pathVar;
    if (pathEnv != nullptr) {
        pathVar = pathEnv;
        return pathVar;
    }
    const std::size_t n = ::confstr(_CS_PATH, nullptr, 0);
    if (n > 0) {
        pathVar.resize(n);
        ::confstr(_CS_PATH, pathVar.data(), n);
        pathVar.resize(n - 1);
    }
    return pathVar;
}

// Starts `program` with `words` as its arguments in `workDir`. The child's
// id once it runs the program; -1 with `error` set when it could not start.
pid_t StartChild(const std::string& program, std::vector<std::string>& words,
                 const std::string& workDir, std::string& error) {
    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::strerror(errno);
        ::close(report[0]);
        ::close(report[1]);
        return -1;
    }
    if (pid == 0) {
        ::close(report[0]);
        ExecChild(program.c_str(), argv.data(), workDir.c_str(), report[1]);
    }
    ::close(report[1]);

    // The report pipe closes at the exec (success) or carries the errno of
    // the step that failed. Once it has closed, the child leads its own
    // process group.
    int childErrno = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof childErrno)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        error = std::string("cannot run ") + program + ": " + std::strerror(childErrno);
        return -1;
    }
    return pid;
}

// Waits for the child to end, or ends it (and all it started) when `stop`
// is triggered first; then reaps it.
ProcessRun WaitForChild(pid_t pid, std::stop_token stop) {
    // Wait for the end without reaping first (WNOWAIT): until it is reaped
    // the process id stays ours, so a stop request can never signal a
    // stranger whose id was reused.
    std::mutex mutex;
    bool exited = false;
    bool killed = false;
    {
        std::stop_callback onStop(stop, [&] {
            std::lock_guard lock(mutex);
            if (!exited) {
                ::kill(-pid, SIGKILL);  // the program and anything it started
                ::kill(pid, SIGKILL);
                killed = true;
            }
        });
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 &&
               errno == EINTR) {
        }
        std::lock_guard lock(mutex);
        exited = true;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessRun run;
    if (killed) {
        run.status = ProcessRun::Status::Stopped;
        return run;
    }
    run.status = ProcessRun::Status::Ended;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status)
                                     : (WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1);
    return run;
}

}  // namespace

ProcessRun RunHiddenProcess(const std::string& commandLine, const std::string& workDir,
                            std::stop_token stop) {
    ProcessRun run;
    if (stop.stop_requested()) {
        run.status = ProcessRun::Status::Stopped;
        return run;
    }
    std::vector<std::string> words = posix::SplitCommandLine(commandLine);
    if (words.empty()) {
        run.error = "the command line is empty";
        return run;
    }
    const std::optional<std::string> program =
        posix::LocateProgram(words[0], posix::ExecutableDirectory(), SearchPath());
    if (!program) {
        run.error = words[0] + " was found neither beside this program nor on PATH";
        return run;
    }
    const pid_t pid = StartChild(*program, words, workDir, run.error);
    if (pid < 0) {
        return run;
    }
    return WaitForChild(pid, stop);
}

}  // namespace velmora
