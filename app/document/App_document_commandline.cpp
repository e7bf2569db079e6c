#include "App_document_commandline.h"

#include <algorithm>

namespace App_document {

const char* const ScanUsageText =
    "Usage: sorvik-scan [OPTION]... [--secondary PATH]... PATH...\n"
    "Finds duplicate files. Every PATH (a file, or a directory and all files below it) is\n"
    "added as a primary entry, every --secondary PATH as secondary entries; a group forms\n"
    "only around a primary file. The groups are written as the results file: one full path\n"
    "a line, an empty line after each group.\n"
    "\n"
    "  --compare LIST    criteria, separated by commas, out of: directory, name, basename,\n"
    "                    extension, size, type, creation, write, access, attributes, hash,\n"
    "                    binaries (default: size,type,hash)\n"
    "  --output FILE     write the results to FILE instead of standard output\n"
    "  --secondary PATH  add the files of PATH as secondary entries\n"
    "  --null            end every path with a NUL byte and every group with one more\n"
    "                    (for xargs -0), instead of lines\n"
    "  --strict          end at the first file or folder that cannot be read, instead of\n"
    "                    naming it and leaving it out\n"
    "  --no-cache        neither take hashes from the hash cache nor keep the ones read\n"
    "                    there; without it, a file whose hash was read by an earlier scan\n"
    "                    and that nobody changed since is not read again\n"
    "                    ($XDG_CACHE_HOME/Sorvik/hashes.db, or ~/.cache/Sorvik/hashes.db)\n"
    "  --verbose         at the end, also tell how many files and bytes were read and how\n"
    "                    many hashes came from the hash cache\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "Exit status:\n"
    "  0    done: every file and folder listed was read\n"
    "  1    error; with --strict also the first file or folder that cannot be read\n"
    "  2    bad usage\n"
    "  3    done, but files or folders that could not be read (or changed while they\n"
    "       were read) were named and left out; the results of the others are written\n"
    "  130  interrupted by Ctrl-C: no results file is replaced\n";

namespace {

struct TCriterion {
    const char* Word;
    TScanAspect Aspect;
};

constexpr TCriterion Criteria[] = {
    {"directory", saDirectory},   {"name", saName},           {"basename", saBaseName},
    {"extension", saExtension},   {"size", saSize},           {"type", saType},
    {"creation", saCreationTime}, {"write", saLastWriteTime}, {"access", saLastAccessTime},
    {"attributes", saAttributes}, {"hash", saHash},           {"binaries", saBinaries},
};

// An empty list (an empty shell variable, most likely) would compare nothing and make every
// file a copy of the first primary one; like an empty item ("size," or ","), it is a
// mistake.
TScanAspects ParseCriteria(const std::string& list) {
    TScanAspects aspects;
    if (list.empty())
        throw EUsageError("--compare needs at least one criterion");
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string word = list.substr(start, comma - start);
        const auto aspect = AspectOfWord(word);
        if (!aspect)
            throw EUsageError("unknown criterion \"" + word + "\"");
        aspects.Include(*aspect);
        if (comma == list.size())
            return aspects;
        start = comma + 1;
    }
}

std::string AbsolutePath(const std::string& path, const std::string& currentDirectory) {
    // Without a current directory a relative path names nothing; taken from the root it
    // would name another file.
    if (path.empty() || path[0] == '/' || currentDirectory.empty())
        return path;
    std::string directory = currentDirectory;
    if (directory.back() != '/')
        directory += '/';
    return directory + path;
}

} // namespace

std::optional<TScanAspect> AspectOfWord(std::string_view word) {
    for (const TCriterion& criterion : Criteria)
        if (word == criterion.Word)
            return criterion.Aspect;
    return std::nullopt;
}

const char* WordOfAspect(TScanAspect aspect) {
    for (const TCriterion& criterion : Criteria)
        if (criterion.Aspect == aspect)
            return criterion.Word;
    return "";
}

TScanCommandLine ParseScanCommandLine(const std::vector<std::string>& arguments,
                                      const std::string& currentDirectory) {
    TScanCommandLine line;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto is = [&](const char* option) {
            return argument == option || argument.rfind(std::string(option) + "=", 0) == 0;
        };
        const auto value = [&](const char* option) -> std::string {
            const std::string prefix = std::string(option) + "=";
            if (argument.rfind(prefix, 0) == 0)
                return argument.substr(prefix.size());
            if (i + 1 >= arguments.size())
                throw EUsageError(std::string(option) + " needs a value");
            return arguments[++i];
        };
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            line.Primary.push_back(AbsolutePath(argument, currentDirectory));
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            line.Request = TScanCommandLine::crHelp;
            return line;
        } else if (argument == "--version") {
            line.Request = TScanCommandLine::crVersion;
            return line;
        } else if (is("--compare")) {
            line.Aspects = ParseCriteria(value("--compare"));
        } else if (is("--output")) {
            line.Output = value("--output");
            if (line.Output->empty())
                throw EUsageError("--output needs a file name");
        } else if (is("--secondary")) {
            line.Secondary.push_back(AbsolutePath(value("--secondary"), currentDirectory));
        } else if (argument == "--strict") {
            line.Strict = true;
        } else if (argument == "--null") {
            line.NullSeparated = true;
        } else if (argument == "--no-cache") {
            line.NoCache = true;
        } else if (argument == "--verbose") {
            line.Verbose = true;
        } else {
            throw EUsageError("unknown option \"" + argument + "\"");
        }
    }
    if (line.Primary.empty())
        throw EUsageError("no path given");
    return line;
}

} // namespace App_document
