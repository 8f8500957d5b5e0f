// modFennick: the keyword list, the four searches of HKEY_CLASSES_ROOT that fill FoundKeys,
// the removal of what they found with a backup, and the removal of the suite's settings.
// It reaches the registry only through modRegFuncs and the window only through FennickView.
//
// Standard library only, so it builds unchanged for Windows.
#pragma once

#include "cleaner/registry/modRegFuncs.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cleaner {

// What the searches and removals see of the window.
class FennickView : public RegistryUi {
public:
    // Each replaces its field's text and repaints it at once, while RunStarted is true.
    virtual void UpdateRegistryHiveText(const std::string& text) = 0;
    virtual void UpdateStatusText(const std::string& text) = 0;
    virtual void UpdateKeywordText(const std::string& text) = 0;
};

struct Keyword {
    std::string Text;
    std::string TypeLibId;
};

struct FoundKey {
    std::string Branch;
    std::string ProgId;
    std::string SubKey;
    std::string TypeLibId;
};

class modFennick {
public:
    modFennick(modRegFuncs& reg, FennickView& view);

    // --- Run state, program-wide in the window's run.
    bool RunStarted = false;
    std::vector<Keyword> Keywords;     // numbered from 1 in the texts; index 0 here
    std::vector<FoundKey> FoundKeys;
    std::int32_t FoundKeyCount = 0;
    void ResetLists();                 // empties FoundKeys, then Keywords

    // --- Keyword list
    bool LoadKeywords(const std::string& fileName);

    // --- The four searches, in the order the run calls them.
    void SearchRootKeys();
    void SearchClassIds();
    void SearchInterfaces();
    void SearchTypeLibs();

    // --- Removal (the file access behind the backup is added by the removal work).
    void RemoveFoundKeys(const std::string& backupPath);
    void RemoveSettings(const std::string& backupPath, bool& startNewFile);
    void RemoveSuiteKeys(const std::string& commandLine);

private:
    modRegFuncs& reg_;
    FennickView& view_;
};

}  // namespace cleaner
