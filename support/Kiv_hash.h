// Hash functions: the abstract THashFunction and its SHA-256 implementation.
#pragma once

#include "Kiv_autopointers.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace Kiv_hash {

// Two numbers mixed into one, every bit of each reaching every bit of the result
// (splitmix64's finaliser over their sum): for fingerprints and check values, not against
// an attacker.
inline std::uint64_t Mix64(std::uint64_t a, std::uint64_t b) {
    std::uint64_t x = a + 0x9E3779B97F4A7C15ull * (b + 1);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

class THashFunction {
public:
    virtual ~THashFunction() = default;
    // The text of the hash of every byte fed since the last reset; changes nothing.
    virtual std::string GetValue() const = 0;
    // Feeds size bytes; 0 does nothing.
    virtual void Update(const void* data, std::int32_t size) = 0;
    virtual void Reset() = 0;
    // GetValue, then Reset.
    virtual std::string TakeValue();
};

// Which compression function a TSha256HashFunction runs. The program always uses
// sbAutomatic (the processor's SHA instructions when it has them, else the portable
// code); the other two exist for the tests and the benchmarks, which run the same
// data through each path.
enum class TSha256Backend : std::uint8_t {
    sbAutomatic,      // SHA instructions when present, else portable
    sbPortable,       // plain C++, on every processor
    sbShaInstructions // x86 SHA extensions (SHA-NI); only where Sha256ShaInstructionsAvailable()
};

// True when this processor has the x86 SHA extensions (and SSE4.1) that
// sbShaInstructions needs.
bool Sha256ShaInstructionsAvailable();

// The SHA-256 state: the byte count, the eight chaining values and the unfinished block.
struct TSha256Context {
    std::uint64_t Count;      // bytes fed so far
    std::uint32_t State[8];   // chaining values H0..H7
    unsigned char Buffer[64]; // the first Count % 64 bytes of the unfinished block
};

// SHA-256 of FIPS 180-4. GetValue gives 64 upper-case hexadecimal digits.
class TSha256HashFunction : public THashFunction {
public:
    // The backend is for tests and benchmarks; asking for sbShaInstructions on a
    // processor without them raises Kiv_framework::EInvalidOperation.
    explicit TSha256HashFunction(TSha256Backend backend = TSha256Backend::sbAutomatic);
    ~TSha256HashFunction() override;
    TSha256HashFunction(const TSha256HashFunction&) = delete;
    TSha256HashFunction& operator=(const TSha256HashFunction&) = delete;

    std::string GetValue() const override;
    // A negative size raises Kiv_framework::ERangeError.
    void Update(const void* data, std::int32_t size) override;
    void Reset() override;

    // The 32-byte digest of the bytes fed so far (the binary form of GetValue).
    void GetDigest(unsigned char digest[32]) const;
    // The backend actually in use: never sbAutomatic.
    TSha256Backend Backend() const;

private:
    // Runs the compression function over blocks consecutive 64-byte blocks of data,
    // read in place.
    using TCompressFunction = void (*)(std::uint32_t state[8], const unsigned char* data,
                                       std::size_t blocks);

    TSha256Backend ActiveBackend;
    TCompressFunction Compress;
    Kiv_autopointers::TAutoPointer<TSha256Context> Context;
};

} // namespace Kiv_hash
