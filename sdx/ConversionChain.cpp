#include "sdx/ConversionChain.h"

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "sdx/ChannelDatabase.h"
#include "sdx/DatabaseImage.h"
#include "sdx/PostProcess.h"

namespace velmora {

namespace {

// One conversion at a time owns the process-wide channel database. A caller
// waiting for its turn can still be cancelled through its stop token.
class ConversionGate {
public:
    bool Enter(std::stop_token stop) {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait(lock, stop, [this] { return !m_busy; })) {
            return false;
        }
        m_busy = true;
        return true;
    }
    void Leave() {
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
        }
        m_cv.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable_any m_cv;
    bool m_busy = false;
};

ConversionGate& Gate() {
    static ConversionGate gate;
    return gate;
}

class GateTicket {
public:
    explicit GateTicket(std::stop_token stop) : m_entered(Gate().Enter(std::move(stop))) {}
    GateTicket(const GateTicket&) = delete;
    GateTicket& operator=(const GateTicket&) = delete;
    ~GateTicket() {
        if (m_entered) {
            Gate().Leave();
        }
    }
    bool Entered() const { return m_entered; }

private:
    bool m_entered;
};

ChainResult Failed(std::string message) {
    ChainResult result;
    result.status = ChainStatus::Failed;
    result.message = std::move(message);
    return result;
}

}  // namespace

ChainResult RunConversionChain(JobSettings& settings, IProgressBar& analyse, IMessageBox& messages,
                               std::stop_token stop) {
    return RunConversionChain(settings, analyse, messages, std::move(stop), ChainOptions{});
}

ChainResult RunConversionChain(JobSettings& settings, IProgressBar& analyse, IMessageBox& messages,
                               std::stop_token stop, const ChainOptions& options) {
    GateTicket ticket(stop);
    if (!ticket.Entered()) {
        return Failed(std::string());  // stopped while another conversion ran
    }

    SdxReadResult read = ReadSdxFile(settings.strFilePath, analyse, options.readFaults);
    SdxListGuard list(read.pHead);
    switch (read.status) {
        case SdxReadStatus::Ok:
            break;
        case SdxReadStatus::CannotOpen: {
            // No image: the job goes on with the chosen file itself.
            settings.bConverted = 0;
            ChainResult result = FinishConversion(settings, analyse);
            result.listError = read.error;
            return result;
        }
        case SdxReadStatus::OutOfMemory:
            return Failed(SdxOpenFailText(settings.strFilePath));
        case SdxReadStatus::ReadError:
            return Failed("Cannot read the channel list " + settings.strFilePath + ": " +
                          read.error + ". Check the file and try again.");
    }
    if (stop.stop_requested()) {
        return Failed(std::string());
    }

    BuildChannelDatabase(list.Head(), read.nCount, settings.nMaxSat, analyse);
    if (stop.stop_requested()) {
        return Failed(std::string());
    }

    std::string error;
    if (!WriteDatabaseImage(analyse, settings, list.Head(), error)) {
        return Failed(error);
    }
    if (stop.stop_requested()) {
        return Failed(std::string());
    }
    return PostProcessImage(settings, analyse, messages, std::move(stop));
}

std::string ConvertedImagePath(const JobSettings& settings) {
    if (settings.bConverted == 0 || settings.szImageName[0] == '\0') {
        return {};
    }
    std::string name(settings.szImageName,
                     strnlen(settings.szImageName, sizeof settings.szImageName));
    return WorkFilePath(settings, name.c_str());
}

}  // namespace velmora
