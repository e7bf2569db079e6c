// The document, its aspects and their stored form.
#include "App_document.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace App_document;
using App_common::TMemIniFile;

namespace {

// An INI object on a file that does not exist, filled from text.
class TIni {
public:
    explicit TIni(const std::string& text = "")
        : Ini((std::filesystem::temp_directory_path() /
               ("sorvik_document_" + std::to_string(::getpid()) + "_absent.ini"))
                  .string()) {
        Ini.SetText(text);
    }
    TMemIniFile Ini;
};

TEST(ScanAspects, Members) {
    EXPECT_EQ(saDirectory, 0);
    EXPECT_EQ(saName, 1);
    EXPECT_EQ(saBaseName, 2);
    EXPECT_EQ(saExtension, 3);
    EXPECT_EQ(saSize, 4);
    EXPECT_EQ(saType, 5);
    EXPECT_EQ(saCreationTime, 6);
    EXPECT_EQ(saLastWriteTime, 7);
    EXPECT_EQ(saLastAccessTime, 8);
    EXPECT_EQ(saAttributes, 9);
    EXPECT_EQ(saHash, 10);
    EXPECT_EQ(saBinaries, 11);
    static_assert(sizeof(TScanAspects) == 2);
    TScanAspects set{saName, saBinaries};
    EXPECT_TRUE(set.Contains(saName));
    EXPECT_TRUE(set.Contains(saBinaries));
    EXPECT_FALSE(set.Contains(saSize));
    EXPECT_EQ(set.Bits(), (1u << 1) | (1u << 11));
    set.Exclude(saName);
    set.Include(saSize);
    EXPECT_EQ(set, (TScanAspects{saSize, saBinaries}));
    EXPECT_EQ(TScanAspects::FromBits(0xFFFF).Bits(), 0x0FFF); // the four top bits stay 0
    EXPECT_TRUE(TScanAspects().Empty());
}

TEST(ScanAspects, StoredForm) {
    EXPECT_EQ(AspectsToString(DefaultScanAspects), "000011000010");
    EXPECT_EQ(AspectsToString(TScanAspects()), "000000000000");
    EXPECT_EQ(AspectsToString(TScanAspects::FromBits(0xFFF)), "111111111111");
    EXPECT_EQ(StringToAspects("100000000001"), (TScanAspects{saDirectory, saBinaries}));
    // Any character but "0" is a member.
    EXPECT_EQ(StringToAspects("x0 0-0000000"), (TScanAspects{saDirectory, saBaseName, saSize}));
    // Characters after the twelfth are ignored.
    EXPECT_EQ(StringToAspects("0000000000001111"), TScanAspects());
    EXPECT_THROW(StringToAspects("00001100001"), Kiv_framework::ERangeError);
    EXPECT_THROW(StringToAspects(""), Kiv_framework::ERangeError);
}

TEST(Document, StartValues) {
    TDocument document;
    EXPECT_EQ(document.GetAspects(), (TScanAspects{saSize, saType, saHash}));
    EXPECT_FALSE(document.RememberSettings);
    EXPECT_TRUE(document.RememberHashes);
    EXPECT_FALSE(static_cast<bool>(document.OnChange));
    EXPECT_EQ(document.Entries().Count(), 0);
}

TEST(Document, OwnsItsEntries) {
    TDocument document;
    document.Entries().Add(App_scanentries::TScanEntryArray(
        {new App_scanentries::TScanEntry("/d/a", Kiv_files::TFindData{})}));
    EXPECT_EQ(document.Entries().Count(), 1);
    // Destroyed with the document (checked for leaks under AddressSanitizer).
}

TEST(Document, SetAspectsFiresChangeOnlyWhenDifferent) {
    TDocument document;
    int changes = 0;
    TDocument* sender = nullptr;
    document.OnChange = [&](TDocument* from) {
        ++changes;
        sender = from;
    };
    document.SetAspects(TScanAspects{saSize, saType, saHash});
    EXPECT_EQ(changes, 0);
    document.SetAspects(TScanAspects{saHash});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(sender, &document);
    EXPECT_EQ(document.GetAspects(), TScanAspects{saHash});
    document.SetAspects(TScanAspects{saHash});
    EXPECT_EQ(changes, 1);
}

TEST(Document, ChangedWithoutSubscriberDoesNothing) {
    TDocument document;
    document.Changed();
    document.SetAspects(TScanAspects{saName});
    EXPECT_EQ(document.GetAspects(), TScanAspects{saName});
}

TEST(Document, FirstStartKeepsTheStartValues) {
    TIni ini;
    TDocument document;
    document.Load(ini.Ini, "Document");
    EXPECT_EQ(document.GetAspects(), DefaultScanAspects);
    EXPECT_FALSE(document.RememberSettings);
}

TEST(Document, StoredAspectsAreIgnoredWhileNotRemembered) {
    TIni ini("[Document]\r\nAspects=111111111111\r\nRememberSettings=0\r\n");
    TDocument document;
    int changes = 0;
    document.OnChange = [&](TDocument*) { ++changes; };
    document.Load(ini.Ini, "Document");
    EXPECT_EQ(document.GetAspects(), DefaultScanAspects);
    EXPECT_FALSE(document.RememberSettings);
    EXPECT_EQ(changes, 0);
    // Not read, and not written either: the stored value stays untouched.
    document.Save(ini.Ini, "Document");
    EXPECT_EQ(ini.Ini.ReadString("Document", "Aspects", ""), "111111111111");
    EXPECT_EQ(ini.Ini.ReadString("Document", "RememberSettings", ""), "0");
}

TEST(Document, RememberedAspectsAreRead) {
    TIni ini("[document]\r\nrememberSETTINGS=1\r\nAspects=1x0 0-0000000\r\n");
    TDocument document;
    int changes = 0;
    document.OnChange = [&](TDocument*) { ++changes; };
    document.Load(ini.Ini, "Document");
    EXPECT_TRUE(document.RememberSettings);
    EXPECT_EQ(document.GetAspects(), (TScanAspects{saDirectory, saName, saExtension, saType}));
    EXPECT_EQ(changes, 1);
}

TEST(Document, RememberedButAbsentAspectsKeepTheCurrentSet) {
    TIni ini("[Document]\r\nRememberSettings=1\r\n");
    TDocument document;
    int changes = 0;
    document.OnChange = [&](TDocument*) { ++changes; };
    document.Load(ini.Ini, "Document");
    EXPECT_TRUE(document.RememberSettings);
    EXPECT_EQ(document.GetAspects(), DefaultScanAspects);
    EXPECT_EQ(changes, 0);
}

TEST(Document, RememberSettingsDefaultsToItsCurrentValue) {
    TIni ini("[Document]\r\nAspects=000000000001\r\n");
    TDocument document;
    document.RememberSettings = true;
    document.Load(ini.Ini, "Document");
    EXPECT_TRUE(document.RememberSettings);
    EXPECT_EQ(document.GetAspects(), TScanAspects{saBinaries});
    // A value that is not a number keeps the current value too.
    TIni bad("[Document]\r\nRememberSettings=yes\r\nAspects=000000000011\r\n");
    document.Load(bad.Ini, "Document");
    EXPECT_TRUE(document.RememberSettings);
    EXPECT_EQ(document.GetAspects(), (TScanAspects{saHash, saBinaries}));
}

TEST(Document, ShortAspectsStringIsARangeError) {
    TIni ini("[Document]\r\nRememberSettings=1\r\nAspects=00001100001\r\n");
    TDocument document;
    EXPECT_THROW(document.Load(ini.Ini, "Document"), Kiv_framework::ERangeError);
    EXPECT_EQ(document.GetAspects(), DefaultScanAspects);
}

TEST(Document, LongAspectsStringUsesTheFirstTwelve) {
    TIni ini("[Document]\r\nRememberSettings=1\r\nAspects=1000000000000000\r\n");
    TDocument document;
    document.Load(ini.Ini, "Document");
    EXPECT_EQ(document.GetAspects(), TScanAspects{saDirectory});
}

TEST(Document, SaveWritesAspectsOnlyWhenRemembered) {
    TIni ini;
    TDocument document;
    document.Save(ini.Ini, "Document");
    EXPECT_FALSE(ini.Ini.ValueExists("Document", "Aspects"));
    EXPECT_EQ(ini.Ini.GetText(), "[Document]\r\nRememberSettings=0\r\nRememberHashes=1\r\n\r\n");

    TIni remembered;
    document.RememberSettings = true;
    document.SetAspects(TScanAspects{saName, saHash});
    document.Save(remembered.Ini, "Document");
    EXPECT_EQ(remembered.Ini.GetText(),
              "[Document]\r\nAspects=010000000010\r\nRememberSettings=1\r\n"
              "RememberHashes=1\r\n\r\n");

    // Read back by a fresh document.
    TDocument reread;
    reread.Load(remembered.Ini, "Document");
    EXPECT_TRUE(reread.RememberSettings);
    EXPECT_EQ(reread.GetAspects(), (TScanAspects{saName, saHash}));
}

TEST(Document, RememberHashesIsKeptWhateverRememberSettingsSays) {
    // Off by the user's choice, kept off by the next start; a missing key leaves it on.
    TIni ini;
    TDocument document;
    document.RememberHashes = false;
    document.Save(ini.Ini, "Document");
    EXPECT_EQ(ini.Ini.ReadString("Document", "RememberHashes", ""), "0");
    TDocument next;
    next.Load(ini.Ini, "Document");
    EXPECT_FALSE(next.RememberHashes);
    TIni old("[Document]\r\nRememberSettings=1\r\n");
    TDocument fromOld;
    fromOld.Load(old.Ini, "Document");
    EXPECT_TRUE(fromOld.RememberHashes);
}

TEST(Document, SwitchingRememberOnWritesTheCurrentSet) {
    TIni ini("[Document]\r\nRememberSettings=0\r\n");
    TDocument document;
    document.Load(ini.Ini, "Document");
    document.RememberSettings = true; // the Options command
    document.Save(ini.Ini, "Document");
    EXPECT_EQ(ini.Ini.ReadString("Document", "Aspects", ""), "000011000010");
    EXPECT_EQ(ini.Ini.ReadString("Document", "RememberSettings", ""), "1");
}

} // namespace
