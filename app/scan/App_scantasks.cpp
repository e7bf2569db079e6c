#include "App_scantasks.h"

#include "App_document.h"
#include "App_scan_hashcache.h"
#include "App_scanentries.h"

#include <cstdio>
#include <optional>
#include <utility>

namespace App_scantasks {

using App_document::TScanAspect;
using App_scan::TScanCommand;
using App_scan::TScanMatcher;
using App_scan::TScanMatchers;
using App_scan::TScanRecord;
using App_scan::TScanRecords;

namespace {

// Integer comparisons first, then the texts, then the contents, hash before bytes: the
// cheap criteria decide most pairs before a file is read.
struct TChainLink {
    TScanAspect Aspect;
    std::unique_ptr<TScanMatcher> (*Create)();
};

template <typename Matcher>
std::unique_ptr<TScanMatcher> Make() {
    return std::make_unique<Matcher>();
}

constexpr TChainLink Chain[] = {
    {App_document::saAttributes, Make<App_scan::TScanAttributesMatcher>},
    {App_document::saSize, Make<App_scan::TScanSizeMatcher>},
    {App_document::saCreationTime, Make<App_scan::TScanCreationTimeMatcher>},
    {App_document::saLastWriteTime, Make<App_scan::TScanLastWriteTimeMatcher>},
    {App_document::saLastAccessTime, Make<App_scan::TScanLastAccessTimeMatcher>},
    {App_document::saBaseName, Make<App_scan::TScanBaseNameMatcher>},
    {App_document::saExtension, Make<App_scan::TScanExtensionMatcher>},
    {App_document::saName, Make<App_scan::TScanNameMatcher>},
    {App_document::saDirectory, Make<App_scan::TScanDirectoryMatcher>},
    {App_document::saType, Make<App_scan::TScanTypeMatcher>},
    {App_document::saHash, Make<App_scan::TScanHashMatcher>},
    {App_document::saBinaries, Make<App_scan::TScanBinariesMatcher>},
};

std::string Format(const char* format, const std::string& name) {
    const int length = std::snprintf(nullptr, 0, format, name.c_str());
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, name.c_str());
    return text;
}

} // namespace

TScanTask::TScanTask(App_document::TDocument* document) : Document(document) {}

void TScanTask::Execute() {
    const std::unique_ptr<TScanCommand> command = CreateCommand();
    // Opened before the command reads anything, and flushed when it goes, also after a
    // cancel or a failure: the hashes read until then are as good.
    std::optional<App_scan::THashCache> cache;
    if (UseHashCache) {
        cache.emplace(HashCacheFile, [this](const std::string& message) {
            if (!OnHashCacheWarning)
                return;
            // Also called while the cache goes during a failure's unwinding, when the hand-
            // over may raise that failure again: then it is what is reported, not this.
            try {
                QueueAfterWriteBacks([this, message] { OnHashCacheWarning(this, message); });
            } catch (...) {
            }
        });
        command->HashStore = &*cache;
    }
    try {
        command->Execute();
    } catch (...) {
        // What a cancelled or failed scan grouped until then still shows.
        FlushWriteBacks();
        throw;
    }
    FlushWriteBacks();
    if (cache)
        HashesRecalled = cache->Recalled();
}

void TScanTask::DoStatus(const std::string& text) {
    if (!OnStatus)
        return;
    Queue([this, text] { OnStatus(this, text); }, StatusKey);
}

void TScanTask::CancelClick(void*) {
    Cancel();
}

std::unique_ptr<TScanCommand> TScanTask::CreateCommand() {
    std::unique_ptr<TScanCommand> command;
    Synchronize(&command, [this](void* argument) {
        BuildCommand(*static_cast<std::unique_ptr<TScanCommand>*>(argument));
    });
    // A cancel that arrived while the command was being built ends the scan here.
    if (Cancelled)
        Kiv_framework::Abort();
    return command;
}

TScanRecords TScanTask::TakeSnapshot() const {
    const App_scanentries::TScanEntries& entries = Document->Entries();
    TScanRecords records(entries.Count());
    for (int i = 0; i < entries.Count(); ++i)
        records[i] = entries.Item(i).GetRecord();
    return records;
}

