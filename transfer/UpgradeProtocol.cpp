#include "transfer/UpgradeProtocol.h"

namespace velmora {

std::array<std::uint8_t, 12> UpgradeHeader::Bytes() const {
    std::array<std::uint8_t, 12> out{};
    const std::uint32_t fields[3] = {dwOffset, dwLength, dwChecksum};
    for (std::size_t f = 0; f < 3; ++f) {
        for (std::size_t b = 0; b < 4; ++b) {
            out[f * 4 + b] = static_cast<std::uint8_t>(fields[f] >> (8 * b));
        }
    }
    return out;
}

std::uint32_t WordSum16(const std::uint8_t* data, std::uint32_t count) {
    std::uint32_t sum = 0;
    const std::uint32_t pairs = count / 2;
    for (std::uint32_t k = 0; k < pairs; ++k) {
        sum += static_cast<std::uint32_t>(data[2 * k]) |
               (static_cast<std::uint32_t>(data[2 * k + 1]) << 8);
    }
    return sum;
}

}  // namespace velmora
