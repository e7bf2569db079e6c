// The content matchers on real files in a temporary folder, and the command with the real
// hash and binaries matchers against the plain algorithm.
#include "App_common.h"
#include "App_scan.h"
#include "Kiv_locale.h"
#include "ScanFilesTestSupport.h"
#include "ScanReference.h"
#include "TestFiles.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace App_scan;
using App_common::EAppError;
using ScanTest::AbcDigest;
using ScanTest::Bytes;
using ScanTest::EmptyDigest;
using ScanTest::FileRecord;
using ScanTest::OpenDescriptors;
using ScanTest::OpenSslSha256;
using ScanTest::RecordOf;
using ScanTest::TRecorder;
using ScanTest::TTemporaryFolder;

using TestFiles::MessageOf;

namespace {

// Counts the matcher's cancel points; answers false from the stopAt-th on (0: never).
struct TQueries {
    explicit TQueries(TScanMatcher& matcher, int stopAt = 0) {
        matcher.OnQueryContinue = [this, stopAt](TScanMatcher*, bool& go) {
            ++Count;
            go = stopAt == 0 || Count < stopAt;
        };
    }
    int Count = 0;
};

// ---------------------------------------------------------------------------------------
// TScanHashMatcher

TEST(TScanHashMatcher, EqualFilesHaveEqualHashes) {
    TTemporaryFolder folder;
    TScanRecord a = FileRecord(folder, "a", "abc");
    TScanRecord b = FileRecord(folder, "b", "abc");
    TScanHashMatcher matcher;
    TQueries queries(matcher);
    EXPECT_TRUE(matcher.Match(a, b));
    EXPECT_EQ(a.Hash, AbcDigest);
    EXPECT_EQ(b.Hash, AbcDigest);
    EXPECT_EQ(queries.Count, 2); // per file one read, which finds "abc" and the end
}

TEST(TScanHashMatcher, ReadsInChunksToTheEnd) {
    TTemporaryFolder folder;
    const std::string content = Bytes(3 * ReadChunkSize + 5, 1);
    TScanRecord a = FileRecord(folder, "a", content);
    TScanHashMatcher matcher;
    TQueries queries(matcher);
    EXPECT_EQ(&matcher.EnsureHash(a), &a);
    EXPECT_EQ(a.Hash, OpenSslSha256(content));
    EXPECT_EQ(queries.Count, 4); // before each of four reads, the last one short: the end
    // A file of whole chunks needs one more read, which finds nothing.
    const std::string whole = Bytes(2 * ReadChunkSize, 3);
    TScanRecord b = FileRecord(folder, "b", whole);
    matcher.EnsureHash(b);
    EXPECT_EQ(b.Hash, OpenSslSha256(whole));
    EXPECT_EQ(queries.Count, 7);
}

TEST(TScanHashMatcher, AFileThatIsNotWhatWasListedHasNoHash) {
    // A file truncated or grown since it was listed once gave the hash of what was there:
    // files of different contents could form one group. Now it is reported by name.
    TTemporaryFolder folder;
    const std::string content = Bytes(3 * ReadChunkSize + 5, 1);
    const std::string path = folder.File("a", content);
    TScanHashMatcher matcher;
    for (const std::uint64_t listed : {std::uint64_t{7}, content.size() + 1}) {
        TScanRecord record = RecordOf(path, listed);
        EXPECT_EQ(MessageOf<EAppError>([&] { matcher.ComputeHash(record); }),
                  "The file \"" + path + "\" changed after it was added to the list.");
        EXPECT_TRUE(record.Hash.empty());
    }
    // Another file put in its place: the same name and size, another inode.
    TScanRecord listed = RecordOf(path, content.size());
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    listed.SetIdentity(info.st_dev, info.st_ino + 1);
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.ComputeHash(listed); }),
              "The file \"" + path + "\" changed after it was added to the list.");
    listed.SetIdentity(info.st_dev, info.st_ino);
    matcher.ComputeHash(listed);
    EXPECT_EQ(listed.Hash, OpenSslSha256(content));
}

TEST(TScanHashMatcher, AFileChangedWhileItIsReadHasNoHash) {
    // The hash of a file written to, or replaced under its name, while it was read is the
    // hash of no file that is there: once such files were taken for copies.
    TTemporaryFolder folder;
    const std::string content = Bytes(3 * ReadChunkSize + 5, 11);
    const std::string other = Bytes(content.size(), 12);
    const std::vector<std::pair<std::uint64_t, std::function<void(const std::string&)>>> changes = {
        {ReadChunkSize, ScanTest::RewriteFirstByte},
        {ReadChunkSize, [&](const std::string& path) { ScanTest::RenameOver(path, other); }},
        {ReadChunkSize, [&](const std::string& path) { ScanTest::RenameOver(path, content); }},
        // After the last read, which found the listed size: it grew.
        {content.size(), [](const std::string& path) { ScanTest::Append(path, "!"); }}};
    for (const auto& [offset, change] : changes) {
        TScanRecord record = FileRecord(folder, "a", content);
        const std::string path = record.Path();
        ScanTest::AgeFile(path);
        const ScanTest::TChangeWhileRead changer(path, offset, [&] { change(path); });
        TScanHashMatcher matcher;
        EXPECT_EQ(MessageOf<EAppError>([&] { matcher.ComputeHash(record); }),
                  "The file \"" + path + "\" changed after it was added to the list.");
        EXPECT_TRUE(changer.Changed());
        EXPECT_TRUE(record.Hash.empty());
    }
    // Unchanged, the same reads give the hash.
    TScanRecord record = FileRecord(folder, "b", content);
    const ScanTest::TChangeWhileRead nobody(record.Path() + "-other", 0, [] {});
    TScanHashMatcher().ComputeHash(record);
    EXPECT_EQ(record.Hash, OpenSslSha256(content));
}

