#include "App_common.h"
#include "App_scan.h"
#include "ScanReference.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace App_scan;
using ScanTest::TRecorder;
using Lines = std::vector<std::string>;

namespace {

// ---------------------------------------------------------------------------------------
// Records and matchers of the tests

TScanRecord Record(TScanPriority priority, const std::string& name = "", int group = -1) {
    TScanRecord record;
    record.Priority = priority;
    record.SetName(name);
    record.Group = group;
    return record;
}

// "P:a S:b ..." : one record per word, primary or secondary, with its equality class as
// Name.
TScanRecords Records(const std::string& words) {
    std::istringstream in(words);
    std::vector<TScanRecord> list;
    for (std::string word; in >> word;)
        list.push_back(Record(word[0] == 'P' ? spPrimary : spSecondary, word.substr(2)));
    TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
    return records;
}

std::string Pair(const char* what, int a, int b) {
    return std::string(what) + " " + std::to_string(a) + "," + std::to_string(b);
}

// Declares nothing, so the command must hand it every pair the plain algorithm would.
// Equal when the Names are equal; every call is logged.
class TClassMatcher : public TScanMatcher {
public:
    explicit TClassMatcher(TRecorder& recorder) : Recorder(recorder) {}
    bool Match(TScanRecord& A, TScanRecord& B) override {
        Recorder.Add(Pair("match", Recorder.IndexOf(A), Recorder.IndexOf(B)));
        return A.Name() == B.Name();
    }

private:
    TRecorder& Recorder;
};

struct TScan {
    TScanRecords Records;
    TRecorder Recorder;
    TScanCommand* Command = nullptr;
    std::unique_ptr<TScanCommand> Owner;

