#include "App_scanentries_listing.h"

#include <system_error>
#include <utility>

namespace App_scanentries {

namespace {

// The thread stays at most this many records ahead, so that a large tree is not held in
// memory twice.
constexpr std::size_t MaxBuffered = 1 << 16;

const std::atomic<bool> NeverStop{false};

} // namespace

TListingReadAhead::TListingReadAhead() {
    try {
        Thread = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        // No thread: the producer lists every directory itself.
    }
}

TListingReadAhead::~TListingReadAhead() {
    {
        std::lock_guard<std::mutex> lock(Lock);
        Stop = true;
    }
    Changed.notify_all();
    if (Thread.joinable())
        Thread.join();
}

void TListingReadAhead::Queue(const std::string& directory) {
    {
        std::lock_guard<std::mutex> lock(Lock);
        Listings.push_back(TListing{directory, {}, false, false});
    }
    Changed.notify_all();
}

bool TListingReadAhead::List(const std::string& directory,
                             std::vector<Kiv_files::TFindData>& records,
                             const std::atomic<bool>& stop) {
    Kiv_files::TFileEnumerator enumerator(Kiv_files::DirectoryPattern(directory));
    if (!enumerator.MoveNext())
        return false;
    do
        records.push_back(enumerator.Current());
    while (!stop.load(std::memory_order_relaxed) && enumerator.MoveNext());
    return true;
}

void TListingReadAhead::ListNext(std::unique_lock<std::mutex>& lock,
                                 const std::atomic<bool>& stop) {
    // A deque keeps its elements in place as others are added or the front is taken, and
    // a listing is taken only once it is done.
    TListing& listing = Listings[Next++ - Taken];
    lock.unlock();
    std::vector<Kiv_files::TFindData> records;
    const bool found = List(listing.Directory, records, stop);
    lock.lock();
    Buffered += records.size();
    listing.Records = std::move(records);
    listing.Found = found;
    listing.Done = true;
    Changed.notify_all();
}

void TListingReadAhead::Work() {
    std::unique_lock<std::mutex> lock(Lock);
    for (;;) {
        Changed.wait(lock, [this] { return Stop || (CanListNext() && Buffered < MaxBuffered); });
        if (Stop)
            return;
        ListNext(lock, Stop);
    }
}

bool TListingReadAhead::Take(const std::string& directory,
                             std::vector<Kiv_files::TFindData>& records) {
    std::unique_lock<std::mutex> lock(Lock);
    if (Listings.empty() || Listings.front().Directory != directory) {
        lock.unlock(); // not queued: listed here and now
        return List(directory, records, NeverStop);
    }
    for (;;) {
        TListing& front = Listings.front();
        if (front.Done) {
            records = std::move(front.Records);
            const bool found = front.Found;
            Buffered -= records.size();
            Listings.pop_front();
            ++Taken;
            Changed.notify_all(); // room for the thread again
            return found;
        }
        if (CanListNext())
            ListNext(lock,
                     NeverStop); // the front itself, or the next one while the thread reads it
        else
            Changed.wait(lock);
    }
}

} // namespace App_scanentries
