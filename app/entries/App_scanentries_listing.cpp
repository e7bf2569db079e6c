#include "App_scanentries_listing.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace App_scanentries {

namespace {

const std::atomic<bool> NeverStop{false};

} // namespace

TListingReadAhead::TListingReadAhead() {
    try {
        for (int worker = 0; worker < Workers; ++worker)
            Threads.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        // Fewer threads; with none, the producer lists every directory itself.
    }
}

TListingReadAhead::~TListingReadAhead() {
    {
        std::lock_guard<std::mutex> lock(Lock);
        Stop = true;
    }
    Changed.notify_all();
    for (std::thread& thread : Threads)
        thread.join();
}

void TListingReadAhead::Queue(const std::string& path) {
    Queue(path, nullptr, Kiv_files::TFindData{});
}

void TListingReadAhead::Queue(const std::string& path,
                              std::shared_ptr<Kiv_files::TDirectory> parent,
                              const Kiv_files::TFindData& record) {
    {
        std::lock_guard<std::mutex> lock(Lock);
        Listings.push_back(TListing{path, std::move(parent), record, {}, false});
    }
    Changed.notify_all();
}

void TListingReadAhead::List(TListing& listing, const std::atomic<bool>& stop) {
    TResult& result = listing.Result;
    result.Directory = listing.Parent ? listing.Parent->OpenChild(listing.Record, result.Error)
                                      : Kiv_files::TDirectory::Open(listing.Path, result.Error);
    listing.Parent.reset(); // the parent stays open only while a child needs it
    if (!result.Directory)
        return;
    Kiv_files::TFileEnumerator enumerator(result.Directory);
    if (!enumerator.MoveNext()) {
        result.Error = errno != 0 ? errno : EIO;
        result.Directory.reset();
        return;
    }
    do
        result.Records.push_back(enumerator.Current());
    while (!stop.load(std::memory_order_relaxed) && enumerator.MoveNext());
}

void TListingReadAhead::ListNext(std::unique_lock<std::mutex>& lock,
                                 const std::atomic<bool>& stop) {
    // A deque keeps its elements in place as others are added or the front is taken, and
    // a listing is taken only once it is done.
    TListing& listing = Listings[Next++ - Taken];
    lock.unlock();
    List(listing, stop);
    lock.lock();
    Buffered += listing.Result.Records.size();
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

TListingReadAhead::TResult TListingReadAhead::Take(const std::string& path) {
    std::unique_lock<std::mutex> lock(Lock);
    if (Listings.empty() || Listings.front().Path != path) {
        lock.unlock(); // not queued: listed here and now
        TListing listing{path, nullptr, {}, {}, false};
        List(listing, NeverStop);
        return std::move(listing.Result);
    }
    for (;;) {
        TListing& front = Listings.front();
        if (front.Done) {
            TResult result = std::move(front.Result);
            Buffered -= result.Records.size();
            Listings.pop_front();
            ++Taken;
            Changed.notify_all(); // room for the thread again
            return result;
        }
        if (CanListNext())
            ListNext(lock,
                     NeverStop); // the front itself, or the next one while the thread reads it
        else
            Changed.wait(lock);
    }
}

} // namespace App_scanentries
