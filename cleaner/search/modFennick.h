// modFennick: the keyword list, the four searches of HKEY_CLASSES_ROOT that fill FoundKeys,
// the removal of what they found with a backup, and the removal of the suite's settings.
// It reaches the registry only through modRegFuncs and the window only through FennickView.
//
// Standard library only, so it builds unchanged for Windows.
#pragma once

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/branches.h"
#include "platform/files/backup_files.h"
#include "platform/files/standard_files.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cleaner {

// What the searches and removals see of the window.
class FennickView : public RegistryUi {
public:
    // Each replaces its field's text and repaints it at once, while RunStarted is true.
    virtual void UpdateRegistryHiveText(const std::string& text) = 0;
    virtual void UpdateStatusText(const std::string& text) = 0;
    virtual void UpdateKeywordText(const std::string& text) = 0;
    // A message box like ShowMessage for a text that names files: in the platform's own text
    // for file names (the bytes of the paths as the user typed them, UTF-8 on Linux), not in the
    // registry's code page, whose decoding would garble every letter outside ASCII. Registry
    // names in it are converted first (FileTextOfRegistryText). A view that shows no files may
    // keep the default.
    virtual void ShowFileMessage(const std::string& text) { ShowMessage(text); }
};

// Registry text (Windows-1252) as the platform's text for file names, for a message that names
// both.
std::string FileTextOfRegistryText(const std::string& registryText);

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

// Makes the registry's changes lasting (a Wine prefix: saves its changed files). Each removal
// operation calls it once at its end, so that what it deleted is kept whatever ends the program.
class RegistryCommit {
public:
    virtual ~RegistryCommit() = default;
    virtual void CommitRegistry() = 0;
};

class modFennick {
public:
    modFennick(modRegFuncs& reg, FennickView& view);

    // --- Run state, program-wide in the window's run.
    bool RunStarted = false;
    std::vector<Keyword> Keywords;     // in file order; the first keyword is Keywords[0]
    std::vector<FoundKey> FoundKeys;
    std::int32_t FoundKeyCount() const { return static_cast<std::int32_t>(FoundKeys.size()); }
    void ResetLists();                 // empties FoundKeys, then Keywords

    // --- Keyword list
    bool LoadKeywords(const std::string& fileName);

    // --- The four searches, in the order the run calls them. On a registry with a 32-bit node
    // each walks its branch in the 64-bit node and then in the 32-bit node (branches.h), showing
    // the 32-bit branch's text in the hive field when it moves there; TYPELIB is shared and
    // walked once.
    void SearchRootKeys();
    void SearchClassIds();
    void SearchInterfaces();
    void SearchTypeLibs();

    // --- Removal of what the searches found, of the settings, and the silent removal.
    void RemoveFoundKeys(const std::string& backupPath);
    void RemoveSettings(const std::string& backupPath, bool& startNewFile);
    void RemoveSuiteKeys(const std::string& commandLine);
    // What the removal uses besides the registry: the backup's files (platform::StandardFiles()
    // unless chosen here) and the commit at the end of each removal operation (none unless set).
    void UseBackupFiles(platform::BackupFiles& files);
    void UseRegistryCommit(RegistryCommit* commit);
    // The folder of the registry's own files (a Wine prefix), which no backup may write over;
    // empty (the default) when the registry is not kept in files a backup path could name.
    void UseRegistryFolder(std::string folder) { registryFolder_ = std::move(folder); }

private:
    modRegFuncs& reg_;
    FennickView& view_;
    platform::BackupFiles* backupFiles_ = &platform::StandardFiles();
    RegistryCommit* registryCommit_ = nullptr;
    std::string registryFolder_;
};

}  // namespace cleaner
