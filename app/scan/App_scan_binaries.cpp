#include "App_scan_binaries.h"

#include "App_scan_reading.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace App_scan {

namespace {

// Blocks up to this size compare their held chunks with each other directly.
constexpr std::size_t SmallBlock = 8;
// Files read between two cancel points inside a block: some milliseconds, also on a cold
// disk.
constexpr std::size_t CancelStride = 16;

std::uint32_t ChunkCount(std::uint64_t size) {
    return static_cast<std::uint32_t>((size + ReadChunkSize - 1) / ReadChunkSize);
}

std::uint64_t ChunkHash(const unsigned char* data, std::size_t size) {
    return std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(data), size));
}

} // namespace

// Reads one set: blocks of members that are equal so far, split by the content of each
// chunk in turn, depth first, until every block is one member or reached the end.
class TScanContentPartition::TSetReader {
public:
    TSetReader(TScanContentPartition& owner, std::uint64_t size)
        : Owner(owner), Size(size), Chunks(ChunkCount(size)),
          Scratch(std::make_unique<unsigned char[]>(ReadChunkSize)),
          Representative(std::make_unique<unsigned char[]>(ReadChunkSize)) {}

    bool Read(const std::vector<int>& members) {
        Pending.push_back({Owner.NewNode(-1, 0), members, 0, true});
        while (!Pending.empty()) {
            if (Owner.Cancelled && Owner.Cancelled())
                return false;
            TBlock block = std::move(Pending.back());
            Pending.pop_back();
            if (!Process(block))
                return false;
        }
        return true;
    }

private:
    struct TBlock {
        int Node;
        std::vector<int> Members;
        std::uint32_t Chunk;
        bool First; // the members' files have not been opened yet
    };
    // One member's chunk, by the member's place in its block; its bytes are held in Bytes
    // at that place, or must be read again.
    struct TPiece {
        std::size_t At;
        std::uint64_t Hash;
    };
    using TFiles = std::vector<std::unique_ptr<TReadOnlyFile>>;

    const std::string& PathOf(int member) const { return Owner.First[member].Path(); }

    std::size_t ChunkLength(std::uint32_t chunk) const {
        return static_cast<std::size_t>(
            std::min<std::uint64_t>(ReadChunkSize, Size - std::uint64_t{chunk} * ReadChunkSize));
    }

    TMember& StateOf(int member) { return Owner.State[member]; }

    // The cancel point inside a block's work, asked before every CancelStride-th file: true
    // once a cancel stopped the reading.
    bool StopAt(std::size_t file) {
        if (!Stopped && file % CancelStride == 0 && Owner.Cancelled && Owner.Cancelled())
            Stopped = true;
        return Stopped;
    }

    void Detach(int member, int node, std::uint32_t chunk, TReadEnd end) {
        TMember& state = StateOf(member);
        state.Failed = chunk;
        state.FailedAs = end;
        state.Leaf = Owner.NewNode(node, chunk);
    }

    // The block's files, kept open while it is small. The first time, every member is
    // opened and checked: one that cannot be opened or is not the file listed fails every
    // comparison at its start and leaves.
    TFiles OpenFiles(TBlock& block) {
        const bool keep = block.Members.size() <= Owner.MaxOpenFiles;
        TFiles files;
        std::vector<int> opened;
        for (std::size_t at = 0; at < block.Members.size(); ++at) {
            if (StopAt(at))
                return files;
            const int member = block.Members[at];
            if (!keep && !block.First) {
                files.emplace_back();
                continue;
            }
            auto file = std::make_unique<TReadOnlyFile>(Owner.First[member]);
            if (file->State() != TReadEnd::reDone) {
                if (block.First) {
                    StateOf(member).Opened = file->State();
                    continue;
                }
                file.reset(); // opened again for the read, which then fails as this did
            }
            opened.push_back(member);
            files.push_back(keep ? std::move(file) : nullptr);
        }
        if (block.First)
            block.Members.swap(opened);
        return files;
    }

    // Runs read on the member's file: the block's own, or one opened for it.
    template <typename Read>
    TReadEnd WithFile(const std::unique_ptr<TReadOnlyFile>& file, int member, Read read) const {
        if (file)
            return read(*file);
        TReadOnlyFile once(Owner.First[member]);
        return once.State() == TReadEnd::reDone ? read(once) : once.State();
    }

    TReadEnd ReadPiece(const std::unique_ptr<TReadOnlyFile>& file, int member, std::uint32_t chunk,
                       unsigned char* buffer) const {
        const std::size_t length = ChunkLength(chunk);
        const std::uint64_t offset = std::uint64_t{chunk} * ReadChunkSize;
        return WithFile(file, member, [&](TReadOnlyFile& open) {
            return open.ReadExactAt(buffer, length, offset);
        });
    }

