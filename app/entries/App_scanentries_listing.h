// The directory listings of the entry producer, read ahead on a thread of their own.
// Internal to the entry unit.
#pragma once

#include "Kiv_files.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace App_scanentries {

// Lists directories in the order the producer queues them, so that the producer finds
// each listing read when it gets there, having made the entries of the one before in the
// meantime. Two threads list, each the next directory nobody started: a listing waits on
// the file system for every file's facts, and a tree of many small folders keeps both
// busy while the producer makes the entries. A listing holds what the enumerator gives, in its
// order: what the producer would have seen listing the directory itself, only a moment earlier. A
// producer that would have to wait for the listing the thread is reading lists the next one itself.
//
// Directories are opened through their open parents, never found again by their paths: a
// symbolic link put in the place of a folder after it was listed leads nowhere, and
// paths longer than the system takes in one call are no obstacle.
class TListingReadAhead {
public:
    // The thread stays at most this many records ahead (some 300 bytes each), so that a
    // large tree is not held in memory twice: a few dozen folders ahead are plenty. It
    // starts no listing while the listings not taken hold this many.
    static constexpr std::size_t MaxBuffered = 1 << 13;
    static constexpr int Workers = 2;

    TListingReadAhead();
    // Stops the thread and waits for it.
    ~TListingReadAhead();
    TListingReadAhead(const TListingReadAhead&) = delete;
    TListingReadAhead& operator=(const TListingReadAhead&) = delete;

    // What listing a directory came to: its records, in the enumerator's order, and the
    // open directory (for the directories found in it), or the errno of the failure:
    // ESTALE when the name now holds another directory than the one listed.
    struct TResult {
        std::vector<Kiv_files::TFindData> Records;
        std::shared_ptr<Kiv_files::TDirectory> Directory;
        int Error = 0;
    };

    // The producer's thread: queues a directory for listing, a given one by its path, a
    // found one as the record of its name in the open parent.
    void Queue(const std::string& path);
    void Queue(const std::string& path, std::shared_ptr<Kiv_files::TDirectory> parent,
               const Kiv_files::TFindData& record);
    // The producer's thread: the listing of the oldest queued directory not taken yet,
    // which is path.
    TResult Take(const std::string& path);

private:
    struct TListing {
        std::string Path;
        std::shared_ptr<Kiv_files::TDirectory> Parent; // given directories have none
        Kiv_files::TFindData Record;
        TResult Result;
        bool Done = false;
    };

    // Opens and lists the directory; stops early when stop is set.
    static void List(TListing& listing, const std::atomic<bool>& stop);
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
    std::vector<std::thread> Threads;
};

} // namespace App_scanentries
