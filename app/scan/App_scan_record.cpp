#include "App_scan_record.h"

#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace App_scan {

// ---------------------------------------------------------------------------------------
// THashText

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1; // lower case too: "ab" is another text than "AB"
}

// The digest of a text of 64 upper-case hexadecimal digits; false for any other text.
bool ParseDigest(std::string_view text, unsigned char digest[32]) {
    if (text.size() != 64)
        return false;
    for (std::size_t i = 0; i < 32; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        digest[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

} // namespace

THashText::THashText(const std::string& text) {
    if (text.empty())
        return;
    if (ParseDigest(text, Bytes)) {
        Kind = kDigest;
        return;
    }
    const std::string* other = new std::string(text);
    std::memcpy(Bytes, &other, sizeof other);
    Kind = kOther;
}

THashText::THashText(const char* text) : THashText(std::string(text)) {}

THashText::THashText(const THashText& other) : Kind(other.Kind) {
    if (Kind == kOther) {
        const std::string* copy = new std::string(*other.Other());
        std::memcpy(Bytes, &copy, sizeof copy);
    } else {
        std::memcpy(Bytes, other.Bytes, sizeof Bytes);
    }
}

THashText::THashText(THashText&& other) noexcept : Kind(other.Kind) {
    std::memcpy(Bytes, other.Bytes, sizeof Bytes);
    other.Kind = kEmpty;
}

THashText& THashText::operator=(const THashText& other) {
    if (this != &other)
        *this = THashText(other);
    return *this;
}

THashText& THashText::operator=(THashText&& other) noexcept {
    if (this != &other) {
        Release();
        std::memcpy(Bytes, other.Bytes, sizeof Bytes);
        Kind = other.Kind;
        other.Kind = kEmpty;
    }
    return *this;
}

THashText::~THashText() {
    Release();
}

void THashText::Release() {
    if (Kind == kOther)
        delete Other();
    Kind = kEmpty;
}

const std::string* THashText::Other() const {
    const std::string* other = nullptr;
    std::memcpy(&other, Bytes, sizeof other);
    return other;
}

THashText THashText::FromDigest(const unsigned char digest[32]) {
    THashText hash;
    std::memcpy(hash.Bytes, digest, sizeof hash.Bytes);
    hash.Kind = kDigest;
    return hash;
}

std::string THashText::Text() const {
    switch (Kind) {
    case kDigest: {
        std::string text(64, '0');
        for (std::size_t i = 0; i < 32; ++i) {
            text[2 * i] = HexDigits[Bytes[i] >> 4];
            text[2 * i + 1] = HexDigits[Bytes[i] & 15];
        }
        return text;
    }
    case kOther:
        return *Other();
    default:
        return {};
    }
}

std::size_t THashText::size() const {
    return Kind == kDigest ? 64 : Kind == kOther ? Other()->size() : 0;
}

void THashText::AppendKey(std::string& key) const {
    key += static_cast<char>(Kind);
    if (Kind == kDigest)
        key.append(reinterpret_cast<const char*>(Bytes), sizeof Bytes);
    else if (Kind == kOther)
        key += *Other();
}

bool operator==(const THashText& a, const THashText& b) {
    if (a.Kind != b.Kind)
        return false;
    if (a.Kind == THashText::kDigest)
        return std::memcmp(a.Bytes, b.Bytes, sizeof a.Bytes) == 0;
    return a.Kind == THashText::kEmpty || *a.Other() == *b.Other();
}

// ---------------------------------------------------------------------------------------
// Shared texts

namespace {

struct TTextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
        return std::hash<std::string_view>()(text);
    }
};

class TSharedTexts {
public:
    const std::string& Get(std::string_view text) {
        const std::lock_guard<std::mutex> lock(Mutex);
        auto found = Texts.find(text);
        if (found == Texts.end())
            found = Texts.emplace(text).first;
        return *found;
    }

private:
    std::mutex Mutex;
    // Node-based: the addresses of the texts never change.
    std::unordered_set<std::string, TTextHash, std::equal_to<>> Texts;
};

} // namespace

const std::string& SharedText(std::string_view text) {
    static TSharedTexts texts;
    // Files of one folder mostly share their extension and type: no lock for a repeat.
    thread_local const std::string* last = nullptr;
    if (last && *last == text)
        return *last;
    const std::string& shared = texts.Get(text);
    last = &shared;
    return shared;
}

// ---------------------------------------------------------------------------------------
// TFileFacts, TFileFactsRef