    bool Process(TBlock& block) {
        // A block too large to keep its files open checks each file as it reads its first
        // chunk, instead of opening it once for the check and again for the read.
        bool openForRead = block.First && block.Members.size() > Owner.MaxOpenFiles &&
                           block.Members.size() > 1 && block.Chunk < Chunks;
        TFiles files = openForRead ? TFiles(block.Members.size()) : OpenFiles(block);
        if (Stopped)
            return false;
        for (std::uint32_t chunk = block.Chunk;; ++chunk) {
            if (block.Members.size() <= 1 || chunk == Chunks) {
                for (std::size_t at = 0; at < block.Members.size(); ++at) {
                    if (block.Members.size() > 1 && StopAt(at))
                        return false;
                    const int member = block.Members[at];
                    StateOf(member).Leaf = block.Node;
                    // Equal to the end: whether a file has more than was listed, or
                    // changed while it was read, decides.
                    if (block.Members.size() > 1)
                        StateOf(member).AtEnd =
                            WithFile(files[at], member, [&](TReadOnlyFile& open) {
                                return open.EndsUnchangedAt(Size);
                            });
                }
                return true;
            }
            if (Owner.Cancelled && Owner.Cancelled())
                return false;
            std::vector<std::vector<std::size_t>> groups =
                Split(block, files, chunk, std::exchange(openForRead, false));
            if (Stopped)
                return false;
            if (groups.size() == 1) {
                // All equal so far (some may have failed): the same block goes on.
                std::vector<int> members;
                TFiles kept;
                for (const std::size_t at : groups[0]) {
                    members.push_back(block.Members[at]);
                    kept.push_back(std::move(files[at]));
                }
                block.Members.swap(members);
                files.swap(kept);
                continue;
            }
            for (const std::vector<std::size_t>& group : groups) {
                std::vector<int> members;
                for (const std::size_t at : group)
                    members.push_back(block.Members[at]);
                Pending.push_back(
                    {Owner.NewNode(block.Node, chunk), std::move(members), chunk + 1, false});
            }
            return true;
        }
    }

    // Reads the chunk of every member and splits the block by its bytes: the groups of
    // equal chunks, as places in the block, in ascending order (members whose read failed
    // are detached). Hashes find the candidates for equality; the bytes decide.
    // openForRead: the chunk is the first read of the block's files, each opened and
    // checked here rather than beforehand.
    std::vector<std::vector<std::size_t>> Split(const TBlock& block, const TFiles& files,
                                                std::uint32_t chunk, bool openForRead) {
        const std::size_t length = ChunkLength(chunk);
        const std::size_t count = block.Members.size();
        Held = count * length <= Owner.BufferBudget;
        if (Held && BytesSize < count * length) {
            Bytes = std::make_unique_for_overwrite<unsigned char[]>(count * length);
            BytesSize = count * length;
        }
        // A few held chunks are compared with each other at once; hashes first pay only
        // where many would be.
        const bool hash = !Held || count > SmallBlock;
        std::vector<TPiece> pieces;
        pieces.reserve(count);
        for (std::size_t at = 0; at < count; ++at) {
            if (StopAt(at))
                return {};
            unsigned char* buffer = Held ? Bytes.get() + at * length : Scratch.get();
            TReadEnd end = TReadEnd::reDone;
            if (openForRead) {
                // One that cannot be opened or is not the file listed fails every
                // comparison at its start and is in no group.
                TReadOnlyFile file(Owner.First[block.Members[at]]);
                if (file.State() != TReadEnd::reDone) {
                    StateOf(block.Members[at]).Opened = file.State();
                    continue;
                }
                end = file.ReadExactAt(buffer, length, std::uint64_t{chunk} * ReadChunkSize);
            } else {
                end = ReadPiece(files[at], block.Members[at], chunk, buffer);
            }
            if (end == TReadEnd::reDone)
                pieces.push_back({at, hash ? ChunkHash(buffer, length) : 0});
            else
                Detach(block.Members[at], block.Node, chunk, end);
        }
        std::sort(pieces.begin(), pieces.end(), [](const TPiece& a, const TPiece& b) {
            return a.Hash != b.Hash ? a.Hash < b.Hash : a.At < b.At;
        });
        std::vector<std::vector<std::size_t>> groups;
        for (std::size_t run = 0; run < pieces.size();) {
            std::size_t end = run + 1;
            while (end < pieces.size() && pieces[end].Hash == pieces[run].Hash)
                ++end;
            SplitEqualHashes(block, files, chunk, {pieces.data() + run, pieces.data() + end},
                             groups);
            run = end;
        }
        return groups;
    }