TEST(TScanHashMatcher, WhatIsReadIsTheFileListedNeverALinkOrAFifo) {
    TTemporaryFolder folder;
    const std::string outside = folder.File("outside", "secret");
    const std::string path = folder.Missing("listed");
    TScanHashMatcher matcher;
    // A symbolic link swapped in after the listing is not followed out of the tree.
    ASSERT_EQ(::symlink(outside.c_str(), path.c_str()), 0);
    TScanRecord link = RecordOf(path, 6);
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.ComputeHash(link); }),
              "The file \"" + path + "\" changed after it was added to the list.");
    // A FIFO swapped in does not hang the scan in open, waiting for a writer.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    TScanRecord fifo = RecordOf(path, 0);
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.ComputeHash(fifo); }),
              "The file \"" + path + "\" changed after it was added to the list.");
    EXPECT_EQ(MessageOf<EAppError>([&] { TScanBinariesMatcher().Match(fifo, fifo); }),
              "The file \"" + path + "\" changed after it was added to the list.");
}

TEST(TScanHashMatcher, APathLongerThanTheSystemTakesIsReadThroughItsFolders) {
    TTemporaryFolder folder;
    const std::string path = ScanTest::MakeDeepFile(folder.Path, 4200, "deep content");
    ASSERT_GT(path.size(), 4096u);
    TScanRecord record = RecordOf(path, 12);
    TScanHashMatcher matcher;
    matcher.ComputeHash(record);
    EXPECT_EQ(record.Hash, OpenSslSha256("deep content"));
}

TEST(TScanHashMatcher, DifferenceInTheLastByte) {
    TTemporaryFolder folder;
    std::string content = Bytes(100'000, 2);
    TScanRecord a = FileRecord(folder, "a", content);
    content.back() ^= 1;
    TScanRecord b = FileRecord(folder, "b", content);
    TScanHashMatcher matcher;
    EXPECT_FALSE(matcher.Match(a, b));
    EXPECT_NE(a.Hash, b.Hash);
}

TEST(TScanHashMatcher, TwoEmptyFiles) {
    TTemporaryFolder folder;
    TScanRecord a = FileRecord(folder, "a", "");
    TScanRecord b = FileRecord(folder, "b", "");
    TScanHashMatcher matcher;
    EXPECT_TRUE(matcher.Match(a, b));
    EXPECT_EQ(a.Hash, EmptyDigest);
}

TEST(TScanHashMatcher, TrustsAHashThatIsThere) {
    // Neither file exists: a hash already set is compared as it is, with no file opened
    // and no cancel point passed.
    TTemporaryFolder folder;
    TScanRecord a = RecordOf(folder.Missing("a"), 3);
    TScanRecord b = RecordOf(folder.Missing("b"), 3);
    a.Hash = b.Hash = AbcDigest;
    TScanHashMatcher matcher;
    TQueries queries(matcher);
    EXPECT_TRUE(matcher.Match(a, b));
    b.Hash = EmptyDigest;
    EXPECT_FALSE(matcher.Match(a, b));
    EXPECT_EQ(queries.Count, 0);
    // Even when the file says otherwise: the text from an earlier scan stands.
    TScanRecord changed = FileRecord(folder, "changed", "abc");
    changed.Hash = EmptyDigest;
    TScanRecord fresh = FileRecord(folder, "fresh", "");
    EXPECT_TRUE(matcher.Match(changed, fresh));
    EXPECT_EQ(changed.Hash, EmptyDigest);
}

TEST(TScanHashMatcher, CaseOfTheTextMatters) {
    TScanRecord a = RecordOf("/nonexistent", 0);
    TScanRecord b = RecordOf("/nonexistent", 0);
    a.Hash = "ab";
    b.Hash = "AB";
    EXPECT_FALSE(TScanHashMatcher().Match(a, b));
}

TEST(TScanHashMatcher, NamesTheCandidateWhenNeitherFileOpens) {
    TTemporaryFolder folder;
    TScanRecord pivot = RecordOf(folder.Missing("pivot"), 1);
    TScanRecord candidate = RecordOf(folder.Missing("candidate"), 1);
    TScanHashMatcher matcher;
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.Match(pivot, candidate); }),
              "The program could not get the hash value of the file \"" + candidate.Path() + "\".");
}

