// Where a Wine prefix keeps its WinINet URL cache, and the walk over all of it.
//
// Wine keeps one index file per container and walks the containers in the order cookies,
// history ("Visited:"), content, because it adds each new container at the head of its list.
// The folders are those of a Wine 8 prefix under C:\users\<user>\AppData\Local\Microsoft\Windows.
#pragma once

#include "platform/urlcache/index_reader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace urlcache {

// The user folder name Wine uses at run time: $USER, else the account name, else "wine"; only the
// part after the last '/' or '\'.
std::string WineUserName();

// The three containers' index files, in walk order. Folder names are matched letter case aside,
// as Wine looks them up. A container whose file does not exist has an empty path.
enum class Lookup { Found, Missing, Failed };
struct IndexFile {
    Lookup lookup = Lookup::Missing;
    std::string path;
};
std::vector<IndexFile> ContainerIndexFiles(const std::string& prefix, const std::string& user);

// Reads a whole index file. Retries a few times while the size in the header differs from the
// bytes read, since Wine grows the file in place while a reader may be reading it. Anything but
// a regular file, and a file larger than kMaxIndexFileSize, is Failed without being read.
enum class ReadResult { Read, Missing, Failed };
ReadResult ReadIndexFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// How a walk over the whole cache ended.
enum class CacheWalkEnd {
    Finished,  // every entry was visited (a prefix without cache files is an empty cache)
    Stopped,   // the visitor asked to stop
    Failed,    // an index file could not be read or is damaged
};

// Visits every source URL of the user's cache in the prefix, in Wine's order. Never writes.
CacheWalkEnd WalkUrlCache(const std::string& prefix, const std::string& user,
                          const UrlVisitor& visit);

}  // namespace urlcache