    explicit TScan(TScanRecords records) : Records(std::move(records)) {
        Recorder.First = Records.begin();
        auto* matchers = new TScanMatchers;
        matchers->Add(new TClassMatcher(Recorder));
        Owner = std::make_unique<TScanCommand>(Records, matchers);
        Command = Owner.get();
        Recorder.Bind(*Command);
    }
    std::vector<int> Groups() const { return ScanTest::GroupsOf(Records); }
};

Lines Queries(int count) {
    return Lines(static_cast<std::size_t>(count), "command query");
}

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// ---------------------------------------------------------------------------------------
// The documented cases, with their exact event sequences

TEST(TScanCommand, PrimarySecondaryPrimaryAllEqual) {
    TScan scan(Records("P:a S:a P:a"));
    scan.Command->Execute();
    EXPECT_EQ(scan.Groups(), (std::vector<int>{1, 1, 1}));
    // P3 is taken by P1 and never becomes a pivot.
    EXPECT_EQ(
        scan.Recorder.Log,
        Join({Queries(1),
              {"matching 0", "match 0,1", "changed 0 to 1", "progress 1 of 3", "changed 1 to 1",
               "progress 2 of 3", "match 0,2", "changed 2 to 1", "progress 3 of 3", "matched 0"},
              Queries(2),
              Queries(3)}));
}

TEST(TScanCommand, OneFileUnderTwoNamesIsNoCopyOfItself) {
    // P1 and S2 are one file (a hard link, a bind mount); S3 is a real copy.
    TScanRecords records = Records("P:a S:a S:a P:a");
    records[0].SetIdentity(1, 5);
    records[1].SetIdentity(1, 5);
    records[2].SetIdentity(1, 7);
    records[3].SetIdentity(1, 7);
    TScan scan(records);
    scan.Command->Execute();
    // S2 is never asked about P1; S3 joins P1; P4, the same file as S3, is left out of that
    // group and takes S2, a real copy of it, into its own.
    EXPECT_EQ(scan.Groups(), (std::vector<int>{1, 2, 1, 2}));
    for (const std::string& line : scan.Recorder.Log) {
        EXPECT_NE(line, "match 0,1");
        EXPECT_NE(line, "match 0,3");
    }
}

TEST(TScanCommand, SecondaryBeforeItsPrimary) {
    TScan scan(Records("S:a P:a"));
    scan.Command->Execute();
    EXPECT_EQ(scan.Groups(), (std::vector<int>{1, 1}));
    EXPECT_EQ(scan.Recorder.Log,
              Join({Queries(2),
                    {"matching 1", "match 1,0", "changed 1 to 1", "progress 1 of 2",
                     "changed 0 to 1", "progress 2 of 2", "matched 1"},
                    Queries(2)}));
}

TEST(TScanCommand, FiveRecords) {
    // S1 P2 P3 S4 P5: P2 equals P3, S1 equals P5 only.
    TScan scan(Records("S:b P:a P:a S:c P:b"));
    scan.Command->Execute();
    EXPECT_EQ(scan.Groups(), (std::vector<int>{2, 1, 1, 0, 2}));
    EXPECT_EQ(scan.Recorder.Log,
              Join({Queries(2),
                    {"matching 1", "match 1,0", "match 1,2", "changed 1 to 1", "progress 1 of 5",
                     "changed 2 to 1", "progress 2 of 5", "match 1,3", "match 1,4", "matched 1"},
                    Queries(3),
                    {"matching 4", "match 4,0", "changed 4 to 2", "progress 3 of 5",
                     "changed 0 to 2", "progress 4 of 5", "match 4,3", "matched 4"},
                    Queries(4),
                    {"changed 3 to 0", "progress 5 of 5"},
                    Queries(1)}));
}

TEST(TScanCommand, SecondariesOnlyBecomeUniqueInTheClosingPass) {
    TScan scan(Records("S:a S:a"));
    scan.Command->Execute();
    EXPECT_EQ(scan.Groups(), (std::vector<int>{0, 0}));
    EXPECT_EQ(scan.Recorder.Log, Join({Queries(3),
                                       {"changed 0 to 0", "progress 1 of 2"},
                                       Queries(1),
                                       {"changed 1 to 0", "progress 2 of 2"}}));
}

TEST(TScanCommand, TwoClasses) {
    TScan scan(Records("P:a P:b P:a P:b"));
    scan.Command->Execute();
    EXPECT_EQ(scan.Groups(), (std::vector<int>{1, 2, 1, 2}));
    EXPECT_EQ(scan.Recorder.Log,
              Join({Queries(1),
                    {"matching 0", "match 0,1", "match 0,2", "changed 0 to 1", "progress 1 of 4",
                     "changed 2 to 1", "progress 2 of 4", "match 0,3", "matched 0"},
                    Queries(1),
                    {"matching 1", "match 1,3", "changed 1 to 2", "progress 3 of 4",
                     "changed 3 to 2", "progress 4 of 4", "matched 1"},
                    Queries(2),
                    Queries(3)})); // the closing pass over the window 1..3
}

TEST(TScanCommand, PrimaryThatEqualsNothing) {
    TScan scan(Records("P:a S:b"));
    scan.Command->Execute();
    EXPECT_EQ(scan.Groups(), (std::vector<int>{0, 0}));
    EXPECT_EQ(scan.Recorder.Log,
              Join({Queries(1),
                    {"matching 0", "match 0,1", "changed 0 to 0", "progress 1 of 2", "matched 0"},
                    Queries(3),
                    {"changed 1 to 0", "progress 2 of 2"}}));
}

TEST(TScanCommand, RerunResetsGroupsFirst) {
    TScanRecords records = Records("P:a S:a P:b S:c");
    records[0].Group = 3;
    records[1].Group = 0;
    records[3].Group = 1;
    TScan scan(records);
    scan.Command->Execute();
    EXPECT_EQ(scan.Groups(), (std::vector<int>{1, 1, 0, 0}));
    const Lines reset = {"changed 0 to -1", "changed 1 to -1", "changed 3 to -1"};
    EXPECT_EQ(scan.Recorder.Log,
              Join({reset,
                    Queries(1),
                    {"matching 0", "match 0,1", "changed 0 to 1", "progress 1 of 4",
                     "changed 1 to 1", "progress 2 of 4", "match 0,2", "match 0,3", "matched 0"},
                    Queries(2),
                    {"matching 2", "match 2,3", "changed 2 to 0", "progress 3 of 4", "matched 2"},
                    Queries(1), // index 3
                    Queries(2), // the closing pass over the window 2..3
                    {"changed 3 to 0", "progress 4 of 4"}}));
}

TEST(TScanCommand, EmptyRecordsFireNothing) {
    TScan scan(TScanRecords{});
    scan.Command->Execute();
    EXPECT_TRUE(scan.Recorder.Log.empty());
}

TEST(TScanCommand, CancelFromIndexOneOn) {
    TScan scan(Records("P:a P:b"));
    scan.Recorder.QueryAnswer = [](int query) { return query < 2; };
    EXPECT_THROW(scan.Command->Execute(), Kiv_framework::EAbort);
    EXPECT_EQ(scan.Groups(), (std::vector<int>{0, -1}));
    EXPECT_EQ(scan.Recorder.Log,
              (Lines{"command query", "matching 0", "match 0,1", "changed 0 to 0",
                     "progress 1 of 2", "matched 0", "command query: stop"}));
}

TEST(TScanCommand, NonZeroPriorityCountsAsSecondary) {
    TScanRecords records = Records("P:a P:a");
    records[0].Priority = static_cast<TScanPriority>(7);
    TScan scan(records);
    scan.Command->Execute();
    EXPECT_EQ(scan.Groups(), (std::vector<int>{1, 1}));
    EXPECT_EQ(scan.Recorder.Log[2], "matching 1");
}

TEST(TScanCommand, UnsetEventsAreSkippedAndQueryContinueIsTrue) {
    TScanRecords records = Records("P:a S:a S:b");
    auto* matchers = new TScanMatchers;
    matchers->Add(new TScanNameMatcher);
    TScanCommand command(records, matchers);
    EXPECT_TRUE(command.QueryContinue());
    command.Execute();
    EXPECT_EQ(ScanTest::GroupsOf(records), (std::vector<int>{1, 1, 0}));
    EXPECT_TRUE(command.Records().SharesBufferWith(records));
    EXPECT_EQ(command.Matchers().Count(), 1);
}

TEST(TScanCommand, MatcherErrorEndsTheRunWithThePartialState) {
    class TFailing : public TScanMatcher {
    public:
        bool Match(TScanRecord&, TScanRecord& B) override {
            if (B.Name() == "bad")
                throw App_common::EAppError("The program could not read the file \"bad\".");
            return true;
        }
    };
    TScanRecords records = Records("P:a S:a S:bad S:a");
    auto* matchers = new TScanMatchers;
    matchers->Add(new TFailing);
    TScanCommand command(records, matchers);
    EXPECT_THROW(command.Execute(), App_common::EAppError);
    EXPECT_EQ(ScanTest::GroupsOf(records), (std::vector<int>{1, 1, -1, -1}));
}

// ---------------------------------------------------------------------------------------
// The metadata matchers

TEST(ScanMatchers, NamesIgnoreCaseTypesDoNot) {
    TScanRecord a, b;
    a.SetName("Report.TXT");
    b.SetName("report.txt");
    a.SetDirectory("/Home/ÄBC");
    b.SetDirectory("/home/äbc");
    a.SetBaseName("ÄBC");
    b.SetBaseName("äbc");
    a.SetExtension(".TXT");
    b.SetExtension(".txt");
    a.SetType("Text Document");
    b.SetType("text document");
    EXPECT_TRUE(TScanNameMatcher().Match(a, b));
    EXPECT_TRUE(TScanDirectoryMatcher().Match(a, b));
    EXPECT_TRUE(TScanBaseNameMatcher().Match(a, b));
    EXPECT_TRUE(TScanExtensionMatcher().Match(a, b));
    EXPECT_FALSE(TScanTypeMatcher().Match(a, b));
    b.SetType("Text Document");
    EXPECT_TRUE(TScanTypeMatcher().Match(a, b));
}

TEST(ScanMatchers, InvalidUtf8NamesCompareByTheirBytes) {
    TScanRecord a, b;
    a.SetName("A\xFF.txt");
    b.SetName("a\xFF.TXT");
    EXPECT_TRUE(TScanNameMatcher().Match(a, b));
    b.SetName("a\xFE.txt");
    EXPECT_FALSE(TScanNameMatcher().Match(a, b));
}

TEST(ScanMatchers, IntegersAreExact) {
    TScanRecord a, b;
    for (TScanRecord* record : {&a, &b}) {
        record->SetSize(0x1'0000'0001ull);
        record->SetCreationTime(133'000'000'000'000'000ull);
        record->SetLastWriteTime(5);
        record->SetLastAccessTime(6);
        record->SetAttributes(0x21);
    }
    EXPECT_TRUE(TScanSizeMatcher().Match(a, b));
    EXPECT_TRUE(TScanCreationTimeMatcher().Match(a, b));
    EXPECT_TRUE(TScanLastWriteTimeMatcher().Match(a, b));
    EXPECT_TRUE(TScanLastAccessTimeMatcher().Match(a, b));
    EXPECT_TRUE(TScanAttributesMatcher().Match(a, b));
    b.SetSize(1); // the same low half
    b.SetCreationTime(b.CreationTime() + 1);
    b.SetLastWriteTime(b.LastWriteTime() + 1);
    b.SetLastAccessTime(b.LastAccessTime() - 1);
    b.SetAttributes(0x80000021);
    EXPECT_FALSE(TScanSizeMatcher().Match(a, b));
    EXPECT_FALSE(TScanCreationTimeMatcher().Match(a, b));
    EXPECT_FALSE(TScanLastWriteTimeMatcher().Match(a, b));
    EXPECT_FALSE(TScanLastAccessTimeMatcher().Match(a, b));
    EXPECT_FALSE(TScanAttributesMatcher().Match(a, b));
}

std::vector<std::unique_ptr<TScanMatcher>> MetadataMatchers() {
    std::vector<std::unique_ptr<TScanMatcher>> all;
    all.push_back(std::make_unique<TScanDirectoryMatcher>());
    all.push_back(std::make_unique<TScanNameMatcher>());
    all.push_back(std::make_unique<TScanBaseNameMatcher>());
    all.push_back(std::make_unique<TScanExtensionMatcher>());
    all.push_back(std::make_unique<TScanSizeMatcher>());
    all.push_back(std::make_unique<TScanTypeMatcher>());
    all.push_back(std::make_unique<TScanCreationTimeMatcher>());
    all.push_back(std::make_unique<TScanLastWriteTimeMatcher>());
    all.push_back(std::make_unique<TScanLastAccessTimeMatcher>());
    all.push_back(std::make_unique<TScanAttributesMatcher>());
    return all;
}

TScanRecord RandomRecord(std::mt19937& random) {
    const auto pick = [&](const std::vector<std::string>& from) {
        return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
    };
    const auto number = [&](int high) {
        return std::uniform_int_distribution<int>(0, high)(random);
    };
    TScanRecord record;
    record.SetDirectory(pick({"/a", "/A", "/Ä", "/ä", "/b", "/a\xFF", "/A\xFF"}));
    record.SetName(pick({"x.txt", "X.TXT", "ä.txt", "Ä.TXT", "y.txt", "x\xFE.txt", "X\xFE.TXT"}));
    record.SetBaseName(pick({"x", "X", "ä", "Ä", "y"}));
    record.SetExtension(pick({".txt", ".TXT", ".Ö", ".ö", ""}));
    record.SetSize(static_cast<std::uint64_t>(number(3)) << (number(1) * 32));
    record.SetType(pick({"text", "Text", "image", "Ä", "ä"}));
    record.SetCreationTime(static_cast<std::uint64_t>(number(2)));
    record.SetLastWriteTime(static_cast<std::uint64_t>(number(2)));
    record.SetLastAccessTime(static_cast<std::uint64_t>(number(2)));
    record.SetAttributes(number(1) == 0 ? 0x20 : 0x21);
    return record;
}

TEST(ScanMatchers, KeysAgreeWithMatch) {
    // A declared key is what lets the command leave pairs out: equal keys must mean true,
    // different keys false, for every metadata matcher, and Match must be symmetric.
    std::mt19937 random(7);
    std::vector<TScanRecord> records;
    for (int i = 0; i < 60; ++i)
        records.push_back(RandomRecord(random));
    for (const auto& matcher : MetadataMatchers()) {
        EXPECT_EQ(matcher->KeyKind(), TMatchKeyKind::mkDecisive);
        for (auto& a : records)
            for (auto& b : records) {
                std::string keyA, keyB;
                ASSERT_TRUE(matcher->GetMatchKey(a, keyA));
                ASSERT_TRUE(matcher->GetMatchKey(b, keyB));
                EXPECT_EQ(matcher->Match(a, b), keyA == keyB);
                EXPECT_EQ(matcher->Match(a, b), matcher->Match(b, a));
            }
    }
}

TEST(TScanMatcher, QueryContinueAndCheckContinue) {
    TScanNameMatcher matcher;
    EXPECT_TRUE(matcher.QueryContinue());
    EXPECT_NO_THROW(matcher.CheckContinue());
    TScanMatcher* sender = nullptr;
    matcher.OnQueryContinue = [&](TScanMatcher* who, bool& go) {
        sender = who;
        go = false;
    };
    EXPECT_FALSE(matcher.QueryContinue());
    EXPECT_EQ(sender, &matcher);
    EXPECT_THROW(matcher.CheckContinue(), Kiv_framework::EAbort);
    EXPECT_EQ(matcher.KeyKind(), TMatchKeyKind::mkDecisive);
}

TEST(TScanMatchers, StopsAtTheFirstFalseAndOwnsItsMatchers) {
    static int destroyed = 0;
    struct TCounting : TScanMatcher {
        TCounting(bool answer, int& calls) : Answer(answer), Calls(calls) {}
        ~TCounting() override { ++destroyed; }
        bool Match(TScanRecord&, TScanRecord&) override {
            ++Calls;
            return Answer;
        }
        bool Answer;
        int& Calls;
    };
    TScanRecord a, b;
    int first = 0, second = 0, third = 0;
    {
        TScanMatchers empty;
        EXPECT_TRUE(empty.Match(a, b));
        TScanMatchers matchers;
        EXPECT_EQ(matchers.Add(new TCounting(true, first)), 0);
        EXPECT_EQ(matchers.Add(new TCounting(false, second)), 1);
        EXPECT_EQ(matchers.Add(new TCounting(true, third)), 2);
        EXPECT_FALSE(matchers.Match(a, b));
        EXPECT_EQ(first, 1);
        EXPECT_EQ(second, 1);
        EXPECT_EQ(third, 0);
    }
    EXPECT_EQ(destroyed, 3);
}

TEST(TScanMatchers, AttributesDifferenceStopsBeforeTheHashMatcher) {
    TScanRecord a, b;
    a.SetSize(10);
    b.SetSize(10);
    a.SetAttributes(0x20);
    b.SetAttributes(0x21);
    a.SetPath("/nonexistent/sorvik-a");
    b.SetPath("/nonexistent/sorvik-b");
    TScanMatchers matchers;
    matchers.Add(new TScanAttributesMatcher);
    matchers.Add(new TScanSizeMatcher);
    matchers.Add(new TScanHashMatcher);
    EXPECT_FALSE(matchers.Match(a, b)); // no hash computed: the files do not exist
    EXPECT_TRUE(a.Hash.empty());
    EXPECT_TRUE(b.Hash.empty());
}

// ---------------------------------------------------------------------------------------
// The engine's guarantees, on random runs

// The content of a test record: its Path names it, "/c<n>", or "/unreadable<n>".
int ContentOf(const TScanRecord& record) {
    return std::stoi(record.Path().substr(record.Path().find_first_of("0123456789")));
}
bool Unreadable(const TScanRecord& record) {
    return record.Path().rfind("/unreadable", 0) == 0;
}

// Stands in for the binaries matcher and the like: declares nothing, logs every call,
// passes a cancel point, equal when the contents are.
class TRecordingContentMatcher : public TScanMatcher {
public:
    explicit TRecordingContentMatcher(TRecorder& recorder) : Recorder(recorder) {}
    bool Match(TScanRecord& A, TScanRecord& B) override {
        Recorder.Add(Pair("content", Recorder.IndexOf(A), Recorder.IndexOf(B)));
        CheckContinue();
        return ContentOf(A) == ContentOf(B);
    }

private:
    TRecorder& Recorder;
};

// Behaves as TScanHashMatcher does, observably: a missing hash is computed, candidate
// first, with a cancel point per chunk, and the hash text is then the content's; it
// declares its key the same way, so the command's hash level is exercised.
class TFakeHashMatcher : public TScanMatcher {
public:
    explicit TFakeHashMatcher(TRecorder& recorder) : Recorder(recorder) {}
    bool Match(TScanRecord& A, TScanRecord& B) override {
        Ensure(B);
        Ensure(A);
        return A.Hash == B.Hash;
    }
    TMatchKeyKind KeyKind() const override { return TMatchKeyKind::mkDecisiveWhenKnown; }
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override {
        if (record.Hash.empty())
            return false;
        key += record.Hash;
        return true;
    }

private:
    void Ensure(TScanRecord& record) {
        if (!record.Hash.empty())
            return;
        Recorder.Add("hash " + std::to_string(Recorder.IndexOf(record)));
        for (int chunk = 0; chunk <= ContentOf(record) % 3; ++chunk) {
            CheckContinue();
            if (Unreadable(record))
                throw App_common::EAppError(
                    "The program could not get the hash value of the file \"" + record.Path() +
                    "\".");
        }
        record.Hash = "H" + std::to_string(ContentOf(record));
    }
    TRecorder& Recorder;
};

// Behaves as TScanBinariesMatcher does, observably: different sizes answer false at once;
// otherwise a logged comparison with a cancel point.
class TFakeBinariesMatcher : public TScanMatcher {
public:
    explicit TFakeBinariesMatcher(TRecorder& recorder) : Recorder(recorder) {}
    bool Match(TScanRecord& A, TScanRecord& B) override {
        if (A.Size() != B.Size())
            return false;
        Recorder.Add(Pair("binaries", Recorder.IndexOf(A), Recorder.IndexOf(B)));
        if (A.Size() > 0)
            CheckContinue();
        if (Unreadable(A) || Unreadable(B))
            throw App_common::EAppError("The program could not open the file.");
        return ContentOf(A) == ContentOf(B);
    }
    TMatchKeyKind KeyKind() const override { return TMatchKeyKind::mkExcluding; }
    bool GetMatchKey(const TScanRecord& record, std::string& key) const override {
        key += std::to_string(record.Size());
        return true;
    }

private:
    TRecorder& Recorder;
};

// A random scan: records, and the recipe of a matcher chain that can be built twice.
struct TRandomCase {
    std::vector<TScanRecord> Records;
    std::vector<int> Chain; // 0..9 metadata matchers, 10 fake hash, 11 fake binaries, 12 recording
    int StopAt = 0;         // the query that answers false; 0: none
};

TRandomCase RandomCase(std::mt19937& random, int maxCount) {
    const auto number = [&](int high) {
        return std::uniform_int_distribution<int>(0, high)(random);
    };
    TRandomCase scan;
    const int count = number(maxCount);
    const int contents = 1 + number(5);
    for (int i = 0; i < count; ++i) {
        TScanRecord record = RandomRecord(random);
        const int content = number(contents);
        record.SetPath((number(30) == 0 ? "/unreadable" : "/c") + std::to_string(content));
        if (number(2) == 0) // a hash from an earlier scan, now and then out of date
            record.Hash = "H" + std::to_string(number(6) == 0 ? number(contents) : content);
        record.Priority =
            number(2) == 0 ? spSecondary : (number(9) == 0 ? TScanPriority(2) : spPrimary);
        record.Group = std::vector<int>{-1, -1, -1, 0, 1, 2, -3}[number(6)];
        // Now and then one file under several names: the same device and inode.
        if (number(3) == 0)
            record.SetIdentity(1, static_cast<std::uint64_t>(1 + number(count / 3 + 1)));
        scan.Records.push_back(record);
    }
    // Mostly the task's shape (metadata first, content last), sometimes anything.
    std::vector<int> metadata = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::shuffle(metadata.begin(), metadata.end(), random);
    metadata.resize(static_cast<std::size_t>(number(3)));
    scan.Chain = metadata;
    if (number(3) != 0)
        scan.Chain.push_back(10);
    if (number(2) == 0)
        scan.Chain.push_back(11);
    if (number(2) == 0)
        scan.Chain.push_back(12);
    if (number(4) == 0)
        std::shuffle(scan.Chain.begin(), scan.Chain.end(), random);
    scan.StopAt = number(3) == 0 ? 1 + number(4 * count + 4) : 0;
    return scan;
}

TScanMatchers* BuildChain(const std::vector<int>& chain, TRecorder& recorder,
                          TScanMatchers* matchers = new TScanMatchers) {
    for (const int kind : chain) {
        TScanMatcher* matcher = nullptr;
        if (kind < 10)
            matcher = MetadataMatchers()[static_cast<std::size_t>(kind)].release();
        else if (kind == 10)
            matcher = new TFakeHashMatcher(recorder);
        else if (kind == 11)
            matcher = new TFakeBinariesMatcher(recorder);
        else
            matcher = new TRecordingContentMatcher(recorder);
        recorder.Bind(*matcher);
        matchers->Add(matcher);
    }
    return matchers;
}

TScanRecords ToRecords(const std::vector<TScanRecord>& list) {
    TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
    return records;
}

struct TOutcome {
    Lines Log;
    std::vector<int> Groups;
    std::vector<std::string> Hashes;
    std::string Ending; // "completed", "aborted" or the error's message
};

template <typename Run>
TOutcome RunCase(const TRandomCase& scan, Run run) {
    TOutcome outcome;
    TScanRecords records = ToRecords(scan.Records);
    TRecorder recorder;
    recorder.First = records.begin();
    const int stopAt = scan.StopAt;
    recorder.QueryAnswer = [stopAt](int query) { return stopAt == 0 || query < stopAt; };
    try {
        run(records, BuildChain(scan.Chain, recorder), recorder);
        outcome.Ending = "completed";
    } catch (const Kiv_framework::EAbort&) {
        outcome.Ending = "aborted";
    } catch (const App_common::EAppError& error) {
        outcome.Ending = error.Message();
    }
    outcome.Log = recorder.Log;
    outcome.Groups = ScanTest::GroupsOf(records);
    outcome.Hashes = ScanTest::HashesOf(records);
    return outcome;
}

TOutcome RunReference(const TRandomCase& scan) {
    return RunCase(scan, [](TScanRecords& records, TScanMatchers* matchers, TRecorder& recorder) {
        std::unique_ptr<TScanMatchers> owned(matchers);
        ScanTest::ReferenceExecute(records, *owned, recorder);
    });
}

TOutcome RunCommand(const TRandomCase& scan) {
    return RunCase(scan, [](TScanRecords& records, TScanMatchers* matchers, TRecorder& recorder) {
        TScanCommand command(records, matchers);
        recorder.Bind(command);
        command.Execute();
    });
}

std::string Describe(const TRandomCase& scan) {
    std::ostringstream out;
    out << "chain";
    for (const int kind : scan.Chain)
        out << ' ' << kind;
    out << ", stop at " << scan.StopAt << ", records:";
    for (const auto& r : scan.Records)
        out << " [" << (r.Priority == spPrimary ? 'P' : 'S') << ' ' << r.Path() << ' ' << r.Hash
            << " size " << r.Size() << " group " << r.Group << ']';
    return out.str();
}

TEST(TScanCommand, AgreesWithThePlainAlgorithmOnRandomScans) {
    std::mt19937 random(20260601);
    int completed = 0, aborted = 0, failed = 0, hashed = 0;
    for (int round = 0; round < 4000; ++round) {
        const TRandomCase scan = RandomCase(random, round % 10 == 0 ? 200 : 24);
        const TOutcome expected = RunReference(scan);
        const TOutcome actual = RunCommand(scan);
        ASSERT_EQ(actual.Ending, expected.Ending) << Describe(scan);
        ASSERT_EQ(actual.Log, expected.Log) << Describe(scan);
        ASSERT_EQ(actual.Groups, expected.Groups) << Describe(scan);
        ASSERT_EQ(actual.Hashes, expected.Hashes) << Describe(scan);
        completed += expected.Ending == "completed";
        aborted += expected.Ending == "aborted";
        failed += expected.Ending != "completed" && expected.Ending != "aborted";
        hashed += std::count_if(expected.Log.begin(), expected.Log.end(),
                                [](const std::string& line) { return line.rfind("hash", 0) == 0; });
    }
    // The random cases reach every ending and compute hashes on the way.
    EXPECT_GT(completed, 1000);
    EXPECT_GT(aborted, 100);
    EXPECT_GT(failed, 50);
    EXPECT_GT(hashed, 1000);
}

TEST(TScanCommand, GuaranteesHoldOnRandomScans) {
    std::mt19937 random(99);
    for (int round = 0; round < 1500; ++round) {
        TRandomCase scan = RandomCase(random, 30);
        scan.StopAt = 0;
        for (auto& record : scan.Records) // no errors here: every run completes
            if (Unreadable(record))
                record.SetPath("/c0");
        TScanRecords records = ToRecords(scan.Records);
        TRecorder recorder;
        recorder.First = records.begin();
        std::vector<std::pair<int, int>> pairs;
        struct TPairs : TScanMatcher {
            TPairs(TRecorder& recorder, std::vector<std::pair<int, int>>& pairs)
                : Recorder(recorder), Pairs(pairs) {}
            bool Match(TScanRecord& A, TScanRecord& B) override {
                Pairs.emplace_back(Recorder.IndexOf(A), Recorder.IndexOf(B));
                return true;
            }
            TRecorder& Recorder;
            std::vector<std::pair<int, int>>& Pairs;
        };
        // First, it sees every pair that is handed over; last, every pair that reaches the
        // end of the chain.
        TScanMatchers* matchers = new TScanMatchers;
        const bool first = round % 2 == 0;
        if (first)
            matchers->Add(new TPairs(recorder, pairs));
        BuildChain(scan.Chain, recorder, matchers);
        if (!first)
            matchers->Add(new TPairs(recorder, pairs));
        TScanCommand command(records, matchers);
        recorder.Bind(command);
        command.Execute();

        const int count = records.Length();
        std::map<int, int> finalChanges;
        std::vector<int> progress;
        for (const auto& line : recorder.Log) {
            int index = 0, value = 0, of = 0;
            if (std::sscanf(line.c_str(), "changed %d to %d", &index, &value) == 2 && value >= 0)
                ++finalChanges[index];
            if (std::sscanf(line.c_str(), "progress %d of %d", &value, &of) == 2) {
                progress.push_back(value);
                EXPECT_EQ(of, count);
            }
        }
        // One final assignment each, with one change and one progress; Position ends at Count.
        ASSERT_EQ(static_cast<int>(finalChanges.size()), count);
        for (const auto& [index, changes] : finalChanges)
            EXPECT_EQ(changes, 1) << index;
        ASSERT_EQ(static_cast<int>(progress.size()), count);
        for (int k = 0; k < count; ++k)
            EXPECT_EQ(progress[k], k + 1);
        // Each pair at most once, primary first, the lower index first between primaries,
        // never two secondaries.
        std::set<std::pair<int, int>> seen;
        for (const auto& [a, b] : pairs) {
            EXPECT_TRUE(seen.insert({std::min(a, b), std::max(a, b)}).second);
            EXPECT_EQ(records[a].Priority, spPrimary);
            if (records[b].Priority == spPrimary) {
                EXPECT_LT(a, b);
            }
        }
        // Groups: numbered from 1 in the order of their pivots, at least two members, a
        // primary among them.
        std::map<int, std::vector<int>> groups;
        for (int i = 0; i < count; ++i) {
            ASSERT_GE(records[i].Group, 0);
            if (records[i].Group > 0)
                groups[records[i].Group].push_back(i);
        }
        int lastPivot = -1, number = 0;
        for (const auto& [group, members] : groups) {
            EXPECT_EQ(group, ++number);
            EXPECT_GE(members.size(), 2u);
            int pivot = -1;
            for (const int m : members)
                if (records[m].Priority == spPrimary) {
                    pivot = m;
                    break;
                }
            ASSERT_GE(pivot, 0);
            EXPECT_GT(pivot, lastPivot);
            lastPivot = pivot;
            // No file is in a group twice under two names.
            for (std::size_t x = 0; x < members.size(); ++x)
                for (std::size_t y = x + 1; y < members.size(); ++y)
                    EXPECT_FALSE(records[members[x]].IsSameFile(records[members[y]]));
        }
    }
}

} // namespace
