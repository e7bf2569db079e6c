// The directory listings of the entry producer, read ahead on a thread of their own.
// Internal to the entry unit.
#pragma once

#include "Kiv_files.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace App_scanentries {

// Lists directories in the order the producer queues them, so that the producer finds
// each listing read when it gets there, having made the entries of the one before in the
// meantime. A listing holds what the enumerator gives, in its order: what the producer
// would have seen listing the directory itself, only a moment earlier. A producer that
// would have to wait for the listing the thread is reading lists the next one itself.
class TListingReadAhead {
public:
    TListingReadAhead();
    // Stops the thread and waits for it.
    ~TListingReadAhead();
    TListingReadAhead(const TListingReadAhead&) = delete;
    TListingReadAhead& operator=(const TListingReadAhead&) = delete;

    // The producer's thread: queues a directory for listing.
    void Queue(const std::string& directory);
    // The producer's thread: the records of the oldest queued directory not taken yet,
    // which is directory; false when it could not be listed at all (the enumerator's first
    // step failed).
    bool Take(const std::string& directory, std::vector<Kiv_files::TFindData>& records);

private:
    struct TListing {
        std::string Directory;
        std::vector<Kiv_files::TFindData> Records;
        bool Found = false;
        bool Done = false;
    };

    // Lists directory into records; false when its first step failed. Stops early when
    // stop is set.
    static bool List(const std::string& directory, std::vector<Kiv_files::TFindData>& records,
                     const std::atomic<bool>& stop);
    // Lists the next listing nobody started; Lock is held before and after, not during.
    void ListNext(std::unique_lock<std::mutex>& lock, const std::atomic<bool>& stop);
    bool CanListNext() const { return Next < Taken + Listings.size(); }
    void Work();

    std::mutex Lock;
    std::condition_variable Changed; // a listing done, queued or taken, or Stop
    std::deque<TListing> Listings;   // queued and not taken, oldest first
    std::size_t Taken = 0;           // listings taken so far: the front's number
    std::size_t Next = 0;            // the number of the first listing nobody started
    std::size_t Buffered = 0;        // records listed and not taken
    std::atomic<bool> Stop{false};
    std::thread Thread;
};

} // namespace App_scanentries
