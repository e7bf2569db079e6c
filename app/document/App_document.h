// The document: the entry list to compare, the criteria ("aspects") by which
// two entries count as duplicates, and whether that set is remembered between runs.
#pragma once

#include "App_common.h"
#include "App_scanentries.h"
#include "Kiv_framework.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

namespace App_document {

// The comparison criteria; the order is the bit order of the set and the character order
// of the stored "Aspects" string.
enum TScanAspect : std::uint8_t {
    saDirectory = 0,
    saName = 1,
    saBaseName = 2,
    saExtension = 3,
    saSize = 4,
    saType = 5,
    saCreationTime = 6,
    saLastWriteTime = 7,
    saLastAccessTime = 8,
    saAttributes = 9,
    saHash = 10,
    saBinaries = 11,
};

constexpr int ScanAspectCount = 12;

// A set of TScanAspect in 16 bits (bit k for member k); the four bits above member 11
// are always 0.
class TScanAspects {
public:
    static constexpr std::uint16_t AllBits = (1u << ScanAspectCount) - 1;

    constexpr TScanAspects() = default;
    constexpr TScanAspects(std::initializer_list<TScanAspect> members) {
        for (const TScanAspect member : members)
            Include(member);
    }
    // Bits above member 11 are dropped.
    static constexpr TScanAspects FromBits(std::uint32_t bits) {
        TScanAspects result;
        result.FBits = static_cast<std::uint16_t>(bits & AllBits);
        return result;
    }

    constexpr std::uint16_t Bits() const { return FBits; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr bool Contains(TScanAspect member) const {
        return member < ScanAspectCount && (FBits & (1u << member)) != 0;
    }
    constexpr void Include(TScanAspect member) {
        if (member < ScanAspectCount)
            FBits = static_cast<std::uint16_t>(FBits | (1u << member));
    }
    constexpr void Exclude(TScanAspect member) {
        if (member < ScanAspectCount)
            FBits = static_cast<std::uint16_t>(FBits & ~(1u << member));
    }

    friend constexpr bool operator==(TScanAspects a, TScanAspects b) { return a.FBits == b.FBits; }
    friend constexpr TScanAspects operator+(TScanAspects a, TScanAspects b) {
        return FromBits(a.FBits | b.FBits);
    }
    friend constexpr TScanAspects operator-(TScanAspects a, TScanAspects b) {
        return FromBits(a.FBits & ~b.FBits);
    }
    friend constexpr TScanAspects operator*(TScanAspects a, TScanAspects b) {
        return FromBits(a.FBits & b.FBits);
    }

private:
    std::uint16_t FBits = 0;
};

// The start value: Size, Type and Hash.
constexpr TScanAspects DefaultScanAspects{saSize, saType, saHash};

// The stored form: 12 characters, "1" for a member, "0" for one that is not.
std::string AspectsToString(TScanAspects aspects);
// Characters 1 to 12; any character but "0" is a member; a shorter text raises
// Kiv_framework::ERangeError.
TScanAspects StringToAspects(const std::string& text);

class TDocument : public App_common::TModel {
public:
    TDocument();
    ~TDocument() override;
    TDocument(const TDocument&) = delete;
    TDocument& operator=(const TDocument&) = delete;

    // "RememberSettings" (default: the current value), then, only when it is true,
    // "Aspects" (default: the current set) through SetAspects; "RememberHashes" (default:
    // the current value).
    void Load(App_common::TMemIniFile& iniFile, const std::string& section) override;
    // "Aspects" when RememberSettings is true, then always "RememberSettings" and
    // "RememberHashes".
    void Save(App_common::TMemIniFile& iniFile, const std::string& section) override;
    // Raises OnChange with the document as sender; nothing when the slot is empty.
    virtual void Changed();

    App_scanentries::TScanEntries& Entries() const { return *FEntries; }

    TScanAspects GetAspects() const { return FAspects; }
    // Stores the set and calls Changed, only when it differs from the current one.
    void SetAspects(TScanAspects aspects);

    bool RememberSettings = false;
    // Whether scans take the hashes of unchanged files from the hash cache and keep there
    // those they read ("Remember hashes between scans").
    bool RememberHashes = true;
    Kiv_framework::TEvent<TDocument*> OnChange;

private:
    std::unique_ptr<App_scanentries::TScanEntries> FEntries;
    TScanAspects FAspects = DefaultScanAspects;
};

enum class TResultsFormat : std::uint8_t {
    rfLines,         // each path ended by CR LF, each group by an empty line
    rfNullSeparated, // each path ended by a NUL byte, each group by one more
    rfTerminal,      // lines for a person at a terminal: control characters escaped
};

// The results file's text: for each group number in ascending order, the full paths of
// its entries in list order. Unique and ungrouped entries are left out; no groups give the
// empty text. A path holding a line break would make the lines ambiguous (a unique file
// read as a duplicate): in lines it raises EAppError "The program cannot write the path
// \"%s\" into the results file." and nothing is made; NUL-separated, any path can stand.
std::string ResultsText(const App_scanentries::TScanEntries& entries,
                        TResultsFormat format = TResultsFormat::rfLines);
// Refuses a results file that the user may not write, as the shell's ">" would: an
// existing file (or what a link names) without write permission for the running user
// raises EAppError "The program cannot write the results over the read-only file \"%s\".".
void CheckResultsFile(const std::string& fileName);
// Writes the text to the file, replacing its content: to a new file beside it first,
// renamed over it when complete, so that a failure never leaves a truncated file or
// destroys the old one. A symbolic link keeps pointing at the file it names, and an
// existing file keeps its permissions; a device or a pipe is written in place. A file the
// user may not write is refused (CheckResultsFile). A failure raises EAppError "The
// program could not save the results to the file \"%s\" (reason)." with the system's
// reason. interrupted, when given, is asked before every write and whenever a blocked open
// or write is interrupted by a signal (a pipe nobody reads): true ends the write with EAbort.
void WriteResultsFile(const std::string& fileName, const std::string& text,
                      const std::function<bool()>& interrupted = nullptr);
// Writes the text to an open descriptor (standard output); false when a write fails.
// interrupted as for WriteResultsFile.
bool WriteResults(int descriptor, const std::string& text,
                  const std::function<bool()>& interrupted = nullptr);

} // namespace App_document
