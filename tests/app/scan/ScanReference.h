// Test support for the scan engine: an event recorder and the plain transcription of the
// grouping algorithm, kept as the reference the real TScanCommand is held to.
#pragma once

#include "App_scan.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ScanTest {

using namespace App_scan;

// One line per observable: every event of the command, every cancel point (of the command
// and of the matchers), every call that a recording matcher logs. QueryAnswer decides
// cancel points; by default it always answers true.
struct TRecorder {
    std::vector<std::string> Log;
    std::function<bool(int queryNumber)> QueryAnswer;
    int Queries = 0;
    bool LogChanges = true;
    // Only the command's cancel points are counted and may stop; the matchers' always go
    // on (for matchers that pass theirs per block of work rather than per pair).
    bool CommandQueriesOnly = false;

    const TScanRecord* First = nullptr; // records.begin(), to turn references into indices
    int IndexOf(const TScanRecord& record) const { return static_cast<int>(&record - First); }

    void Add(std::string line) { Log.push_back(std::move(line)); }
    bool Query(const char* who) {
        if (CommandQueriesOnly && std::string_view(who) != "command") {
            Add(std::string(who) + " query");
            return true;
        }
        ++Queries;
        const bool answer = QueryAnswer ? QueryAnswer(Queries) : true;
        Add(std::string(who) + (answer ? " query" : " query: stop"));
        return answer;
    }
    void Matching(int index) { Add("matching " + std::to_string(index)); }
    void Matched(int index) { Add("matched " + std::to_string(index)); }
    void Changed(int index, const TScanRecord& record) {
        if (LogChanges)
            Add("changed " + std::to_string(index) + " to " + std::to_string(record.Group));
    }
    void Progress(int position, int count) {
        Add("progress " + std::to_string(position) + " of " + std::to_string(count));
    }

    // Binds the five events of a command to this recorder.
    void Bind(TScanCommand& command) {
        command.OnMatching = [this](TScanCommand*, int i, TScanRecord&) { Matching(i); };
        command.OnMatched = [this](TScanCommand*, int i, TScanRecord&) { Matched(i); };
        command.OnRecordChanged = [this](TScanCommand*, int i, TScanRecord& r) { Changed(i, r); };
        command.OnProgress = [this](TScanCommand*, int p, int c) { Progress(p, c); };
        command.OnQueryContinue = [this](TScanCommand*, bool& go) { go = Query("command"); };
    }
    // Binds a matcher's cancel point to this recorder.
    void Bind(TScanMatcher& matcher) {
        matcher.OnQueryContinue = [this](TScanMatcher*, bool& go) { go = Query("matcher"); };
    }
};

// The algorithm word for word: ResetGroups, then AssignGroups with its candidate window. The
// events and cancel points go to the recorder exactly where the command would fire them;
// a stop at a cancel point raises the silent abort.
inline void ReferenceExecute(const TScanRecords& records, TScanMatchers& matchers,
                             TRecorder& recorder) {
    const auto checkContinue = [&] {
        if (!recorder.Query("command"))
            throw Kiv_framework::EAbort();
    };
    const int count = records.Length();
    for (int i = 0; i < count; ++i)
        if (records[i].Group >= 0) {
            records[i].Group = -1;
            recorder.Changed(i, records[i]);
        }

    int position = 0;
    int nextGroup = 1;
    int low = 0;
    int high = count - 1;
    for (int index = 0; index <= high; ++index) {
        checkContinue();
        TScanRecord& pivot = records[index];
        if (pivot.Priority != spPrimary || pivot.Group >= 0)
            continue;
        recorder.Matching(index);
        while (low < high && records[low].Group >= 0)
            ++low;
        while (high > low && records[high].Group >= 0)
            --high;
        std::vector<const TScanRecord*> members{&pivot};
        for (int m = low; m <= high; ++m) {
            if (m == index || records[m].Group >= 0)
                continue;
            // Never the same file as a member of the group, under another name.
            bool sameFile = false;
            for (const TScanRecord* member : members)
                sameFile = sameFile || member->IsSameFile(records[m]);
            if (sameFile)
                continue;
            if (matchers.Match(pivot, records[m])) {
                members.push_back(&records[m]);
                if (pivot.Group < 0) {
                    pivot.Group = nextGroup;
                    recorder.Changed(index, pivot);
                    recorder.Progress(++position, count);
                }
                records[m].Group = nextGroup;
                recorder.Changed(m, records[m]);
                recorder.Progress(++position, count);
            }
        }
        if (pivot.Group < 0) {
            pivot.Group = 0;
            recorder.Changed(index, pivot);
            recorder.Progress(++position, count);
        } else {
            ++nextGroup;
        }
        recorder.Matched(index);
    }
    for (int k = low; k <= high; ++k) {
        checkContinue();
        if (records[k].Group < 0) {
            records[k].Group = 0;
            recorder.Changed(k, records[k]);
            recorder.Progress(++position, count);
        }
    }
}

inline std::vector<int> GroupsOf(const TScanRecords& records) {
    std::vector<int> groups;
    for (const auto& record : records)
        groups.push_back(record.Group);
    return groups;
}

inline std::vector<std::string> HashesOf(const TScanRecords& records) {
    std::vector<std::string> hashes;
    for (const auto& record : records)
        hashes.push_back(record.Hash);
    return hashes;
}

} // namespace ScanTest
