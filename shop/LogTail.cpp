#include "shop/LogTail.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <system_error>

#include "shop/JobIdentity.h"

namespace velmora::shop {

namespace {

// The log's bytes from `offset` on; from 0 when the byte before `offset` does
// not end a line (another file now has the name).
std::string ReadFrom(std::ifstream& in, std::uint64_t& offset) {
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(in.tellg());
    if (offset > size) {
        offset = 0;
    }
    if (offset > 0) {
        in.seekg(static_cast<std::streamoff>(offset - 1));
        if (in.get() != '\n') {
            offset = 0;
        }
    }
    in.seekg(static_cast<std::streamoff>(offset));
    std::ostringstream rest;
    rest << in.rdbuf();
    return rest.str();
}

}  // namespace

LogTail ReadLogTail(const std::string& logPath, std::uint64_t offset, const std::string& bench) {
    LogTail tail;
    std::ifstream in(logPath, std::ios::binary);
    if (!in) {
        return tail;
    }
    const std::string text = ReadFrom(in, offset);
    tail.start = offset;
    tail.end = offset;
    for (std::size_t at = 0;;) {
        const std::size_t newline = text.find('\n', at);
        if (newline == std::string::npos) {
            break;  // a line still being written
        }
        const std::string line = text.substr(at, newline - at);
        at = newline + 1;
        tail.end = offset + at;
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        LoggedJob job;
        if (!JobRecordFromJson(line, job.record)) {
            ++tail.unreadable;
            continue;
        }
        if (job.record.jobId.empty()) {
            job.record.jobId = JobIdOfLine(line);
        }
        if (job.record.bench.empty()) {
            job.record.bench = bench;
        }
        job.end = tail.end;
        tail.jobs.push_back(std::move(job));
    }
    return tail;
}

std::string SendStatePath(const std::string& logPath) {
    return logPath + ".shop-state";
}

SendState LoadSendState(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    SendState state;
    if (!in) {
        return state;
    }
    const Json object = Json::parse(in, nullptr, false);
    if (object.is_object() && object.value("target", Json()).is_string() &&
        object.value("offset", Json()).is_number_unsigned()) {
        state.target = object["target"].get<std::string>();
        state.offset = object["offset"].get<std::uint64_t>();
    }
    return state;
}

bool SaveSendState(const std::string& path, const SendState& state, std::string& error) {
    // Written beside it under a name of its own, then put in its place, so
    // that a reader never sees half a file, nor do two programs mix theirs.
    const std::string temporary = path + "." + std::to_string(std::random_device{}()) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << JsonLine(Json{{"target", state.target}, {"offset", state.offset}}) << "\n";
        if (!out.flush()) {
            error = "the state file " + temporary + " could not be written";
            return false;
        }
    }
    std::error_code failure;
    std::filesystem::rename(temporary, path, failure);
    if (failure) {
        std::filesystem::remove(temporary, failure);
        error = "the state file " + path + " could not be replaced: " + failure.message();
        return false;
    }
    return true;
}

}  // namespace velmora::shop
