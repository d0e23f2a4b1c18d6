#include "base/Sha256.h"

#include <vector>

#include "base/InputFile.h"

namespace velmora {

std::string Sha256::Hex() {
    std::uint8_t digest[32];
    if (!Final(digest)) {
        return {};
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

std::string Sha256Hex(std::string_view bytes) {
    Sha256 digest;
    digest.Update(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return digest.Hex();
}

std::string Sha256OfFile(const std::string& path, std::string& error) {
    InputFile file;
    if (!file.Open(path)) {
        error = file.Error();
        return {};
    }
    Sha256 digest;
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (;;) {
        const std::size_t got = file.Read(buffer.data(), buffer.size());
        digest.Update(buffer.data(), got);
        if (got < buffer.size()) {
            break;
        }
    }
    if (file.ReadFailed()) {
        error = "the file could not be read to the end";
        return {};
    }
    std::string hex = digest.Hex();
    if (hex.empty()) {
        error = "the system's SHA-256 digest failed";
    }
    return hex;
}

}  // namespace velmora
