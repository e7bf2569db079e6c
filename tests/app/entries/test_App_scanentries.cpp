// The scan entry's fields, text forms, image indexes and comparisons.
#include "App_scanentries.h"
#include "EntriesTestSupport.h"
#include "Kiv_locale.h"
#include "Kiv_shellfiles.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>

using namespace App_scanentries;
using namespace EntriesTest;

namespace {

constexpr std::uint64_t GiB4 = 4ull << 30;

TEST(ScanEntry, RootFileHasTheRootAsDirectory) {
    const auto entry = Entry("/x");
    EXPECT_EQ(entry->Path(), "/x");
    EXPECT_EQ(entry->Directory(), "/");
    EXPECT_EQ(entry->Name(), "x");
    EXPECT_EQ(entry->BaseName(), "x");
    EXPECT_EQ(entry->Extension(), "");
}

TEST(ScanEntry, DotFileHasAnEmptyBaseName) {
    const auto entry = Entry("/dir/.profile");
    EXPECT_EQ(entry->Directory(), "/dir");
    EXPECT_EQ(entry->Name(), ".profile");
    EXPECT_EQ(entry->BaseName(), "");
    EXPECT_EQ(entry->Extension(), "PROFILE");
}

TEST(ScanEntry, DoubleDotKeepsTheTrailingDotOfTheBaseName) {
    const auto entry = Entry("/dir/a..b");
    EXPECT_EQ(entry->BaseName(), "a.");
    EXPECT_EQ(entry->Extension(), "B");
}

TEST(ScanEntry, OnlyTheLastExtensionCounts) {
    const auto entry = Entry("/home/u/archive.tar.gz");
    EXPECT_EQ(entry->Directory(), "/home/u");
    EXPECT_EQ(entry->Name(), "archive.tar.gz");
    EXPECT_EQ(entry->BaseName(), "archive.tar");
    EXPECT_EQ(entry->Extension(), "GZ");
}

TEST(ScanEntry, ExtensionRules) {
    EXPECT_EQ(Entry("/d/x.txt")->Extension(), "TXT");
    EXPECT_EQ(Entry("/d/README")->Extension(), "");
    EXPECT_EQ(Entry("/d/README")->BaseName(), "README");
    // A dot in a directory name is no extension.
    EXPECT_EQ(Entry("/d.old/README")->Extension(), "");
    EXPECT_EQ(Entry("/d.old/README")->BaseName(), "README");
    // A name ending in a dot: the extension is the lone dot, which the stripping empties.
    EXPECT_EQ(Entry("/d/x.")->Extension(), "");
    EXPECT_EQ(Entry("/d/x.")->BaseName(), "x");
    // Locale-aware upper-casing of well-formed UTF-8; other bytes kept.
    EXPECT_EQ(Entry("/d/f.\xC3\xA4t")->Extension(), "\xC3\x84T");
    EXPECT_EQ(Entry("/d/f.a\xFF")->Extension(), "A\xFF");
}

TEST(ScanEntry, StarQuestionMarkAndInvalidBytesAreNameCharacters) {
    const std::string path = "/d/*?\xFE\xFF.j?g";
    const auto entry = Entry(path);
    EXPECT_EQ(entry->Path(), path);
    EXPECT_EQ(entry->Name(), "*?\xFE\xFF.j?g");
    EXPECT_EQ(entry->BaseName(), "*?\xFE\xFF");
    EXPECT_EQ(entry->Extension(), "J?G");
}

TEST(ScanEntry, AttributesAreMasked) {
    // Directory, compressed (0x800), device and link bits are dropped.
    const auto entry = Entry("/d/f", 0, 0x10 | 0x800 | 0x40 | 0x400 | 0x01 | 0x20);
    EXPECT_EQ(entry->Attributes(), 0x21u);
    EXPECT_EQ(AttributesText(*entry), "A-R-");
    EXPECT_EQ(AttributesText(*Entry("/d/f", 0, 0xFFFFFFFF)), "AHRS");
    EXPECT_EQ(Entry("/d/f", 0, 0xFFFFFFFF)->Attributes(), 0x27u);
    EXPECT_EQ(AttributesText(*Entry("/d/f", 0, 0)), "----");
    EXPECT_EQ(AttributesText(*Entry("/d/f", 0, 0x02)), "-H--");
    EXPECT_EQ(AttributesText(*Entry("/d/f", 0, 0x04)), "---S");
}

TEST(ScanEntry, NewEntryStartValues) {
    const auto entry = Entry("/d/f.txt", 1048576);
    EXPECT_EQ(entry->Hash, "");
    EXPECT_EQ(entry->Priority, spSecondary);
    EXPECT_EQ(entry->Group(), -1);
    EXPECT_EQ(PriorityText(*entry), "Secondary");
    EXPECT_EQ(GroupText(*entry), "");
    EXPECT_EQ(SizeText(*entry), "1,048,576");
    EXPECT_EQ(HashText(*entry), "");
}

TEST(ScanEntry, SizeJoinsBothHalves) {
    const auto entry = Entry("/d/big", GiB4 + 5);
    EXPECT_EQ(entry->Size(), GiB4 + 5);
    EXPECT_EQ(SizeText(*entry), "4,294,967,301");
}

TEST(ScanEntry, TextFormsOfThePathParts) {
    const auto entry = Entry("/a/b/c.d.e");
    EXPECT_EQ(PathText(*entry), "/a/b/c.d.e");
    EXPECT_EQ(DirectoryText(*entry), "/a/b");
    EXPECT_EQ(NameText(*entry), "c.d.e");
    EXPECT_EQ(BaseNameText(*entry), "c.d");
    EXPECT_EQ(ExtensionText(*entry), "E");
}

TEST(ScanEntry, TypeIsTheShellTypeNameSharedBetweenEntries) {
    const auto a = Entry("/d/a.txt");
    const auto b = Entry("/e/b.TXT");
    EXPECT_EQ(a->Type(), Kiv_shellfiles::GetShellTypeName("/d/a.txt", false));
    EXPECT_EQ(TypeText(*a), a->Type());
    EXPECT_FALSE(a->Type().empty());
    // One shared copy of the text.
    EXPECT_EQ(&a->Type(), &b->Type());
}

TEST(ScanEntry, TimesComeFromTheRecord) {
    const std::uint64_t write = 133'000'000'000'000'000ull; // in 2022
    TScanEntry entry("/d/f", Record(0, 0, 0, write, write + 10'000'000));
    EXPECT_EQ(Kiv_files::FileTimeToUInt64(entry.CreationTime()), 0u);
    EXPECT_EQ(CreationTimeText(entry), "(Unknown)");
    EXPECT_EQ(LastWriteTimeText(entry), App_common::FileTimeToText(write, true));
    EXPECT_EQ(LastAccessTimeText(entry), App_common::FileTimeToText(write + 10'000'000, true));
    EXPECT_NE(LastWriteTimeText(entry), "(Unknown)");
    EXPECT_NE(LastWriteTimeText(entry), LastAccessTimeText(entry));
}

TEST(ScanEntry, RealFileTakesItsRecord) {
    TTempDir dir;
    WriteFile(dir / "notes.txt", "hello", 0444);
    const TFindData record = Kiv_files::GetFindData(dir / "notes.txt");
    TScanEntry entry(dir / "notes.txt", record);
    EXPECT_EQ(entry.Size(), 5u);
    EXPECT_EQ(entry.Attributes(), 0x01u); // read-only: the owner has no write permission
    EXPECT_EQ(AttributesText(entry), "--R-");
    EXPECT_EQ(entry.LastWriteTime(), record.LastWriteTime);
    // Birth time where the file system has it, else 0 shown "(Unknown)".
    if (Kiv_files::FileTimeToUInt64(record.CreationTime) == 0)
        EXPECT_EQ(CreationTimeText(entry), "(Unknown)");
    else
        EXPECT_EQ(entry.CreationTime(), record.CreationTime);
}

TEST(ScanEntry, GetRecordCopiesTheFourteenFields) {
    TScanEntry entry("/d/a.b.txt", Record(GiB4 + 1, 0x23, 11, 22, 33));
    entry.Hash = "ABC";
    entry.Priority = spPrimary;
    entry.SetGroup(7);
    const App_scan::TScanRecord record = entry.GetRecord();
    EXPECT_EQ(record.Path(), "/d/a.b.txt");
    EXPECT_EQ(record.Directory(), "/d");
    EXPECT_EQ(record.Name(), "a.b.txt");
    EXPECT_EQ(record.BaseName(), "a.b");
    EXPECT_EQ(record.Extension(), "TXT");
    EXPECT_EQ(record.Size(), GiB4 + 1);
    EXPECT_EQ(record.Type(), entry.Type());
    EXPECT_EQ(record.CreationTime(), 11u);
    EXPECT_EQ(record.LastWriteTime(), 22u);
    EXPECT_EQ(record.LastAccessTime(), 33u);
    EXPECT_EQ(record.Attributes(), 0x23u);
    EXPECT_EQ(record.Hash, "ABC");
    EXPECT_EQ(record.Priority, spPrimary);
    EXPECT_EQ(record.Group, 7);
}

TEST(ScanEntry, SetGroupStoresNegativesAsMinusOne) {
    const auto entry = Entry("/d/f");
    entry->SetGroup(0);
    EXPECT_EQ(GroupText(*entry), "(Unique)");
    entry->SetGroup(12345);
    EXPECT_EQ(GroupText(*entry), "12345");
    entry->SetGroup(-7);
    EXPECT_EQ(entry->Group(), -1);
    entry->SetGroup(std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(entry->Group(), -1);
    EXPECT_EQ(GroupText(*entry), "");
}

TEST(ScanEntry, PriorityTextsAndOrdinals) {
    const auto entry = Entry("/d/f");
    entry->Priority = spPrimary;
    EXPECT_EQ(PriorityText(*entry), "Primary");
    EXPECT_EQ(PriorityOrdinal(spPrimary), 0);
    EXPECT_EQ(PriorityOrdinal(spSecondary), 1);
}

TEST(ScanEntry, BadPriorityIsRefusedEverywhere) {
    const auto bad = Entry("/d/f");
    const auto good = Entry("/d/g");
    bad->Priority = static_cast<TScanPriority>(2);
    const std::string message = "The program cannot accept the priority.";
    EXPECT_EQ(AppErrorOf([&] { (void)PriorityText(*bad); }), message);
    EXPECT_EQ(AppErrorOf([&] { (void)PriorityImageIndex(*bad); }), message);
    EXPECT_EQ(AppErrorOf([&] { (void)PriorityOrdinal(bad->Priority); }), message);
    EXPECT_EQ(AppErrorOf([&] { (void)ComparePriority(*good, *bad); }), message);
    EXPECT_EQ(AppErrorOf([&] { (void)ComparePriority(*bad, *good); }), message);
}

TEST(ScanEntry, ImageIndexes) {
    EXPECT_EQ(PrimaryImageIndex, 0);
    EXPECT_EQ(SecondaryImageIndex, 1);
    EXPECT_EQ(UngroupedImageIndex, 0);
    EXPECT_EQ(UniqueImageIndex, 1);
    EXPECT_EQ(GroupedImageIndex, 2);
    const auto entry = Entry("/d/f");
    EXPECT_EQ(PriorityImageIndex(*entry), 1);
    EXPECT_EQ(GroupImageIndex(*entry), 0);
    // The settings are read at each call.
    const int saved[] = {PrimaryImageIndex, SecondaryImageIndex, UngroupedImageIndex,
                         UniqueImageIndex, GroupedImageIndex};
    PrimaryImageIndex = 10;
    SecondaryImageIndex = 11;
    UngroupedImageIndex = 20;
    UniqueImageIndex = 21;
    GroupedImageIndex = 22;
    EXPECT_EQ(PriorityImageIndex(*entry), 11);
    entry->Priority = spPrimary;
    EXPECT_EQ(PriorityImageIndex(*entry), 10);
    EXPECT_EQ(GroupImageIndex(*entry), 20);
    entry->SetGroup(0);
    EXPECT_EQ(GroupImageIndex(*entry), 21);
    entry->SetGroup(3);
    EXPECT_EQ(GroupImageIndex(*entry), 22);
    PrimaryImageIndex = saved[0];
    SecondaryImageIndex = saved[1];
    UngroupedImageIndex = saved[2];
    UniqueImageIndex = saved[3];
    GroupedImageIndex = saved[4];
}

int SignOf(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

TEST(ScanEntry, SizeComparisonAbove4GiB) {
    const auto small = Entry("/d/a", 0xFFFFFFFFull);
    const auto big = Entry("/d/b", GiB4);
    const auto bigger = Entry("/d/c", GiB4 + 1);
    const auto huge = Entry("/d/e", 0xFFFFFFFF00000000ull); // high half with its top bit set
    EXPECT_LT(CompareSize(*small, *big), 0);
    EXPECT_GT(CompareSize(*big, *small), 0);
    EXPECT_LT(CompareSize(*big, *bigger), 0);
    EXPECT_LT(CompareSize(*bigger, *huge), 0);
    EXPECT_EQ(CompareSize(*big, *Entry("/d/f", GiB4)), 0);
}

TEST(ScanEntry, NameComparisonsIgnoreCase) {
    EXPECT_EQ(CompareName(*Entry("/t/Read.me"), *Entry("/u/read.ME")), 0);
    EXPECT_EQ(ComparePath(*Entry("/T/Read.me"), *Entry("/t/read.me")), 0);
    EXPECT_EQ(CompareDirectory(*Entry("/T/x"), *Entry("/t/y")), 0);
    EXPECT_EQ(CompareBaseName(*Entry("/T/ABC.x"), *Entry("/t/abc.y")), 0);
    EXPECT_EQ(CompareExtension(*Entry("/T/a.Txt"), *Entry("/t/b.TXT")), 0);
    EXPECT_EQ(CompareName(*Entry("/t/\xC3\x84.txt"), *Entry("/t/\xC3\xA4.TXT")), 0);
    EXPECT_LT(CompareName(*Entry("/t/apple"), *Entry("/t/Banana")), 0);
    EXPECT_GT(CompareName(*Entry("/t/cherry"), *Entry("/t/Banana")), 0);
}

TEST(ScanEntry, TypeComparisonIsTheCollation) {
    const auto a = Entry("/d/a.txt");
    const auto b = Entry("/d/b.png");
    EXPECT_EQ(SignOf(CompareType(*a, *b)), SignOf(Kiv_locale::CompareText(a->Type(), b->Type())));
    EXPECT_EQ(CompareType(*a, *Entry("/e/c.txt")), 0);
}

TEST(ScanEntry, TimeComparisons) {
    TScanEntry early("/d/a", Record(0, 0, 5, 1ull << 40, 7));
    TScanEntry late("/d/b", Record(0, 0, 6, (1ull << 40) + 1, 7));
    EXPECT_LT(CompareCreationTime(early, late), 0);
    EXPECT_LT(CompareLastWriteTime(early, late), 0);
    EXPECT_GT(CompareLastWriteTime(late, early), 0);
    EXPECT_EQ(CompareLastAccessTime(early, late), 0);
}

TEST(ScanEntry, AttributeComparisonLooksAtArchiveHiddenReadOnlySystem) {
    const auto archive = Entry("/d/a", 0, 0x20);
    const auto others = Entry("/d/b", 0, 0x01 | 0x02 | 0x04);
    const auto hidden = Entry("/d/c", 0, 0x02);
    const auto readOnlySystem = Entry("/d/e", 0, 0x01 | 0x04);
    const auto system = Entry("/d/f", 0, 0x04);
    EXPECT_GT(CompareAttributes(*archive, *others), 0);
    EXPECT_LT(CompareAttributes(*others, *archive), 0);
    EXPECT_GT(CompareAttributes(*hidden, *readOnlySystem), 0);
    EXPECT_GT(CompareAttributes(*readOnlySystem, *system), 0);
    EXPECT_EQ(CompareAttributes(*system, *Entry("/d/g", 0, 0x04 | 0x10)), 0);
}

TEST(ScanEntry, HashOrder) {
    const auto empty1 = Entry("/d/a");
    const auto empty2 = Entry("/d/b");
    const auto low = Entry("/d/c");
    const auto high = Entry("/d/e");
    low->Hash = "0A";
    high->Hash = "FF";
    EXPECT_GT(CompareHash(*empty1, *low), 0);
    EXPECT_LT(CompareHash(*high, *empty1), 0);
    EXPECT_EQ(CompareHash(*empty1, *empty2), 0);
    EXPECT_LT(CompareHash(*low, *high), 0);
    empty2->Hash = "ff";
    EXPECT_EQ(CompareHash(*high, *empty2), 0); // case is ignored
}

TEST(ScanEntry, GroupOrder) {
    const auto one = Entry("/d/a");
    const auto two = Entry("/d/b");
    const auto unique = Entry("/d/c");
    const auto ungrouped = Entry("/d/e");
    const auto last = Entry("/d/f");
    one->SetGroup(1);
    two->SetGroup(2);
    unique->SetGroup(0);
    last->SetGroup(std::numeric_limits<std::int32_t>::max() - 2);
    EXPECT_LT(CompareGroup(*one, *two), 0);
    EXPECT_LT(CompareGroup(*two, *last), 0);
    EXPECT_LT(CompareGroup(*last, *unique), 0);
    EXPECT_LT(CompareGroup(*unique, *ungrouped), 0);
    EXPECT_GT(CompareGroup(*ungrouped, *one), 0);
    EXPECT_EQ(CompareGroup(*ungrouped, *Entry("/d/g")), 0);
}

TEST(ScanEntry, PriorityOrder) {
    const auto primary = Entry("/d/a");
    const auto secondary = Entry("/d/b");
    primary->Priority = spPrimary;
    EXPECT_LT(ComparePriority(*primary, *secondary), 0);
    EXPECT_GT(ComparePriority(*secondary, *primary), 0);
    EXPECT_EQ(ComparePriority(*secondary, *secondary), 0);
}

} // namespace