TEST(TScanHashMatcher, ComputesTheCandidateFirstAndKeepsItsHash) {
    TTemporaryFolder folder;
    TScanRecord pivot = RecordOf(folder.Missing("pivot"), 3);
    TScanRecord candidate = FileRecord(folder, "candidate", "abc");
    TScanHashMatcher matcher;
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.Match(pivot, candidate); }),
              "The program could not get the hash value of the file \"" + pivot.Path() + "\".");
    EXPECT_EQ(candidate.Hash, AbcDigest);
    EXPECT_TRUE(pivot.Hash.empty());
}

TEST(TScanHashMatcher, AFailedReadIsAnErrorNotTheEnd) {
    // /proc/self/mem is a regular file of size 0 whose first read fails (EIO): the hash of
    // the bytes read so far must not be taken for the file's.
    TScanRecord memory = RecordOf("/proc/self/mem", 0);
    TScanHashMatcher matcher;
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.ComputeHash(memory); }),
              "The program could not get the hash value of the file \"/proc/self/mem\".");
    EXPECT_TRUE(memory.Hash.empty());
    // A directory where a file was listed is no file at all.
    TTemporaryFolder folder;
    TScanRecord directory = RecordOf(folder.Path, 0);
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.ComputeHash(directory); }),
              "The file \"" + folder.Path + "\" changed after it was added to the list.");
}

TEST(TScanHashMatcher, APathWithANulByteIsRefused) {
    // The system would take the text before the NUL byte for the path: another file.
    TTemporaryFolder folder;
    const std::string real = folder.File("a", "abc");
    TScanRecord record = RecordOf(real + std::string(1, '\0') + "x", 3);
    EXPECT_THROW(TScanHashMatcher().ComputeHash(record), EAppError);
    EXPECT_TRUE(record.Hash.empty());
}

TEST(TScanHashMatcher, CancelBetweenTwoChunks) {
    TTemporaryFolder folder;
    TScanRecord a = FileRecord(folder, "a", Bytes(4 * ReadChunkSize, 3));
    TScanHashMatcher matcher;
    const int before = OpenDescriptors();
    TQueries queries(matcher, 3); // two chunks read, the third cancelled
    EXPECT_THROW(matcher.ComputeHash(a), Kiv_framework::EAbort);
    EXPECT_EQ(queries.Count, 3);
    EXPECT_TRUE(a.Hash.empty());
    EXPECT_EQ(OpenDescriptors(), before); // the file was closed on the way out
}

// ---------------------------------------------------------------------------------------
// TScanBinariesMatcher

TEST(TScanBinariesMatcher, EqualFiles) {
    TTemporaryFolder folder;
    const std::string content = Bytes(2 * ReadChunkSize + 17, 4);
    TScanRecord a = FileRecord(folder, "a", content);
    TScanRecord b = FileRecord(folder, "b", content);
    TScanBinariesMatcher matcher;
    TQueries queries(matcher);
    EXPECT_TRUE(matcher.Match(a, b));
    EXPECT_EQ(queries.Count, 3);
}

TEST(TScanBinariesMatcher, DifferenceInTheLastByteIsReadToTheEnd) {
    TTemporaryFolder folder;
    std::string content = Bytes(3 * ReadChunkSize, 5);
    TScanRecord a = FileRecord(folder, "a", content);
    content.back() ^= 0x80;
    TScanRecord b = FileRecord(folder, "b", content);
    TScanBinariesMatcher matcher;
    TQueries queries(matcher);
    EXPECT_FALSE(matcher.Match(a, b));
    EXPECT_EQ(queries.Count, 3);
}

TEST(TScanBinariesMatcher, StopsAtTheFirstDifferentChunk) {
    TTemporaryFolder folder;
    std::string content = Bytes(3 * ReadChunkSize, 6);
    TScanRecord a = FileRecord(folder, "a", content);
    content[10] ^= 1;
    TScanRecord b = FileRecord(folder, "b", content);
    TScanBinariesMatcher matcher;
    TQueries queries(matcher);
    EXPECT_FALSE(matcher.Match(a, b));
    EXPECT_EQ(queries.Count, 1);
}

TEST(TScanBinariesMatcher, TwoEmptyFilesAreEqualWithoutReading) {
    TTemporaryFolder folder;
    TScanRecord a = FileRecord(folder, "a", "");
    TScanRecord b = FileRecord(folder, "b", "");
    TScanBinariesMatcher matcher;
    TQueries queries(matcher);
    EXPECT_TRUE(matcher.Match(a, b));
    EXPECT_EQ(queries.Count, 0);
}

TEST(TScanBinariesMatcher, DifferentSizesTouchNothing) {
    TTemporaryFolder folder;
    TScanRecord a = RecordOf(folder.Missing("a"), 1);
    TScanRecord b = RecordOf(folder.Missing("b"), 2);
    TScanBinariesMatcher matcher;
    TQueries queries(matcher);
    EXPECT_FALSE(matcher.Match(a, b)); // no open error: nothing was opened
    EXPECT_EQ(queries.Count, 0);
}

