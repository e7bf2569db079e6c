#include "Kiv_hash.h"

#include "Kiv_framework.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define KIV_HASH_X86 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define KIV_HASH_X86 0
#endif

namespace Kiv_hash {

std::string THashFunction::TakeValue() {
    std::string value = GetValue();
    Reset();
    return value;
}

namespace {

alignas(64) constexpr std::uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t InitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// ---------------------------------------------------------------------------------------
// The portable path: plain C++, the 64 rounds unrolled, the message schedule kept in a
// rolling window of 16 words.

inline std::uint32_t Rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

inline std::uint32_t LoadBigEndian(const unsigned char* p) {
    std::uint32_t value;
    std::memcpy(&value, p, 4);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return __builtin_bswap32(value);
#else
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
#endif
}

inline void StoreBigEndian(unsigned char* p, std::uint32_t value) {
    p[0] = static_cast<unsigned char>(value >> 24);
    p[1] = static_cast<unsigned char>(value >> 16);
    p[2] = static_cast<unsigned char>(value >> 8);
    p[3] = static_cast<unsigned char>(value);
}

#define KIV_SIGMA0(x) (Rotr(x, 2) ^ Rotr(x, 13) ^ Rotr(x, 22))
#define KIV_SIGMA1(x) (Rotr(x, 6) ^ Rotr(x, 11) ^ Rotr(x, 25))
#define KIV_GAMMA0(x) (Rotr(x, 7) ^ Rotr(x, 18) ^ ((x) >> 3))
#define KIV_GAMMA1(x) (Rotr(x, 17) ^ Rotr(x, 19) ^ ((x) >> 10))
#define KIV_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define KIV_MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))

// One round; the caller rotates the roles of a..h by naming them.
#define KIV_ROUND(a, b, c, d, e, f, g, h, k, w)                                                    \
    do {                                                                                           \
        const std::uint32_t t1 = h + KIV_SIGMA1(e) + KIV_CH(e, f, g) + (k) + (w);                  \
        d += t1;                                                                                   \
        h = t1 + KIV_SIGMA0(a) + KIV_MAJ(a, b, c);                                                 \
    } while (0)

// The schedule step for word i >= 16, in the window W[i % 16].
#define KIV_SCHEDULE(i)                                                                            \
    (W[(i)&15] += KIV_GAMMA1(W[((i)-2) & 15]) + W[((i)-7) & 15] + KIV_GAMMA0(W[((i)-15) & 15]))

#define KIV_ROUNDS8_LOAD(i)                                                                        \
    KIV_ROUND(a, b, c, d, e, f, g, h, K[(i) + 0],                                                  \
              W[(i) + 0] = LoadBigEndian(data + 4 * ((i) + 0)));                                   \
    KIV_ROUND(h, a, b, c, d, e, f, g, K[(i) + 1],                                                  \
              W[(i) + 1] = LoadBigEndian(data + 4 * ((i) + 1)));                                   \
    KIV_ROUND(g, h, a, b, c, d, e, f, K[(i) + 2],                                                  \
              W[(i) + 2] = LoadBigEndian(data + 4 * ((i) + 2)));                                   \
    KIV_ROUND(f, g, h, a, b, c, d, e, K[(i) + 3],                                                  \
              W[(i) + 3] = LoadBigEndian(data + 4 * ((i) + 3)));                                   \
    KIV_ROUND(e, f, g, h, a, b, c, d, K[(i) + 4],                                                  \
              W[(i) + 4] = LoadBigEndian(data + 4 * ((i) + 4)));                                   \
    KIV_ROUND(d, e, f, g, h, a, b, c, K[(i) + 5],                                                  \
              W[(i) + 5] = LoadBigEndian(data + 4 * ((i) + 5)));                                   \
    KIV_ROUND(c, d, e, f, g, h, a, b, K[(i) + 6],                                                  \
              W[(i) + 6] = LoadBigEndian(data + 4 * ((i) + 6)));                                   \
    KIV_ROUND(b, c, d, e, f, g, h, a, K[(i) + 7], W[(i) + 7] = LoadBigEndian(data + 4 * ((i) + 7)))

#define KIV_ROUNDS8(i)                                                                             \
    KIV_ROUND(a, b, c, d, e, f, g, h, K[(i) + 0], KIV_SCHEDULE((i) + 0));                          \
    KIV_ROUND(h, a, b, c, d, e, f, g, K[(i) + 1], KIV_SCHEDULE((i) + 1));                          \
    KIV_ROUND(g, h, a, b, c, d, e, f, K[(i) + 2], KIV_SCHEDULE((i) + 2));                          \
    KIV_ROUND(f, g, h, a, b, c, d, e, K[(i) + 3], KIV_SCHEDULE((i) + 3));                          \
    KIV_ROUND(e, f, g, h, a, b, c, d, K[(i) + 4], KIV_SCHEDULE((i) + 4));                          \
    KIV_ROUND(d, e, f, g, h, a, b, c, K[(i) + 5], KIV_SCHEDULE((i) + 5));                          \
    KIV_ROUND(c, d, e, f, g, h, a, b, K[(i) + 6], KIV_SCHEDULE((i) + 6));                          \
    KIV_ROUND(b, c, d, e, f, g, h, a, K[(i) + 7], KIV_SCHEDULE((i) + 7))

void CompressPortable(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (; blocks != 0; --blocks, data += 64) {
        std::uint32_t W[16];
        KIV_ROUNDS8_LOAD(0);
        KIV_ROUNDS8_LOAD(8);
        KIV_ROUNDS8(16);
        KIV_ROUNDS8(24);
        KIV_ROUNDS8(32);
        KIV_ROUNDS8(40);
        KIV_ROUNDS8(48);
        KIV_ROUNDS8(56);
        a = state[0] += a;
        b = state[1] += b;
        c = state[2] += c;
        d = state[3] += d;
        e = state[4] += e;
        f = state[5] += f;
        g = state[6] += g;
        h = state[7] += h;
    }
}

#undef KIV_ROUNDS8
#undef KIV_ROUNDS8_LOAD
#undef KIV_SCHEDULE
#undef KIV_ROUND
#undef KIV_MAJ
#undef KIV_CH
#undef KIV_GAMMA1
#undef KIV_GAMMA0
#undef KIV_SIGMA1
#undef KIV_SIGMA0

// ---------------------------------------------------------------------------------------
// The SHA-instruction path (x86 SHA extensions). The state lives in two registers,
// ABEF and CDGH, across all blocks of a call; each group of four rounds takes one
// register of message words, and the schedule runs with sha256msg1/sha256msg2 alongside
// the rounds. Compiled for the SHA target alone, so the unit needs no global -msha.

#if KIV_HASH_X86

#define KIV_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Four rounds with the message words of register M (already scheduled) and constants k.
#define KIV_SHA_ROUNDS4(M, k)                                                                      \
    do {                                                                                           \
        __m128i msg = _mm_add_epi32(M, _mm_load_si128(reinterpret_cast<const __m128i*>(K + (k)))); \
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);                                             \
        msg = _mm_shuffle_epi32(msg, 0x0E);                                                        \
        abef = _mm_sha256rnds2_epu32(abef, cdgh, msg);                                             \
    } while (0)

// Four rounds with the current words Mc = W[j], and the schedule: the next group's
// register Mn (holding msg1 of its words 16 and 15 back) is completed into W[j+1], and
// the previous register Mp starts the group three ahead.
#define KIV_SHA_ROUNDS4_SCHEDULE(Mc, Mp, Mn, k, StartAhead)                                        \
    do {                                                                                           \
        __m128i msg =                                                                              \
            _mm_add_epi32(Mc, _mm_load_si128(reinterpret_cast<const __m128i*>(K + (k))));          \
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);                                             \
        Mn = _mm_sha256msg2_epu32(_mm_add_epi32(Mn, _mm_alignr_epi8(Mc, Mp, 4)), Mc);              \
        msg = _mm_shuffle_epi32(msg, 0x0E);                                                        \
        abef = _mm_sha256rnds2_epu32(abef, cdgh, msg);                                             \
        if (StartAhead)                                                                            \
            Mp = _mm_sha256msg1_epu32(Mp, Mc);                                                     \
    } while (0)

