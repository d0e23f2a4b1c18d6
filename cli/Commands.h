// The commands of velmora-cli, one file each. Each Setup...Command adds its
// command with its options to the program; when that command is the one
// given, it runs after parsing and leaves the program's exit status in
// `status`.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "base/JobSettings.h"

namespace velmora::cli {

// Settings shared by the commands that run a job, named after the dialog's
// settings and defaulting to the dialog's defaults.
struct JobOptions {
    DialogValues values;
    std::string port = "COM1";  // a COM name, a device path or "auto"
    std::string workDir;        // where conversions keep their working files
    double timeoutSeconds = 0;  // longest silence of the receiver; 0 waits for ever
    bool quiet = false;
    std::string progress = "auto";  // auto, bars, lines or json
    bool force = false;             // go on with a file that looks wrong for the job
    bool json = false;              // convert: the report as one JSON object
    std::string log;                // send: the job log to append the job's record to
    std::string record;             // the shop record's ODBC connection string
    std::string recordFile;         // or the file that holds it
    std::string bench;              // the bench's name in the shop record (default: host name)
    std::string file;
    ListChoice list;  // what an Enigma2 or VDR list gives the image (send, convert, station)
};

void SetupSendCommand(CLI::App& app, int& status);
void SetupConvertCommand(CLI::App& app, int& status);
void SetupInspectCommand(CLI::App& app, int& status);
void SetupPortsCommand(CLI::App& app, int& status);
void SetupStationCommand(CLI::App& app, int& status);
void SetupLogCommand(CLI::App& app, int& status);

}  // namespace velmora::cli
