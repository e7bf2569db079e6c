// The command line of the scanner for scripts and terminals, sorvik-scan: what its
// arguments ask for, and the criteria's words.
#pragma once

#include "App_document.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace App_document {

// The criterion a word of --compare names ("size", "hash", ...); nothing for another word.
std::optional<TScanAspect> AspectOfWord(std::string_view word);
const char* WordOfAspect(TScanAspect aspect);

struct TScanCommandLine {
    enum TRequest { crScan, crHelp, crVersion };
    TRequest Request = crScan;
    TScanAspects Aspects = DefaultScanAspects;
    std::optional<std::string> Output;
    std::vector<std::string> Primary; // absolute
    std::vector<std::string> Secondary;
    bool Strict = false; // the first file or folder that cannot be read ends the run
    bool NullSeparated = false;
    bool NoCache = false; // the hash cache is neither asked nor written
    bool Verbose = false; // what was read, and what came from the cache, is told at the end
};

// Bad usage: the message says what is wrong with the arguments.
class EUsageError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

extern const char* const ScanUsageText;

// Reads the arguments (without the program's name). Relative paths are taken from
// currentDirectory, and stay relative when it is empty (the process has none, so they are
// refused later like any missing path); an empty path stays empty; everything after "--"
// is a path. Raises EUsageError.
TScanCommandLine ParseScanCommandLine(const std::vector<std::string>& arguments,
                                      const std::string& currentDirectory);

} // namespace App_document
