// Writes valid index files into a folder, as the starting corpus of urlcache_index_fuzz:
//   urlcache_index_fuzz_seeds seeds && urlcache_index_fuzz corpus seeds -max_len=300000
#include "index_builder.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: urlcache_index_fuzz_seeds FOLDER\n");
        return 2;
    }
    using namespace urlcache_test;
    const std::string folder = argv[1];
    {
        IndexBuilder b;
        WriteIndex(folder + "/empty.dat", b.Bytes());
    }
    {
        IndexBuilder b;
        for (std::uint32_t i = 0; i < 40; ++i) b.AddUrl("http://h/" + std::to_string(i), i % 3);
        WriteIndex(folder + "/small.dat", b.Bytes());
    }
    {
        IndexBuilder b;
        for (int i = 0; i < 900; ++i) b.AddUrl("u" + std::to_string(i));
        WriteIndex(folder + "/tables.dat", b.Bytes());
    }
    {
        IndexBuilder b;
        const auto table = b.AddHashTable();
        b.SetSlot(table, 3, 0x100, b.AddRecord(std::string(600, 'x')));
        b.SetSlot(table, 4, kKeyDeleted, b.AddRecord("deleted"));
        b.SetSlot(table, 5, 0x100, b.AddRecord("leak", "LEAK"));
        WriteIndex(folder + "/mixed.dat", b.Bytes());
    }
    return 0;
}
