#include "Kiv_inifiles.h"
#include "TestFiles.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <unistd.h>

using Kiv_inifiles::EIniFileError;
using Kiv_inifiles::ParseIniInteger;
using Kiv_inifiles::TMemIniFile;

namespace {

class IniFile : public ::testing::Test {
protected:
    TestFiles::TTempDir Temporary;
    std::string Folder = Temporary.Path;
    std::string Path = Folder + "/Settings.ini";

    void WriteFile(const std::string& text) const { std::ofstream(Path, std::ios::binary) << text; }
    std::string ReadFile() const { return TestFiles::ReadFile(Path); }
    // Reads the file, lets the caller change it and writes it back.
    template <typename F>
    std::string Rewrite(const std::string& text, F change) {
        WriteFile(text);
        TMemIniFile ini(Path);
        change(ini);
        ini.UpdateFile();
        return ReadFile();
    }
};

TMemIniFile Parsed(const std::string& text) {
    TMemIniFile ini("/nonexistent/x.ini");
    ini.SetText(text);
    return ini;
}

} // namespace

TEST_F(IniFile, MissingFileStartsEmptyAndIsCreated) {
    TMemIniFile ini(Path);
    EXPECT_EQ(ini.ReadString("A", "k", "dflt"), "dflt");
    ini.WriteString("B", "x", "1");
    ini.WriteString("A", "y", "2");
    ini.WriteString("B", "z", "3");
    ini.UpdateFile();
    EXPECT_EQ(ReadFile(), "[B]\r\nx=1\r\nz=3\r\n\r\n[A]\r\ny=2\r\n\r\n");
    EXPECT_FALSE(std::filesystem::exists(Path + ".tmp"));
}

TEST_F(IniFile, RewriteKeepsUnknownKeysInPlaceAndDropsComments) {
    const std::string text = "; comment\r\nstray=before any section\r\n[Document]\r\n"
                             "  Extra = kept  \r\n\r\nRememberSettings=0\r\n"
                             "line without equals\r\n[Other]\r\nq=1\r\n";
    const std::string written = Rewrite(text, [](TMemIniFile& ini) {
        ini.WriteString("document", "REMEMBERSETTINGS", "1");
        ini.WriteString("Document", "Aspects", "000011000010");
        ini.WriteString("New", "k", "v");
    });
    EXPECT_EQ(written, "[Document]\r\nExtra=kept\r\nRememberSettings=1\r\n"
                       "line without equals\r\nAspects=000011000010\r\n\r\n"
                       "[Other]\r\nq=1\r\n\r\n[New]\r\nk=v\r\n\r\n");
}

TEST(IniReading, LookupIgnoresCaseAndValuesStayAsStored) {
    const auto ini = Parsed("[document]\nrememberSETTINGS=1\n[ Spaced ]\nPath = \"  a b \" \n"
                            "a=b=c\n");
    EXPECT_TRUE(ini.ReadBool("Document", "RememberSettings", false));
    EXPECT_EQ(ini.ReadString("spaced", "path", ""), "\"  a b \"");
    EXPECT_EQ(ini.ReadString("Spaced", "a", ""), "b=c");
    EXPECT_TRUE(ini.SectionExists("DOCUMENT"));
    EXPECT_FALSE(ini.ValueExists("Document", "Aspects"));
}

TEST(IniReading, IntegerRules) {
    EXPECT_EQ(ParseIniInteger("42"), 42);
    EXPECT_EQ(ParseIniInteger("-17"), -17);
    EXPECT_EQ(ParseIniInteger("+5"), 5);
    EXPECT_EQ(ParseIniInteger("0x1F"), 31);
    EXPECT_EQ(ParseIniInteger("0XfF"), 255);
    EXPECT_EQ(ParseIniInteger("$10"), 16);
    EXPECT_EQ(ParseIniInteger("0xFFFFFFFF"), -1);
    EXPECT_EQ(ParseIniInteger("007"), 7);
    for (const char* junk :
         {"", "0x", "abc", "12a", "$", "-", "1 2", "0x1G", "2147483648", "0x100000000", "1.5"})
        EXPECT_EQ(ParseIniInteger(junk), std::nullopt) << junk;

    const auto ini = Parsed("[S]\ni=0x10\nj=abc\nb0=0\nbx=junk\nb2=2\n");
    EXPECT_EQ(ini.ReadInteger("S", "i", 1), 16);
    EXPECT_EQ(ini.ReadInteger("S", "j", 1), 1);
    EXPECT_EQ(ini.ReadInteger("S", "missing", -3), -3);
    EXPECT_FALSE(ini.ReadBool("S", "b0", true));
    EXPECT_TRUE(ini.ReadBool("S", "bx", true));
    EXPECT_FALSE(ini.ReadBool("S", "bx", false));
    EXPECT_TRUE(ini.ReadBool("S", "b2", false));
}

TEST(IniReading, WritesIntegersAndBooleansAsDecimal) {
    auto ini = Parsed("");
    ini.WriteInteger("S", "n", -12);
    ini.WriteBool("S", "t", true);
    ini.WriteBool("S", "f", false);
    EXPECT_EQ(ini.GetText(), "[S]\r\nn=-12\r\nt=1\r\nf=0\r\n\r\n");
}

TEST(IniReading, BadInputIsReadByTheRulesWithoutLoss) {
    // No final line end, a "[" without "]", NUL bytes, a very long line, a repeated section.
    const std::string longValue(100000, 'v');
    const std::string text = std::string("[A]\r\nk=1\0x\r\n[broken\r\nlong=", 26) + longValue +
                             "\n[A]\nk=2\n[B]\nlast=end";
    const auto ini = Parsed(text);
    EXPECT_EQ(ini.ReadString("A", "k", ""), std::string("1\0x", 3));
    EXPECT_TRUE(ini.ReadString("A", "long", "") == longValue);
    EXPECT_EQ(ini.ReadString("B", "last", ""), "end");
    const std::string expected = std::string("[A]\r\nk=1\0x\r\n[broken\r\nlong=", 26) + longValue +
                                 "\r\n\r\n[A]\r\nk=2\r\n\r\n[B]\r\nlast=end\r\n\r\n";
    EXPECT_TRUE(ini.GetText() == expected);
    EXPECT_TRUE(Parsed(ini.GetText()).GetText() == expected);
}

TEST(IniReading, RandomJunkRewritesStably) {
    std::mt19937 random(5);
    const std::string alphabet = std::string("[]=;ab \t\r\n\0\xff", 13);
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (unsigned i = random() % 80; i > 0; --i)
            text += alphabet[random() % alphabet.size()];
        const std::string once = Parsed(text).GetText();
        ASSERT_EQ(Parsed(once).GetText(), once);
    }
}

TEST_F(IniFile, FailedWriteReportsAndKeepsTheOldFile) {
    WriteFile("[A]\r\nk=1\r\n\r\n");
    TMemIniFile ini(Path);
    ini.WriteString("A", "k", "2");
    // A folder where the temporary file must go makes the write fail, even for root.
    std::filesystem::create_directory(Path + ".tmp");
    try {
        ini.UpdateFile();
        FAIL() << "no error";
    } catch (const EIniFileError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "The program could not write the file \"" + Path + "\".");
    }
    EXPECT_EQ(ReadFile(), "[A]\r\nk=1\r\n\r\n");
    EXPECT_THROW(TMemIniFile(Folder).ReadString("A", "k", ""), EIniFileError);
}
