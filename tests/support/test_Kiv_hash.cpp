#include "Kiv_framework.h"
#include "Kiv_hash.h"
#include "OpenSslSha256.h"
#include "TestFiles.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace Kiv_hash;

using TestFiles::AbcDigest;
using TestFiles::EmptyDigest;

namespace {

// The published FIPS 180 example digests (NIST CSRC "SHA256.pdf", "SHA2_Additional").
const std::string Message448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string Message448Digest =
    "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1";
const std::string Message896 = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
                               "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
const std::string Message896Digest =
    "CF5B16A778AF8380036CE59E7B0492370B249B11E8F07A51AFAC45037AFEE9D1";
const std::string MillionADigest =
    "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0";

const char* BackendName(TSha256Backend backend) {
    switch (backend) {
    case TSha256Backend::sbAutomatic:
        return "Automatic";
    case TSha256Backend::sbPortable:
        return "Portable";
    case TSha256Backend::sbShaInstructions:
        return "ShaInstructions";
    }
    return "Unknown";
}

std::string Hash(TSha256Backend backend, const std::string& message) {
    TSha256HashFunction hash(backend);
    hash.Update(message.data(), static_cast<std::int32_t>(message.size()));
    return hash.GetValue();
}

std::string HashInPieces(TSha256Backend backend, const std::string& message, std::size_t piece) {
    TSha256HashFunction hash(backend);
    for (std::size_t at = 0; at < message.size(); at += piece) {
        const std::size_t size = std::min(piece, message.size() - at);
        hash.Update(message.data() + at, static_cast<std::int32_t>(size));
    }
    return hash.GetValue();
}

// OpenSSL as an independent reference.
std::string OpenSslHash(const unsigned char* data, std::size_t size) {
    return Reference::OpenSslSha256(data, size);
}

std::string PatternMessage(std::size_t size) {
    std::string message(size, '\0');
    std::uint32_t x = 12345;
    for (char& c : message) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return message;
}

// Every test below runs once per backend: the default choice, the portable code and the
// SHA instructions (skipped on a processor without them).
class Sha256Backends : public ::testing::TestWithParam<TSha256Backend> {
protected:
    void SetUp() override {
        if (GetParam() == TSha256Backend::sbShaInstructions && !Sha256ShaInstructionsAvailable())
            GTEST_SKIP() << "This processor has no SHA instructions (SHA-NI); the "
                            "SHA-instruction path cannot be tested here. The portable path "
                            "is tested.";
    }
    TSha256Backend Backend() const { return GetParam(); }
};

} // namespace

TEST_P(Sha256Backends, BackendInUse) {
    TSha256HashFunction hash(Backend());
    if (Backend() == TSha256Backend::sbAutomatic)
        EXPECT_EQ(hash.Backend(), Sha256ShaInstructionsAvailable()
                                      ? TSha256Backend::sbShaInstructions
                                      : TSha256Backend::sbPortable);
    else
        EXPECT_EQ(hash.Backend(), Backend());
}

TEST_P(Sha256Backends, EmptyMessage) {
    TSha256HashFunction hash(Backend());
    EXPECT_EQ(hash.GetValue(), EmptyDigest);
}

TEST_P(Sha256Backends, Abc) {
    EXPECT_EQ(Hash(Backend(), "abc"), AbcDigest);
}

TEST_P(Sha256Backends, TwoBlockMessages) {
    EXPECT_EQ(Hash(Backend(), Message448), Message448Digest);
    EXPECT_EQ(Hash(Backend(), Message896), Message896Digest);
}

TEST_P(Sha256Backends, OneMillionA) {
    const std::string message(1000000, 'a');
    EXPECT_EQ(Hash(Backend(), message), MillionADigest);
    // The same million fed one byte at a time.
    TSha256HashFunction hash(Backend());
    const char a = 'a';
    for (int i = 0; i < 1000000; ++i)
        hash.Update(&a, 1);
    EXPECT_EQ(hash.GetValue(), MillionADigest);
}

TEST_P(Sha256Backends, PiecesGiveTheSameDigestAsOneCall) {
    for (const std::size_t size : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 127u, 128u, 1000u, 100000u}) {
        const std::string message = PatternMessage(size);
        const std::string whole = Hash(Backend(), message);
        EXPECT_EQ(whole, OpenSslHash(reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size()))
            << "size " << size;
        for (const std::size_t piece : {1u, 63u, 64u, 65u, 32768u})
            EXPECT_EQ(HashInPieces(Backend(), message, piece), whole)
                << "size " << size << ", pieces of " << piece;
    }
    EXPECT_EQ(HashInPieces(Backend(), Message896, 1), Message896Digest);
    EXPECT_EQ(HashInPieces(Backend(), Message896, 63), Message896Digest);
    EXPECT_EQ(HashInPieces(Backend(), Message896, 65), Message896Digest);
}

TEST_P(Sha256Backends, UpdateWithSizeZeroDoesNothing) {
    TSha256HashFunction hash(Backend());
    hash.Update(nullptr, 0);
    EXPECT_EQ(hash.GetValue(), EmptyDigest);
    hash.Update("ab", 2);
    hash.Update("zzz", 0);
    hash.Update("c", 1);
    hash.Update(nullptr, 0);
    EXPECT_EQ(hash.GetValue(), AbcDigest);
}

