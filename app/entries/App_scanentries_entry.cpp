// The scan entry, its text forms, image indexes and comparisons.
#include "App_scanentries.h"
#include "Kiv_locale.h"
#include "Kiv_shellfiles.h"

#include <QByteArray>
#include <QString>
#include <limits>
#include <mutex>

namespace App_scanentries {

using App_common::EAppError;

int PrimaryImageIndex = 0;
int SecondaryImageIndex = 1;
int UngroupedImageIndex = 0;
int UniqueImageIndex = 1;
int GroupedImageIndex = 2;

namespace {

const char* const PriorityMessage = "The program cannot accept the priority.";

// The process-wide type cache, created on first use and kept until exit. Entries are
// built on the main thread; the lock only keeps a stray caller on another thread from
// corrupting it. The names it gives are shared texts: one copy each for the process.
class TTypeNames {
public:
    const std::string& FileTypeName(const std::string& path) {
        const std::lock_guard<std::mutex> lock(Mutex);
        return App_scan::SharedText(Cache.GetFileTypeName(path));
    }

private:
    std::mutex Mutex;
    Kiv_shellfiles::TFileTypeCache Cache;
};

TTypeNames& TypeNames() {
    static TTypeNames names;
    return names;
}

int Sign(std::uint64_t a, std::uint64_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareFileNames(std::string_view a, std::string_view b) {
    return Kiv_locale::CompareText(Kiv_locale::LowerFileName(a), Kiv_locale::LowerFileName(b));
}

} // namespace

// ---------------------------------------------------------------------------------------
// TScanEntry

TScanEntry::TScanEntry(const std::string& path, const TFindData& findData) {
    App_scan::TFileFacts::TFields fields;
    fields.Path = path;
    const std::string_view whole(fields.Path);
    // Directory: up to the last "/", without it unless it is the root.
    const std::size_t slash = whole.rfind('/');
    std::size_t nameStart = 0;
    if (slash != std::string_view::npos) {
        fields.Directory = whole.substr(0, slash == 0 ? 1 : slash);
        nameStart = slash + 1;
    }
    // Name is the rest; BaseName drops the name's last extension.
    fields.Name = whole.substr(nameStart);
    const std::size_t dot = whole.rfind('.');
    const bool dotInName = dot != std::string_view::npos && dot >= nameStart;
    fields.BaseName = whole.substr(nameStart, (dotInName ? dot : whole.size()) - nameStart);
    // Extension: from the last "." of the name on, its leading dots removed, upper-cased.
    std::string extension;
    if (dotInName)
        extension = Kiv_locale::UpperFileName(
            Kiv_files::ExcludeLeadingChars(std::string(whole.substr(dot)), '.'));
    fields.Extension = extension;
    fields.Type = TypeNames().FileTypeName(fields.Path);
    App_scan::SetListedNumbers(fields, findData);
    try {
        Facts = App_scan::TFileFacts::Make(std::move(fields));
    } catch (const std::length_error&) {
        throw EAppError("The program cannot accept the file \"" + path + "\".");
    }
}

TScanRecord TScanEntry::GetRecord() const {
    return TScanRecord(Facts, Hash, Priority, FGroup);
}

void TScanEntry::SetGroup(std::int32_t group) {
    FGroup = group < 0 ? -1 : group;
}

void TScanEntry::SetFacts(const App_scan::TFileFactsRef& facts) {
    if (&*facts == &*Facts)
        return;
    if (facts->Path() != Path())
        throw EAppError("The program cannot accept the file \"" + facts->Path() + "\".");
    Facts = facts;
}

int PriorityOrdinal(TScanPriority priority) {
    switch (priority) {
    case spPrimary:
        return 0;
    case spSecondary:
        return 1;
    }
    throw EAppError(PriorityMessage);
}

// ---------------------------------------------------------------------------------------
// Text forms

std::string PathText(const TScanEntry& entry) {
    return entry.Path();
}
std::string DirectoryText(const TScanEntry& entry) {
    return std::string(entry.Directory());
}
std::string NameText(const TScanEntry& entry) {
    return std::string(entry.Name());
}
std::string BaseNameText(const TScanEntry& entry) {
    return std::string(entry.BaseName());
}
std::string ExtensionText(const TScanEntry& entry) {
    return entry.Extension();
}
std::string SizeText(const TScanEntry& entry) {
    return App_common::SizeToText(entry.Size());
}
std::string TypeText(const TScanEntry& entry) {
    return entry.Type();
}

std::string CreationTimeText(const TScanEntry& entry) {
    return App_common::FileTimeToText(Kiv_files::FileTimeToUInt64(entry.CreationTime()), true);
}

std::string LastWriteTimeText(const TScanEntry& entry) {
    return App_common::FileTimeToText(Kiv_files::FileTimeToUInt64(entry.LastWriteTime()), true);
}

std::string LastAccessTimeText(const TScanEntry& entry) {
    return App_common::FileTimeToText(Kiv_files::FileTimeToUInt64(entry.LastAccessTime()), true);
}

std::string AttributesText(const TScanEntry& entry) {
    const std::uint32_t a = entry.Attributes();
    std::string text = "----";
    if (a & Kiv_files::faArchive)
        text[0] = 'A';
    if (a & Kiv_files::faHidden)
        text[1] = 'H';
    if (a & Kiv_files::faReadOnly)
        text[2] = 'R';
    if (a & Kiv_files::faSystem)
        text[3] = 'S';
    return text;
}

std::string HashText(const TScanEntry& entry) {
    return entry.Hash.Text();
}

std::string PriorityText(const TScanEntry& entry) {
    return PriorityOrdinal(entry.Priority) == 0 ? "Primary" : "Secondary";
}

std::string GroupText(const TScanEntry& entry) {
    if (entry.Group() < 0)
        return {};
    if (entry.Group() == 0)
        return "(Unique)";
    return std::to_string(entry.Group());
}

int PriorityImageIndex(const TScanEntry& entry) {
    return PriorityOrdinal(entry.Priority) == 0 ? PrimaryImageIndex : SecondaryImageIndex;
}

int GroupImageIndex(const TScanEntry& entry) {
    if (entry.Group() < 0)
        return UngroupedImageIndex;
    return entry.Group() == 0 ? UniqueImageIndex : GroupedImageIndex;
}

// ---------------------------------------------------------------------------------------
// Comparisons

int ComparePath(const TScanEntry& a, const TScanEntry& b) {
    return CompareFileNames(a.Path(), b.Path());
}

int CompareDirectory(const TScanEntry& a, const TScanEntry& b) {
    return CompareFileNames(a.Directory(), b.Directory());
}

int CompareName(const TScanEntry& a, const TScanEntry& b) {
    return CompareFileNames(a.Name(), b.Name());
}

int CompareBaseName(const TScanEntry& a, const TScanEntry& b) {
    return CompareFileNames(a.BaseName(), b.BaseName());
}

int CompareExtension(const TScanEntry& a, const TScanEntry& b) {
    return CompareFileNames(a.Extension(), b.Extension());
}

int CompareSize(const TScanEntry& a, const TScanEntry& b) {
    return Sign(a.Size(), b.Size());
}

int CompareType(const TScanEntry& a, const TScanEntry& b) {
    return Kiv_locale::CompareText(a.Type(), b.Type());
}

int CompareCreationTime(const TScanEntry& a, const TScanEntry& b) {
    return Sign(Kiv_files::FileTimeToUInt64(a.CreationTime()),
                Kiv_files::FileTimeToUInt64(b.CreationTime()));
}

int CompareLastWriteTime(const TScanEntry& a, const TScanEntry& b) {
    return Sign(Kiv_files::FileTimeToUInt64(a.LastWriteTime()),
                Kiv_files::FileTimeToUInt64(b.LastWriteTime()));
}

int CompareLastAccessTime(const TScanEntry& a, const TScanEntry& b) {
    return Sign(Kiv_files::FileTimeToUInt64(a.LastAccessTime()),
                Kiv_files::FileTimeToUInt64(b.LastAccessTime()));
}

int CompareAttributes(const TScanEntry& a, const TScanEntry& b) {
    const std::uint32_t bits[] = {Kiv_files::faArchive, Kiv_files::faHidden, Kiv_files::faReadOnly,
                                  Kiv_files::faSystem};
    for (const std::uint32_t bit : bits) {
        const bool inA = (a.Attributes() & bit) != 0;
        const bool inB = (b.Attributes() & bit) != 0;
        if (inA != inB)
            return inA ? 1 : -1;
    }
    return 0;
}

int CompareHash(const TScanEntry& a, const TScanEntry& b) {
    if (a.Hash.empty() || b.Hash.empty())
        return (a.Hash.empty() ? 1 : 0) - (b.Hash.empty() ? 1 : 0);
    // Collation ignoring case: both texts lowered, then collated.
    return CompareFileNames(a.Hash.Text(), b.Hash.Text());
}

int ComparePriority(const TScanEntry& a, const TScanEntry& b) {
    return PriorityOrdinal(a.Priority) - PriorityOrdinal(b.Priority);
}

namespace {
int GroupKey(std::int32_t group) {
    constexpr int Largest = std::numeric_limits<std::int32_t>::max();
    if (group >= 1)
        return group;
    return group == 0 ? Largest - 1 : Largest;
}
} // namespace

int CompareGroup(const TScanEntry& a, const TScanEntry& b) {
    return GroupKey(a.Group()) - GroupKey(b.Group());
}

} // namespace App_scanentries
