// SHA-256 of the bytes a job sends, for the job log: by the system's own
// cryptography library (OpenSSL's libcrypto on Linux, CNG on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

// One running digest. Feed it with Update, then read Hex once.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const std::uint8_t* data, std::size_t count);
    // The digest as 64 lowercase hex digits; ends the digest. Empty when
    // the system's library could not compute it.
    std::string Hex();

private:
    // The 32 bytes of the digest; ends the digest. False when the library
    // failed at any step.
    bool Final(std::uint8_t (&digest)[32]);

    struct State;
    std::unique_ptr<State> m_state;
};

// The digest of `bytes`, lowercase hex.
std::string Sha256Hex(std::string_view bytes);

// The digest of the file at `path`, read in pieces. Empty, with `error` set,
// when the file cannot be opened or read.
std::string Sha256OfFile(const std::string& path, std::string& error);

}  // namespace velmora
