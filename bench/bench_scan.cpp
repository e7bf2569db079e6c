// Times the grouping engine with its event handlers bound to empty functions:
//   1,000,000 records under {Size, Type, Hash}, hashes present, 10% in duplicate pairs;
//   200,000 records under {Hash} alone, hashes present, all distinct;
// and, for comparison, the plain transcription of the algorithm (every ungrouped record
// offered to every pivot) on 20,000 records of the first kind.
#include "App_scan.h"
#include "bench_timing.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using namespace App_scan;

namespace {

std::string RandomHash(std::mt19937_64& random) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hash(64, '0');
    for (auto& digit : hash)
        digit = digits[random() % 16];
    return hash;
}

// count records, duplicateShare of them in pairs that share size, type and hash.
// Sizes and types repeat often, so that many records share their metadata and only the
// hash tells them apart.
std::vector<TScanRecord> MakeRecords(int count, double duplicateShare, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    static const char* const types[] = {"plain text document", "JPEG image", "PDF document",
                                        "Matroska video"};
    std::vector<TScanRecord> records(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        TScanRecord& record = records[static_cast<std::size_t>(i)];
        record.SetPath("/data/file" + std::to_string(i));
        record.SetName("file" + std::to_string(i));
        record.SetSize(random() % 20'000);
        record.SetType(types[random() % 4]);
        record.Hash = RandomHash(random);
        record.Priority = random() % 2 == 0 ? spPrimary : spSecondary;
    }
    // The first records of a random order, taken two by two, become pairs of copies.
    std::vector<std::size_t> order(records.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    const auto pairs = static_cast<std::size_t>(count * duplicateShare / 2);
    for (std::size_t k = 0; k < pairs; ++k) {
        const TScanRecord& a = records[order[2 * k]];
        TScanRecord& b = records[order[2 * k + 1]];
        b.SetSize(a.Size());
        b.SetType(a.Type());
        b.Hash = a.Hash;
    }
    return records;
}

TScanRecords ToRecords(const std::vector<TScanRecord>& list) {
    TScanRecords records = Kiv_dynamicarrays::VectorToArray(list);
    return records;
}

void BindEmpty(TScanMatchers& matchers) {
    for (int k = 0; k < matchers.Count(); ++k)
        matchers[k].OnQueryContinue = [](TScanMatcher*, bool&) {};
}

TScanMatchers* SizeTypeHash() {
    auto* matchers = new TScanMatchers;
    matchers->Add(new TScanSizeMatcher);
    matchers->Add(new TScanTypeMatcher);
    matchers->Add(new TScanHashMatcher);
    BindEmpty(*matchers);
    return matchers;
}

TScanMatchers* HashOnly() {
    auto* matchers = new TScanMatchers;
    matchers->Add(new TScanHashMatcher);
    BindEmpty(*matchers);
    return matchers;
}

struct TResult {
    double Seconds;
    int Groups;
    int Duplicates;
};

TResult Summary(double seconds, const TScanRecords& records) {
    TResult result{seconds, 0, 0};
    for (const auto& record : records) {
        if (record.Group > 0)
            ++result.Duplicates;
        result.Groups = std::max(result.Groups, static_cast<int>(record.Group));
    }
    return result;
}

// The best of three runs of TScanCommand::Execute on fresh copies of the records.
TResult TimeCommand(const std::vector<TScanRecord>& list, TScanMatchers* (*chain)()) {
    double best = 1e300;
    TScanRecords last;
    for (int run = 0; run < 3; ++run) {
        TScanRecords records = ToRecords(list);
        TScanCommand command(records, chain());
        command.OnMatching = [](TScanCommand*, int, TScanRecord&) {};
        command.OnMatched = [](TScanCommand*, int, TScanRecord&) {};
        command.OnRecordChanged = [](TScanCommand*, int, TScanRecord&) {};
        command.OnProgress = [](TScanCommand*, int, int) {};
        command.OnQueryContinue = [](TScanCommand*, bool&) {};
        best = std::min(best, bench::BestOf(1, [&] { command.Execute(); }));
        last = records;
    }
    return Summary(best, last);
}

// The plain transcription of the algorithm, with the same empty event handlers.
TResult TimePlain(const std::vector<TScanRecord>& list, TScanMatchers* (*chain)()) {
    TScanRecords records = ToRecords(list);
    std::unique_ptr<TScanMatchers> matchers(chain());
    Kiv_framework::TEvent<int, TScanRecord&> onMatching, onMatched, onChanged;
    Kiv_framework::TEvent<int, int> onProgress;
    Kiv_framework::TEvent<bool&> onQuery;
    onMatching = [](int, TScanRecord&) {};
    onMatched = [](int, TScanRecord&) {};
    onChanged = [](int, TScanRecord&) {};
    onProgress = [](int, int) {};
    onQuery = [](bool&) {};
    const auto checkContinue = [&] {
        bool go = true;
        onQuery(go);
        if (!go)
            Kiv_framework::Abort();
    };
    const double seconds = bench::BestOf(1, [&] {
        const int count = records.Length();
        int position = 0, nextGroup = 1, low = 0, high = count - 1;
        for (int index = 0; index <= high; ++index) {
            checkContinue();
            TScanRecord& pivot = records[index];
            if (pivot.Priority != spPrimary || pivot.Group >= 0)
                continue;
            onMatching(index, pivot);
            while (low < high && records[low].Group >= 0)
                ++low;
            while (high > low && records[high].Group >= 0)
                --high;
            for (int m = low; m <= high; ++m) {
                if (m == index || records[m].Group >= 0 || !matchers->Match(pivot, records[m]))
                    continue;
                if (pivot.Group < 0) {
                    pivot.Group = nextGroup;
                    onChanged(index, pivot);
                    onProgress(++position, count);
                }
                records[m].Group = nextGroup;
                onChanged(m, records[m]);
                onProgress(++position, count);
            }
            if (pivot.Group < 0) {
                pivot.Group = 0;
                onChanged(index, pivot);
                onProgress(++position, count);
            } else {
                ++nextGroup;
            }
            onMatched(index, pivot);
        }
        for (int k = low; k <= high; ++k) {
            checkContinue();
            if (records[k].Group < 0) {
                records[k].Group = 0;
                onChanged(k, records[k]);
                onProgress(++position, count);
            }
        }
    });
    return Summary(seconds, records);
}

void Print(const char* what, const TResult& result) {
    std::printf("%-58s %8.3f s  (%d groups, %d duplicate files)\n", what, result.Seconds,
                result.Groups, result.Duplicates);
}

} // namespace

int main() {
    const std::vector<TScanRecord> large = MakeRecords(1'000'000, 0.10, 1);
    Print("TScanCommand, 1,000,000 records, {Size, Type, Hash}:", TimeCommand(large, SizeTypeHash));

    std::vector<TScanRecord> distinct = MakeRecords(200'000, 0.0, 2);
    Print("TScanCommand, 200,000 records, {Hash}, all distinct:", TimeCommand(distinct, HashOnly));

    const std::vector<TScanRecord> small = MakeRecords(20'000, 0.10, 3);
    const TResult plain = TimePlain(small, SizeTypeHash);
    const TResult fast = TimeCommand(small, SizeTypeHash);
    Print("plain algorithm, 20,000 records, {Size, Type, Hash}:", plain);
    Print("TScanCommand, the same 20,000 records:", fast);
    if (plain.Groups != fast.Groups || plain.Duplicates != fast.Duplicates)
        std::printf("MISMATCH between the plain algorithm and TScanCommand\n");
    const TResult plainHash =
        TimePlain(std::vector<TScanRecord>(distinct.begin(), distinct.begin() + 20'000), HashOnly);
    Print("plain algorithm, 20,000 records, {Hash}, all distinct:", plainHash);
    return 0;
}
