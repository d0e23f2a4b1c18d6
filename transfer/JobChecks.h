// Checks a front end makes before it opens the port, so that a job that is
// wrong or cannot be done is refused before a byte is sent or written: a
// missing file or a folder, upgrade type Custom, a file whose content does
// not fit how it would be used, and a conversion that cannot be made.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/JobSettings.h"
#include "sdx/ConversionChain.h"

namespace velmora {

enum class JobProblem {
    FileMissing,     // nothing at the path (the text is the Start command's own)
    IsFolder,        // the path names a folder
    NotAFile,        // the path names a pipe, a device or a socket
    NothingToSend,   // upgrade type Custom
    NotSatcodx,      // a channel list (.sdx name) whose content is not SATCODX: forceable
    ListAsImage,     // a SATCODX list that would be sent as an image: forceable
    ListLineLength,  // a SATCODX list whose first line is neither 128 nor 133 bytes long
                     // (CR LF line ends, a stray line feed): forceable, read as 128
    ListVersion,     // an Enigma2 list of a version the reader does not know: forceable
    ListChoice,      // a choice of services or a satellites.xml that does not fit the list
    DatabaseAsCode,  // a channel database image that would be flashed as the program: forceable
    EmptyCode,       // an empty file as the program: forceable
    TooLarge,        // longer than the header's length field can announce
    Conversion,      // the conversion cannot be made: see `conversion`
};

struct JobCheck {
    JobProblem problem = JobProblem::FileMissing;
    std::string fact;    // what is wrong
    std::string advice;  // what to do; may be empty
    ConversionProblem conversion = ConversionProblem::None;

    // A technician who knows better may go on all the same.
    bool Forceable() const {
        return problem == JobProblem::NotSatcodx || problem == JobProblem::ListAsImage ||
               problem == JobProblem::ListLineLength || problem == JobProblem::ListVersion ||
               problem == JobProblem::DatabaseAsCode || problem == JobProblem::EmptyCode;
    }
    std::string Message() const { return advice.empty() ? fact : fact + " " + advice; }
};

// Every problem of the job in `settings` (strFilePath, the upgrade type, the
// limits, the list choice and the working folder), in the order a technician
// meets them; empty when the job may start. The first problem that cannot be
// forced is the last one listed. The file is taken for a channel list when
// its name or its content says so, as the worker takes it.
std::vector<JobCheck> CheckJob(const JobSettings& settings);

// The SATCODX list at `path` when its records cannot be found: its first
// line is neither 128 nor 133 bytes long. The dialog refuses such a list with
// the same words. Nothing for an Enigma2 or VDR list.
std::optional<JobCheck> CheckListLineLength(const std::string& path);

// The check that the Start command itself makes, for every front end: a
// channel database image (as `inspect` recognises one) sent with upgrade type
// Code would be flashed into the receiver's program area. Nothing for a
// channel list, which is converted, nor for the other types.
std::optional<JobCheck> CheckDatabaseAsCode(const JobSettings& settings);

// The most bytes a transfer can announce: the header's length is 32 bits.
inline constexpr std::uint64_t kLargestTransfer = 0xFFFFFFFFULL;

// The same for a conversion on its own (no port, no transfer): the file is a
// channel list whatever its name.
std::vector<JobCheck> CheckConversionJob(const JobSettings& settings);

}  // namespace velmora
