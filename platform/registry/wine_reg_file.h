// Wine's registry text files (system.reg, user.reg): the loader and the writer. The loader
// checks the whole file and refuses anything Wine would not read back as written (with the
// line number); the writer writes each unchanged key's block as it was read and every changed
// key in Wine's own syntax and order.
#pragma once

#include "platform/registry/registry_tree.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// What one key block, as the loader checked it, holds. Options (#time, #class) are looked for
// among the lines before the first value unless wholeBlock says the block has some after them.
void ParseBlockValues(std::string_view block, std::vector<Value>& values);
// The block's #time, else the time of its key line's seconds; none when it has neither.
std::optional<std::uint64_t> BlockTime(std::string_view block, bool wholeBlock);
std::optional<std::u16string> BlockClass(std::string_view block, bool wholeBlock);

// Writes the hive as a Wine registry file: the header, then every key in depth-first pre-order,
// unchanged keys from their blocks, changed keys in Wine's syntax. `flush` is called whenever
// `out` has grown large, and is expected to write and empty it.
void WriteHiveFile(Tree& tree, Hive hive, std::string_view header, std::string& out,
                   const std::function<void(std::string&)>& flush);

// Wine's text forms, exposed for tests.
void AppendEscaped(std::string& out, std::u16string_view units, std::string_view extraEscapes);
void AppendValueLine(std::string& out, const Value& value);
void AppendKeyBlock(std::string& out, const Tree& tree, const Key& key, std::vector<const Key*>& chain);

}  // namespace platform::detail
