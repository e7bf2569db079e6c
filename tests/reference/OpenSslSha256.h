// OpenSSL's SHA-256, the independent reference that the tests and the benchmarks hold the
// program's own against (the program itself never uses OpenSSL). Digests are given as the
// program gives them: 64 upper-case hexadecimal digits.
#pragma once

#include <cstddef>
#include <openssl/evp.h>
#include <stdexcept>
#include <string>

namespace Reference {

// A digest over data handed in pieces.
class TOpenSslSha256 {
public:
    TOpenSslSha256() : Context(EVP_MD_CTX_new()) {
        if (Context == nullptr || EVP_DigestInit_ex(Context, EVP_sha256(), nullptr) != 1) {
            EVP_MD_CTX_free(Context);
            throw std::runtime_error("OpenSSL's SHA-256 is not available.");
        }
    }
    ~TOpenSslSha256() { EVP_MD_CTX_free(Context); }
    TOpenSslSha256(const TOpenSslSha256&) = delete;
    TOpenSslSha256& operator=(const TOpenSslSha256&) = delete;

    void Update(const void* data, std::size_t size) {
        if (EVP_DigestUpdate(Context, data, size) != 1)
            throw std::runtime_error("OpenSSL's SHA-256 failed.");
    }
    // The digest of everything handed in; the object is done afterwards.
    std::string Text() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(Context, digest, &length) != 1)
            throw std::runtime_error("OpenSSL's SHA-256 failed.");
        static constexpr char Digits[] = "0123456789ABCDEF";
        std::string text;
        for (unsigned int i = 0; i < length; ++i) {
            text += Digits[digest[i] >> 4];
            text += Digits[digest[i] & 15];
        }
        return text;
    }

private:
    EVP_MD_CTX* Context;
};

inline std::string OpenSslSha256(const void* data, std::size_t size) {
    TOpenSslSha256 digest;
    digest.Update(data, size);
    return digest.Text();
}

inline std::string OpenSslSha256(const std::string& bytes) {
    return OpenSslSha256(bytes.data(), bytes.size());
}

} // namespace Reference
