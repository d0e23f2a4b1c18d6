// The process layer on Windows: CreateProcessA with a hidden window, then a
// wait on the process handle that a stop request can end.
//
// The program is found as Windows finds the first word of any command line:
// the folder of the running executable, the current folder, the system
// folders, then PATH.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "sdx/ProcessLayer.h"
#include "serial/win32_text.h"

namespace velmora {

namespace {

std::string SystemText(DWORD error) { return Win32ErrorText(error); }

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
    const std::string program = commandLine.substr(first, commandLine.find(' ', first) - first);

    // Created before the program starts, so that no stop request is missed.
    Handle stopEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (stopEvent.get() == nullptr) {
        run.error = "cannot create an event: " + SystemText(::GetLastError());
        return run;
    }

    // The caller's start-up data, with the window hidden.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;

    // CreateProcessA may write to the command line: it gets a copy.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workDir.empty() ? nullptr : workDir.c_str(), &startup, &info)) {
        run.error = "cannot start " + program + ": " + SystemText(::GetLastError());
        return run;
    }
    Handle process(info.hProcess);
    Handle thread(info.hThread);

    DWORD waited = WAIT_FAILED;
    {
        std::stop_callback onStop(stop, [&stopEvent] { ::SetEvent(stopEvent.get()); });
        const HANDLE both[2] = {process.get(), stopEvent.get()};
        waited = ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
    }
    if (waited == WAIT_OBJECT_0 + 1) {
        // Stopped: the program must not outlive the job that started it.
        if (::WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), kTerminateWaitMs);
            run.status = ProcessRun::Status::Stopped;
            return run;
        }
    } else if (waited != WAIT_OBJECT_0) {
        // The wait itself failed: wait on the program alone, with no limit.
        ::WaitForSingleObject(process.get(), INFINITE);
    }

    DWORD exitCode = 0;
    run.status = ProcessRun::Status::Ended;
    run.exitCode = ::GetExitCodeProcess(process.get(), &exitCode) ? static_cast<int>(exitCode) : -1;
    return run;
}

}  // namespace velmora
