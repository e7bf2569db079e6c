// Throughput of the program's own SHA-256 on 1 MiB buffers: the default path (the SHA
// instructions where the processor has them), the portable path, and OpenSSL's SHA-256
// through EVP as the yardstick, all measured in the same run, interleaved, best of
// several. OpenSSL is used here only, never by the program.
#include "Kiv_hash.h"
#include "OpenSslSha256.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

using Kiv_hash::TSha256Backend;
using Kiv_hash::TSha256HashFunction;

namespace {

constexpr std::size_t BufferSize = 1 << 20; // 1 MiB per Update

double Seconds(const std::function<void()>& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count();
}

// Hashes buffers of 1 MiB, repeats times, as one message.
std::string OwnHash(TSha256Backend backend, const std::vector<unsigned char>& buffer, int repeats) {
    TSha256HashFunction hash(backend);
    for (int i = 0; i < repeats; ++i)
        hash.Update(buffer.data(), static_cast<std::int32_t>(buffer.size()));
    return hash.GetValue();
}

std::string OpenSslHash(const std::vector<unsigned char>& buffer, int repeats) {
    Reference::TOpenSslSha256 hash;
    for (int i = 0; i < repeats; ++i)
        hash.Update(buffer.data(), buffer.size());
    return hash.Text();
}

const char* BackendName(TSha256Backend backend) {
    return backend == TSha256Backend::sbShaInstructions ? "SHA instructions" : "portable";
}

} // namespace

int main() {
    std::vector<unsigned char> buffer(BufferSize);
    std::mt19937 random(42);
    for (auto& byte : buffer)
        byte = static_cast<unsigned char>(random());

    const TSha256Backend defaultBackend = TSha256HashFunction().Backend();
    const int repeats = 64; // 64 MiB per timing for the fast paths
    const int portableRepeats = 16;
    const int rounds = 9; // best of 9, the three measured in turn in every round
    const double bytes = double(BufferSize) * repeats;
    const double portableBytes = double(BufferSize) * portableRepeats;

    // The digests must agree before any figure means anything.
    const std::string reference = OpenSslHash(buffer, 2);
    if (OwnHash(defaultBackend, buffer, 2) != reference ||
        OwnHash(TSha256Backend::sbPortable, buffer, 2) != reference) {
        std::fprintf(stderr, "The digests differ from OpenSSL's.\n");
        return 1;
    }

    double own = 1e300, portable = 1e300, openssl = 1e300;
    std::string sink;
    OwnHash(defaultBackend, buffer, repeats); // warm-up
    OpenSslHash(buffer, repeats);
    for (int round = 0; round < rounds; ++round) {
        own = std::min(own, Seconds([&] { sink = OwnHash(defaultBackend, buffer, repeats); }));
        openssl = std::min(openssl, Seconds([&] { sink = OpenSslHash(buffer, repeats); }));
        portable = std::min(portable, Seconds([&] {
                                sink = OwnHash(TSha256Backend::sbPortable, buffer, portableRepeats);
                            }));
    }

    const double ownRate = bytes / own / 1e9;
    const double opensslRate = bytes / openssl / 1e9;
    const double portableRate = portableBytes / portable / 1e9;
    std::printf("own SHA-256, default path (%s): %.3f GB/s\n", BackendName(defaultBackend),
                ownRate);
    std::printf("own SHA-256, portable path: %.3f GB/s\n", portableRate);
    std::printf("OpenSSL SHA-256 (EVP): %.3f GB/s\n", opensslRate);
    std::printf("(1 MiB per Update, %d MiB per timing, %d MiB for the portable path, best of %d; "
                "target ratio >= 0.95)\n",
                repeats, portableRepeats, rounds);
    std::printf("sha256: own %.3f GB/s, openssl %.3f GB/s, ratio %.3f\n", ownRate, opensslRate,
                ownRate / opensslRate);
    return 0;
}
