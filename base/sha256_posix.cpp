// SHA-256 through OpenSSL's libcrypto (EVP).
#include <openssl/evp.h>

#include "base/Sha256.h"

namespace velmora {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    bool ok = false;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    m_state->context = EVP_MD_CTX_new();
    m_state->ok = m_state->context != nullptr &&
                  EVP_DigestInit_ex(m_state->context, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(m_state->context);
}

void Sha256::Update(const std::uint8_t* data, std::size_t count) {
    if (m_state->ok && count != 0) {
        m_state->ok = EVP_DigestUpdate(m_state->context, data, count) == 1;
    }
}

bool Sha256::Final(std::uint8_t (&digest)[32]) {
    unsigned int length = 0;
    return m_state->ok && EVP_DigestFinal_ex(m_state->context, digest, &length) == 1 &&
           length == sizeof digest;
}

}  // namespace velmora
