// The Start command and the job it starts. A front end (dialog, command line,
// test) owns one controller; the controller owns the serial port, the worker
// thread and the busy flag, and a job never outlives it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "base/HostInterfaces.h"
#include "base/JobEvents.h"
#include "base/JobSettings.h"
#include "serial/SerialPort.h"
#include "transfer/PacingClock.h"
#include "transfer/UpgradeWorker.h"

namespace velmora {

inline constexpr const char* kFileMissingMessage = "Transferred file is not exist!";
// "%d" is replaced by the port number.
inline constexpr const char* kPortFailedMessage = "UART%d is already Opened Or not Exist!";

enum class StartResult {
    Started,       // the port is open and the worker runs
    FileMissing,   // "Transferred file is not exist!"
    Busy,          // a job is running: ignored without a word
    LimitRefused,  // a database limit out of range: a message was shown
    ImageRefused,  // a channel database image with upgrade type Code: a message was shown
    PortFailed,    // "UART%d is already Opened Or not Exist!"
};

class CUpgradeController {
public:
    // The host's bars and message box. They are called from the worker thread
    // while a job runs, and from the caller's thread inside Start. Once Cancel()
    // has been called they must return promptly.
    CUpgradeController(IProgressBar& analyseBar, IProgressBar& sendBar, IMessageBox& messages,
                       std::unique_ptr<IPortDevice> device = nullptr);
    // Cancels a running job and waits for it to end.
    ~CUpgradeController();

    CUpgradeController(const CUpgradeController&) = delete;
    CUpgradeController& operator=(const CUpgradeController&) = delete;

    // This controller's job settings: every job it starts gets a copy. Front
    // ends write strFilePath (Select File) and strWorkDir here; Start writes
    // the converted settings. (Each port of a station has a controller, and
    // so settings, of its own.)
    JobSettings& Settings() { return m_settings; }

    // The Start command. `filePath` is the chosen file as the front end holds
    // it; `readControls` transfers the controls into values (called after the
    // existence test, as the dialog does).
    StartResult Start(const std::string& filePath,
                      const std::function<DialogValues()>& readControls);
    StartResult Start(const std::string& filePath, const DialogValues& values) {
        return Start(filePath, [&values] { return values; });
    }

    // True from the moment a worker is started until its last step.
    bool IsBusy() const { return m_bBusy.load(); }
    // Asks the running job to stop: every wait returns within a poll slice and
    // the port is closed. Returns at once; any thread. When no job runs yet,
    // the next job to start is cancelled as it starts (a Start under way).
    void Cancel();
    // Waits for the worker thread to end, if there is one.
    void Wait();
    // Waits at most `timeout`; true when no job runs any more.
    bool WaitFor(std::chrono::milliseconds timeout);

    // Outcome of the last job that ended.
    JobOutcome LastOutcome() const { return m_lastOutcome.load(); }
    // Line parameters of the last Start that got past the existence test.
    const LineParams& LastLineParams() const { return m_line; }
    // The reason the port layer gave for the last failed open, in plain words.
    std::string LastPortError() const { return m_port.LastError(); }
    // The same as kind, reason and remedy, for a front end to show as the
    // detail of its "UART%d is already Opened Or not Exist!" box.
    PortOpenFailure LastPortFailure() const { return m_port.LastOpenFailure(); }

    // Longest silence of the receiver at one wait; zero (the default) waits for ever.
    void SetWaitLimit(std::chrono::milliseconds limit) { m_waitLimit = limit; }
    // The clock that jobs sleep the ready signal's settle time on; the
    // system's unless a test gives its own, with a pacer over it.
    void SetClock(IPacingClock& clock) { m_clock = &clock; }
    // Where jobs hand their bytes for pacing: the process's pacing loop
    // unless another is given (a station's, a test's).
    void SetPacer(IBytePacer& pacer) { m_pacer = &pacer; }
    // The bytes that jobs send in place of reading the chosen file, which
    // still names them (a station's converted image); null to read the file.
    void SetImage(std::shared_ptr<const std::vector<std::uint8_t>> image) {
        m_image = std::move(image);
    }
    // Jobs take the file as it is when the receiver announces itself, rather
    // than ending when it changed while they waited (see JobEnvironment).
    void SetTakeFileWhenReady(bool take) { m_takeFileWhenReady = take; }
    // Lets a file through that looks wrong for the upgrade type (a database
    // image as Code), as a technician who knows better may ask.
    void SetForce(bool force) { m_force = force; }
    // Where jobs report their phases, plan, bytes sent and conversion report
    // (see base/JobEvents.h); null for none. Called from the worker thread.
    void SetEvents(IJobEvents* events) { m_events = events; }
    // A device opened exactly as named, in place of the port text's "COM<n>":
    // a path ("/dev/ttyUSB0", a by-id path) or a COM name beyond the
    // last-character rule ("COM11", "\\.\COM11"). Empty to go back to the
    // port text. When such a port cannot be opened, the box names its COM
    // number ("UART11 ..."); a path has none, and the box then says why.
    void SetDeviceOverride(std::string device) { m_deviceOverride = std::move(device); }

private:
    void StartWorker();

    IProgressBar& m_analyseBar;
    IProgressBar& m_sendBar;
    IMessageBox& m_messages;
    CSerialPort m_port;
    IPacingClock* m_clock;
    IBytePacer* m_pacer;
    std::chrono::milliseconds m_waitLimit{0};
    IJobEvents* m_events = nullptr;
    std::shared_ptr<const std::vector<std::uint8_t>> m_image;
    bool m_takeFileWhenReady = false;
    std::string m_deviceOverride;
    bool m_force = false;

    JobSettings m_settings;
    LineParams m_line;
    std::atomic<bool> m_bBusy{false};
    std::atomic<JobOutcome> m_lastOutcome{JobOutcome::NothingToDo};

    std::mutex m_threadMutex;  // guards m_worker and m_stopSource
    std::thread m_worker;
    std::stop_source m_stopSource;
    bool m_cancelPending = false;  // guarded by m_threadMutex
    std::mutex m_doneMutex;
    std::condition_variable m_doneCv;
    bool m_workerDone = true;
};

// A message for the first database limit that the channel database cannot
// use (more than 200 satellites, a negative limit); empty when all are usable.
std::string DatabaseLimitProblem(const JobSettings& settings);

// "UART%d is already Opened Or not Exist!" with the port number filled in.
std::string PortFailedText(int portNumber);

}  // namespace velmora
