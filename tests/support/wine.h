// Helpers for tests that run the real Wine on a temporary prefix.
//
// A fresh prefix costs one `wineboot -i` (about 15 s) per machine: the first test that asks
// makes a template under /tmp (guarded by a lock, so parallel test programs wait for one
// another) and every prefix after that is a copy of it. Every Wine command runs with
// WINEDEBUG=-all and is followed by `wineserver -w`, so the prefix's files are complete when
// the helper returns.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The kind of Windows a prefix is: 64-bit (a registry with a 32-bit node, where 32-bit programs
// run through WOW64) or 32-bit (one node). Each has a template of its own.
enum class WindowsKind { Win64, Win32 };

// A fresh Wine prefix in its own temporary folder, removed (after its Wine server has ended)
// when the object goes.
class WinePrefix {
public:
    explicit WinePrefix(WindowsKind kind = WindowsKind::Win64);
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    // A second prefix with the same files as this one, as it is now.
    std::string CopyTo(const std::string& folder) const;

private:
    std::string folder_;  // the temporary folder that holds the prefix
    std::string path_;
};

struct WineResult {
    int status = -1;     // the command's exit status
    std::string output;  // its standard output and standard error
};

// The Wine loader a prefix needs, by its path (plain `wine` is the 32-bit loader when 32-bit
// Wine is installed): the 32-bit one for a 32-bit Windows, which refuses the 64-bit loader,
// else the 64-bit one, whose reg, regedit and cmd work in the 64-bit view.
std::string WineLoader(const std::string& prefix);

// Runs the prefix's loader with <args...> in the prefix and waits for its Wine server to end.
WineResult RunWine(const std::string& prefix, const std::vector<std::string>& args);

// Waits until no Wine server runs for the prefix.
void WaitForWineServer(const std::string& prefix);

// `reg export <key>` as UTF-8 text (reg writes UTF-16); throws when reg fails.
std::string RegExport(const std::string& prefix, const std::string& key);

// Imports REGEDIT4 / version-5 text with `regedit /s`; throws when regedit fails.
void RegImport(const std::string& prefix, const std::string& regText);

// Whether `reg query <key>` finds the key.
bool RegKeyExists(const std::string& prefix, const std::string& key);

// The text as one word for the shell.
std::string Quote(const std::string& text);

// Small file helpers.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::string MakeTempDir(const std::string& tag);
void RemoveTree(const std::string& path);

}  // namespace testsupport
