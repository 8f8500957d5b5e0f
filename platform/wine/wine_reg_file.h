// Wine's registry text files (system.reg, user.reg): the loader and the writer. The loader
// checks the whole file and refuses anything Wine would not read back as written (with the
// line number); the writer writes each unchanged key's block as it was read and every changed
// key in Wine's own syntax and order.
#pragma once

#include "platform/registry/registry_tree.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace platform::detail {

struct FileProblem {
    std::size_t line = 0;  // 1-based
    std::string what;
};

struct LoadedFile {
    std::string_view header;  // everything before the first key block, up to its last line
    std::string arch;         // the #arch option ("win64", "win32"), empty when absent
};

// Loads the file's text (which must outlive the tree: Tree::KeepText) into the hive. Returns
// false and describes the first problem when the file is malformed; the tree may then hold
// part of the file and must be discarded.
bool LoadHiveFile(Tree& tree, Hive hive, std::string_view text, LoadedFile& loaded,
                  FileProblem& problem);

// Writes the hive as a Wine registry file: the header, then every key in depth-first pre-order,
// unchanged keys from their blocks, changed keys in Wine's syntax. `flush` is called whenever
// `out` has grown large, and is expected to write and empty it.
void WriteHiveFile(Tree& tree, Hive hive, std::string_view header, std::string& out,
                   const std::function<void(std::string&)>& flush);

}  // namespace platform::detail