    // Pieces that share a hash: their bytes sort them into groups.
    void SplitEqualHashes(const TBlock& block, const TFiles& files, std::uint32_t chunk,
                          std::vector<TPiece> rest, std::vector<std::vector<std::size_t>>& groups) {
        const std::size_t length = ChunkLength(chunk);
        while (!rest.empty()) {
            if (rest.size() == 1) {
                groups.push_back({rest[0].At});
                return;
            }
            TReadEnd end = TReadEnd::reDone;
            const unsigned char* representative =
                BytesOf(block, files, rest[0].At, chunk, Representative.get(), end);
            if (!representative) {
                Detach(block.Members[rest[0].At], block.Node, chunk, end);
                rest.erase(rest.begin());
                continue;
            }
            std::vector<std::size_t> group{rest[0].At};
            std::vector<TPiece> others;
            for (std::size_t k = 1; k < rest.size(); ++k) {
                if (!Held && StopAt(k))
                    return;
                const unsigned char* bytes =
                    BytesOf(block, files, rest[k].At, chunk, Scratch.get(), end);
                if (!bytes)
                    Detach(block.Members[rest[k].At], block.Node, chunk, end);
                else if (std::memcmp(bytes, representative, length) == 0)
                    group.push_back(rest[k].At);
                else
                    others.push_back(rest[k]);
            }
            groups.push_back(std::move(group));
            rest.swap(others);
        }
    }

    // The bytes of the member at a place: held, or read again into buffer (nullptr when
    // that read fails, how in end).
    const unsigned char* BytesOf(const TBlock& block, const TFiles& files, std::size_t at,
                                 std::uint32_t chunk, unsigned char* buffer, TReadEnd& end) const {
        if (Held)
            return Bytes.get() + at * ChunkLength(chunk);
        end = ReadPiece(files[at], block.Members[at], chunk, buffer);
        return end == TReadEnd::reDone ? buffer : nullptr;
    }

    TScanContentPartition& Owner;
    const std::uint64_t Size;
    const std::uint32_t Chunks;
    std::vector<TBlock> Pending;
    // The chunks of the block being split, when held.
    std::unique_ptr<unsigned char[]> Bytes;
    std::size_t BytesSize = 0;
    bool Held = false;
    std::unique_ptr<unsigned char[]> Scratch;
    std::unique_ptr<unsigned char[]> Representative;
    bool Stopped = false; // a cancel stopped the reading
};

TScanContentPartition::TScanContentPartition(const TScanRecords& records,
                                             const std::vector<int>& setOf,
                                             std::function<bool()> cancelled,
                                             std::uint64_t bufferBudget, std::size_t maxOpenFiles)
    : First(records.begin()), Count(records.Length()), SetOf(setOf),
      State(static_cast<std::size_t>(records.Length())), Cancelled(std::move(cancelled)),
      BufferBudget(bufferBudget), MaxOpenFiles(maxOpenFiles) {
    // The members of each set in ascending order (a counting sort).
    int sets = 0;
    for (const int set : SetOf)
        sets = std::max(sets, set + 1);
    SetStart.assign(static_cast<std::size_t>(sets) + 1, 0);
    for (const int set : SetOf)
        if (set >= 0)
            ++SetStart[static_cast<std::size_t>(set) + 1];
    for (int s = 0; s < sets; ++s)
        SetStart[s + 1] += SetStart[s];
    Members.resize(static_cast<std::size_t>(SetStart.back()));
    TNumbered<int> next(SetStart.begin(), SetStart.end() - 1);
    for (int i = 0; i < Count; ++i)
        if (SetOf[i] >= 0)
            Members[next[SetOf[i]]++] = i;
}

TScanContentPartition::~TScanContentPartition() = default;

int TScanContentPartition::NewNode(int parent, std::uint32_t chunk) {
    TNode node;
    node.Parent = parent;
    node.Chunk = chunk;
    node.Depth = parent < 0 ? 0 : Nodes[static_cast<std::size_t>(parent)].Depth + 1;
    Nodes.push_back(node);
    return static_cast<int>(Nodes.size()) - 1;
}

