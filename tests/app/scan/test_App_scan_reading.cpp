// The hash read-ahead: whatever order the scan asks in, with any number of threads, a hash
// taken from it is the one computing it in place gives, after the same cancel points, and
// a file that fails raises the same error. Also run under ThreadSanitizer.
#include "App_common.h"
#include "App_scan.h"
#include "App_scan_reading.h"
#include "ScanFilesTestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace App_scan;
using App_common::EAppError;
using ScanTest::Bytes;
using ScanTest::FileRecord;
using ScanTest::OpenDescriptors;
using ScanTest::OpenSslSha256;
using ScanTest::RecordOf;
using ScanTest::TTemporaryFolder;

namespace {

// What asking for one record's hash came to.
struct TAnswer {
    std::string Hash;
    std::string Ending; // "done", "aborted" or the error's message
    int Queries = 0;    // cancel points passed, the stopping one included
    bool operator==(const TAnswer&) const = default;
};

// Asks for the hash of record, in place or through the read-ahead; the matcher answers
// its stopAt-th cancel point of the whole run with false (0: never).
struct TAsker {
    explicit TAsker(int stopAt) : StopAt(stopAt) {
        Matcher.OnQueryContinue = [this](TScanMatcher*, bool& go) {
            ++Queries;
            go = StopAt == 0 || Queries < StopAt;
            if (!go)
                Stopped = true;
        };
    }

    TAnswer Ask(TScanRecord& record) {
        TAnswer answer;
        const int before = Queries;
        try {
            Matcher.EnsureHash(record);
            answer.Ending = "done";
        } catch (const Kiv_framework::EAbort&) {
            answer.Ending = "aborted";
        } catch (const EAppError& error) {
            answer.Ending = error.Message();
        }
        answer.Hash = record.Hash;
        answer.Queries = Queries - before;
        return answer;
    }

