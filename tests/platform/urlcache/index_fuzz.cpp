// libFuzzer entry for the URL cache index reader: no input may make it read outside the bytes,
// loop forever or crash, and every URL it returns must lie inside the input.
//
// Each input is walked twice: as it is, and with its header made consistent (size, capacity,
// blocks in use), because random bytes almost never pass the header checks and would leave the
// table and record code unexplored.
#include "platform/urlcache/index_reader.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void WalkChecked(std::span<const std::uint8_t> file) {
    const auto* begin = reinterpret_cast<const char*>(file.data());
    urlcache::WalkIndex(file, [&](std::string_view url) {
        if (url.data() < begin || url.data() + url.size() > begin + file.size()) std::abort();
        return false;
    });
}

void Put32(std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> WithConsistentHeader(const std::uint8_t* data, std::size_t size) {
    std::size_t length = size < 0x8000 ? 0x8000 : 0x4000 + (size - 0x4000) / 128 * 128;
    std::vector<std::uint8_t> file(data, data + (size < length ? size : length));
    file.resize(length, 0);
    const char signature[] = "WINE URLCache Ver 0.2012001";
    for (std::size_t i = 0; i < 27; ++i) file[i] = static_cast<std::uint8_t>(signature[i]);
    const auto capacity = static_cast<std::uint32_t>((length - 0x4000) / 128);
    Put32(file, 0x1C, static_cast<std::uint32_t>(length));
    Put32(file, 0x24, capacity);
    std::uint32_t used = 0;
    for (std::size_t i = 0; i < 0x4000 - 0x250; ++i) {
        if (i < capacity / 8) {
            used += static_cast<std::uint32_t>(std::popcount(file[0x250 + i]));
        } else {
            file[0x250 + i] = 0;
        }
    }
    Put32(file, 0x28, used);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WalkChecked({data, size});
    if (size <= 16 * 1024 * 1024) WalkChecked(WithConsistentHeader(data, size));
    return 0;
}
