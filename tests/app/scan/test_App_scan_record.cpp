// The scan record's storage: hash texts kept as their values, and the unchanging fields
// shared between an entry's records instead of copied.
#include "App_scan_record.h"
#include "ScanFilesTestSupport.h"

#include <gtest/gtest.h>
#include <string>

using namespace App_scan;

TEST(THashText, DigestTextsRoundTripAndOtherTextsStayAsTheyAre) {
    const std::string digest = ScanTest::AbcDigest;
    EXPECT_EQ(THashText(digest).Text(), digest);
    EXPECT_EQ(THashText(digest).size(), 64u);
    EXPECT_TRUE(THashText().empty());
    EXPECT_TRUE(THashText("").empty());
    // Lower case, wrong length or other characters: kept as written, never normalised.
    std::string lower = digest;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& text : {lower, digest.substr(1), digest + "0", std::string("ab"),
                                    std::string("G") + digest.substr(1)}) {
        EXPECT_EQ(THashText(text).Text(), text);
        EXPECT_FALSE(THashText(text) == THashText(digest)) << text;
    }
    unsigned char bytes[32];
    for (int i = 0; i < 32; ++i)
        bytes[i] = static_cast<unsigned char>(0xF0 + i % 16);
    EXPECT_EQ(THashText::FromDigest(bytes).Text().substr(0, 6), "F0F1F2");
}

TEST(THashText, CopiesMovesAndKeysAreExact) {
    THashText other("not a digest");
    THashText copy = other; // deep: the two own their texts
    other = THashText(ScanTest::EmptyDigest);
    EXPECT_EQ(copy.Text(), "not a digest");
    THashText moved = std::move(copy);
    EXPECT_EQ(moved, "not a digest");
    EXPECT_TRUE(copy.empty()); // NOLINT: a moved-from hash is empty by design
    // Keys are equal exactly when the texts are, whatever their kinds.
    const auto key = [](const THashText& hash) {
        std::string text;
        hash.AppendKey(text);
        return text;
    };
    EXPECT_EQ(key(THashText(ScanTest::AbcDigest)), key(THashText(ScanTest::AbcDigest)));
    EXPECT_NE(key(THashText(ScanTest::AbcDigest)), key(THashText(ScanTest::EmptyDigest)));
    EXPECT_NE(key(THashText()), key(THashText("x")));
    EXPECT_NE(key(THashText("ab")), key(THashText("AB")));
}

TEST(TFileFacts, PartsOfThePathAreSharedAndOtherTextsCopied) {
    TFileFacts::TFields fields;
    fields.Path = "/home/user/report.final.txt"; // long enough to live on the heap
    const std::string_view whole(fields.Path);
    fields.Directory = whole.substr(0, 10);
    fields.Name = whole.substr(11);
    fields.BaseName = "report.final"; // not a view into the path: copied
    fields.Extension = "TXT";
    fields.Type = "plain text document";
    fields.Size = 5;
    const TFileFactsRef facts = TFileFacts::Make(std::move(fields));
    EXPECT_EQ(facts->Directory(), "/home/user");
    EXPECT_EQ(facts->Name(), "report.final.txt");
    EXPECT_EQ(facts->BaseName(), "report.final");
    EXPECT_EQ(facts->Directory().data(), facts->Path().data());
    EXPECT_EQ(facts->Name().data(), facts->Path().data() + 11);
    // Extension and type texts are one copy for the process.
    TFileFacts::TFields again;
    const std::string extension = "TXT", type = "plain text document";
    again.Extension = extension;
    again.Type = type;
    const TFileFactsRef other = TFileFacts::Make(std::move(again));
    EXPECT_EQ(&other->Extension(), &facts->Extension());
    EXPECT_EQ(&other->Type(), &facts->Type());

    // A short path lives inside the string object: its parts still find it.
    TFileFacts::TFields small;
    small.Path = "/a/b.c";
    small.Directory = std::string_view(small.Path).substr(0, 2);
    small.Name = std::string_view(small.Path).substr(3);
    const TFileFactsRef smallFacts = TFileFacts::Make(std::move(small));
    EXPECT_EQ(smallFacts->Directory(), "/a");
    EXPECT_EQ(smallFacts->Name(), "b.c");

    // Every part a text of its own, and pairs whose texts only run together differ.
    TFileFacts::TFields own;
    own.Path = "/elsewhere/entirely/named";
    own.Directory = "/dir";
    own.Name = "name.ext";
    own.BaseName = "name";
    own.Extension = "ab";
    own.Type = "c";
    const TFileFactsRef ownFacts = TFileFacts::Make(std::move(own));
    EXPECT_EQ(ownFacts->Directory(), "/dir");
    EXPECT_EQ(ownFacts->Name(), "name.ext");
    EXPECT_EQ(ownFacts->BaseName(), "name");
    EXPECT_EQ(ownFacts->Path(), "/elsewhere/entirely/named");
    TFileFacts::TFields shifted;
    shifted.Extension = "a";
    shifted.Type = "bc";
    const TFileFactsRef shiftedFacts = TFileFacts::Make(std::move(shifted));
    EXPECT_EQ(ownFacts->Extension(), "ab");
    EXPECT_EQ(ownFacts->Type(), "c");
    EXPECT_EQ(shiftedFacts->Extension(), "a");
    EXPECT_EQ(shiftedFacts->Type(), "bc");
}

TEST(TScanRecord, RecordsShareTheirFactsAndSettersCopyThemFirst) {
    TScanRecord a;
    a.SetPath("/x/one");
    a.SetSize(10);
    TScanRecord b = a;
    EXPECT_EQ(&*a.SharedFacts(), &*b.SharedFacts());
    b.SetSize(20);
    b.SetName("two");
    EXPECT_EQ(a.Size(), 10u);
    EXPECT_EQ(a.Name(), "");
    EXPECT_EQ(b.Size(), 20u);
    EXPECT_EQ(b.Name(), "two");
    EXPECT_EQ(b.Path(), "/x/one");
    // A change made from parts of the facts it replaces keeps every text.
    b.SetDirectory("/y");
    b.SetBaseName(b.Name());
    b.SetDirectory(b.BaseName());
    EXPECT_EQ(b.Directory(), "two");
    EXPECT_EQ(b.Name(), "two");
    EXPECT_EQ(b.BaseName(), "two");
    // The record's own fields are its own.
    a.Hash = ScanTest::AbcDigest;
    a.Group = 3;
    EXPECT_TRUE(b.Hash.empty());
    EXPECT_EQ(b.Group, -1);
}