TEST(TScanBinariesMatcher, AFileThatGrewIsNoCopy) {
    // Reading only the listed size once took files that had grown for copies.
    TTemporaryFolder folder;
    TScanRecord a = RecordOf(folder.File("a", "same start, then more"), 10);
    TScanRecord b = RecordOf(folder.File("b", "same start, other end"), 10);
    EXPECT_EQ(MessageOf<EAppError>([&] { TScanBinariesMatcher().Match(a, b); }),
              "The file \"" + a.Path() + "\" changed after it was added to the list.");
}

TEST(TScanBinariesMatcher, AFileChangedWhileItIsComparedIsNoCopy) {
    TTemporaryFolder folder;
    const std::string content = Bytes(3 * ReadChunkSize + 5, 13);
    for (const bool first : {true, false}) {
        TScanRecord a = FileRecord(folder, "a", content);
        TScanRecord b = FileRecord(folder, "b", content);
        TScanRecord& changed = first ? a : b;
        ScanTest::AgeFile(changed.Path());
        // Its first chunk rewritten once it was compared: the rest still agrees.
        const ScanTest::TChangeWhileRead changer(
            changed.Path(), ReadChunkSize, [&] { ScanTest::RewriteFirstByte(changed.Path()); });
        EXPECT_EQ(MessageOf<EAppError>([&] { TScanBinariesMatcher().Match(a, b); }),
                  "The file \"" + changed.Path() + "\" changed after it was added to the list.");
        EXPECT_TRUE(changer.Changed());
    }
    // Replaced by a copy of other bytes after the last chunk was compared.
    TScanRecord a = FileRecord(folder, "a", content);
    TScanRecord b = FileRecord(folder, "b", content);
    const ScanTest::TChangeWhileRead changer(b.Path(), content.size(), [&] {
        ScanTest::RenameOver(b.Path(), Bytes(content.size(), 14));
    });
    EXPECT_EQ(MessageOf<EAppError>([&] { TScanBinariesMatcher().Match(a, b); }),
              "The file \"" + b.Path() + "\" changed after it was added to the list.");
}

TEST(TScanBinariesMatcher, AFileShorterThanItsSizeCannotBeRead) {
    TTemporaryFolder folder;
    const std::string content = Bytes(ReadChunkSize + 100, 7);
    TScanRecord whole = FileRecord(folder, "whole", content);
    TScanRecord shorter =
        RecordOf(folder.File("shorter", content.substr(0, ReadChunkSize + 50)), content.size());
    TScanBinariesMatcher matcher;
    const std::string changed =
        "The file \"" + shorter.Path() + "\" changed after it was added to the list.";
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.Match(whole, shorter); }), changed);
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.Match(shorter, whole); }), changed);
    TScanRecord directory = RecordOf(folder.Path, content.size());
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.Match(directory, whole); }),
              "The file \"" + folder.Path + "\" changed after it was added to the list.");
}

TEST(TScanBinariesMatcher, FilesThatCannotBeOpened) {
    TTemporaryFolder folder;
    TScanRecord present = FileRecord(folder, "present", "abc");
    TScanRecord missing = RecordOf(folder.Missing("missing"), 3);
    TScanRecord alsoMissing = RecordOf(folder.Missing("also-missing"), 3);
    TScanBinariesMatcher matcher;
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.Match(missing, present); }),
              "The program could not open the file \"" + missing.Path() + "\".");
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.Match(present, missing); }),
              "The program could not open the file \"" + missing.Path() + "\".");
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.Match(missing, alsoMissing); }),
              "The program could not open the file \"" + missing.Path() + "\".");
    // Both files are opened even when there is nothing to compare.
    TScanRecord emptyMissing = RecordOf(folder.Missing("empty"), 0);
    TScanRecord empty = FileRecord(folder, "empty-present", "");
    EXPECT_EQ(MessageOf<EAppError>([&] { matcher.Match(empty, emptyMissing); }),
              "The program could not open the file \"" + emptyMissing.Path() + "\".");
}

