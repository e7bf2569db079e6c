// The duplicate scan engine: the scan record, the matchers of the twelve "Compare by"
// criteria and the grouping command.
#pragma once

#include "App_scan_record.h"
#include "Kiv_autopointers.h"
#include "Kiv_dynamicarrays.h"
#include "Kiv_files.h"
#include "Kiv_framework.h"

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

namespace App_scan {

// Copies share one buffer: the task and the command see the same records.
using TScanRecords = Kiv_dynamicarrays::DynamicArray<TScanRecord>;

// The attribute bits that facts keep: read-only, hidden, system, archive.
constexpr std::uint32_t FactsAttributeMask = 0x27;

// Sets the numbers of the fields (size, the three file times, attributes, identity and
// change time) from the listing record of the file.
void SetListedNumbers(TFileFacts::TFields& fields, const Kiv_files::TFindData& listing);

// What the scans of this process have read of file contents so far: the files opened for
// their content and the bytes read from them, by hash and byte for byte.
struct TReadTotals {
    std::uint64_t Files = 0;
    std::uint64_t Bytes = 0;
};
TReadTotals ReadTotals();

// What reading a record's facts again came to.
enum class TFactsCheck : std::uint8_t {
    fcSame,    // the file is as its facts say, and its hash (if any) is kept
    fcRenewed, // the record has new facts, or lost a hash that nothing proves any more
    fcGone,    // no regular file has its path any more
    fcUnknown, // its facts cannot be read
};

// Reads the facts of the record's file again, a final symbolic link not followed. Changed
// facts are replaced; the hash is kept only when device, inode, size, last write time and
// change time are known and all as they were, which proves the content unchanged (no
// program can set a change time back).
TFactsCheck ReadFactsAgain(TScanRecord& record);

// What a matcher promises about its Match without being called, so that the command can
// leave out pairs whose answer is known to be false and to have no effect (the
// command's fast path). The key of a record is the text that GetMatchKey appends.
enum class TMatchKeyKind : std::uint8_t {
    mkNone,              // nothing: every pair is handed to Match
    mkDecisive,          // Match has no effect and answers true exactly when the keys are equal
    mkDecisiveWhenKnown, // as mkDecisive for two records that both have a key; a record may
                         // have none yet, and then Match must be called (the hash matcher)
    mkExcluding,         // different keys: Match answers false with no effect; equal keys
                         // tell nothing (the binaries matcher's sizes)
};

class TScanMatcher {
public:
    TScanMatcher() = default;
    virtual ~TScanMatcher() = default;
    TScanMatcher(const TScanMatcher&) = delete;
    TScanMatcher& operator=(const TScanMatcher&) = delete;

    // Raises the silent abort when QueryContinue answers false.
    virtual void CheckContinue();
    virtual bool QueryContinue();
    // A is the pivot, B the candidate. Non-const: the hash matcher caches hash texts.
    virtual bool Match(TScanRecord& A, TScanRecord& B) = 0;

    // The key declaration (see TMatchKeyKind); mkNone unless a matcher overrides it.
    virtual TMatchKeyKind KeyKind() const;
    // Appends the record's key to key and returns true, or returns false when the record
    // has no key (yet; only mkDecisiveWhenKnown keys may be missing). Any bytes will do:
    // the command frames each matcher's key with its length.
    virtual bool GetMatchKey(const TScanRecord& record, std::string& key) const;

