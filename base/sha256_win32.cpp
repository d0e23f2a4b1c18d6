// SHA-256 through Windows' CNG (BCrypt).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include "base/Sha256.h"

namespace velmora {

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    m_state->ok = BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(
                      &m_state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
                  BCRYPT_SUCCESS(::BCryptCreateHash(m_state->algorithm, &m_state->hash, nullptr, 0,
                                                    nullptr, 0, 0));
}

Sha256::~Sha256() {
    if (m_state->hash != nullptr) {
        ::BCryptDestroyHash(m_state->hash);
    }
    if (m_state->algorithm != nullptr) {
        ::BCryptCloseAlgorithmProvider(m_state->algorithm, 0);
    }
}

void Sha256::Update(const std::uint8_t* data, std::size_t count) {
    // BCryptHashData takes a 32-bit length: large buffers go in pieces.
    while (m_state->ok && count != 0) {
        const ULONG piece = static_cast<ULONG>(count < 0x40000000U ? count : 0x40000000U);
        m_state->ok =
            BCRYPT_SUCCESS(::BCryptHashData(m_state->hash, const_cast<PUCHAR>(data), piece, 0));
        data += piece;
        count -= piece;
    }
}

bool Sha256::Final(std::uint8_t (&digest)[32]) {
    return m_state->ok &&
           BCRYPT_SUCCESS(::BCryptFinishHash(m_state->hash, digest, sizeof digest, 0));
}

}  // namespace velmora