TEST(TScanBinariesMatcher, CancelBetweenTwoChunks) {
    TTemporaryFolder folder;
    const std::string content = Bytes(4 * ReadChunkSize, 8);
    TScanRecord a = FileRecord(folder, "a", content);
    TScanRecord b = FileRecord(folder, "b", content);
    TScanBinariesMatcher matcher;
    const int before = OpenDescriptors();
    TQueries queries(matcher, 2);
    EXPECT_THROW(matcher.Match(a, b), Kiv_framework::EAbort);
    EXPECT_EQ(queries.Count, 2);
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(ContentMatchers, ErrorsLeaveNoFileOpen) {
    TTemporaryFolder folder;
    const std::string content = Bytes(ReadChunkSize + 1, 9);
    TScanRecord whole = FileRecord(folder, "whole", content);
    TScanRecord shorter = RecordOf(folder.File("shorter", "x"), content.size());
    TScanRecord missing = RecordOf(folder.Missing("missing"), content.size());
    const int before = OpenDescriptors();
    TScanBinariesMatcher binaries;
    TScanHashMatcher hash;
    for (int round = 0; round < 3; ++round) {
        EXPECT_THROW(binaries.Match(whole, shorter), EAppError);
        EXPECT_THROW(binaries.Match(whole, missing), EAppError);
        TScanRecord directory = RecordOf(folder.Path, 0);
        EXPECT_THROW(hash.ComputeHash(directory), EAppError);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(ContentMatchers, DeclareTheirKeys) {
    TScanRecord a = RecordOf("/a", 5);
    std::string key;
    TScanHashMatcher hash;
    EXPECT_EQ(hash.KeyKind(), TMatchKeyKind::mkDecisiveWhenKnown);
    EXPECT_FALSE(hash.GetMatchKey(a, key));
    // Equal hash texts give equal keys, other texts (even in another case) other keys.
    const auto keyOf = [&](const char* text) {
        a.Hash = text;
        std::string made;
        EXPECT_TRUE(hash.GetMatchKey(a, made));
        return made;
    };
    EXPECT_EQ(keyOf(AbcDigest.c_str()), keyOf(AbcDigest.c_str()));
    EXPECT_NE(keyOf(AbcDigest.c_str()), keyOf(EmptyDigest.c_str()));
    EXPECT_NE(keyOf("ab"), keyOf("AB"));
    EXPECT_NE(keyOf(AbcDigest.c_str()), keyOf(Kiv_locale::LowerFileName(AbcDigest).c_str()));
    TScanBinariesMatcher binaries;
    EXPECT_EQ(binaries.KeyKind(), TMatchKeyKind::mkExcluding);
    key.clear();
    EXPECT_TRUE(binaries.GetMatchKey(a, key));
    EXPECT_EQ(key.size(), 8u);
}

// ---------------------------------------------------------------------------------------
// The command with the real content matchers, against the plain algorithm

TEST(TScanCommand, RealContentMatchersAgreeWithThePlainAlgorithm) {
    TTemporaryFolder folder;
    std::mt19937 random(5);
    const auto number = [&](int high) {
        return std::uniform_int_distribution<int>(0, high)(random);
    };
    // A few contents, two of one size, so that hash and bytes are needed to tell them apart.
    // Two that part only in their third chunk, for the byte comparison's split.
    const std::string long1 = Bytes(3 * ReadChunkSize + 5, 3);
    std::string long2 = long1;
    long2[2 * ReadChunkSize + 10] ^= 1;
    const std::vector<std::string> contents = {
        "", "abc", "abd", Bytes(ReadChunkSize + 3, 1), Bytes(ReadChunkSize + 3, 2), long1, long2};
    int completed = 0, aborted = 0, failed = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<TScanRecord> list;
        const int count = number(14);
        for (int i = 0; i < count; ++i) {
            const std::string& content = contents[static_cast<std::size_t>(number(6))];
            const int kind = number(24);
            const std::string name = "f" + std::to_string(i);
            TScanRecord record =
                kind == 0 ? RecordOf(folder.Missing("missing" + std::to_string(i)), content.size())
                : kind == 1 ? RecordOf(folder.Path, content.size()) // opens, but cannot be read
                : kind == 2 // shorter than listed: a read fails part-way
                    ? RecordOf(folder.File(name, content.substr(0, content.size() / 2)),
                               content.size())
                    : FileRecord(folder, name, content);
            if (number(2) == 0) // from an earlier scan; now and then out of date
                record.Hash = number(5) == 0 ? EmptyDigest : OpenSslSha256(content);
            record.Priority = number(2) == 0 ? spPrimary : spSecondary;
            list.push_back(record);
        }
        const int chain = number(3); // {Hash}, {Size, Hash}, {Binaries}, {Size, Hash, Binaries}
        const int stopAt = number(3) == 0 ? 1 + number(3 * count + 3) : 0;

        std::vector<std::string> endings;
        std::vector<std::vector<std::string>> logs, allHashes;
        std::vector<std::vector<int>> groups;
        // The plain algorithm, the command, and the command with hashes read ahead.
        const TScanCommand::THashReadAhead readAhead{1 + number(2), number(1) == 1};
        for (int run = 0; run < 3; ++run) {
            TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
            TRecorder recorder;
            recorder.First = records.begin();
            recorder.QueryAnswer = [stopAt](int query) { return stopAt == 0 || query < stopAt; };
            // The bytes alone decide: the command asks only the pairs the split of a size
            // does not answer as different, so the matchers' cancel points are not the
            // plain algorithm's. Everything else is.
            recorder.CommandQueriesOnly = chain == 2;
            auto* matchers = new TScanMatchers;
            if (chain == 1 || chain == 3)
                matchers->Add(new TScanSizeMatcher);
            if (chain != 2)
                matchers->Add(new TScanHashMatcher);
            if (chain >= 2)
                matchers->Add(new TScanBinariesMatcher);
            for (int k = 0; k < matchers->Count(); ++k)
                recorder.Bind((*matchers)[k]);
            std::string ending = "completed";
            try {
                if (run == 0) {
                    std::unique_ptr<TScanMatchers> owned(matchers);
                    ScanTest::ReferenceExecute(records, *owned, recorder);
                } else {
                    TScanCommand command(records, matchers);
                    recorder.Bind(command);
                    if (run == 2)
                        command.HashReadAhead = readAhead;
                    command.Execute();
                }
            } catch (const Kiv_framework::EAbort&) {
                ending = "aborted";
            } catch (const EAppError& error) {
                ending = error.Message();
            }
            endings.push_back(ending);
            if (recorder.CommandQueriesOnly)
                std::erase(recorder.Log, std::string("matcher query"));
            logs.push_back(recorder.Log);
            groups.push_back(ScanTest::GroupsOf(records));
            allHashes.push_back(ScanTest::HashesOf(records));
        }
        for (int run = 1; run < 3; ++run) {
            ASSERT_EQ(endings[run], endings[0]) << "round " << round << " run " << run;
            ASSERT_EQ(logs[run], logs[0]) << "round " << round << " run " << run;
            ASSERT_EQ(groups[run], groups[0]) << "round " << round << " run " << run;
            ASSERT_EQ(allHashes[run], allHashes[0]) << "round " << round << " run " << run;
        }
        completed += endings[0] == "completed";
        aborted += endings[0] == "aborted";
        failed += endings[0] != "completed" && endings[0] != "aborted";
    }
    EXPECT_GT(completed, 50);
    EXPECT_GT(aborted, 10);
    EXPECT_GT(failed, 10);
}

} // namespace

namespace {
std::string MakeFolder(const TTemporaryFolder& folder, const std::string& name) {
    const std::string path = folder.Missing(name);
    if (::mkdir(path.c_str(), 0700) != 0)
        throw std::runtime_error("cannot make " + path);
    return path;
}
} // namespace

TEST(TScanCommand, FilesLeftOutEqualNothingAndTheRestGroupAsWithoutThem) {
    // With OnFileError set, a missing, unreadable or changed file is reported and left
    // out; the other files group exactly as in a scan of the list without it.
    TTemporaryFolder folder;
    std::mt19937 random(31);
    const auto number = [&](int high) {
        return std::uniform_int_distribution<int>(0, high)(random);
    };
    const std::vector<std::string> contents = {"abc", "abd", Bytes(2 * ReadChunkSize + 9, 4),
                                               Bytes(2 * ReadChunkSize + 9, 5)};
    int reported = 0;
    for (int round = 0; round < 120; ++round) {
        std::vector<TScanRecord> all, good;
        std::vector<bool> bad;
        for (int i = 0; i < 2 + number(12); ++i) {
            const std::string& content = contents[static_cast<std::size_t>(number(3))];
            const std::string name = "r" + std::to_string(round) + "f" + std::to_string(i);
            const int kind = number(6);
            TScanRecord record = kind == 0   ? RecordOf(folder.Missing(name), content.size())
                                 : kind == 1 ? RecordOf(MakeFolder(folder, name), content.size())
                                 : kind == 2 ? RecordOf(folder.File(name, content + "!"),
                                                        content.size()) // grew
                                             : FileRecord(folder, name, content);
            record.Priority = number(2) == 0 ? spSecondary : spPrimary;
            all.push_back(record);
            bad.push_back(kind <= 2);
            if (kind > 2)
                good.push_back(record);
        }
        const int chain = number(2); // {Size, Hash}, {Size, Binaries}, {Size, Hash, Binaries}
        const auto scan = [&](const std::vector<TScanRecord>& list,
                              std::vector<std::string>* messages) {
            TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
            auto* matchers = new TScanMatchers;
            matchers->Add(new TScanSizeMatcher);
            if (chain != 1)
                matchers->Add(new TScanHashMatcher);
            if (chain != 0)
                matchers->Add(new TScanBinariesMatcher);
            for (int k = 0; messages && k < matchers->Count(); ++k)
                (*matchers)[k].OnFileError = [messages](TScanMatcher*, const std::string& text) {
                    messages->push_back(text);
                };
            TScanCommand command(records, matchers);
            command.HashReadAhead = {number(1), true};
            command.Execute();
            return ScanTest::GroupsOf(records);
        };
        std::vector<std::string> messages;
        const std::vector<int> lenient = scan(all, &messages);
        const std::vector<int> strict = scan(good, nullptr);
        std::vector<int> goodGroups;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (bad[i])
                EXPECT_EQ(lenient[i], 0) << "round " << round << ", record " << i;
            else
                goodGroups.push_back(lenient[i]);
        }
        ASSERT_EQ(goodGroups, strict) << "round " << round;
        // Each message names a bad file, once.
        std::set<std::string> named;
        for (const std::string& message : messages) {
            EXPECT_TRUE(named.insert(message).second) << message;
            bool aBadFile = false;
            for (std::size_t i = 0; i < all.size(); ++i)
                aBadFile = aBadFile || (bad[i] && message.find("\"" + all[i].Path() + "\"") !=
                                                      std::string::npos);
            EXPECT_TRUE(aBadFile) << message;
        }
        reported += static_cast<int>(messages.size());
    }
    EXPECT_GT(reported, 50);
}