    Kiv_framework::TEvent<TScanMatcher*, bool&> OnQueryContinue;
    // When set, a file that cannot be read or is not the one listed is reported through
    // it, with the error's message, and left out: it equals nothing from then on. Unset,
    // the error ends the scan.
    Kiv_framework::TEvent<TScanMatcher*, const std::string&> OnFileError;

protected:
    // Runs read, which may raise a file error of one record: raised on, or with
    // OnFileError set, reported and the record left out (false). Asked for every pair that
    // reaches a content matcher: the call allocates nothing.
    template <typename Read>
    bool Reading(Read&& read) {
        return Reading(
            [](void* context) { (*static_cast<std::remove_reference_t<Read>*>(context))(); },
            &read);
    }
    bool Reading(void (*read)(void*), void* context);
    // Asked twice for every pair; a scan that left nothing out skips the lookup.
    bool IsLeftOut(const TScanRecord& record) const {
        return !LeftOut.empty() && LeftOut.contains(&record);
    }

private:
    std::unordered_set<const TScanRecord*> LeftOut;
};

// The metadata matchers. They are final because the command trusts their key declaration,
// which holds for exactly this Match.

class TScanDirectoryMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanNameMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanBaseNameMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanExtensionMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanSizeMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanTypeMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanCreationTimeMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanLastWriteTimeMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanLastAccessTimeMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanAttributesMatcher final : public TScanMatcher {
public:
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
};

class TScanHashReadAhead;
class TScanContentPartition;

// Hashes kept from earlier scans (the hash cache). A run asks it for the hashes it would
// read before it reads any, and tells it of every hash it read from a file. Used by the
// run's thread only; the byte comparison never asks it.
class TScanHashStore {
public:
    TScanHashStore() = default;
    virtual ~TScanHashStore() = default;
    TScanHashStore(const TScanHashStore&) = delete;
    TScanHashStore& operator=(const TScanHashStore&) = delete;

    // Sets the Hash of each record at the indices whose file the store holds a hash of,
    // taken from exactly the file its facts describe; returns how many it set.
    virtual int Recall(const TScanRecords& records, const std::vector<int>& indices) = 0;
    // The record's hash, just read from its file, which was as its facts say.
    virtual void Remember(const TScanRecord& record) = 0;
};

// The content matchers. Files are read in chunks of ReadChunkSize bytes
// through buffers allocated once per matcher.
constexpr int ReadChunkSize = 32768;

// Compares SHA-256 hash texts, computing a missing one first. A non-empty Hash is trusted
// as it is: its file is not read again.
class TScanHashMatcher final : public TScanMatcher {
public:
    TScanHashMatcher();
    ~TScanHashMatcher() override;

    // EnsureHash(B), then EnsureHash(A); true when the texts are equal byte for byte.
    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;

    // Computes the record's hash when its Hash is empty; returns the record.
    TScanRecord& EnsureHash(TScanRecord& record);
    // Sets Hash to the SHA-256 text of the file at Path, read to its current end, with a
    // cancel point before every read.
    void ComputeHash(TScanRecord& record);
    // Where EnsureHash first looks for a hash computed ahead; nullptr: nowhere. Set by the
    // command for the length of its run.
    void SetReadAhead(TScanHashReadAhead* readAhead);
    // What EnsureHash tells of every hash it read; nullptr: nobody. Set by the command for
    // the length of its run.
    void SetHashStore(TScanHashStore* store) { HashStore = store; }

private:
    Kiv_autopointers::TAutoArray<unsigned char> Buffer;
    TScanHashReadAhead* ReadAhead = nullptr;
    TScanHashStore* HashStore = nullptr;
};

// Compares the first Size bytes of the two files; different sizes answer false without
// opening anything.
class TScanBinariesMatcher final : public TScanMatcher {
public:
    TScanBinariesMatcher();
    ~TScanBinariesMatcher() override;

    bool Match(TScanRecord& A, TScanRecord& B) override;
    TMatchKeyKind KeyKind() const override;
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override;
    // Where Match first looks for its answer; nullptr: nowhere, every pair is read. Set by
    // the command for the length of its run.
    void SetPartition(TScanContentPartition* partition) { Partition = partition; }

private:
    bool Compare(TScanRecord& A, TScanRecord& B);

    TScanContentPartition* Partition = nullptr;
    Kiv_autopointers::TAutoArray<unsigned char> Buffer1;
    Kiv_autopointers::TAutoArray<unsigned char> Buffer2;
};

// The owning chain of matchers, asked in the order they were added.
class TScanMatchers {
public:
    TScanMatchers() = default;
    virtual ~TScanMatchers() = default;
    TScanMatchers(const TScanMatchers&) = delete;
    TScanMatchers& operator=(const TScanMatchers&) = delete;

    // Takes ownership (also when it fails) and returns the matcher's index.
    virtual int Add(TScanMatcher* matcher);
    // False at the first matcher that answers false, without asking the rest; true when
    // all answered true, and with no matchers.
    virtual bool Match(TScanRecord& A, TScanRecord& B);

