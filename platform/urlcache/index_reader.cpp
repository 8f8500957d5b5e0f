#include "platform/urlcache/index_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

namespace urlcache {
namespace {

// File layout (little-endian throughout).
constexpr std::uint64_t kMinimumFileSize = 0x8000;   // Wine re-creates anything smaller
constexpr std::uint64_t kSignatureSize = 27;         // without the terminating zero
constexpr std::uint64_t kFileSizeField = 0x1C;
constexpr std::uint64_t kFirstHashTableField = 0x20;
constexpr std::uint64_t kCapacityField = 0x24;
constexpr std::uint64_t kBlocksInUseField = 0x28;
constexpr std::uint64_t kBitmapStart = 0x250;
constexpr std::uint64_t kDataStart = 0x4000;         // block 0; also the end of the bitmap
constexpr std::uint64_t kBlockSize = 128;

// A hash table: "HASH", u32 blocks, u32 next table, u32 id, then 448 slots of (key, offset).
constexpr std::uint64_t kHashNextField = 8;
constexpr std::uint64_t kHashIdField = 12;
constexpr std::uint64_t kHashSlotsStart = 0x10;
constexpr std::uint64_t kHashSlotCount = 448;
constexpr std::uint64_t kHashSlotSize = 8;
constexpr std::uint64_t kHashTableExtent = kHashSlotsStart + kHashSlotCount * kHashSlotSize;
constexpr std::uint32_t kSlotDeleted = 1;
constexpr std::uint32_t kSlotFree = 3;

// A URL record: signature, u32 blocks, ... u32 URL offset (from the record start) at 0x34; its
// fixed part ends at 0x68.
constexpr std::uint64_t kRecordBlocksField = 4;
constexpr std::uint64_t kRecordUrlOffsetField = 0x34;
constexpr std::uint64_t kRecordFixedSize = 0x68;

constexpr std::string_view kWineSignature = "WINE URLCache Ver 0.2012001";
constexpr std::string_view kWindowsSignature = "Client UrlCache MMF Ver 5.2";

// The bytes of the file with checked little-endian reads. Every caller has checked that the
// field lies inside the file; the checks here are the last line, not the first.
class FileView {
public:
    explicit FileView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint64_t Size() const { return bytes_.size(); }

    bool Holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= Size() && length <= Size() - offset;
    }

    std::uint32_t U32(std::uint64_t offset) const {
        if (!Holds(offset, 4)) return 0;
        const std::uint8_t* p = bytes_.data() + offset;
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }

    std::string_view Text(std::uint64_t offset, std::uint64_t length) const {
        if (!Holds(offset, length)) return {};
        return {reinterpret_cast<const char*>(bytes_.data() + offset), length};
    }

    // The zero-terminated text at offset, which must end before limit.
    std::optional<std::string_view> TextEndingBefore(std::uint64_t offset,
                                                     std::uint64_t limit) const {
        limit = std::min(limit, Size());
        if (offset >= limit) return std::nullopt;
        const auto* begin = bytes_.data() + offset;
        const auto* end = bytes_.data() + limit;
        const auto* zero = std::find(begin, end, std::uint8_t{0});
        if (zero == end) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(begin),
                                static_cast<std::size_t>(zero - begin));
    }

    std::span<const std::uint8_t> Bytes(std::uint64_t offset, std::uint64_t length) const {
        if (!Holds(offset, length)) return {};
        return bytes_.subspan(offset, length);
    }

private:
    std::span<const std::uint8_t> bytes_;
};

bool HasKnownSignature(const FileView& file) {
    const std::string_view signature = file.Text(0, kSignatureSize);
    return signature == kWineSignature || signature == kWindowsSignature;
}

// The checks that Wine runs when it first maps the file; a file that fails them is one that Wine
// would wipe, so its entries are not the cache's.
bool PassesHeaderChecks(const FileView& file) {
    if (file.Size() < kMinimumFileSize) return false;
    if (!HasKnownSignature(file)) return false;
    if (file.U32(kFileSizeField) != file.Size()) return false;
    const std::uint64_t capacity = file.U32(kCapacityField);
    if (kDataStart + capacity * kBlockSize != file.Size()) return false;

    const std::uint64_t bitmapBytes = kDataStart - kBitmapStart;
    const std::uint64_t usedBitmapBytes = capacity / 8;
    if (usedBitmapBytes > bitmapBytes) return false;
    const auto bitmap = file.Bytes(kBitmapStart, bitmapBytes);
    std::uint64_t allocated = 0;
    for (std::uint64_t i = 0; i < usedBitmapBytes; ++i) {
        allocated += static_cast<std::uint64_t>(std::popcount(bitmap[i]));
    }
    if (allocated != file.U32(kBlocksInUseField)) return false;
    return std::all_of(bitmap.begin() + static_cast<std::ptrdiff_t>(usedBitmapBytes),
                       bitmap.end(), [](std::uint8_t b) { return b == 0; });
}

