// The scan record: one file of the list as the scan sees it. What the scan never changes
// (the path and its parts, size, type, times, attributes) lives in TFileFacts, made once
// when the entry is made and shared by the entry and every record taken from it; a
// record adds only the three fields the scan may change.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace App_scan {

enum TScanPriority : std::uint8_t { spPrimary = 0, spSecondary = 1 };

// A hash text: empty, or the 64 upper-case hexadecimal digits of a SHA-256 value, held as
// the 32 bytes they stand for. Any other text is kept as it is, at the cost of an
// allocation (only hand-made records carry such). Equal texts are equal values.
class THashText {
public:
    THashText() = default;
    THashText(const std::string& text); // NOLINT: a hash is assigned its text
    THashText(const char* text);        // NOLINT
    THashText(const THashText& other);
    THashText(THashText&& other) noexcept;
    THashText& operator=(const THashText& other);
    THashText& operator=(THashText&& other) noexcept;
    ~THashText();

    static THashText FromDigest(const unsigned char digest[32]);

    bool empty() const { return Kind == kEmpty; }
    // The 32 bytes of a SHA-256 value; nullptr for an empty or any other text.
    const unsigned char* Digest() const { return Kind == kDigest ? Bytes : nullptr; }
    // The text, made on each call.
    std::string Text() const;
    operator std::string() const { return Text(); } // NOLINT
    std::size_t size() const;
    // Appends bytes that are equal for two hashes exactly when their texts are.
    void AppendKey(std::string& key) const;

    friend bool operator==(const THashText& a, const THashText& b);
    friend bool operator==(const THashText& a, const std::string& b) { return a == THashText(b); }
    friend bool operator==(const THashText& a, const char* b) { return a == THashText(b); }
    friend std::ostream& operator<<(std::ostream& out, const THashText& hash) {
        return out << hash.Text();
    }

private:
    enum : unsigned char { kEmpty, kDigest, kOther };
    const std::string* Other() const;
    void Release();

    unsigned char Bytes[32] = {}; // the digest, or a pointer to the other text
    unsigned char Kind = kEmpty;
};

class TFileFacts;

// Shares one TFileFacts; copying costs a reference count, no text.
class TFileFactsRef {
public:
    TFileFactsRef();
    explicit TFileFactsRef(TFileFacts* facts); // takes the facts' first reference
    TFileFactsRef(const TFileFactsRef& other);
    TFileFactsRef(TFileFactsRef&& other) noexcept;
    TFileFactsRef& operator=(TFileFactsRef other) noexcept;
    ~TFileFactsRef();

    const TFileFacts& operator*() const { return *Facts; }
    const TFileFacts* operator->() const { return Facts; }
    TFileFacts* Writable() const { return Facts; }

private:
    TFileFacts* Facts;
};

// The fields of a file that never change once it is listed. Immutable while shared.
class TFileFacts {
public:
    struct TFields {
        std::string Path;
        std::string_view Directory; // each a part of Path, or a text of its own
        std::string_view Name;
        std::string_view BaseName;
        std::string_view Extension;
        std::string_view Type;
        std::uint64_t Size = 0;
        std::uint64_t CreationTime = 0;
        std::uint64_t LastWriteTime = 0;
        std::uint64_t LastAccessTime = 0;
        std::uint32_t Attributes = 0;
        std::uint64_t Device = 0; // with Inode, which file it is; 0 and 0 when unknown
        std::uint64_t Inode = 0;
        std::uint64_t ChangeTime = 0; // ctime in nanoseconds since 1970; 0 when unknown
    };

    // Directory, Name and BaseName that lie inside fields.Path are kept as its parts, any
    // other text as a copy. Extension and type texts are shared by the whole process: a
    // list holds few distinct ones.
    static TFileFactsRef Make(TFields&& fields);
    // The facts with every text empty and every number 0.
    static TFileFactsRef Empty();

    TFileFacts(const TFileFacts&) = delete;
    TFileFacts& operator=(const TFileFacts&) = delete;

    const std::string& Path() const { return FPath; }
    std::string_view Directory() const { return Part(FDirectory); }
    std::string_view Name() const { return Part(FName); }
    std::string_view BaseName() const { return Part(FBaseName); }
    const std::string& Extension() const { return FKinds->Extension; }
    std::uint64_t Size() const { return FSize; }
    const std::string& Type() const { return FKinds->Type; }
    std::uint64_t CreationTime() const { return FCreationTime; }
    std::uint64_t LastWriteTime() const { return FLastWriteTime; }
    std::uint64_t LastAccessTime() const { return FLastAccessTime; }
    std::uint32_t Attributes() const { return FAttributes; }
    std::uint64_t Device() const { return FDevice; }
    std::uint64_t Inode() const { return FInode; }
    std::uint64_t ChangeTime() const { return FChangeTime; }
    // True when both are known to be one file, under whatever names.
    bool IsSameFile(const TFileFacts& other) const {
        return (FInode != 0 || FDevice != 0) && FDevice == other.FDevice && FInode == other.FInode;
    }

