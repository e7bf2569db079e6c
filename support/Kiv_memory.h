// The process's heap: where the main thread's memory comes from.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace Kiv_memory {

// The part of the heap given transparent huge pages.
struct THeapReserve {
    const char* Start = nullptr;
    const char* End = nullptr;
    std::size_t Size() const { return static_cast<std::size_t>(End - Start); }
};

// Grows the main thread's heap by about bytes, kept for its later allocations, and asks
// the kernel for transparent huge pages on it. A window that takes a million rows in one
// turn of its event loop touches some 10 MB of new memory then; on 4 KB pages the page
// faults alone can take longer than a frame (tens of milliseconds in a virtual machine),
// on 2 MB pages they are a handful. Call it once, early, on the main thread.
// From then on, also when no reserve could be made, blocks of up to 32 MB come from the
// heap, and the heap gives memory freed at its top back to the system only beyond twice
// bytes and 16 MB: the reserve stays, and with it what the program freed, up to that.
// An empty reserve where the allocator is not glibc's or the heap is not the program
// break's (as under a sanitizer), or the kernel refuses.
// At most 256 MB.
THeapReserve ReserveLargePageHeap(std::size_t bytes);

// Heap memory touched ahead, while the main thread waits, for a burst of allocations to
// come (a million rows taken into the list in one turn of the event loop). Release gives it
// back just before the burst, which then finds the heap's top mapped. It pays off on a heap
// that keeps what is freed (ReserveLargePageHeap sets it so); elsewhere it costs a little
// idle time and changes nothing.
class THeapWarmth {
public:
    THeapWarmth() = default;
    ~THeapWarmth() { Release(); }
    THeapWarmth(const THeapWarmth&) = delete;
    THeapWarmth& operator=(const THeapWarmth&) = delete;

    // Touches more blocks, at most StepBytes in one call (a few milliseconds), until
    // about bytes are held; never more than MaxBytes.
    void WarmTo(std::size_t bytes);
    // Frees the blocks, the latest first, so that they merge with the heap's top.
    void Release() noexcept;
    std::size_t Held() const { return Blocks.size() * BlockBytes; }
    // The lowest address held and the end of the highest block; nulls when none is held.
    std::pair<const char*, const char*> Span() const;

    static constexpr std::size_t BlockBytes = std::size_t{1} << 20;
    static constexpr std::size_t StepBytes = 2 * BlockBytes;
    static constexpr std::size_t MaxBytes = 64 * BlockBytes;

private:
    struct TFree {
        void operator()(char* block) const noexcept;
    };
    std::vector<std::unique_ptr<char, TFree>> Blocks;
};

} // namespace Kiv_memory
