#include "shop/JobIdentity.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>

#include "base/Sha256.h"
#include "shop/ShopPlatform.h"
#include "velmora/Version.h"

namespace velmora::shop {

namespace {

// 16 bytes as a UUID of the given version (RFC 9562 variant).
std::string UuidText(std::array<std::uint8_t, 16> bytes, unsigned version) {
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | (version << 4));
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        text += (i == 4 || i == 6 || i == 8 || i == 10) ? "-" : "";
        text += hex;
    }
    return text;
}

}  // namespace

std::string NewJobId() {
    // The system's random source, fresh for each id: ids of jobs on many
    // benches never meet.
    std::random_device source;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const std::uint32_t word = source();
        for (std::size_t k = 0; k < 4; ++k) {
            bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
        }
    }
    return UuidText(bytes, 4);
}

std::string JobIdOfLine(const std::string& line) {
    const std::string digest = Sha256Hex(line);
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(std::stoul(digest.substr(2 * i, 2), nullptr, 16));
    }
    return UuidText(bytes, 8);
}

std::string BenchName(const std::string& given) {
    return given.empty() ? HostName() : given;
}

void StampJob(JobRecord& record, const std::string& bench) {
    if (record.jobId.empty()) {
        record.jobId = NewJobId();
    }
    record.bench = bench;
    record.toolVersion = kVersion;
}

}  // namespace velmora::shop
