// The content partition against reading pairs side by side: for every pair of a set, the
// same answer, the same cancel points and the same error, whatever the files did.
#include "App_common.h"
#include "App_scan.h"
#include "App_scan_binaries.h"
#include "ScanFilesTestSupport.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace App_scan;
using ScanTest::Bytes;
using ScanTest::RecordOf;
using ScanTest::TTemporaryFolder;

namespace {

// How one question was answered.
struct TOutcome {
    std::string Ending; // "equal", "different" or the error's message
    int Checks = 0;
    bool operator==(const TOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TOutcome& outcome) {
    return out << outcome.Ending << " after " << outcome.Checks << " checks";
}

// Asks the matcher, counting its cancel points; with a partition, only the partition.
TOutcome Ask(TScanRecord& a, TScanRecord& b, TScanContentPartition* partition) {
    TScanBinariesMatcher matcher;
    TOutcome outcome;
    matcher.OnQueryContinue = [&](TScanMatcher*, bool& go) {
        ++outcome.Checks;
        go = true;
    };
    try {
        bool equal = false;
        if (partition) {
            if (!partition->Answer(a, b, matcher, equal))
                return {"not answered", outcome.Checks};
        } else {
            equal = matcher.Match(a, b);
        }
        outcome.Ending = equal ? "equal" : "different";
    } catch (const App_common::EAppError& error) {
        outcome.Ending = error.Message();
    }
    return outcome;
}

// Files of one listed size: copies, files that part at some chunk, files that are shorter
// than listed (a read fails part-way), missing files and a directory (cannot be read).
std::vector<TScanRecord> RandomSet(const TTemporaryFolder& folder, std::mt19937& random, int count,
                                   int round) {
    const auto number = [&](int high) {
        return std::uniform_int_distribution<int>(0, high)(random);
    };
    const std::size_t size = number(3) == 0 ? static_cast<std::size_t>(number(40))
                                            : static_cast<std::size_t>(number(4)) * ReadChunkSize +
                                                  static_cast<std::size_t>(number(3));
    const std::string base = Bytes(size, static_cast<unsigned>(round));
    std::vector<TScanRecord> set;
    for (int i = 0; i < count; ++i) {
        const std::string name = "r" + std::to_string(round) + "f" + std::to_string(i);
        std::string content = base;
        const int kind = number(12);
        if (kind == 0) {
            set.push_back(RecordOf(folder.Missing(name), size));
            continue;
        }
        if (kind == 1) {
            set.push_back(RecordOf(folder.Path, size));
            continue;
        }
        if (kind <= 3 && size > 0) // shorter than listed
            content.resize(static_cast<std::size_t>(number(static_cast<int>(size) - 1)));
        else if (kind <= 8 && size > 0) // parts from the others at a random byte
            content[static_cast<std::size_t>(number(static_cast<int>(size) - 1))] ^=
                static_cast<char>(1 + number(3));
        TScanRecord record = RecordOf(folder.File(name, content), size);
        set.push_back(record);
    }
    return set;
}

} // namespace

TEST(TScanContentPartition, AnswersEveryPairAsReadingItSideBySide) {
    TTemporaryFolder folder;
    std::mt19937 random(23);
    int equal = 0, different = 0, failed = 0;
    for (int round = 0; round < 80; ++round) {
        const int count = 2 + static_cast<int>(random() % 12);
        const std::vector<TScanRecord> list = RandomSet(folder, random, count, round);
        TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
        // Small limits make the rare ways common: files opened per read, bytes read again.
        const std::uint64_t budget = random() % 2 == 0 ? 0 : (random() % 3) * ReadChunkSize;
        const std::size_t maxOpen = random() % 4;
        TScanContentPartition partition(records, std::vector<int>(list.size(), 0), nullptr, budget,
                                        maxOpen);
        for (int a = 0; a < count; ++a)
            for (int b = 0; b < count; ++b) {
                if (a == b)
                    continue;
                const TOutcome expected = Ask(records[a], records[b], nullptr);
                const TOutcome got = Ask(records[a], records[b], &partition);
                ASSERT_EQ(got, expected) << "round " << round << ", pair " << a << "," << b;
                equal += expected.Ending == "equal";
                different += expected.Ending == "different";
                failed += expected.Ending != "equal" && expected.Ending != "different";
            }
    }
    EXPECT_GT(equal, 100);
    EXPECT_GT(different, 100);
    EXPECT_GT(failed, 100);
}

TEST(TScanContentPartition, LeavesOutWhatIsNotItsToAnswer) {
    TTemporaryFolder folder;
    const std::string content = Bytes(100, 1);
    std::vector<TScanRecord> list = {RecordOf(folder.File("a", content), 100),
                                     RecordOf(folder.File("b", content), 100),
                                     RecordOf(folder.File("c", content), 100)};
    TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
    bool cancelled = false;
    TScanContentPartition partition(records, {0, 0, -1}, [&] { return cancelled; });
    // Not in one set, or not one of the records: the caller reads them itself.
    EXPECT_EQ(Ask(records[0], records[2], &partition).Ending, "not answered");
    EXPECT_EQ(Ask(list[0], list[1], &partition).Ending, "not answered");
    // A cancel stops the reading of a set: the caller meets it at its own cancel point.
    cancelled = true;
    EXPECT_EQ(Ask(records[0], records[1], &partition).Ending, "not answered");
    cancelled = false;
    EXPECT_EQ(Ask(records[0], records[1], &partition), (TOutcome{"equal", 1}));
}