KIV_SHA_TARGET void CompressShaInstructions(std::uint32_t state[8], const unsigned char* data,
                                            std::size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    // state is H0..H7; the instructions want ABEF and CDGH with A in the high lane.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks != 0; --blocks, data += 64) {
        const __m128i abefSaved = abef;
        const __m128i cdghSaved = cdgh;
        const __m128i* block = reinterpret_cast<const __m128i*>(data);
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(block + 0), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(block + 1), byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(block + 2), byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(block + 3), byteSwap);

        KIV_SHA_ROUNDS4(m0, 0);
        KIV_SHA_ROUNDS4(m1, 4);
        m0 = _mm_sha256msg1_epu32(m0, m1);
        KIV_SHA_ROUNDS4(m2, 8);
        m1 = _mm_sha256msg1_epu32(m1, m2);
        KIV_SHA_ROUNDS4_SCHEDULE(m3, m2, m0, 12, true);  // W4
        KIV_SHA_ROUNDS4_SCHEDULE(m0, m3, m1, 16, true);  // W5
        KIV_SHA_ROUNDS4_SCHEDULE(m1, m0, m2, 20, true);  // W6
        KIV_SHA_ROUNDS4_SCHEDULE(m2, m1, m3, 24, true);  // W7
        KIV_SHA_ROUNDS4_SCHEDULE(m3, m2, m0, 28, true);  // W8
        KIV_SHA_ROUNDS4_SCHEDULE(m0, m3, m1, 32, true);  // W9
        KIV_SHA_ROUNDS4_SCHEDULE(m1, m0, m2, 36, true);  // W10
        KIV_SHA_ROUNDS4_SCHEDULE(m2, m1, m3, 40, true);  // W11
        KIV_SHA_ROUNDS4_SCHEDULE(m3, m2, m0, 44, true);  // W12
        KIV_SHA_ROUNDS4_SCHEDULE(m0, m3, m1, 48, true);  // W13
        KIV_SHA_ROUNDS4_SCHEDULE(m1, m0, m2, 52, false); // W14
        KIV_SHA_ROUNDS4_SCHEDULE(m2, m1, m3, 56, false); // W15
        KIV_SHA_ROUNDS4(m3, 60);

        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