bool TScanContentPartition::ReadSet(int set) {
    const std::vector<int> members(Members.begin() + SetStart[set],
                                   Members.begin() + SetStart[set + 1]);
    for (const int member : members)
        State[member] = TMember(); // a cancelled reading's leftovers
    TSetReader reader(*this, First[members.front()].Size());
    if (!reader.Read(members))
        return false;
    for (const int member : members) {
        TMember& state = State[member];
        state.Read = true;
        if (state.Leaf >= 0) { // not when it could not be opened
            state.LeafParent = Nodes[static_cast<std::size_t>(state.Leaf)].Parent;
            state.LeafChunk = Nodes[static_cast<std::size_t>(state.Leaf)].Chunk;
        }
    }
    std::sort(Members.begin() + SetStart[set], Members.begin() + SetStart[set + 1],
              [this](int a, int b) {
                  return SortKey(a) != SortKey(b) ? SortKey(a) < SortKey(b) : a < b;
              });
    return true;
}

bool TScanContentPartition::Candidates(int pivot, std::vector<int>& candidates) {
    candidates.clear();
    const int set = SetOf[pivot];
    if (set < 0)
        return true; // alone at its size: every question answers false
    if (!State[pivot].Read && !ReadSet(set))
        return false;
    const int leaf = SortKey(pivot);
    if (leaf < 0)
        return false;
    const auto begin = Members.begin() + SetStart[set];
    const auto end = Members.begin() + SetStart[set + 1];
    const auto failedEnd =
        std::partition_point(begin, end, [this](int m) { return SortKey(m) < 0; });
    const auto leafBegin =
        std::lower_bound(failedEnd, end, leaf, [this](int m, int key) { return SortKey(m) < key; });
    const auto leafEnd =
        std::upper_bound(leafBegin, end, leaf, [this](int key, int m) { return key < SortKey(m); });
    // The failed and the pivot's leaf, merged in ascending order.
    const auto wanted = [&](int m) { return m != pivot && First[m].Group < 0; };
    auto failed = begin;
    auto mate = leafBegin;
    while (failed != failedEnd || mate != leafEnd) {
        const bool fromFailed = mate == leafEnd || (failed != failedEnd && *failed < *mate);
        const int m = fromFailed ? *failed++ : *mate++;
        if (wanted(m))
            candidates.push_back(m);
    }
    return true;
}

std::uint32_t TScanContentPartition::Divergence(int a, int b) const {
    const TMember& first = State[a];
    const TMember& second = State[b];
    int x = first.Leaf;
    int y = second.Leaf;
    if (x == y)
        return Never;
    // Most pairs are two blocks split off one: no walk needed.
    if (first.LeafParent == second.LeafParent)
        return std::min(first.LeafChunk, second.LeafChunk);
    // The chunk of the block each side was in just below the common one.
    std::uint32_t chunkX = Never;
    std::uint32_t chunkY = Never;
    const auto up = [this](int& node, std::uint32_t& chunk) {
        chunk = Nodes[static_cast<std::size_t>(node)].Chunk;
        node = Nodes[static_cast<std::size_t>(node)].Parent;
    };
    while (Nodes[static_cast<std::size_t>(x)].Depth > Nodes[static_cast<std::size_t>(y)].Depth)
        up(x, chunkX);
    while (Nodes[static_cast<std::size_t>(y)].Depth > Nodes[static_cast<std::size_t>(x)].Depth)
        up(y, chunkY);
    while (x != y) {
        up(x, chunkX);
        up(y, chunkY);
    }
    return std::min(chunkX, chunkY);
}

bool TScanContentPartition::Answer(const TScanRecord& A, const TScanRecord& B,
                                   TScanMatcher& matcher, bool& equal) {
    const int a = IndexOf(A);
    const int b = IndexOf(B);
    if (a < 0 || b < 0 || a == b || SetOf[a] < 0 || SetOf[a] != SetOf[b])
        return false;
    if (!State[a].Read && !ReadSet(SetOf[a]))
        return false; // stopped by a cancel: the caller meets it at its first cancel point
    const TMember& first = State[a];
    const TMember& second = State[b];
    RaiseReadEnd(first.Opened, OpenErrorMessage, A);
    RaiseReadEnd(second.Opened, OpenErrorMessage, B);
    const std::uint32_t chunks = ChunkCount(A.Size());
    const std::uint32_t end = std::min({Divergence(a, b), first.Failed, second.Failed});
    for (std::uint32_t chunk = 0; chunk < std::min(end, chunks); ++chunk)
        matcher.CheckContinue();
    if (end >= chunks) {
        RaiseReadEnd(first.AtEnd, ReadErrorMessage, A);
        RaiseReadEnd(second.AtEnd, ReadErrorMessage, B);
        equal = true;
        return true;
    }
    matcher.CheckContinue(); // the chunk where they part
    if (end == first.Failed)
        RaiseReadEnd(first.FailedAs, ReadErrorMessage, A);
    if (end == second.Failed)
        RaiseReadEnd(second.FailedAs, ReadErrorMessage, B);
    equal = false;
    return true;
}

} // namespace App_scan
