// The cleaning run behind the window's two buttons, free of any window toolkit and of the
// platform: it drives the window through RunWindow and the registry's files through RunStore,
// so it is tested without either and the Qt and the Win32 window drive the same run.
#pragma once

#include "cleaner/search/modFennick.h"

#include <string>

namespace cleaner {

// Everything the run needs of frmFennick beyond what the searches already use.
class RunWindow : public FennickView {
public:
    enum class Answer { Ok, Cancel };

    // The check boxes: 0 not ticked, 1 ticked, 2 greyed (counts as ticked).
    virtual int Check1Value() const = 0;
    virtual int Check2Value() const = 0;

    // The two path boxes, as file names of this platform (UTF-8 on Linux).
    virtual std::string KeyFileText() const = 0;
    virtual std::string RegFileText() const = 0;

    // The time fields Text1 ("Start") and Text2 ("End").
    virtual void SetText1(const std::string& text) = 0;
    virtual void SetText2(const std::string& text) = 0;
    // The local time of day as text, in the locale's time format, without a date.
    virtual std::string TimeOfDayText() = 0;

    // Repaints the whole window at once.
    virtual void RefreshWindow() = 0;

    // A modal question with OK and Cancel, no icon, title "Tarvo Fennick", OK the default.
    virtual Answer Ask(const std::string& question) = 0;

    // A modal OK-only message box, as ShowMessage shows the registry layer's reports, for text
    // of the platform (the store's messages, file names): UTF-8, not the narrow code page.
    virtual void ShowPlatformMessage(const std::string& text) = 0;

    // Takes the window off the screen.
    virtual void UnloadWindow() = 0;
    // Ends the program at once (after the registry's changed files are saved) and does not
    // return. A test's window may return instead; the run is then not stopped by it and goes
    // on with its next step, so a test that needs the run to stop there has to stop it itself.
    virtual void EndProgram() = 0;
};

// Texts of the run, shown exactly as written here.
namespace runtext {
inline constexpr const char* kTitle = "Tarvo Fennick";
inline constexpr const char* kAskRemoveKeys = "Press Ok, to remove registry keys";
inline constexpr const char* kAskRemoveSettings = "Press Ok, to remove settings";
inline constexpr const char* kSearchStarted = "Registry Search Started";
inline constexpr const char* kSearchCompleted = "Registry Search Completed";
inline constexpr const char* kRemoveKeysStarted = "Remove Keys Started";
inline constexpr const char* kRemoveKeysCompleted = "Remove Keys Completed";
inline constexpr const char* kRemoveKeysCancelled = "Remove Keys Cancelled";
inline constexpr const char* kRemoveSettingsStarted = "Remove Settings Started";
inline constexpr const char* kRemoveSettingsCompleted = "Remove Settings Completed";
inline constexpr const char* kRemoveSettingsCancelled = "Remove Settings Cancelled";
}  // namespace runtext

// The lasting copy of the registry that the run works on (a Wine prefix's files), as far as the
// run deals with it; the removals save it themselves (RegistryCommit).
class RunStore {
public:
    virtual ~RunStore() = default;
    // Makes the registry the one on disc now, so that the run sees what other programs wrote
    // since the last run. Throws std::exception, whose what() tells the user why, when it cannot.
    virtual void Refresh() = 0;
    // The backup file of the removal that follows (empty: none): a save that fails names it.
    virtual void UseBackupFile(const std::string& path) = 0;
    // True while the last save has failed: what the run changes after it cannot be saved
    // either, until the next run reads the registry again.
    virtual bool Failed() const = 0;
};

class FennickRun {
public:
    FennickRun(modFennick& fennick, RunWindow& window);
    FennickRun(const FennickRun&) = delete;
    FennickRun& operator=(const FennickRun&) = delete;

    // Each run starts by reading the store again; without a store the registry is taken as it is.
    void UseStore(RunStore& store);

    // The whole run. A press while a run is under way (possible because the run's loops let the
    // window process its events) is ignored, so it cannot disturb the lists of the run.
    void cmdRemove_Click();
    // Ends the program, also in the middle of a run.
    void cmdCancel_Click();

    bool Running() const { return running_; }
    bool RunStarted() const { return fennick_.RunStarted; }

private:
    bool ReadRegistryFromDisc();
    bool SaveFailed() const;
    std::string BackupFileForRemoval();
    void RunKeyBranch(bool& startNewFile);
    void RunSettingsBranch(bool& startNewFile);

    modFennick& fennick_;
    RunWindow& window_;
    RunStore* store_ = nullptr;
    bool running_ = false;
};

}  // namespace cleaner