    TFields Fields() const;
    // Facts of the same path, name, extension and type with the numbers of numbers (size,
    // times, attributes, identity); the texts of numbers are not read.
    TFileFactsRef Renewed(const TFields& numbers) const;

private:
    friend class TFileFactsRef;
    // Where a part lies: in the path, or in the text of the parts of their own.
    struct TPart {
        std::uint32_t Start = 0;
        std::uint32_t Length : 31 = 0;
        std::uint32_t Own : 1 = 0;
    };

    // An extension and a type, shared by the whole process: a list holds few such pairs.
    struct TKinds {
        std::string Extension;
        std::string Type;
    };
    static const TKinds& SharedKinds(std::string_view extension, std::string_view type);

    // Made only by Make, in one allocation with its own parts behind it; Destroy ends it.
    TFileFacts() = default;
    ~TFileFacts() = default;
    static void Destroy(TFileFacts* facts);
    std::string_view Part(TPart part) const;
    const char* OwnParts() const { return reinterpret_cast<const char*>(this + 1); }

    std::atomic<std::uint32_t> References{1};
    TPart FDirectory, FName, FBaseName;
    std::uint32_t FAttributes = 0;
    std::string FPath;
    const TKinds* FKinds = nullptr;
    // Size and identity together: the scan reads them for every pair it is offered.
    std::uint64_t FSize = 0;
    std::uint64_t FDevice = 0;
    std::uint64_t FInode = 0;
    std::uint64_t FCreationTime = 0;
    std::uint64_t FLastWriteTime = 0;
    std::uint64_t FLastAccessTime = 0;
    std::uint64_t FChangeTime = 0;
};

// A shared copy of an interned text: the same address for equal texts, kept until exit.
const std::string& SharedText(std::string_view text);

// A value copy of one entry for the scan: its facts, shared, and the fields the scan
// changes. File times are 100-ns ticks since 1601-01-01 UTC.
class TScanRecord {
public:
    TScanRecord();
    explicit TScanRecord(TFileFactsRef facts, THashText hash = {},
                         TScanPriority priority = spSecondary, std::int32_t group = -1);

    const std::string& Path() const { return Facts->Path(); }
    std::string_view Directory() const { return Facts->Directory(); }
    std::string_view Name() const { return Facts->Name(); }
    std::string_view BaseName() const { return Facts->BaseName(); }
    const std::string& Extension() const { return Facts->Extension(); }
    std::uint64_t Size() const { return Facts->Size(); }
    const std::string& Type() const { return Facts->Type(); }
    std::uint64_t CreationTime() const { return Facts->CreationTime(); }
    std::uint64_t LastWriteTime() const { return Facts->LastWriteTime(); }
    std::uint64_t LastAccessTime() const { return Facts->LastAccessTime(); }
    std::uint32_t Attributes() const { return Facts->Attributes(); }
    std::uint64_t Device() const { return Facts->Device(); }
    std::uint64_t Inode() const { return Facts->Inode(); }
    std::uint64_t ChangeTime() const { return Facts->ChangeTime(); }
    bool IsSameFile(const TScanRecord& other) const { return Facts->IsSameFile(*other.Facts); }
    const TFileFactsRef& SharedFacts() const { return Facts; }
    // New facts of the same file, read again from the file system.
    void SetFacts(TFileFactsRef facts) { Facts = std::move(facts); }

    // For hand-made records (tests, benchmarks): each sets one field, on facts of the
    // record's own.
    void SetPath(std::string path);
    void SetDirectory(std::string_view directory);
    void SetName(std::string_view name);
    void SetBaseName(std::string_view baseName);
    void SetExtension(std::string_view extension);
    void SetSize(std::uint64_t size);
    void SetType(std::string_view type);
    void SetCreationTime(std::uint64_t time);
    void SetLastWriteTime(std::uint64_t time);
    void SetLastAccessTime(std::uint64_t time);
    void SetAttributes(std::uint32_t attributes);
    void SetIdentity(std::uint64_t device, std::uint64_t inode);
    void SetChangeTime(std::uint64_t time);

    THashText Hash; // empty, or 64 upper-case hexadecimal digits
    TScanPriority Priority = spSecondary;
    std::int32_t Group = -1; // -1 no group, 0 unique, n >= 1 duplicate group n

private:
    template <typename Change>
    void ChangeFields(Change change);

    TFileFactsRef Facts;
};

} // namespace App_scan
