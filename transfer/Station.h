// A flashing station: one job per port, each the job a single upgrade runs,
// all handing their bytes to one pacer. A channel list is converted once and
// its image goes to every receiver. Ports run independently: each waits for
// its own receiver's ready signal and, unless the station runs once, waits
// for the next receiver when a job has ended.
//
// Threads: one per port for its job (blocked on the port or the pacer, never
// spinning), the pacer's one, and one of the station's own that starts each
// port's next job and hands the host its record.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/JobEvents.h"
#include "base/JobLog.h"
#include "base/JobSettings.h"
#include "serial/PortMonitor.h"
#include "transfer/PacingLoop.h"
#include "transfer/UpgradeController.h"

namespace velmora {

// How one job on a station port ended.
struct StationJobEnd {
    std::string port;
    JobOutcome outcome = JobOutcome::NothingToDo;
    // The stop of the station cut the transfer short.
    bool cutShort = false;
    JobRecord record;
};

// What the station tells its host. Called from the ports' threads and the
// station's own; `port` is the device as it was added.
class IStationHost {
public:
    virtual ~IStationHost() = default;
    // The port is open and waits for its receiver's ready signal.
    virtual void OnWaiting(const std::string& port) = 0;
    // The receiver announced itself; the transfer of `total` bytes begins.
    virtual void OnSending(const std::string& port, std::uint64_t total) = 0;
    virtual void OnBytesSent(const std::string& port, std::uint64_t sent, std::uint64_t total) = 0;
    // A job that served a receiver has ended: finished, failed or cut short.
    virtual void OnJobEnded(const StationJobEnd& end) = 0;
    // The port left the station: its adapter went away while no receiver
    // was being served, or it cannot be opened again. `reason` in plain words.
    virtual void OnPortDropped(const std::string& port, const std::string& reason) = 0;
    // The file to send cannot be had (`reason`, in plain words, names it):
    // the port waits for it, closed, and goes on by itself once the file
    // can be read again. Running once, the job fails instead.
    virtual void OnWaitingForFile(const std::string& port, const std::string& reason) = 0;
};

struct StationSettings {
    std::string file;  // the file to send, or a channel list to convert once
    DialogValues values;
    std::string workDir;
    ListChoice listChoice;  // what an Enigma2 or VDR list gives the image
    bool force = false;
    bool once = false;                       // one receiver per port, then the port ends
    std::chrono::milliseconds waitLimit{0};  // longest silence at one wait; zero for ever
};

class CStation {
public:
    CStation(IStationHost& host, StationSettings settings, IBytePacer& pacer = SharedBytePacer());
    // Stops every job and waits for the ports to close.
    ~CStation();

    CStation(const CStation&) = delete;
    CStation& operator=(const CStation&) = delete;

    // Converts a channel list once (nothing for another file). Empty when the
    // station may start; otherwise what went wrong, in plain words, and
    // `refused` tells a refusal (a list as Code) from a failure.
    std::string Prepare(bool& refused);
    // What Prepare's conversion made of the list; none for another file.
    const std::optional<ConversionReport>& Conversion() const { return m_conversion; }

    // Opens the port and starts its first job. Anything but Started leaves
    // the station as it was; `why` then says what went wrong.
    StartResult AddPort(const std::string& device, std::string& why);
    // Ends the port's job (a transfer under way is cut short) and drops it.
    void RemovePort(const std::string& device);
    // Ends every job; the ports close. Any thread; returns at once.
    void Stop();
    // Waits until no port runs any more (each did its one receiver, was
    // dropped or stopped); false when `timeout` passed first.
    bool WaitFor(std::chrono::milliseconds timeout);
    void Wait();

private:
    class Port;
    enum class Next { Running, WaitingForFile, Failed };
    void Supervise(std::stop_token stop);
    void AfterJob(Port& port);
    void ReportJob(Port& port, JobOutcome outcome);
    void StartNext(Port& port);
    Next Restart(Port& port, std::string& why);
    void WaitForFile(Port& port, const std::string& reason);
    void LookAfterFileWaits();
    std::string FileProblem() const;
    void Forget(Port& port);
    void PortEnded(Port& port);
    std::string StartFailure(Port& port, StartResult result);
    std::string KeepImage();

    IStationHost& m_host;
    StationSettings m_settings;
    IBytePacer& m_pacer;
    std::string m_sendFile;  // the file every job sends
    // The image converted from a channel list, as the station made it; null
    // for another file, which is read afresh for each job.
    std::shared_ptr<const std::vector<std::uint8_t>> m_image;
    std::string m_list;  // the channel list it was converted from, if any
    std::string m_listSha256;
    std::optional<ConversionReport> m_conversion;

    std::mutex m_mutex;
    std::condition_variable_any m_cv;
    std::list<std::unique_ptr<Port>> m_ports;  // guarded by m_mutex
    std::deque<Port*> m_ended;                 // jobs that ended, for the station's thread
    bool m_lookAtPorts = false;                // a stop or removal for the station's thread
    bool m_stopping = false;
    std::jthread m_thread;
};

// `--port all`: serves every USB serial adapter the monitor reports, those
// present at the start and those plugged in later. An adapter is opened by
// the name that stays with it (its by-id or by-path link on Linux, its COM
// name on Windows). An unplugged adapter needs nothing here: its port sees
// the device go and leaves the station by itself (idle: quietly; during a
// transfer: that job fails). Stop the follower before the station goes.
class CAdapterFollower {
public:
    // `refused` is told of an adapter that could not be taken (device, why);
    // it runs on the monitor's thread.
    using Refused = std::function<void(const std::string&, const std::string&)>;
    CAdapterFollower(CStation& station, IPortMonitor& monitor, Refused refused);
    ~CAdapterFollower() { Stop(); }
    CAdapterFollower(const CAdapterFollower&) = delete;
    CAdapterFollower& operator=(const CAdapterFollower&) = delete;

    // False with `error` when the monitor cannot start.
    bool Start(std::string& error);
    void Stop();
    // How many adapters were taken into the station so far.
    int Taken() const { return m_taken.load(); }

    // The device a station opens for an adapter.
    static std::string DeviceOf(const SerialPortInfo& port);

private:
    CStation& m_station;
    IPortMonitor& m_monitor;
    Refused m_refused;
    std::atomic<int> m_taken{0};
    bool m_started = false;
};

}  // namespace velmora
