// sorvel --restore FILE: puts back a REGEDIT4 file of keys and values below the three roots the
// cleaner uses (a backup this program wrote, say) into the store itself, as the registry editor
// imports it, with no Wine started; then reads every key and value back from the saved registry.
// A file that deletes anything ([-KEY], "name"=-) is no backup and is refused whole, as is one
// that cannot be read exactly: nothing is written unless all of it can be.
//
// Standard library only: it builds for Windows too.
#pragma once

#include "platform/registry/registry_api.h"

#include <string>
#include <vector>

namespace cleaner {

struct RegFileValue {
    std::string name;   // Windows-1252; empty: the default value (@)
    platform::DWORD type = 0;
    std::string bytes;  // as the narrow functions give them back (strings with their NUL)
};

struct RegFileKey {
    platform::HKEY root = 0;
    std::string name;  // the whole key line, as the file names it
    std::string path;  // below the root; empty: the root itself
    std::vector<RegFileValue> values;
};

// Reads REGEDIT4 text. False with a sentence naming the line when the file is not such a file,
// names a root other than HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, or deletes.
bool ParseRegFile(const std::string& text, std::vector<RegFileKey>& keys, std::string& error);

#ifdef _WIN32
// Writes the keys and values into Windows' registry (win32_writer.cpp). False with why, naming
// the key, at the first that fails; what was written before it stays.
bool WriteRegFileToWindows(const std::vector<RegFileKey>& keys, std::string& error);
#endif

}  // namespace cleaner