    int Count() const { return static_cast<int>(Items.size()); }
    // Bounds-checked: an index outside 0..Count-1 raises Kiv_framework::ERangeError.
    TScanMatcher& operator[](int index) const {
        if (index < 0 || index >= Count())
            throw Kiv_framework::ERangeError();
        return *Items[static_cast<std::size_t>(index)];
    }

private:
    std::vector<Kiv_autopointers::TAutoPointer<TScanMatcher>> Items;
};

// The grouping engine.
class TScanCommand {
public:
    using TRecordEvent = Kiv_framework::TEvent<TScanCommand*, int, TScanRecord&>;

    // Keeps a shared reference to the records and takes ownership of the matchers.
    TScanCommand(TScanRecords records, TScanMatchers* matchers);
    virtual ~TScanCommand();
    TScanCommand(const TScanCommand&) = delete;
    TScanCommand& operator=(const TScanCommand&) = delete;

    virtual void CheckContinue();
    virtual void DoMatching(int index, TScanRecord& record);
    virtual void DoMatched(int index, TScanRecord& record);
    virtual void DoRecordChanged(int index, TScanRecord& record);
    virtual void DoProgress(int position, int count);
    virtual bool QueryContinue();
    // ResetGroups, then AssignGroups. Called once; ends early by the silent abort or by a
    // matcher's error, leaving the groups assigned so far.
    virtual void Execute();

    const TScanRecords& Records() const { return FRecords; }
    TScanMatchers& Matchers() const { return *FMatchers; }

    // Threads that compute the hashes the hash matcher will need ahead of the run
    // (0: none), and whether they keep a batch ahead of it all the time or work in batches
    // with the run's thread. What the run does and reports is the same either way.
    struct THashReadAhead {
        int Threads = 0;
        bool Ahead = false;
    };
    THashReadAhead HashReadAhead;
    // Safe to call from any thread: true once QueryContinue answers false for good. Lets
    // those threads stop at once; without it they stop when the run ends.
    std::function<bool()> IsCancelled;
    // What suits this machine's processors: two or three threads that keep ahead. At most
    // three: more readers only make a disk seek.
    static THashReadAhead DefaultHashReadAhead();
    // Where the run first looks for the hashes the hash matcher would read, and what it
    // tells of every hash read; nullptr: no store. Not owned.
    TScanHashStore* HashStore = nullptr;

    // Whether Execute first reads the facts of every record's file again (ReadFactsAgain),
    // so that nothing is grouped by what a file was. The files are looked up by the run's
    // thread and as many helpers as HashReadAhead has threads; the events follow in record
    // order, with a cancel point every few hundred records. A record that got new facts,
    // or lost a hash that nothing proves any more, is reported through OnFactsRenewed,
    // its Group -1. One whose file is gone or cannot be looked at is reported through
    // OnFactsRenewed without hash and group, named through OnFileLeftOut, counts as one
    // step of the progress, and is left out of the run: never a pivot nor a candidate,
    // its Group stays -1.
    bool RefreshFacts = false;
    TRecordEvent OnFactsRenewed;
    Kiv_framework::TEvent<TScanCommand*, int, TScanRecord&, const std::string&> OnFileLeftOut;
    // Whether the record was left out by the refresh of the facts.
    bool IsLeftOut(int index) const {
        return !LeftOut.empty() && LeftOut[static_cast<std::size_t>(index)];
    }

    TRecordEvent OnMatching;
    TRecordEvent OnMatched;
    TRecordEvent OnRecordChanged;
    Kiv_framework::TEvent<TScanCommand*, int, int> OnProgress;
    Kiv_framework::TEvent<TScanCommand*, bool&> OnQueryContinue;

protected:
    void RefreshRecords();
    void ResetGroups();
    void AssignGroups();

private:
    // Groups records; places gives each one's index in Records (empty: the same), and
    // position counts the records done before.
    void AssignGroupsOf(const TScanRecords& records, const std::vector<int>& places, int position);

    TScanRecords FRecords;
    Kiv_autopointers::TAutoPointer<TScanMatchers> FMatchers;
    std::vector<bool> LeftOut; // by record, once RefreshRecords ran
    int LeftOutCount = 0;
};

} // namespace App_scan
