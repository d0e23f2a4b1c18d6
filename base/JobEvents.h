// What a running job tells its host besides the two bars and the message
// boxes: where it stands, what it is about to send, how many bytes are out,
// a receiver that has gone quiet, and what a channel-list conversion kept and
// left out. The dialog and the command line word these in their own way; the
// engine only reports them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/JobSettings.h"

namespace velmora {

enum class JobPhase {
    Converting,          // a channel list is being converted into the database image
    WaitingForReceiver,  // the port is open and the job waits for the ready signal:
                         // the receiver has to be switched on or reset now
    Sending,             // the ready signal came: header and data go out
};

// What a job is about to send, known before it waits for the receiver.
struct TransferPlan {
    std::string filePath;    // the file that goes out
    std::string sourceList;  // the channel list it was converted from; empty otherwise
    std::uint64_t length = 0;
    // The header's checksum over the file as it is now. The header itself is
    // computed again once the receiver is ready, from the file as it is then.
    std::uint32_t checksum = 0;
    // The SHA-256 of the same bytes, as hex digits; empty when the system's
    // library could not compute it. The bytes sent are these or none: a
    // change found later fails the job before its last block.
    std::string sha256;
    UpgradeType type = UpgradeType::Code;
    std::uint32_t flashOffset = 0;  // where the receiver writes it
    std::string device;             // the serial device in use
    // "Another program may hold ..." when the port's check for other
    // holders could not look at every process; empty otherwise.
    std::string holderHint;
};

// The formats a channel list comes in.
enum class ListFormat {
    Satcodx,  // fixed-length records (.sdx)
    Enigma2,  // "lamedb" or "lamedb5": "eDVB services /N/"
    Vdr,      // "channels.conf"
};

// What became of the services of an Enigma2 or VDR list. Each service the
// list holds counts once: converted plus every skipped count equals `read`.
struct ServiceTally {
    std::int64_t read = 0;
    std::int64_t converted = 0;    // handed on as records, in the order they go in
    std::int64_t withoutPids = 0;  // converted although the list gives no video or audio PID
    // Skipped, by cause.
    std::int64_t notSatellite = 0;   // on a cable or terrestrial transponder
    std::int64_t noTransponder = 0;  // on a transponder the list does not hold
    std::int64_t serviceType = 0;    // neither TV nor radio
    std::int64_t duplicate = 0;      // held before in the list (the first entry is kept)
    std::int64_t outsideChoice = 0;  // not on a chosen satellite, not free, or in no chosen bouquet
    std::int64_t unreadable = 0;     // its lines could not be read
    std::int64_t Skipped() const {
        return notSatellite + noTransponder + serviceType + duplicate + outsideChoice + unreadable;
    }
};

// A line of a channel list that could not be read, and why.
struct UnreadableLine {
    std::int64_t line = 0;  // from 1
    std::string why;
};

// What the reader of a channel list tells about it besides its records.
struct ListReport {
    ListFormat format = ListFormat::Satcodx;
    int version = 0;  // Enigma2: the N of "eDVB services /N/"
    // An Enigma2 or VDR list: what became of its services.
    ServiceTally services;
    std::vector<UnreadableLine> unreadableLines;  // the first ones, in file order
    std::int64_t unreadableLineCount = 0;         // all of them
    std::int64_t bouquetEntriesMissing = 0;       // bouquet entries the list does not hold
};

// What a conversion made of a channel list. Every record of the list is
// counted once: tv + radio kept plus every dropped count equals `records`.
struct ConversionReport {
    std::string listPath;
    std::int64_t records = 0;  // records in the file, unreadable ones included

    // What was read: the version bytes of the first record ("103", "105";
    // empty when no record was read), the record length (128 or 133), and
    // for version 105 the names converted from UTF-8 and the characters
    // written as '?' because the receiver's code page lacks them.
    std::string version;
    std::int64_t recordLength = 128;
    std::int64_t namesConverted = 0;
    std::int64_t charactersReplaced = 0;

    struct Kept {
        std::int64_t satellites = 0;
        std::int64_t transponders = 0;  // transponder records written
        std::int64_t tv = 0;
        std::int64_t radio = 0;
    } kept;

    // Records left out, by cause.
    struct Dropped {
        std::int64_t satelliteLimit = 0;  // a new satellite beyond Max Sat: grouping stopped
        std::int64_t transpondersPerSatellite = 0;  // a 201st transponder on a satellite
        std::int64_t channelsPerTransponder = 0;    // a 51st channel on a transponder
        std::int64_t maxTv = 0;                     // TV channels beyond Max TV
        std::int64_t maxRadio = 0;                  // radio channels beyond Max Radio
        std::int64_t serviceType = 0;               // neither TV ('T') nor radio ('R')
        std::int64_t unreadable = 0;  // symbol rate 0, or a last piece too short for a record
        std::int64_t Total() const {
            return satelliteLimit + transpondersPerSatellite + channelsPerTransponder + maxTv +
                   maxRadio + serviceType + unreadable;
        }
    } dropped;

    // Transponders of the database that have no record in the image. Their
    // channels are kept all the same.
    std::int64_t transpondersBeyondMaxTp = 0;
    std::int64_t transpondersWithoutFrequency = 0;  // frequency or symbol rate 0

    std::string imagePath;  // the image that was written
    std::uint64_t imageSize = 0;

    // The list's format. For an Enigma2 or VDR list `records` counts the
    // services converted, and `list` says what became of the others.
    ListReport list;
};

// Calls come from the job's thread and must return promptly. Every call has
// an empty default, so a host implements only what it shows.
class IJobEvents {
public:
    virtual ~IJobEvents() = default;
    virtual void OnPhase(JobPhase /*phase*/) {}
    // After a conversion that produced an image (also one then refused for type Code).
    virtual void OnConversionReport(const ConversionReport& /*report*/) {}
    // Once the file to send is open, before the job waits for the receiver.
    virtual void OnPlan(const TransferPlan& /*plan*/) {}
    // After each acknowledged block.
    virtual void OnBytesSent(std::uint64_t /*sent*/, std::uint64_t /*total*/) {}
    // Once per acknowledgement wait, when the receiver has said nothing for
    // `silentFor`. The wait goes on.
    virtual void OnReceiverSilent(std::chrono::milliseconds /*silentFor*/) {}
    // Something the host should know that is not a message box, in plain words.
    virtual void OnNotice(const std::string& /*text*/) {}
    // The job is over, whichever way it ended, and its controller is idle
    // again: the last call of every job, Custom included.
    virtual void OnEnded() {}
};

// A host with nothing to show.
inline IJobEvents& NoJobEvents() {
    static IJobEvents none;
    return none;
}

}  // namespace velmora
