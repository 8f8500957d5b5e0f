// frmFennick, the one window of sorvel, as a plain Win32 window of the standard controls, laid
// out from the control table (cleaner/run/control_table.h) at the system's DPI. The run itself lives in
// FennickRun (run.h); this class only shows and forwards.
#pragma once

#include <windows.h>

#include "cleaner/run/control_table.h"
#include "cleaner/run/run.h"
#include "cleaner/startup/startup_platform.h"

#include <array>
#include <functional>
#include <string>

namespace cleaner::win32 {

class frmFennick : public MainWindow {
public:
    // Loads the window, not yet shown.
    frmFennick();
    ~frmFennick() override;
    frmFennick(const frmFennick&) = delete;
    frmFennick& operator=(const frmFennick&) = delete;

    HWND Window() const { return window_; }
    HWND Control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }

    // --- MainWindow
    void Attach(FennickRun& run) override;
    void SetEnder(std::function<void(int exitStatus)> ender) override;
    // Shows the window and processes its messages until the window is gone.
    int Exec() override;

    // --- FennickView / RegistryUi
    void UpdateRegistryHiveText(const std::string& text) override;
    void UpdateStatusText(const std::string& text) override;
    void UpdateKeywordText(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
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

    // The button handlers.
    void cmdRemove_Click();
    void cmdCancel_Click();

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls(int dpi);
    HBRUSH ColourOf(HWND control, HDC dc);
    void Dispatch(MSG& message);
    void ShowField(ControlId id, const std::string& text);
    void EndWith(int exitStatus);

    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    std::array<HWND, kFormControls.size()> controls_{};
    HWND focus_ = nullptr;  // the control that had the focus when the window was left
    FennickRun* run_ = nullptr;
    std::function<void(int)> ender_;
    bool unloading_ = false;
    int exitStatus_ = 0;  // what Exec returns when the window goes
};

}  // namespace cleaner::win32
