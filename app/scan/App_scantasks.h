// The background task that performs one scan of the document's entry list: the snapshot
// and the matcher chain are built on the main thread, the grouping runs on the worker,
// and every status, progress and group change is handed back to the main thread.
#pragma once

#include "App_scan.h"
#include "Kiv_tasks.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace App_document {
class TDocument;
}

namespace App_scantasks {

class TScanTask : public Kiv_tasks::TTask {
public:
    explicit TScanTask(App_document::TDocument* document);

    void Execute() override;
    virtual void DoStatus(const std::string& text);
    // Shaped as a user-interface handler so that it binds to the progress dialog's Cancel.
    virtual void CancelClick(void* sender);

    // Worker thread: the command built on the main thread.
    std::unique_ptr<App_scan::TScanCommand> CreateCommand();
    // Main thread only: the snapshot, the matcher chain in its fixed order and the
    // command with its handlers.
    void BuildCommand(std::unique_ptr<App_scan::TScanCommand>& command);

    // DoStatus queues its texts with this key: a newer text replaces an older one.
    static constexpr int StatusKey = ProgressKey + 1;

    App_document::TDocument* Document;
    Kiv_framework::TEvent<TScanTask*, const std::string&> OnStatus;
    // When set before Start, a file that cannot be read or is not the one listed is
    // reported through it, with its message, and left out instead of ending the scan (the
    // command line's way; the window's scan ends at the first such file).
    Kiv_framework::TEvent<TScanTask*, const std::string&> OnFileLeftOut;
    // Whether the scan first reads the facts of every entry's file again, on the worker:
    // an entry whose file changed shows its new facts and loses its hash unless the file
    // is proven unchanged; one whose file is gone is named through OnEntryLeftOut and left
    // out of the groups (it shows no group). On unless the entries were made moments
    // before (the command line's).
    bool RefreshFacts = true;
    Kiv_framework::TEvent<TScanTask*, const std::string&> OnEntryLeftOut;
    // With the document's RememberHashes, the scan takes the hashes it would read from the
    // hash cache at this file (empty: the user's, App_scan::HashCacheFile) and keeps there
    // those it reads. A cache that cannot be used is reported through OnHashCacheWarning,
    // once, and the scan goes on without it.
    std::string HashCacheFile;
    Kiv_framework::TEvent<TScanTask*, const std::string&> OnHashCacheWarning;
    // The hashes the scan took from the cache; read once the task has finished.
    std::atomic<int> HashesRecalled{0};

private:
    void QueryContinue(bool& proceed) const;
    void QueueStatus(const char* format, std::string_view name);
    // The record's group and hash into its entry; with facts, its facts too. The changes
    // go to the main thread in batches, in their order: a call per record cost more than
    // the grouping on a rescan that finds every hash in the cache.
    void WriteBack(int index, const App_scan::TScanRecord& record, bool facts = false);
    // Hands the batch over: when it is full, with each progress step, before the first
    // status and any message (so that the main thread sees the changes before what follows
    // them), before a status when the last hand-over is a step old, and at the end.
    void FlushWriteBacks();
    // Queue, after the write-backs waiting.
    void QueueAfterWriteBacks(std::function<void()> call);
    App_scan::TScanRecords TakeSnapshot() const;
    std::unique_ptr<App_scan::TScanMatchers> CreateMatchers();

    bool UseHashCache = false; // taken from the document with the snapshot

    struct TWriteBack {
        int Index;
        std::int32_t Group;
        App_scan::THashText Hash;
        std::optional<App_scan::TFileFactsRef> Facts;
    };
    // Worker only.
    std::vector<TWriteBack> WriteBacks;
    // A batch is at most this large: the main thread takes it in one call, a change an
    // update of its row.
    static constexpr std::size_t WriteBackBatch = 1024;
    // Worker only: progress at most every ProgressInterval, and when changes went last.
    std::chrono::steady_clock::time_point LastProgress;
    std::chrono::steady_clock::time_point LastFlush;
    bool StatusSent = false;
    static constexpr std::chrono::milliseconds ProgressInterval{15};
};

} // namespace App_scantasks
