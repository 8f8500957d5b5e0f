// Builds valid WinINet URL cache index files the way Wine lays them out, for the reader's tests
// and the benchmark: a 0x4000-byte header with the allocation bitmap, 128-byte blocks, 4096-byte
// hash tables of 448 slots chained by offset, and "URL " records filled with 0xDEADBEEF around
// their fields. Tests place entries in chosen slots and may then damage the bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace urlcache_test {

inline constexpr std::uint32_t kBlock = 128;
inline constexpr std::uint32_t kDataStart = 0x4000;
inline constexpr std::uint32_t kSlots = 448;
inline constexpr std::uint32_t kKeyDeleted = 1;
inline constexpr std::uint32_t kKeyFree = 3;

class IndexBuilder {
public:
    static constexpr std::string_view kWineSignature = "WINE URLCache Ver 0.2012001";

    explicit IndexBuilder(std::string_view signature = kWineSignature, std::uint32_t capacity = 128)
        : bytes_(kDataStart + std::size_t{capacity} * kBlock, 0) {
        std::memcpy(bytes_.data(), signature.data(), std::min<std::size_t>(signature.size(), 27));
        Put32(0x24, capacity);
        Put32(0x30, 0x07FF5400);
        Put32(0x48, 4);
        Sync();
    }

    // Appends a hash table to the chain with the next id; returns its offset.
    std::uint32_t AddHashTable() {
        const std::uint32_t table = Allocate(32);
        std::memcpy(&bytes_[table], "HASH", 4);
        Put32(table + 4, 32);
        Put32(table + 8, 0);
        Put32(table + 12, static_cast<std::uint32_t>(tables_.size()));
        for (std::uint32_t slot = 0; slot < kSlots; ++slot) SetSlot(table, slot, kKeyFree, kKeyFree);
        if (tables_.empty()) {
            Put32(0x20, table);
        } else {
            Put32(tables_.back() + 8, table);
        }
        tables_.push_back(table);
        return table;
    }

    // Writes a record with the layout of a URL record; returns its offset.
    std::uint32_t AddRecord(std::string_view url, std::string_view signature = "URL ") {
        const std::uint32_t variable = Align4(static_cast<std::uint32_t>(url.size()) + 1);
        const std::uint32_t blocks = (0x68 + variable + kBlock - 1) / kBlock;
        const std::uint32_t record = Allocate(blocks);
        std::memcpy(&bytes_[record], signature.data(), 4);
        Put32(record + 4, blocks);
        for (std::uint32_t field = 8; field < 0x68; field += 4) Put32(record + field, 0);
        Put32(record + 0x30, 0x60);
        Put32(record + 0x34, 0x68);
        Put32(record + 0x38, 0x101000FE);
        Put32(record + 0x40, 1);
        std::memcpy(&bytes_[record + 0x68], url.data(), url.size());
        bytes_[record + 0x68 + url.size()] = 0;
        return record;
    }

    void SetSlot(std::uint32_t table, std::uint32_t slot, std::uint32_t key, std::uint32_t offset) {
        Put32(table + 0x10 + slot * 8, key);
        Put32(table + 0x10 + slot * 8 + 4, offset);
    }

    // Adds url in the next unused slot, adding tables as needed (slot order is walk order).
    std::uint32_t AddUrl(std::string_view url, std::uint32_t flags = 0) {
        if (tables_.empty() || nextSlot_ == kSlots) {
            AddHashTable();
            nextSlot_ = 0;
        }
        const std::uint32_t record = AddRecord(url);
        SetSlot(tables_.back(), nextSlot_++, 0xABCDE000u | flags, record);
        return record;
    }

    const std::vector<std::uint32_t>& Tables() const { return tables_; }

    // The file with its size, capacity, bitmap and block count brought up to date.
    std::vector<std::uint8_t> Bytes() {
        Sync();
        return bytes_;
    }

    void Put32(std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes_.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(value >> (8 * i));
    }

private:
    static std::uint32_t Align4(std::uint32_t n) { return (n + 3) & ~3u; }

    std::uint32_t Capacity() const {
        return static_cast<std::uint32_t>((bytes_.size() - kDataStart) / kBlock);
    }

    // Takes blocks from the end of the used ones, doubling the file as Wine does when full.
    std::uint32_t Allocate(std::uint32_t blocks) {
        while (usedBlocks_ + blocks > Capacity()) {
            if (Capacity() * 2 > (kDataStart - 0x250) * 8) throw std::length_error("index full");
            bytes_.resize(kDataStart + std::size_t{Capacity()} * 2 * kBlock, 0);
        }
        const std::uint32_t offset = kDataStart + usedBlocks_ * kBlock;
        for (std::uint32_t i = 0; i < blocks * kBlock; i += 4) Put32(offset + i, 0xDEADBEEF);
        usedBlocks_ += blocks;
        return offset;
    }

    void Sync() {
        Put32(0x1C, static_cast<std::uint32_t>(bytes_.size()));
        Put32(0x24, Capacity());
        Put32(0x28, usedBlocks_);
        std::memset(&bytes_[0x250], 0, kDataStart - 0x250);
        for (std::uint32_t block = 0; block < usedBlocks_; ++block) {
            bytes_[0x250 + block / 8] |= static_cast<std::uint8_t>(1u << (block % 8));
        }
    }

    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint32_t> tables_;
    std::uint32_t usedBlocks_ = 0;
    std::uint32_t nextSlot_ = 0;
};

// The three containers, by the folder of their index below ...\AppData\Local\Microsoft\Windows.
inline constexpr std::string_view kCookies = "INetCookies";
inline constexpr std::string_view kHistory = "History/History.IE5";
inline constexpr std::string_view kContent = "INetCache/Content.IE5";

inline std::filesystem::path IndexPath(const std::filesystem::path& prefix, std::string_view user,
                                       std::string_view container) {
    return prefix / "drive_c/users" / user / "AppData/Local/Microsoft/Windows" / container /
           "index.dat";
}

inline void WriteIndex(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace urlcache_test
