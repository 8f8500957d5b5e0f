// frmFennick, the one window of sorvel, as a plain Win32 window of the standard controls, laid
// out from the control table (cleaner/run/control_table.h) at the system's DPI. What the window
// does lives in FennickForm (cleaner/run/form.h); this class makes the controls and hands
// FennickForm their messages.
#pragma once

#include <windows.h>

#include "cleaner/run/control_table.h"
#include "cleaner/run/form.h"

#include <array>
#include <string>

namespace cleaner::win32 {

class frmFennick : public FennickForm {
public:
    // Loads the window, not yet shown.
    frmFennick();
    ~frmFennick() override;
    frmFennick(const frmFennick&) = delete;
    frmFennick& operator=(const frmFennick&) = delete;

    HWND Window() const { return window_; }
    HWND Control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }

    // Shows the window and processes its messages until the window is gone.
    int Exec() override;

private:
    class Controls;  // the controls as FennickForm reaches them

    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls(int dpi);
    HBRUSH ColourOf(HWND control, HDC dc);
    void Dispatch(MSG& message);

    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    std::array<HWND, kFormControls.size()> controls_{};
    HWND focus_ = nullptr;  // the control that had the focus when the window was left
    int exitStatus_ = 0;    // what Exec returns when the window goes
};

}  // namespace cleaner::win32
