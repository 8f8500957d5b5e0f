// frmFennick's behaviour, the same on every toolkit: which fields the run may write and when,
// what Remove..., Cancel and closing the window do, and how a run that fails ends the program.
// FennickForm decides; a toolkit only makes the controls of the control table and hands it their
// events, through FormControls, whose calls name each control by its id in that table.
//
// Standard library only: it builds for Windows too.
#pragma once

#include "cleaner/run/control_table.h"
#include "cleaner/run/run.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace cleaner {

// frmFennick as the start-up drives it.
class MainWindow : public RunWindow {
public:
    // The run whose handlers the buttons call and whose RunStarted guards the update methods.
    virtual void Attach(FennickRun& run) = 0;
    // How EndProgram (Cancel) ends the program, with the exit status; set before Exec.
    virtual void SetEnder(std::function<void(int exitStatus)> ender) = 0;
    // Shows the window and processes its events until the window is gone; returns the status
    // the program should end with (0 unless something ended it early).
    virtual int Exec() = 0;
};

// How a text handed to or taken from the toolkit is coded.
enum class TextCode {
    Registry,  // the registry's narrow code page, Windows-1252: what the searches show and report
    Native,    // the toolkit's own: its path boxes and its clock (UTF-8 under Qt, the ANSI code
               // page under Win32)
    Utf8,      // the platform's reports: the store's messages and the names of files in them
};

// What FennickForm needs of a toolkit.
class FormControls {
public:
    virtual ~FormControls() = default;

    virtual void SetControlText(ControlId id, const std::string& text, TextCode code) = 0;
    virtual std::string ControlText(ControlId id) const = 0;  // TextCode::Native
    // Windows' check-box values: 0 not ticked, 1 ticked, 2 greyed.
    virtual int CheckValue(ControlId id) const = 0;

    // Paint at once, before returning: the run keeps the thread busy, so no event loop would.
    // A control shows its text from the start.
    virtual void PaintControlNow(ControlId id) = 0;
    virtual void PaintWindowNow() = 0;

    // A modal question with OK and Cancel, no icon, title "Tarvo Fennick", OK the default.
    virtual RunWindow::Answer AskOkCancel(const std::string& question) = 0;  // TextCode::Registry
    // A modal OK-only report titled "sorvel".
    virtual void Tell(const std::string& text, TextCode code) = 0;

    virtual void HideWindow() = 0;
    // Ends the event loop of Exec, which then returns the status.
    virtual void QuitEventLoop(int exitStatus) = 0;
    // Processes the events that are pending and returns.
    virtual void PumpEvents() = 0;
    // The local time of day in the locale's time format, without a date (TextCode::Native).
    virtual std::string LocalTimeText() = 0;
};

// frmFennick on any toolkit. The toolkit's window derives from it, hands it its controls, supplies
// Exec, and calls the three event handlers below.
class FennickForm : public MainWindow {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // The keyword field is repainted at most once in this time: a search shows tens of thousands
    // of keywords a second, far more than a screen can show, and painting each one kept a long
    // keyword list busy for minutes.
    static constexpr std::chrono::milliseconds kKeywordPaintInterval{40};

    // clock: when the keyword field was painted last (tests choose the time).
    explicit FennickForm(std::unique_ptr<FormControls> controls,
                         Clock clock = &std::chrono::steady_clock::now);
    FennickForm(const FennickForm&) = delete;
    FennickForm& operator=(const FennickForm&) = delete;

    // --- MainWindow
    void Attach(FennickRun& run) override { run_ = &run; }
    void SetEnder(std::function<void(int exitStatus)> ender) override;

    // --- FennickView / RegistryUi
    void UpdateRegistryHiveText(const std::string& text) override;
    void UpdateStatusText(const std::string& text) override;
    void UpdateKeywordText(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    void ShowFileMessage(const std::string& text) override;
    void DoEvents() override;

    // --- RunWindow
    int Check1Value() const override;
    int Check2Value() const override;
    std::string KeyFileText() const override;
    std::string RegFileText() const override;
    void SetText1(const std::string& text) override;
    void SetText2(const std::string& text) override;
    std::string TimeOfDayText() override;
    void RefreshWindow() override;
    Answer Ask(const std::string& question) override;
    void ShowPlatformMessage(const std::string& text) override;
    void UnloadWindow() override;
    void EndProgram() override;

    // --- The events the toolkit delivers.
    void cmdRemove_Click();
    void cmdCancel_Click();
    // The user closes the window (its close box, say). The toolkit lets it go when this returns.
    void WindowClosing();

    // Ends the program with the status: through the ender when there is one, else by ending the
    // event loop.
    void EndWith(int exitStatus);

private:
    void ShowField(ControlId id, const std::string& text);
    // Paints the keyword that is waiting, if any: before anything else is shown or asked, so
    // that the field always ends on the last keyword.
    void ShowWaitingKeyword();

    std::unique_ptr<FormControls> controls_;
    FennickRun* run_ = nullptr;
    std::function<void(int)> ender_;
    bool unloading_ = false;
    Clock clock_;
    std::optional<std::string> waitingKeyword_;  // given, not yet painted
    std::optional<std::chrono::steady_clock::time_point> keywordPainted_;
};

}  // namespace cleaner