TFileFactsRef::TFileFactsRef() : TFileFactsRef(TFileFacts::Empty()) {}

TFileFactsRef::TFileFactsRef(TFileFacts* facts) : Facts(facts) {}

TFileFactsRef::TFileFactsRef(const TFileFactsRef& other) : Facts(other.Facts) {
    Facts->References.fetch_add(1, std::memory_order_relaxed);
}

TFileFactsRef::TFileFactsRef(TFileFactsRef&& other) noexcept : Facts(other.Facts) {
    other.Facts = nullptr;
}

TFileFactsRef& TFileFactsRef::operator=(TFileFactsRef other) noexcept {
    std::swap(Facts, other.Facts);
    return *this;
}

TFileFactsRef::~TFileFactsRef() {
    if (Facts && Facts->References.fetch_sub(1, std::memory_order_acq_rel) == 1)
        TFileFacts::Destroy(Facts);
}

const TFileFacts::TKinds& TFileFacts::SharedKinds(std::string_view extension,
                                                  std::string_view type) {
    static std::mutex mutex;
    // Node-based: the addresses of the pairs never change. The key frames the extension
    // by its length, so no two pairs share one.
    static std::unordered_map<std::string, TKinds, TTextHash, std::equal_to<>> kinds;
    // Files of one folder mostly share their extension and type: no lock for a repeat.
    thread_local const TKinds* last = nullptr;
    if (last && last->Extension == extension && last->Type == type)
        return *last;
    std::string key = std::to_string(extension.size());
    key.append(1, ':').append(extension).append(type);
    const std::lock_guard<std::mutex> lock(mutex);
    auto found = kinds.find(key);
    if (found == kinds.end())
        found =
            kinds.emplace(std::move(key), TKinds{std::string(extension), std::string(type)}).first;
    last = &found->second;
    return *last;
}

void TFileFacts::Destroy(TFileFacts* facts) {
    facts->~TFileFacts();
    ::operator delete(facts);
}

std::string_view TFileFacts::Part(TPart part) const {
    if (part.Own)
        return {OwnParts() + part.Start, part.Length};
    return std::string_view(FPath).substr(part.Start, part.Length);
}

TFileFactsRef TFileFacts::Make(TFields&& fields) {
    // The parts that are not inside the path are kept right behind the facts, in the one
    // allocation: most facts have none, and a pointer to them would cost every file.
    const std::string_view* const views[] = {&fields.Directory, &fields.Name, &fields.BaseName};
    const char* const begin = fields.Path.data();
    const std::size_t length = fields.Path.size();
    const auto inPath = [&](std::string_view text, TPart& part) {
        const std::less_equal<const char*> notAfter;
        if (text.empty() || !notAfter(begin, text.data()) ||
            !notAfter(text.data() + text.size(), begin + length))
            return false;
        part.Start = static_cast<std::uint32_t>(text.data() - begin);
        part.Length = static_cast<std::uint32_t>(text.size());
        return true;
    };
    if (length > std::numeric_limits<std::uint32_t>::max() >> 1)
        throw std::length_error("TFileFacts: path too long");
    TPart parts[3];
    bool own[3];
    std::size_t ownLength = 0;
    for (int i = 0; i < 3; ++i) {
        own[i] = !inPath(*views[i], parts[i]) && !views[i]->empty();
        ownLength += own[i] ? views[i]->size() : 0;
    }
    if (ownLength > std::numeric_limits<std::uint32_t>::max() >> 1)
        throw std::length_error("TFileFacts: text too long");
    std::unique_ptr<TFileFacts, void (*)(TFileFacts*)> facts(
        new (::operator new(sizeof(TFileFacts) + ownLength)) TFileFacts, &Destroy);
    char* const ownParts = reinterpret_cast<char*>(facts.get() + 1);
    std::uint32_t ownAt = 0;
    for (int i = 0; i < 3; ++i)
        if (own[i]) {
            views[i]->copy(ownParts + ownAt, views[i]->size());
            parts[i] = {ownAt, static_cast<std::uint32_t>(views[i]->size()), 1};
            ownAt += static_cast<std::uint32_t>(views[i]->size());
        }
    facts->FDirectory = parts[0];
    facts->FName = parts[1];
    facts->FBaseName = parts[2];
    facts->FPath = std::move(fields.Path);
    facts->FKinds = &SharedKinds(fields.Extension, fields.Type);
    facts->FSize = fields.Size;
    facts->FCreationTime = fields.CreationTime;
    facts->FLastWriteTime = fields.LastWriteTime;
    facts->FLastAccessTime = fields.LastAccessTime;
    facts->FAttributes = fields.Attributes;
    facts->FDevice = fields.Device;
    facts->FInode = fields.Inode;
    facts->FChangeTime = fields.ChangeTime;
    return TFileFactsRef(facts.release());
}