namespace {
// Many distinct files of one size, all primary: the square of pairs the byte comparison
// must not ask. Among them three copies of the first, a missing file and one shorter than
// listed.
std::vector<TScanRecord> ManyOfOneSize(const TTemporaryFolder& folder, int distinct) {
    const std::size_t size = ReadChunkSize + 7;
    std::vector<TScanRecord> list;
    for (int i = 0; i < distinct; ++i)
        list.push_back(
            FileRecord(folder, "d" + std::to_string(i), Bytes(size, static_cast<unsigned>(i))));
    for (const int at : {distinct / 3, distinct / 2, distinct - 1})
        list.insert(list.begin() + at,
                    FileRecord(folder, "copy" + std::to_string(at), Bytes(size, 0)));
    list.insert(list.begin() + distinct / 4, RecordOf(folder.Missing("gone"), size));
    list.insert(list.begin() + distinct / 5,
                RecordOf(folder.File("short", Bytes(size, 1).substr(0, size / 2)), size));
    return list;
}
} // namespace

TEST(TScanCommand, TheByteComparisonAsksOnlyWhatItsSplitLeavesOpen) {
    // The groups and messages of the plain algorithm, with cancel points for the copies and
    // the failed files only: no question per pair of distinct files.
    TTemporaryFolder folder;
    const std::vector<TScanRecord> list = ManyOfOneSize(folder, 150);
    std::vector<std::vector<int>> groups;
    std::vector<std::vector<std::string>> messages;
    std::vector<int> queries;
    for (const bool plain : {true, false}) {
        TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
        TRecorder recorder;
        recorder.LogChanges = false;
        auto matchers = std::make_unique<TScanMatchers>();
        matchers->Add(new TScanSizeMatcher);
        matchers->Add(new TScanBinariesMatcher);
        std::vector<std::string> reported;
        for (int k = 0; k < 2; ++k) {
            recorder.Bind((*matchers)[k]);
            (*matchers)[k].OnFileError = [&](TScanMatcher*, const std::string& text) {
                reported.push_back(text);
            };
        }
        if (plain) {
            ScanTest::ReferenceExecute(records, *matchers, recorder);
        } else {
            TScanCommand command(records, matchers.release());
            command.Execute();
        }
        groups.push_back(ScanTest::GroupsOf(records));
        messages.push_back(reported);
        queries.push_back(static_cast<int>(
            std::count(recorder.Log.begin(), recorder.Log.end(), std::string("matcher query"))));
    }
    EXPECT_EQ(groups[1], groups[0]);
    EXPECT_EQ(messages[1], messages[0]);
    EXPECT_EQ(messages[0].size(), 2u);
    // The first and its copies.
    EXPECT_EQ(std::count(groups[0].begin(), groups[0].end(), 1), 4);
    // The plain algorithm asks every pair of two files it has not left out; the command
    // only for the copies and the two failed files.
    EXPECT_GT(queries[0], 150 * 149 / 4);
    EXPECT_LE(queries[1], 10);
}

