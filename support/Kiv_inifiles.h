// An INI file held in memory: read once when created, written back whole on request.
// Unknown sections and keys survive a rewrite in place; comments and blank lines do not.
#pragma once

#include "Kiv_framework.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Kiv_inifiles {

class EIniFileError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

class TMemIniFile {
public:
    // Reads the file when it exists; a file that exists but cannot be read is an error,
    // so that a later write can never replace settings it did not see.
    explicit TMemIniFile(std::string fileName);
    virtual ~TMemIniFile() = default;

    const std::string& FileName() const { return Path; }

    // Parses INI text as the file reader does; replaces the current contents.
    void SetText(const std::string& text);
    // The file's text: CR LF line ends, an empty line after each section.
    std::string GetText() const;

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    std::int32_t ReadInteger(const std::string& section, const std::string& key,
                             std::int32_t defaultValue) const;
    void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    void WriteBool(const std::string& section, const std::string& key, bool value);

    // Writes the whole file: to a temporary file beside it first, then renamed over it,
    // so a full disk or a crash never leaves a truncated settings file.
    void UpdateFile() const;

private:
    struct TLine {
        bool IsKey;
        std::string Key;  // the trimmed text before the first "=" (key lines only)
        std::string Text; // the value of a key line, or the whole line otherwise
    };
    struct TSection {
        std::string Name;
        std::vector<TLine> Lines;
    };

    const TSection* FindSection(const std::string& name) const;
    TSection* FindSection(const std::string& name);
    static const TLine* FindKey(const TSection& section, const std::string& key);

    std::string Path;
    std::vector<TSection> Sections;
};

// Integer text as the reader takes it: decimal, "0x.."/"0X.." longer than two
// characters, or "$.."; nothing otherwise.
std::optional<std::int32_t> ParseIniInteger(const std::string& text);

} // namespace Kiv_inifiles