std::unique_ptr<TScanMatchers> TScanTask::CreateMatchers() {
    auto matchers = std::make_unique<TScanMatchers>();
    const App_document::TScanAspects aspects = Document->GetAspects();
    for (const TChainLink& link : Chain) {
        if (!aspects.Contains(link.Aspect))
            continue;
        std::unique_ptr<TScanMatcher> matcher = link.Create();
        matcher->OnQueryContinue = [this](TScanMatcher*, bool& proceed) { QueryContinue(proceed); };
        if (OnFileLeftOut)
            matcher->OnFileError = [this](TScanMatcher*, const std::string& message) {
                QueueAfterWriteBacks([this, message] { OnFileLeftOut(this, message); });
            };
        matchers->Add(matcher.release());
    }
    return matchers;
}

void TScanTask::BuildCommand(std::unique_ptr<TScanCommand>& command) {
    try {
        // Only the hash criterion keeps or takes hashes: other scans leave the cache alone.
        UseHashCache =
            Document->RememberHashes && Document->GetAspects().Contains(App_document::saHash);
        TScanRecords records = TakeSnapshot();
        auto fresh = std::make_unique<TScanCommand>(records, CreateMatchers().release());
        fresh->OnMatching = [this](TScanCommand*, int, TScanRecord& record) {
            QueueStatus("Matching \"%s\"...", record.Name());
        };
        fresh->OnMatched = [this](TScanCommand*, int, TScanRecord& record) {
            QueueStatus("Matched \"%s\"", record.Name());
        };
        fresh->OnRecordChanged = [this](TScanCommand*, int index, TScanRecord& record) {
            WriteBack(index, record);
        };
        fresh->OnProgress = [this](TScanCommand*, int position, int count) {
            // Every record would be a call to the main thread; a bar moves in steps anyway.
            // The changes made meanwhile go with each step.
            const auto now = std::chrono::steady_clock::now();
            if (position < count && now - LastProgress < ProgressInterval)
                return;
            LastProgress = now;
            FlushWriteBacks();
            DoProgress(position, count);
        };
        fresh->OnQueryContinue = [this](TScanCommand*, bool& proceed) { QueryContinue(proceed); };
        fresh->RefreshFacts = RefreshFacts;
        fresh->OnFactsRenewed = [this](TScanCommand*, int index, TScanRecord& record) {
            WriteBack(index, record, true);
        };
        fresh->OnFileLeftOut = [this](TScanCommand*, int, TScanRecord&, const std::string& text) {
            if (OnEntryLeftOut)
                QueueAfterWriteBacks([this, text] { OnEntryLeftOut(this, text); });
        };
        fresh->HashReadAhead = TScanCommand::DefaultHashReadAhead();
        fresh->IsCancelled = [this] { return Cancelled.load(); };
        command = std::move(fresh);
    } catch (...) {
        // A failed build ends the task without grouping.
        Cancel();
        throw;
    }
}

void TScanTask::QueryContinue(bool& proceed) const {
    proceed = !Cancelled;
}

void TScanTask::QueueStatus(const char* format, std::string_view name) {
    // Nobody shows the status: no text to make.
    if (!OnStatus)
        return;
    // The changes before the first status go ahead of it (the list shows the old groups
    // cleared by then), later ones when they have waited a step: a hand-over per status
    // would be one per file.
    const auto now = std::chrono::steady_clock::now();
    if (!StatusSent || now - LastFlush >= ProgressInterval)
        FlushWriteBacks();
    StatusSent = true;
    DoStatus(Format(format, std::string(name)));
}

void TScanTask::WriteBack(int index, const TScanRecord& record, bool facts) {
    // The values as they are now: the worker goes on and may change the record before the
    // main thread gets to them.
    WriteBacks.push_back(TWriteBack{index, record.Group, record.Hash,
                                    facts ? std::optional(record.SharedFacts()) : std::nullopt});
    if (WriteBacks.size() >= WriteBackBatch)
        FlushWriteBacks();
}

void TScanTask::FlushWriteBacks() {
    LastFlush = std::chrono::steady_clock::now();
    if (WriteBacks.empty())
        return;
    auto batch = std::make_shared<std::vector<TWriteBack>>(std::move(WriteBacks));
    WriteBacks.clear();
    Queue([this, batch] {
        App_scanentries::TScanEntries& entries = Document->Entries();
        for (const TWriteBack& change : *batch) {
            App_scanentries::TScanEntry& entry = entries.Item(change.Index);
            if (change.Facts)
                entry.SetFacts(*change.Facts);
            entry.Hash = change.Hash;
            entry.SetGroup(change.Group);
            entries.EntryChanged(change.Index);
        }
    });
}

void TScanTask::QueueAfterWriteBacks(std::function<void()> call) {
    FlushWriteBacks();
    Queue(std::move(call));
}

} // namespace App_scantasks