TEST(TScanCommand, TheByteComparisonStopsInsideALargeSet) {
    // The reading of a set passes a cancel point every few files: a cancel that comes while
    // the first files are read ends the scan before the set is read.
    TTemporaryFolder folder;
    const std::vector<TScanRecord> list = ManyOfOneSize(folder, 150);
    for (const int cancelAt : {0, 3}) {
        TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
        auto* matchers = new TScanMatchers;
        matchers->Add(new TScanSizeMatcher);
        matchers->Add(new TScanBinariesMatcher);
        int asked = 0;
        bool cancelled = false;
        const auto go = [&](auto*, bool& proceed) { proceed = !cancelled; };
        for (int k = 0; k < 2; ++k) {
            (*matchers)[k].OnQueryContinue = go;
            (*matchers)[k].OnFileError = [](TScanMatcher*, const std::string&) {};
        }
        TScanCommand command(records, matchers);
        command.OnQueryContinue = go;
        command.IsCancelled = [&] {
            cancelled = cancelled || ++asked == cancelAt;
            return cancelled;
        };
        int matched = 0;
        command.OnMatched = [&](TScanCommand*, int, TScanRecord&) { ++matched; };
        if (cancelAt == 0) {
            command.Execute();
            EXPECT_GE(asked, 155 / 16) << "a cancel point every few files";
            EXPECT_EQ(matched, 152); // every record but the copies grouped with the first
            continue;
        }
        EXPECT_THROW(command.Execute(), Kiv_framework::EAbort);
        EXPECT_EQ(matched, 0) << "stopped while the first pivot's set was read";
        EXPECT_EQ(asked, cancelAt);
    }
}

