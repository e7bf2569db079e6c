#include "Kiv_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace Kiv_memory {

namespace {

constexpr std::uintptr_t HugePage = std::uintptr_t{2} << 20;
// The largest block the heap serves itself (glibc's own upper bound for the threshold);
// larger ones are mapped on their own.
constexpr int HeapBlockLimit = 32 << 20;
// A block the heap cannot serve from what it has, so that it grows.
constexpr std::size_t Probe = 16 << 20;
constexpr std::size_t MaxReserve = std::size_t{256} << 20;

std::uintptr_t RoundUp(std::uintptr_t address) {
    return (address + HugePage - 1) & ~(HugePage - 1);
}

std::uintptr_t RoundDown(std::uintptr_t address) {
    return address & ~(HugePage - 1);
}

} // namespace

THeapReserve ReserveLargePageHeap(std::size_t bytes) {
#if defined(__GLIBC__)
    if (bytes == 0 || bytes > MaxReserve)
        return {};
    const int pad = static_cast<int>(bytes);
    // A fixed threshold keeps blocks up to 32 MB in the heap; the trim threshold above the
    // reserve keeps the reserve when the probe goes back; the top pad grows the heap by the
    // reserve once, and is put back to glibc's default right after.
    if (mallopt(M_MMAP_THRESHOLD, HeapBlockLimit) == 0 ||
        mallopt(M_TRIM_THRESHOLD, 2 * pad + static_cast<int>(Probe)) == 0 ||
        mallopt(M_TOP_PAD, pad) == 0)
        return {};
    void* const probe = std::malloc(Probe);
    const auto top = reinterpret_cast<std::uintptr_t>(sbrk(0));
    mallopt(M_TOP_PAD, 128 * 1024);
    THeapReserve reserve;
    const auto start = reinterpret_cast<std::uintptr_t>(probe);
    // Only the program break's own heap, which ends at most the pad behind the probe: a
    // sanitizer's allocator, or a heap that could not grow in place, leaves it elsewhere.
    if (probe != nullptr && top != ~std::uintptr_t{0} && start < top &&
        top - start <= Probe + bytes + HugePage && RoundUp(start) < RoundDown(top)) {
        const std::uintptr_t first = RoundUp(start);
        const std::uintptr_t last = RoundDown(top);
        if (madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) == 0)
            reserve = {reinterpret_cast<const char*>(first), reinterpret_cast<const char*>(last)};
    }
    std::free(probe);
    return reserve;
#else
    (void)bytes;
    return {};
#endif
}

void THeapWarmth::TFree::operator()(char* block) const noexcept {
    std::free(block);
}

void THeapWarmth::WarmTo(std::size_t bytes) {
    const std::size_t wanted = std::min(bytes, MaxBytes);
    // The list's own memory first: made between the blocks, it would split them.
    Blocks.reserve(MaxBytes / BlockBytes);
    for (std::size_t step = 0; Held() < wanted && step < StepBytes; step += BlockBytes) {
        auto* const block = static_cast<char*>(std::malloc(BlockBytes));
        if (block == nullptr)
            return;
        std::unique_ptr<char, TFree> owned(block);
        // One write per page maps it; volatile, so that the writes are not left out.
        for (std::size_t at = 0; at < BlockBytes; at += 4096)
            static_cast<volatile char*>(block)[at] = 0;
        Blocks.push_back(std::move(owned));
    }
}

std::pair<const char*, const char*> THeapWarmth::Span() const {
    if (Blocks.empty())
        return {nullptr, nullptr};
    const auto [low, high] =
        std::minmax_element(Blocks.begin(), Blocks.end(), [](const auto& a, const auto& b) {
            return std::less<const char*>()(a.get(), b.get());
        });
    return {low->get(), high->get() + BlockBytes};
}

void THeapWarmth::Release() noexcept {
    while (!Blocks.empty())
        Blocks.pop_back();
    Blocks.shrink_to_fit();
}

} // namespace Kiv_memory
