#include "Kiv_memory.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t MB = std::size_t{1} << 20;

bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

// The smaps block of the mapping that holds address, as the kernel reports it.
std::string MappingOf(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto wanted = reinterpret_cast<std::uintptr_t>(address);
    std::string line;
    std::string block;
    bool inside = false;
    while (std::getline(smaps, line)) {
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> start >> dash >> end && dash == '-' &&
            line.find(':') > line.find(' ')) {
            if (inside)
                return block;
            inside = start <= wanted && wanted < end;
            block.clear();
        }
        if (inside)
            block += line + "\n";
    }
    return inside ? block : std::string();
}

// How many of the pages of [start, start + size) are in memory.
std::size_t ResidentPages(const char* start, std::size_t size) {
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(start) & ~std::uintptr_t{4095};
    std::vector<unsigned char> flags((size + 4095) / 4096 + 1);
    if (mincore(reinterpret_cast<void*>(first), size, flags.data()) != 0)
        return 0;
    std::size_t resident = 0;
    for (std::size_t i = 0; i < size / 4096; ++i)
        resident += flags[i] & 1u;
    return resident;
}

bool HugePagesKnown() {
    return std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled").good();
}

// With any allocator: the warmth is touched in steps up to its cap, held and given back.
TEST(KivMemory, WarmthIsTouchedInStepsUpToItsCapAndGivenBack) {
    using Kiv_memory::THeapWarmth;
    THeapWarmth warmth;
    EXPECT_EQ(warmth.Span().first, nullptr);
    warmth.WarmTo(10 * MB);
    EXPECT_EQ(warmth.Held(), THeapWarmth::StepBytes);
    std::size_t calls = 1;
    for (; warmth.Held() < 10 * MB && calls < 100; ++calls)
        warmth.WarmTo(10 * MB);
    EXPECT_EQ(warmth.Held(), 10 * MB);
    EXPECT_EQ(calls, (10 * MB + THeapWarmth::StepBytes - 1) / THeapWarmth::StepBytes);
    warmth.WarmTo(10 * MB); // enough already
    EXPECT_EQ(warmth.Held(), 10 * MB);
    for (std::size_t call = 0; call < 2 * THeapWarmth::MaxBytes / THeapWarmth::StepBytes; ++call)
        warmth.WarmTo(1000 * MB);
    EXPECT_EQ(warmth.Held(), THeapWarmth::MaxBytes);
    const auto [low, high] = warmth.Span();
    ASSERT_NE(low, nullptr);
    EXPECT_GE(static_cast<std::size_t>(high - low), THeapWarmth::BlockBytes);
    warmth.Release();
    EXPECT_EQ(warmth.Held(), 0u);
    EXPECT_EQ(warmth.Span().first, nullptr);
}

// One test: the reserve is made once per process, as the program makes it.
TEST(KivMemory,
     TheMainThreadsLaterBlocksComeFromTheReserveWhichFreeingKeepsAndWhichMayUseHugePages) {
#if !defined(__GLIBC__)
    GTEST_SKIP() << "the reserve is made in glibc's heap only";
#endif
    if (!HugePagesKnown())
        GTEST_SKIP() << "this kernel has no transparent huge pages";
    const Kiv_memory::THeapReserve reserve = Kiv_memory::ReserveLargePageHeap(64 * MB);
    if (Sanitized()) {
        // The sanitizer's allocator owns the heap: no reserve is made in it.
        EXPECT_EQ(reserve.Size(), 0u);
        return;
    }
    ASSERT_GE(reserve.Size(), 60 * MB);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(reserve.Start) % (2 * MB), 0u);
    EXPECT_LE(reserve.End, static_cast<const char*>(sbrk(0)));

    // Warmth given back: a block allocated after it is served from the memory it touched,
    // mapped already.
    Kiv_memory::THeapWarmth warmth;
    while (warmth.Held() < 10 * MB)
        warmth.WarmTo(10 * MB);
    const auto [low, high] = warmth.Span();
    ASSERT_NE(low, nullptr);
    EXPECT_EQ(ResidentPages(low, warmth.Held()), warmth.Held() / 4096);
    warmth.Release();
    char* const warm = static_cast<char*>(std::malloc(8 * MB));
    ASSERT_NE(warm, nullptr);
    EXPECT_GE(warm, low);
    EXPECT_LE(warm + 8 * MB, high);
    std::free(warm);

    // A block as large as a million rows' record, allocated, touched and freed twice: both
    // times in the reserve (it may begin in the part of a huge page before it), which the
    // free leaves in place.
    for (int round = 0; round < 2; ++round) {
        auto* block = static_cast<char*>(std::malloc(8 * MB));
        ASSERT_NE(block, nullptr);
        for (std::size_t i = 0; i < 8 * MB; i += 4096)
            block[i] = 1;
        EXPECT_GE(block + 2 * MB, reserve.Start) << "round " << round;
        EXPECT_LE(block + 8 * MB, reserve.End) << "round " << round;
        const std::string mapping = MappingOf(block + 2 * MB);
        ASSERT_FALSE(mapping.empty());
        // "hg": the mapping asks for huge pages (which the kernel gives where it may).
        const std::size_t flags = mapping.find("VmFlags:");
        ASSERT_NE(flags, std::string::npos) << mapping;
        EXPECT_NE((mapping.substr(flags) + " ").find(" hg "), std::string::npos) << mapping;
        std::free(block);
        EXPECT_LE(reserve.End, static_cast<const char*>(sbrk(0))) << "round " << round;
    }
    // Asked for too much or nothing: nothing changes.
    EXPECT_EQ(Kiv_memory::ReserveLargePageHeap(0).Size(), 0u);
    EXPECT_EQ(Kiv_memory::ReserveLargePageHeap(std::size_t{1} << 40).Size(), 0u);
}

} // namespace