TEST_P(Sha256Backends, NegativeSizeIsRefused) {
    TSha256HashFunction hash(Backend());
    EXPECT_THROW(hash.Update("abc", -1), Kiv_framework::ERangeError);
    EXPECT_EQ(hash.GetValue(), EmptyDigest);
}

TEST_P(Sha256Backends, GetValueChangesNothing) {
    TSha256HashFunction hash(Backend());
    EXPECT_EQ(hash.GetValue(), EmptyDigest);
    EXPECT_EQ(hash.GetValue(), EmptyDigest);
    hash.Update("a", 1);
    const std::string afterA = hash.GetValue();
    EXPECT_EQ(hash.GetValue(), afterA);
    hash.Update("bc", 2);
    EXPECT_EQ(hash.GetValue(), AbcDigest);
    EXPECT_EQ(hash.GetValue(), AbcDigest);
    // In the middle of a block and at a block boundary, GetValue leaves the running hash.
    TSha256HashFunction pieces(Backend());
    pieces.Update(Message448.data(), 30);
    (void)pieces.GetValue();
    pieces.Update(Message448.data() + 30, static_cast<std::int32_t>(Message448.size()) - 30);
    EXPECT_EQ(pieces.GetValue(), Message448Digest);
    const std::string block = PatternMessage(128);
    TSha256HashFunction atBoundary(Backend());
    atBoundary.Update(block.data(), 64);
    (void)atBoundary.GetValue();
    atBoundary.Update(block.data() + 64, 64);
    EXPECT_EQ(atBoundary.GetValue(), Hash(Backend(), block));
}

TEST_P(Sha256Backends, TakeValueResets) {
    TSha256HashFunction hash(Backend());
    hash.Update("abc", 3);
    EXPECT_EQ(hash.TakeValue(), AbcDigest);
    EXPECT_EQ(hash.GetValue(), EmptyDigest);
    hash.Update("abc", 3);
    EXPECT_EQ(hash.GetValue(), AbcDigest);
    hash.Reset();
    EXPECT_EQ(hash.GetValue(), EmptyDigest);
    THashFunction& base = hash;
    base.Update(Message448.data(), static_cast<std::int32_t>(Message448.size()));
    EXPECT_EQ(base.TakeValue(), Message448Digest);
    EXPECT_EQ(base.TakeValue(), EmptyDigest);
}

TEST_P(Sha256Backends, ValueIsUpperCaseHexadecimal) {
    const std::string value = Hash(Backend(), PatternMessage(77));
    ASSERT_EQ(value.size(), 64u);
    for (const char c : value)
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << value;
}

INSTANTIATE_TEST_SUITE_P(Kiv_hash, Sha256Backends,
                         ::testing::Values(TSha256Backend::sbAutomatic, TSha256Backend::sbPortable,
                                           TSha256Backend::sbShaInstructions),
                         [](const ::testing::TestParamInfo<TSha256Backend>& parameter) {
                             return std::string(BackendName(parameter.param));
                         });

TEST(Sha256, ShaInstructionsRefusedWhereAbsent) {
    if (Sha256ShaInstructionsAvailable())
        GTEST_SKIP() << "This processor has SHA instructions; nothing to refuse.";
    EXPECT_THROW(TSha256HashFunction hash(TSha256Backend::sbShaInstructions),
                 Kiv_framework::EInvalidOperation);
}

// Both paths against each other and against OpenSSL on many random lengths, each message
// fed in random pieces.
TEST(Sha256, PathsAgreeOnRandomMessages) {
    const bool shaInstructions = Sha256ShaInstructionsAvailable();
    if (!shaInstructions)
        std::cout << "[  NOTE    ] This processor has no SHA instructions (SHA-NI); only the "
                     "portable path is checked against OpenSSL.\n";
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> lengthOf(0, 5000);
    std::uniform_int_distribution<int> byteOf(0, 255);
    std::vector<unsigned char> message;
    for (int round = 0; round < 400; ++round) {
        const std::size_t length = round < 130 ? static_cast<std::size_t>(round)
                                               : static_cast<std::size_t>(lengthOf(random));
        message.resize(length);
        for (unsigned char& byte : message)
            byte = static_cast<unsigned char>(byteOf(random));
        const std::string reference = OpenSslHash(message.data(), message.size());

        TSha256HashFunction portable(TSha256Backend::sbPortable);
        std::unique_ptr<TSha256HashFunction> sha;
        if (shaInstructions)
            sha = std::make_unique<TSha256HashFunction>(TSha256Backend::sbShaInstructions);
        std::size_t at = 0;
        while (at < length) {
            std::uniform_int_distribution<std::size_t> pieceOf(0, length - at);
            // Mostly small pieces, sometimes everything left.
            std::size_t piece = pieceOf(random);
            if (random() % 4 != 0)
                piece = std::min<std::size_t>(piece, random() % 200);
            portable.Update(message.data() + at, static_cast<std::int32_t>(piece));
            if (sha)
                sha->Update(message.data() + at, static_cast<std::int32_t>(piece));
            at += piece;
        }
        EXPECT_EQ(portable.GetValue(), reference) << "length " << length;
        if (sha) {
            EXPECT_EQ(sha->GetValue(), reference) << "length " << length;
            EXPECT_EQ(sha->GetValue(), portable.GetValue()) << "length " << length;
        }
    }
}
