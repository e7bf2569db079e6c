// The entry producer.
#include "App_scanentries.h"
#include "App_scanentries_listing.h"
#include "Kiv_strings.h"

#include <cerrno>

namespace App_scanentries {

using App_common::EAppError;

namespace {

std::string AcceptMessage(const std::string& path) {
    return "The program cannot accept the file \"" + path + "\".";
}

std::string FindMessage(const std::string& path) {
    return "The program cannot find the file \"" + path + "\".";
}

// A directory that is there but cannot be listed is not reported as missing.
std::string ListingMessage(const std::string& path, int error) {
    if (error == ENOENT || error == ENOTDIR || error == ELOOP || error == ESTALE)
        return FindMessage(path);
    return "The program could not read the directory \"" + path + "\".";
}

bool IsDotName(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Neither a regular file nor a directory: a symbolic link, socket, FIFO or device.
bool IsSpecial(const TFindData& record) {
    return (Kiv_files::FindDataAttributes(record) & (Kiv_files::faSymLink | Kiv_files::faDevice)) !=
           0;
}

} // namespace

TScanEntryProducer::TScanEntryProducer(const DynamicArray<std::string>& paths)
    : PendingPaths(paths.begin(), paths.end()) {
    SeenPaths.Sorted = true;
    SeenPaths.Duplicates = Kiv_framework::TStringList::TDuplicates::dupIgnore;
    SeenPaths.SetCapacity(paths.Length());
    ProducedEntries.reserve(static_cast<std::size_t>(paths.Length()));
}

TScanEntryProducer::~TScanEntryProducer() = default;

void TScanEntryProducer::QueueDirectory(const std::string& directory,
                                        std::shared_ptr<Kiv_files::TDirectory> parent,
                                        const TFindData& record) {
    PendingDirectories.push_back(directory);
    if (!ReadAhead) {
        Kiv_files::RaiseOpenFileLimit(); // folders wait open for their subfolders' listings
        ReadAhead = std::make_unique<TListingReadAhead>();
    }
    if (parent)
        ReadAhead->Queue(directory, std::move(parent), record);
    else
        ReadAhead->Queue(directory);
}

bool TScanEntryProducer::Step() {
    if (!PendingPaths.empty()) {
        FReading = std::move(PendingPaths.front());
        PendingPaths.pop_front();
        Skipping([&] { AddPath(FReading); });
        return true;
    }
    if (!PendingDirectories.empty()) {
        FReading = std::move(PendingDirectories.front());
        PendingDirectories.pop_front();
        Skipping([&] { AddDirectory(FReading); });
        return true;
    }
    return false;
}

void TScanEntryProducer::Skipping(const std::function<void()>& step) {
    try {
        step();
    } catch (const EAppError& error) {
        if (!OnSkip)
            throw;
        ++Skipped;
        OnSkip(error.Message());
    }
}

int AddPathsToList(TScanEntries& entries, const DynamicArray<std::string>& paths,
                   TScanPriority priority, const std::function<void(const std::string&)>& onSkip,
                   const std::function<bool()>& interrupted) {
    if (paths.Length() == 0)
        return 0;
    TScanEntryProducer producer(paths);
    producer.OnSkip = onSkip;
    while (producer.Step())
        if (interrupted && interrupted())
            Kiv_framework::Abort();
    entries.AddBatch(producer.TakeBatch(priority));
    return producer.SkippedCount();
}

void TScanEntryProducer::Release() {
    for (auto& entry : ProducedEntries)
        (void)entry.release();
    ProducedEntries.clear();
}

TScanEntryBatch TScanEntryProducer::TakeBatch(TScanPriority priority) {
    std::vector<std::unique_ptr<TScanEntry>> entries = std::move(ProducedEntries);
    ProducedEntries.clear();
    entries.shrink_to_fit(); // the list keeps this vector: no room left over from growing
    for (const auto& entry : entries)
        entry->Priority = priority;
    return TScanEntryBatch(std::move(entries));
}

TScanEntryArray TScanEntryProducer::GetEntries() const {
    TScanEntryArray entries(static_cast<int>(ProducedEntries.size()));
    for (std::size_t i = 0; i < ProducedEntries.size(); ++i)
        entries[static_cast<int>(i)] = ProducedEntries[i].get();
    return entries;
}

void TScanEntryProducer::AddPath(const std::string& text) {
    try {
        // Absolute form; no pattern check ("*" and "?" are name characters on Linux).
        Kiv_files::CheckAbsolutePath(text);
        // The canonical form: symbolic links, "." and ".." resolved (realpath), so the
        // path is also expanded and normalised.
        const std::string path = Kiv_files::GetLongPath(text);
        if (!Kiv_strings::AddIfAbsent(SeenPaths, path))
            return;
        const TFindData record = Kiv_files::GetFindData(path);
        if (Kiv_files::FindDataAttributes(record) & Kiv_files::faDirectory) {
            QueueDirectory(path, nullptr, record);
            return;
        }
        if (IsSpecial(record))
            throw EAppError(AcceptMessage(text));
        ProducedEntries.push_back(std::make_unique<TScanEntry>(path, record));
        ++GivenFiles;
    } catch (const Kiv_files::EFileError&) {
        throw EAppError(AcceptMessage(text));
    }
}

void TScanEntryProducer::AddDirectory(const std::string& directory) {
    TListingReadAhead::TResult listing = ReadAhead->Take(directory);
    if (!listing.Directory)
        throw EAppError(ListingMessage(directory, listing.Error));
    const std::vector<TFindData>& records = listing.Records;
    const bool endsInSlash = !directory.empty() && directory.back() == '/';
    std::string path;
    for (const TFindData& record : records) {
        if (IsDotName(record.FileName))
            continue;
        // Links are not followed and other special files give no entry.
        if (IsSpecial(record))
            continue;
        path.assign(directory);
        if (!endsInSlash)
            path += '/';
        path += record.FileName;
        if (Kiv_files::FindDataAttributes(record) & Kiv_files::faDirectory) {
            if (Kiv_strings::AddIfAbsent(SeenPaths, path))
                QueueDirectory(path, listing.Directory, record);
            continue;
        }
        // A file met in a listing is met in no other (each directory is listed once and
        // links are not followed), so only a path given as such can have taken it: the
        // seen list need not hold the many files of the trees.
        // Given paths are all taken before any directory is listed.
        int at = 0;
        if (GivenFiles == 0 || !SeenPaths.Find(path, at))
            ProducedEntries.push_back(std::make_unique<TScanEntry>(path, record));
    }
}

} // namespace App_scanentries