TEST(TScanCommand, AFileChangedWhileItIsReadIsLeftOutByEveryWayOfReading) {
    // Three copies; the second changes while it is read: by the hash matcher in place, by
    // the threads that read hashes ahead, and by the byte comparison's partition. Each way
    // leaves it out, and the other two stay a group.
    TTemporaryFolder folder;
    const std::string content = Bytes(3 * ReadChunkSize + 5, 15);
    const std::string other = Bytes(content.size(), 16);
    int round = 0;
    for (const int reader : {0, 1, 2}) // hash, hash read ahead, binaries
        for (const bool rename : {false, true}) {
            std::vector<TScanRecord> list;
            for (int i = 0; i < 3; ++i) {
                const std::string name = "r" + std::to_string(round) + "f" + std::to_string(i);
                ScanTest::AgeFile(folder.File(name, content));
                list.push_back(FileRecord(folder, name, content));
                list.back().Priority = i == 0 ? spPrimary : spSecondary;
            }
            ++round;
            const std::string path = list[1].Path();
            const ScanTest::TChangeWhileRead changer(path, ReadChunkSize, [&] {
                if (rename)
                    ScanTest::RenameOver(path, other);
                else
                    ScanTest::RewriteFirstByte(path);
            });
            TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
            auto* matchers = new TScanMatchers;
            matchers->Add(new TScanSizeMatcher);
            matchers->Add(reader == 2 ? static_cast<TScanMatcher*>(new TScanBinariesMatcher)
                                      : new TScanHashMatcher);
            std::vector<std::string> messages;
            (*matchers)[1].OnFileError = [&](TScanMatcher*, const std::string& text) {
                messages.push_back(text);
            };
            TScanCommand command(records, matchers);
            command.HashReadAhead = {reader == 1 ? 2 : 0, true};
            command.Execute();
            EXPECT_TRUE(changer.Changed());
            EXPECT_EQ(ScanTest::GroupsOf(records), (std::vector<int>{1, 0, 1}))
                << "reader " << reader << ", rename " << rename;
            EXPECT_EQ(messages,
                      std::vector<std::string>{"The file \"" + path +
                                               "\" changed after it was added to the list."});
        }
}

namespace {
// The record of a file as the list makes it: every fact read from the file system.
TScanRecord ListedRecord(const std::string& path) {
    TFileFacts::TFields fields;
    fields.Path = path;
    SetListedNumbers(fields, Kiv_files::GetFindData(path));
    return TScanRecord(TFileFacts::Make(std::move(fields)));
}
} // namespace

TEST(TScanCommand, ReadingTheFactsAgainDecidesWhatIsGroupedAndWhatIsLeftOut) {
    // Four copies grouped by an earlier scan, their hashes kept. Since then b was deleted
    // and c rewritten at the same size with its last write time set back.
    TTemporaryFolder folder;
    std::vector<TScanRecord> list;
    for (const char* name : {"a", "b", "c", "d"}) {
        ScanTest::AgeFile(folder.File(name, "same"));
        list.push_back(ListedRecord(folder.Missing(name)));
        list.back().Hash = OpenSslSha256("same");
        list.back().Group = 1;
        list.back().Priority = list.size() == 1 ? spPrimary : spSecondary;
    }
    ASSERT_EQ(::unlink(list[1].Path().c_str()), 0);
    ScanTest::PassChangeTime(list[2].Path());
    folder.File("c", "SAME");
    ScanTest::AgeFile(list[2].Path());
    for (const int stopAt : {1, 0}) {
        TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
        TRecorder recorder;
        recorder.QueryAnswer = [stopAt](int query) { return stopAt == 0 || query < stopAt; };
        auto* matchers = new TScanMatchers;
        matchers->Add(new TScanSizeMatcher);
        matchers->Add(new TScanHashMatcher);
        TScanCommand command(records, matchers);
        recorder.Bind(command);
        command.RefreshFacts = true;
        command.OnFactsRenewed = [&](TScanCommand*, int index, TScanRecord& record) {
            recorder.Add("renewed " + std::to_string(index) + ", " +
                         (record.Hash.empty() ? "no hash" : "hash kept"));
        };
        command.OnFileLeftOut = [&](TScanCommand*, int index, TScanRecord&,
                                    const std::string& message) {
            recorder.Add(std::to_string(index) + ": " + message);
        };
        command.IsCancelled = [stopAt] { return stopAt == 1; };
        if (stopAt == 1) {
            // A cancel before the first file is looked at changes nothing.
            EXPECT_THROW(command.Execute(), Kiv_framework::EAbort);
            EXPECT_EQ(ScanTest::GroupsOf(records), (std::vector<int>{1, 1, 1, 1}));
            EXPECT_EQ(records[2].Hash, OpenSslSha256("same"));
            continue;
        }
        command.Execute();
        EXPECT_EQ(ScanTest::GroupsOf(records), (std::vector<int>{1, -1, 0, 1}));
        EXPECT_TRUE(command.IsLeftOut(1));
        EXPECT_TRUE(records[1].Hash.empty());
        EXPECT_EQ(records[2].Hash, OpenSslSha256("SAME")); // read anew
        EXPECT_EQ(records[3].Hash, OpenSslSha256("same")); // proven unchanged: kept
        const std::vector<std::string> expected = {
            "command query",
            "renewed 1, no hash",
            "1: The program cannot find the file \"" + list[1].Path() + "\".",
            "progress 1 of 4",
            "renewed 2, no hash",
            "changed 0 to -1",
            "changed 3 to -1",
            "command query",
            "matching 0",
            "changed 0 to 1",
            "progress 2 of 4",
            "changed 3 to 1",
            "progress 3 of 4",
            "matched 0",
            "command query",
            "command query",
            "command query",
            "command query",
            "changed 2 to 0",
            "progress 4 of 4",
            "command query",
        };
        EXPECT_EQ(recorder.Log, expected);
    }
}