TFileFactsRef TFileFacts::Empty() {
    // Made once and never released: every default record shares it.
    static TFileFacts* const empty = [] {
        TFileFactsRef made = Make({});
        TFileFacts* facts = made.Writable();
        facts->References.fetch_add(1, std::memory_order_relaxed);
        return facts;
    }();
    empty->References.fetch_add(1, std::memory_order_relaxed);
    return TFileFactsRef(empty);
}

TFileFacts::TFields TFileFacts::Fields() const {
    TFields fields;
    fields.Path = FPath;
    fields.Directory = Directory();
    fields.Name = Name();
    fields.BaseName = BaseName();
    fields.Extension = Extension();
    fields.Type = Type();
    fields.Size = FSize;
    fields.CreationTime = FCreationTime;
    fields.LastWriteTime = FLastWriteTime;
    fields.LastAccessTime = FLastAccessTime;
    fields.Attributes = FAttributes;
    fields.Device = FDevice;
    fields.Inode = FInode;
    fields.ChangeTime = FChangeTime;
    return fields;
}

TFileFactsRef TFileFacts::Renewed(const TFields& numbers) const {
    TFields fields = Fields();
    // The parts of the path become parts of the new path, not texts of their own.
    const auto rebase = [&](std::string_view& view, TPart part) {
        if (!part.Own)
            view = std::string_view(fields.Path).substr(part.Start, part.Length);
    };
    rebase(fields.Directory, FDirectory);
    rebase(fields.Name, FName);
    rebase(fields.BaseName, FBaseName);
    fields.Size = numbers.Size;
    fields.CreationTime = numbers.CreationTime;
    fields.LastWriteTime = numbers.LastWriteTime;
    fields.LastAccessTime = numbers.LastAccessTime;
    fields.Attributes = numbers.Attributes;
    fields.Device = numbers.Device;
    fields.Inode = numbers.Inode;
    fields.ChangeTime = numbers.ChangeTime;
    return Make(std::move(fields));
}

// ---------------------------------------------------------------------------------------
// TScanRecord

TScanRecord::TScanRecord() = default;

TScanRecord::TScanRecord(TFileFactsRef facts, THashText hash, TScanPriority priority,
                         std::int32_t group)
    : Hash(std::move(hash)), Priority(priority), Group(group), Facts(std::move(facts)) {}

template <typename Change>
void TScanRecord::ChangeFields(Change change) {
    TFileFacts::TFields fields = Facts->Fields();
    // The parts still point into the old facts, which live until the new ones replace them.
    change(fields);
    Facts = TFileFacts::Make(std::move(fields));
}

void TScanRecord::SetPath(std::string path) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.Path = std::move(path); });
}
void TScanRecord::SetDirectory(std::string_view directory) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.Directory = directory; });
}
void TScanRecord::SetName(std::string_view name) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.Name = name; });
}
void TScanRecord::SetBaseName(std::string_view baseName) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.BaseName = baseName; });
}
void TScanRecord::SetExtension(std::string_view extension) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.Extension = extension; });
}
void TScanRecord::SetSize(std::uint64_t size) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.Size = size; });
}
void TScanRecord::SetType(std::string_view type) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.Type = type; });
}
void TScanRecord::SetCreationTime(std::uint64_t time) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.CreationTime = time; });
}
void TScanRecord::SetLastWriteTime(std::uint64_t time) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.LastWriteTime = time; });
}
void TScanRecord::SetLastAccessTime(std::uint64_t time) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.LastAccessTime = time; });
}
void TScanRecord::SetAttributes(std::uint32_t attributes) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.Attributes = attributes; });
}
void TScanRecord::SetIdentity(std::uint64_t device, std::uint64_t inode) {
    ChangeFields([&](TFileFacts::TFields& fields) {
        fields.Device = device;
        fields.Inode = inode;
    });
}
void TScanRecord::SetChangeTime(std::uint64_t time) {
    ChangeFields([&](TFileFacts::TFields& fields) { fields.ChangeTime = time; });
}

} // namespace App_scan