struct HashTable {
    std::uint64_t offset;
    std::uint32_t id;
};

bool IsPlausibleTableOffset(const FileView& file, std::uint64_t offset) {
    return offset >= kDataStart && offset % kBlockSize == 0 && file.Holds(offset, kHashTableExtent);
}

// The hash tables in chain order, or nothing when the chain leaves the file, loops, or holds
// something that is not a hash table.
std::optional<std::vector<HashTable>> ReadTableChain(const FileView& file) {
    std::vector<HashTable> chain;
    std::vector<bool> seen(static_cast<std::size_t>(file.Size() / kBlockSize), false);
    std::uint64_t offset = file.U32(kFirstHashTableField);
    while (offset != 0) {
        if (!IsPlausibleTableOffset(file, offset)) return std::nullopt;
        const auto block = static_cast<std::size_t>(offset / kBlockSize);
        if (seen[block]) return std::nullopt;
        seen[block] = true;
        if (file.Text(offset, 4) != "HASH") return std::nullopt;
        chain.push_back({offset, file.U32(offset + kHashIdField)});
        offset = file.U32(offset + kHashNextField);
    }
    return chain;
}

// The tables as Wine visits them: ids 0, 1, 2, ..., each the first table of that id in the chain,
// until an id that no table has.
std::vector<HashTable> InVisitOrder(const std::vector<HashTable>& chain) {
    std::unordered_map<std::uint32_t, const HashTable*> firstOfId;
    for (const HashTable& table : chain) firstOfId.try_emplace(table.id, &table);
    std::vector<HashTable> order;
    for (std::uint32_t id = 0;; ++id) {
        const auto table = firstOfId.find(id);
        if (table == firstOfId.end()) break;
        order.push_back(*table->second);
    }
    return order;
}

enum class SlotResult { Skip, Url, Damaged };

// Reads the record a live slot points at. Only "URL " records count; their URL must end inside
// the record's blocks.
SlotResult ReadSlotRecord(const FileView& file, std::uint64_t record, std::string_view& url) {
    if (record < kDataStart || !file.Holds(record, kRecordFixedSize)) return SlotResult::Damaged;
    if (file.Text(record, 4) != "URL ") return SlotResult::Skip;
    const std::uint64_t blocks = std::max<std::uint64_t>(file.U32(record + kRecordBlocksField), 1);
    const std::uint64_t recordEnd = std::min(record + blocks * kBlockSize, file.Size());
    const auto text = file.TextEndingBefore(record + file.U32(record + kRecordUrlOffsetField),
                                            recordEnd);
    if (!text) return SlotResult::Damaged;
    url = *text;
    return SlotResult::Url;
}

WalkEnd WalkTable(const FileView& file, const HashTable& table, const UrlVisitor& visit) {
    for (std::uint64_t slot = 0; slot < kHashSlotCount; ++slot) {
        const std::uint64_t at = table.offset + kHashSlotsStart + slot * kHashSlotSize;
        const std::uint32_t key = file.U32(at);
        if (key == kSlotDeleted || key == kSlotFree) continue;
        std::string_view url;
        switch (ReadSlotRecord(file, file.U32(at + 4), url)) {
            case SlotResult::Skip:
                continue;
            case SlotResult::Damaged:
                return WalkEnd::Damaged;
            case SlotResult::Url:
                if (visit(url)) return WalkEnd::Stopped;
                break;
        }
    }
    return WalkEnd::Finished;
}

}  // namespace

std::uint64_t DeclaredFileSize(std::span<const std::uint8_t> file) {
    const FileView view(file);
    return view.Holds(kFileSizeField, 4) ? view.U32(kFileSizeField) : 0;
}

WalkEnd WalkIndex(std::span<const std::uint8_t> bytes, const UrlVisitor& visit) {
    const FileView file(bytes);
    if (!PassesHeaderChecks(file)) return WalkEnd::Damaged;
    const auto chain = ReadTableChain(file);
    if (!chain) return WalkEnd::Damaged;
    for (const HashTable& table : InVisitOrder(*chain)) {
        const WalkEnd end = WalkTable(file, table, visit);
        if (end != WalkEnd::Finished) return end;
    }
    return WalkEnd::Finished;
}

}  // namespace urlcache
