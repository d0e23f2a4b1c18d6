// The process layer on Windows: CreateProcessA with a hidden window, then a
// wait on the process handle that a stop request can end.
//
// The program is looked up in the folder of the running executable, then in
// the folders of PATH, and started by its full path: never from the current
// folder, where a planted copy could sit beside a downloaded channel list.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "sdx/ProcessLayer.h"
#include "serial/win32_text.h"

namespace velmora {

namespace {

std::string SystemText(DWORD error) {
    return Win32ErrorText(error);
}

// A handle closed at the end of the scope.
class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : m_h(h) {}
    ~Handle() {
        if (m_h != nullptr && m_h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_h);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }

private:
    HANDLE m_h;
};

// How long a terminated program may take to be gone.
constexpr DWORD kTerminateWaitMs = 10000;

// Paths stay in the ANSI code page, as CreateProcessA takes them.
bool IsFile(const std::string& candidate) {
    const DWORD attributes = ::GetFileAttributesA(candidate.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// "C:\tools" and "\\server\share" are full paths; "tools", "." and "\tools"
// depend on the current drive or folder.
bool IsFullPath(const std::string& dir) {
    const bool drive = dir.size() >= 3 && dir[1] == ':' && (dir[2] == '\\' || dir[2] == '/');
    return drive || dir.starts_with("\\\\");
}

std::string Join(const std::string& dir, const std::string& name) {
    return dir.ends_with('\\') || dir.ends_with('/') ? dir + name : dir + "\\" + name;
}

std::string ExecutableDirectory() {
    std::vector<char> self(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (n == 0) {
            return {};
        }
        if (n < self.size()) {
            const std::string path(self.data(), n);
            const std::size_t slash = path.find_last_of("\\/");
            return slash == std::string::npos ? std::string() : path.substr(0, slash);
        }
        self.resize(self.size() * 2);
    }
}

std::string PathVariable() {
    const DWORD size = ::GetEnvironmentVariableA("PATH", nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::string value(size, '\0');
    value.resize(::GetEnvironmentVariableA("PATH", value.data(), size));
    return value;
}

// Where `name` is found: beside the running executable, then in the folders
// of PATH that are full paths. The current folder is never searched, not
// even through a relative PATH entry. A name with a folder in it is taken
// as it is.
std::optional<std::string> LocateProgram(const std::string& name) {
    if (name.find_first_of("\\/:") != std::string::npos) {
        return IsFile(name) ? std::optional<std::string>(name) : std::nullopt;
    }
    const std::string exeDir = ExecutableDirectory();
    if (IsFullPath(exeDir) && IsFile(Join(exeDir, name))) {
        return Join(exeDir, name);
    }
    const std::string pathVar = PathVariable();
    std::size_t at = 0;
    while (at < pathVar.size()) {
        std::size_t end = pathVar.find(';', at);
        if (end == std::string::npos) {
            end = pathVar.size();
        }
        const std::string dir = pathVar.substr(at, end - at);
        if (IsFullPath(dir) && IsFile(Join(dir, name))) {
            return Join(dir, name);
        }
        at = end + 1;
    }
    return std::nullopt;
}

// Starts the command line hidden, in `workDir`, with `program` (the full
// path of its first word) as the program to run. False with `error` set
// when it did not start.
bool StartHidden(const std::string& program, const std::string& commandLine,
                 const std::string& workDir, PROCESS_INFORMATION& info, std::string& error) {
    // The caller's start-up data, with the window hidden.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;

    // CreateProcessA may write to the command line: it gets a copy.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workDir.empty() ? nullptr : workDir.c_str(), &startup, &info)) {
        error = SystemText(::GetLastError());
        return false;
    }
    return true;
}

// Waits for the program to end, or terminates it when `stop` is triggered
// first (`stopEvent` is set then).
ProcessRun WaitOrStop(HANDLE process, HANDLE stopEvent, std::stop_token stop) {
    ProcessRun run;
    DWORD waited = WAIT_FAILED;
    {
        std::stop_callback onStop(stop, [stopEvent] { ::SetEvent(stopEvent); });
        const HANDLE both[2] = {process, stopEvent};
        waited = ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
    }
    if (waited == WAIT_OBJECT_0 + 1) {
        // Stopped: the program must not outlive the job that started it.
        if (::WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
            ::TerminateProcess(process, 1);
            ::WaitForSingleObject(process, kTerminateWaitMs);
            run.status = ProcessRun::Status::Stopped;
            return run;
        }
    } else if (waited != WAIT_OBJECT_0) {
        // The wait itself failed: wait on the program alone, with no limit.
        ::WaitForSingleObject(process, INFINITE);
    }

    DWORD exitCode = 0;
    run.status = ProcessRun::Status::Ended;
    run.exitCode = ::GetExitCodeProcess(process, &exitCode) ? static_cast<int>(exitCode) : -1;
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
    const std::size_t first = commandLine.find_first_not_of(' ');
    if (first == std::string::npos) {
        run.error = "the command line is empty";
        return run;
    }
    const std::string name = commandLine.substr(first, commandLine.find(' ', first) - first);
    const std::optional<std::string> program = LocateProgram(name);
    if (!program) {
        // The words Windows itself gives for a program it cannot find.
        run.error = "cannot start " + name + ": " + SystemText(ERROR_FILE_NOT_FOUND);
        return run;
    }

    // Created before the program starts, so that no stop request is missed.
    Handle stopEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (stopEvent.get() == nullptr) {
        run.error = "cannot create an event: " + SystemText(::GetLastError());
        return run;
    }
    PROCESS_INFORMATION info{};
    std::string error;
    if (!StartHidden(*program, commandLine, workDir, info, error)) {
        run.error = "cannot start " + name + ": " + error;
        return run;
    }
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    return WaitOrStop(process.get(), stopEvent.get(), stop);
}

}  // namespace velmora