#undef KIV_SHA_ROUNDS4_SCHEDULE
#undef KIV_SHA_ROUNDS4
#undef KIV_SHA_TARGET

bool DetectShaInstructions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool ssse3 = (ecx & bit_SSSE3) != 0;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const bool sha = (ebx & bit_SHA) != 0;
    return ssse3 && sse41 && sha;
}

#else

bool DetectShaInstructions() {
    return false;
}

#endif

} // namespace

bool Sha256ShaInstructionsAvailable() {
    static const bool available = DetectShaInstructions();
    return available;
}

TSha256HashFunction::TSha256HashFunction(TSha256Backend backend) {
    if (backend == TSha256Backend::sbAutomatic)
        backend = Sha256ShaInstructionsAvailable() ? TSha256Backend::sbShaInstructions
                                                   : TSha256Backend::sbPortable;
    if (backend == TSha256Backend::sbShaInstructions) {
#if KIV_HASH_X86
        if (!Sha256ShaInstructionsAvailable())
            throw Kiv_framework::EInvalidOperation(
                "The program cannot use the SHA instructions, which this processor lacks.");
        Compress = CompressShaInstructions;
#else
        throw Kiv_framework::EInvalidOperation(
            "The program cannot use the SHA instructions, which this processor lacks.");
#endif
    } else {
        Compress = CompressPortable;
    }
    ActiveBackend = backend;
    Context = std::make_unique<TSha256Context>();
    Reset();
}

TSha256HashFunction::~TSha256HashFunction() = default;

TSha256Backend TSha256HashFunction::Backend() const {
    return ActiveBackend;
}

void TSha256HashFunction::Reset() {
    Context->Count = 0;
    std::memcpy(Context->State, InitialState, sizeof(InitialState));
}

void TSha256HashFunction::Update(const void* data, std::int32_t size) {
    if (size < 0)
        throw Kiv_framework::ERangeError("The program cannot hash a negative number of bytes.");
    if (size == 0)
        return;
    TSha256Context& context = *Context;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::size_t remaining = static_cast<std::size_t>(size);
    std::size_t used = static_cast<std::size_t>(context.Count & 63);
    context.Count += remaining;

    if (used != 0) {
        const std::size_t take = remaining < 64 - used ? remaining : 64 - used;
        std::memcpy(context.Buffer + used, bytes, take);
        used += take;
        bytes += take;
        remaining -= take;
        if (used < 64)
            return;
        Compress(context.State, context.Buffer, 1);
    }
    if (remaining >= 64) {
        // Whole blocks straight from the caller's buffer.
        const std::size_t blocks = remaining / 64;
        Compress(context.State, bytes, blocks);
        bytes += blocks * 64;
        remaining -= blocks * 64;
    }
    if (remaining != 0)
        std::memcpy(context.Buffer, bytes, remaining);
}

void TSha256HashFunction::GetDigest(unsigned char digest[32]) const {
    TSha256Context copy = *Context;
    const std::size_t used = static_cast<std::size_t>(copy.Count & 63);
    const std::uint64_t bits = copy.Count << 3;

    copy.Buffer[used] = 0x80;
    if (used + 1 > 56) {
        std::memset(copy.Buffer + used + 1, 0, 64 - (used + 1));
        Compress(copy.State, copy.Buffer, 1);
        std::memset(copy.Buffer, 0, 56);
    } else {
        std::memset(copy.Buffer + used + 1, 0, 56 - (used + 1));
    }
    StoreBigEndian(copy.Buffer + 56, static_cast<std::uint32_t>(bits >> 32));
    StoreBigEndian(copy.Buffer + 60, static_cast<std::uint32_t>(bits));
    Compress(copy.State, copy.Buffer, 1);

    for (int i = 0; i < 8; ++i)
        StoreBigEndian(digest + 4 * i, copy.State[i]);
}

std::string TSha256HashFunction::GetValue() const {
    static constexpr char Digits[] = "0123456789ABCDEF";
    unsigned char digest[32];
    GetDigest(digest);
    std::string text(64, '0');
    for (std::size_t i = 0; i < sizeof digest; ++i) {
        text[2 * i] = Digits[digest[i] >> 4];
        text[2 * i + 1] = Digits[digest[i] & 15];
    }
    return text;
}

} // namespace Kiv_hash