    TScanHashMatcher Matcher;
    int StopAt;
    int Queries = 0;
    std::atomic<bool> Stopped{false};
};

TScanRecords ToRecords(const std::vector<TScanRecord>& list) {
    TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
    return records;
}

// Files of many sizes around the read chunk, empty ones, missing ones and a directory
// (which opens, but cannot be read).
std::vector<TScanRecord> RandomFiles(const TTemporaryFolder& folder, std::mt19937& random,
                                     int count) {
    const auto number = [&](int high) {
        return std::uniform_int_distribution<int>(0, high)(random);
    };
    std::vector<TScanRecord> list;
    for (int i = 0; i < count; ++i) {
        const int kind = number(19);
        if (kind == 0) {
            list.push_back(RecordOf(folder.Missing("missing" + std::to_string(i)), 10));
        } else if (kind == 1) {
            list.push_back(RecordOf(folder.Path, 0));
        } else {
            const std::size_t sizes[] = {0,
                                         1,
                                         100,
                                         ReadChunkSize - 1,
                                         ReadChunkSize,
                                         ReadChunkSize + 1,
                                         3 * ReadChunkSize + 7};
            const std::size_t size = sizes[number(6)];
            list.push_back(FileRecord(folder, "f" + std::to_string(i),
                                      Bytes(size, static_cast<unsigned>(number(1000)))));
        }
    }
    return list;
}

TEST(TScanHashReadAhead, AnswersAsComputingInPlaceWouldInAnyOrder) {
    TTemporaryFolder folder;
    std::mt19937 random(17);
    const auto number = [&](int high) {
        return std::uniform_int_distribution<int>(0, high)(random);
    };
    int done = 0, aborted = 0, failed = 0;
    for (int round = 0; round < 120; ++round) {
        const std::vector<TScanRecord> list = RandomFiles(folder, random, 1 + number(40));
        const int count = static_cast<int>(list.size());
        // A plan of some of the records, and an order of asking that follows it only
        // roughly: some planned records are asked early, some not at all.
        std::vector<int> plan;
        for (int i = 0; i < count; ++i)
            if (number(4) != 0)
                plan.push_back(i);
        std::shuffle(plan.begin(), plan.end(), random);
        std::vector<int> order = plan;
        for (int i = 0; i < count; ++i)
            if (number(3) == 0)
                order.push_back(i);
        for (std::size_t k = 0; k + 1 < order.size(); ++k)
            if (number(3) == 0)
                std::swap(
                    order[k],
                    order[k + 1 + static_cast<std::size_t>(number(2)) % (order.size() - k - 1)]);
        const int stopAt = number(2) == 0 ? 1 + number(2 * count) : 0;
        const int threads = number(3);
        const bool ahead = number(1) == 1;
        const std::uint64_t batch = std::uniform_int_distribution<std::uint64_t>(
            1, 3 * ReadAheadFileCost + 4 * ReadChunkSize)(random);
        // A small ring makes its places serve many slots in one round.
        const std::size_t ring = std::size_t{1} << number(6);

        // In place, then through the read-ahead, on fresh copies of the records.
        std::vector<std::vector<TAnswer>> answers(2);
        for (int run = 0; run < 2; ++run) {
            TScanRecords records = ToRecords(list);
            TAsker asker(stopAt);
            std::unique_ptr<TScanHashReadAhead> readAhead;
            if (run == 1) {
                readAhead = std::make_unique<TScanHashReadAhead>(
                    records, plan, threads, ahead, [&asker] { return asker.Stopped.load(); }, batch,
                    ring);
                asker.Matcher.SetReadAhead(readAhead.get());
            }
            for (const int i : order) {
                answers[run].push_back(asker.Ask(records[i]));
                if (answers[run].back().Ending == "aborted")
                    break; // a scan ends at its first stop
            }
            asker.Matcher.SetReadAhead(nullptr);
        }
        ASSERT_EQ(answers[1], answers[0]) << "round " << round << ", threads " << threads
                                          << ", ahead " << ahead << ", ring " << ring;
        for (const TAnswer& answer : answers[0]) {
            done += answer.Ending == "done";
            aborted += answer.Ending == "aborted";
            failed += answer.Ending != "done" && answer.Ending != "aborted";
        }
    }
    EXPECT_GT(done, 1000);
    EXPECT_GT(aborted, 20);
    EXPECT_GT(failed, 100);
}

TEST(TScanHashReadAhead, HashesAreTheFilesAndEachIsTakenOnce) {
    TTemporaryFolder folder;
    std::vector<TScanRecord> list;
    std::vector<std::string> contents;
    for (int i = 0; i < 200; ++i) {
        contents.push_back(Bytes(static_cast<std::size_t>(i * 977 % 70000), 40u + i));
        list.push_back(FileRecord(folder, "f" + std::to_string(i), contents.back()));
    }
    std::vector<int> plan(list.size());
    for (std::size_t i = 0; i < plan.size(); ++i)
        plan[i] = static_cast<int>(i);
    for (const int threads : {1, 3}) {
        TScanRecords records = ToRecords(list);
        TScanHashReadAhead readAhead(records, plan, threads, false, nullptr, 64 << 10, 8);
        TScanHashMatcher matcher;
        for (int i = 0; i < records.Length(); ++i) {
            ASSERT_TRUE(readAhead.Take(records[i], matcher));
            EXPECT_EQ(records[i].Hash, OpenSslSha256(contents[static_cast<std::size_t>(i)]));
        }
        // Asked again (the scan never does), a record is the caller's to compute.
        EXPECT_FALSE(readAhead.Take(records[0], matcher));
        // Not planned, or not one of the records: the caller's too.
        TScanRecord stranger = list[0];
        EXPECT_FALSE(readAhead.Take(stranger, matcher));
    }
}

TEST(TScanHashReadAhead, AFileChangedWhileAThreadReadsItHasNoHash) {
    TTemporaryFolder folder;
    std::vector<TScanRecord> list;
    std::vector<std::string> contents;
    for (int i = 0; i < 40; ++i) {
        contents.push_back(Bytes(3 * ReadChunkSize + 1, 60u + i));
        list.push_back(FileRecord(folder, "f" + std::to_string(i), contents.back()));
        ScanTest::AgeFile(list.back().Path());
    }
    std::vector<int> plan(list.size());
    for (std::size_t i = 0; i < plan.size(); ++i)
        plan[i] = static_cast<int>(i);
    const std::string changed = list[25].Path();
    for (const int threads : {1, 3}) {
        TScanRecords records = ToRecords(list);
        const ScanTest::TChangeWhileRead changer(changed, ReadChunkSize,
                                                 [&] { ScanTest::RewriteFirstByte(changed); });
        TScanHashReadAhead readAhead(records, plan, threads, true, nullptr, 256 << 10);
        TScanHashMatcher matcher;
        for (int i = 0; i < records.Length(); ++i) {
            if (i == 25) {
                EXPECT_THROW(readAhead.Take(records[i], matcher), EAppError);
                EXPECT_TRUE(records[i].Hash.empty());
                continue;
            }
            ASSERT_TRUE(readAhead.Take(records[i], matcher));
            EXPECT_EQ(records[i].Hash, OpenSslSha256(contents[static_cast<std::size_t>(i)]));
        }
        EXPECT_TRUE(changer.Changed());
        ScanTest::RewriteFirstByte(changed); // as it was, for the next round
        ScanTest::AgeFile(changed);
    }
}

TEST(TScanHashReadAhead, ACancelFromAnotherThreadStopsEverythingAndLeavesNoFileOpen) {
    TTemporaryFolder folder;
    std::vector<TScanRecord> list;
    std::vector<std::string> contents;
    for (int i = 0; i < 120; ++i) {
        contents.push_back(Bytes(static_cast<std::size_t>(8 * ReadChunkSize + i), 7u + i));
        list.push_back(FileRecord(folder, "f" + std::to_string(i), contents.back()));
    }
    const int descriptors = OpenDescriptors();
    int stoppedEarly = 0;
    for (int round = 0; round < 20; ++round) {
        TScanRecords records = ToRecords(list);
        std::vector<int> plan(list.size());
        for (std::size_t i = 0; i < plan.size(); ++i)
            plan[i] = static_cast<int>(i);
        std::atomic<bool> cancelled{false};
        TScanHashMatcher matcher;
        matcher.OnQueryContinue = [&](TScanMatcher*, bool& go) { go = !cancelled; };
        std::string ending = "completed";
        {
            TScanHashReadAhead readAhead(
                records, plan, 1 + round % 3, round % 2 == 0, [&] { return cancelled.load(); },
                256 << 10);
            matcher.SetReadAhead(&readAhead);
            std::thread canceller([&] {
                std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
                cancelled = true;
            });
            try {
                for (int i = 0; i < records.Length(); ++i)
                    matcher.EnsureHash(records[i]);
            } catch (const Kiv_framework::EAbort&) {
                ending = "aborted";
            }
            canceller.join();
            matcher.SetReadAhead(nullptr);
        }
        stoppedEarly += ending == "aborted";
        // Whatever got a hash got the right one; after the stop, nothing did.
        bool stopped = false;
        for (int i = 0; i < records.Length(); ++i) {
            if (records[i].Hash.empty()) {
                stopped = true;
                continue;
            }
            EXPECT_FALSE(stopped) << "a hash after the stop, record " << i;
            EXPECT_EQ(records[i].Hash, OpenSslSha256(contents[static_cast<std::size_t>(i)]));
        }
        EXPECT_EQ(stopped, ending == "aborted");
        EXPECT_EQ(OpenDescriptors(), descriptors);
    }
    EXPECT_GT(stoppedEarly, 0);
}

} // namespace
