#include "cleaner/win32/frmFennick.h"

#include "cleaner/win32/message_boxes.h"
#include "cleaner/win32/resources.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

namespace cleaner::win32 {
namespace {

constexpr const char* kWindowClass = "frmFennick";
// Command identifiers of the controls: the table's order from here, clear of IDOK and IDCANCEL,
// which the dialog keys (Enter, Esc) send and which do nothing here.
constexpr int kFirstControlId = 100;

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

// The layout was drawn for an 8-point "MS Sans Serif" (Windows substitutes its successor).
constexpr int kFontPoints = 8;
constexpr const char* kFontFace = "MS Sans Serif";

// The screen's dots an inch: the program declares itself DPI-aware, so this is the system's.
int SystemDpi() {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int Pixels(int twips, int dpi) { return ::MulDiv(twips, dpi, kTwipsPerInch); }

// Each edge is scaled, so controls that meet in twips meet in pixels at every DPI.
RECT PixelRect(const FormControl& control, int dpi) {
    RECT rect{Pixels(control.left, dpi), Pixels(control.top, dpi),
              Pixels(control.left + control.width, dpi), Pixels(control.top + control.height, dpi)};
    if (control.kind == ControlKind::Line) rect.bottom = rect.top + 1;
    return rect;
}

struct WindowsClass {
    const char* name;
    DWORD style;
    DWORD exStyle;
};

WindowsClass ClassOf(ControlKind kind) {
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    switch (kind) {
        case ControlKind::Label:
            return {"STATIC", child | SS_LEFT, 0};
        case ControlKind::PathBox:
            return {"EDIT", child | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
        case ControlKind::DisplayBox:
            return {"EDIT", child | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY,
                    WS_EX_CLIENTEDGE};
        case ControlKind::WarningBox:
            // Its words wrap at the box's edge, as the Qt window's do: a line that scrolled
            // sideways instead would be cut off there, mid-word, in a font a little wider than
            // the one the box was drawn for.
            return {"EDIT", child | WS_TABSTOP | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
                    WS_EX_CLIENTEDGE};
        case ControlKind::CheckBox:
            return {"BUTTON", child | WS_TABSTOP | BS_AUTOCHECKBOX, 0};
        case ControlKind::Button:
            return {"BUTTON", child | WS_TABSTOP | BS_PUSHBUTTON, 0};
        case ControlKind::Line:
            return {"STATIC", child | SS_BLACKRECT, 0};
    }
    return {"STATIC", child, 0};
}

HICON LoadProgramIcon(int size) {
    const HANDLE icon = ::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(SORVEL_ICON),
                                     IMAGE_ICON, size, size, LR_DEFAULTCOLOR);
    return icon != nullptr ? static_cast<HICON>(icon) : ::LoadIconA(nullptr, IDI_APPLICATION);
}

void RegisterWindowClass(WNDPROC procedure) {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.hIcon = LoadProgramIcon(::GetSystemMetrics(SM_CXICON));
    windowClass.hIconSm = LoadProgramIcon(::GetSystemMetrics(SM_CXSMICON));
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kWindowClass;
    registered = ::RegisterClassExA(&windowClass) != 0;
}

std::string TextOf(HWND control) {
    const int length = ::GetWindowTextLengthA(control);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

// UTF-8 through the wide call; narrow text (and text that is no UTF-8) as it is.
void SetTextOf(HWND control, const std::string& text, TextCode code) {
    std::wstring wide;
    if (code == TextCode::Utf8 && WideFromUtf8(text, wide)) {
        ::SetWindowTextW(control, wide.c_str());
    } else {
        ::SetWindowTextA(control, text.c_str());
    }
}

}  // namespace

// What FennickForm does to the window's controls; it lives as long as the window (FennickForm
// owns it).
class frmFennick::Controls final : public FormControls {
public:
    explicit Controls(frmFennick& window) : window_(window) {}

    void SetControlText(ControlId id, const std::string& text, TextCode code) override {
        SetTextOf(window_.Control(id), text, code);
    }
    std::string ControlText(ControlId id) const override { return TextOf(window_.Control(id)); }
    // Windows' check-box values are the run's: 0 not ticked, 1 ticked, 2 greyed.
    int CheckValue(ControlId id) const override {
        return static_cast<int>(::SendMessageA(window_.Control(id), BM_GETCHECK, 0, 0));
    }
    void PaintControlNow(ControlId id) override { ::UpdateWindow(window_.Control(id)); }
    void PaintWindowNow() override {
        ::RedrawWindow(window_.Window(), nullptr, nullptr,
                       RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
    RunWindow::Answer AskOkCancel(const std::string& question) override {
        return win32::AskOkCancel(window_.Window(), question);
    }
    void Tell(const std::string& text, TextCode code) override {
        if (code == TextCode::Utf8) {
            ShowUtf8Report(window_.Window(), text);
        } else {
            ShowReport(window_.Window(), text);
        }
    }
    void HideWindow() override { ::ShowWindow(window_.Window(), SW_HIDE); }
    void QuitEventLoop(int exitStatus) override {
        window_.exitStatus_ = exitStatus;
        if (window_.Window() != nullptr) {
            ::DestroyWindow(window_.Window());  // which ends the loop of Exec with the status
        } else {
            ::PostQuitMessage(exitStatus);
        }
    }
    void PumpEvents() override {
        MSG message{};
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(message.wParam));  // for the loop of Exec
                return;
            }
            window_.Dispatch(message);
        }
    }
    std::string LocalTimeText() override {
        char text[128] = {};
        const int length =
            ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, sizeof text);
        return length > 0 ? std::string(text, static_cast<std::size_t>(length - 1)) : std::string();
    }

private:
    frmFennick& window_;
};

frmFennick::frmFennick() : FennickForm(std::make_unique<Controls>(*this)) {
    RegisterWindowClass(&frmFennick::WindowProcedure);
    const int dpi = SystemDpi();
    RECT frame{0, 0, Pixels(kClientWidthTwips, dpi), Pixels(kClientHeightTwips, dpi)};
    ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
    window_ = ::CreateWindowExA(kWindowExStyle, kWindowClass, kWindowCaption, kWindowStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr,
                                ::GetModuleHandleA(nullptr), this);
    if (window_ == nullptr) throw std::runtime_error("the window could not be made");
    font_ = ::CreateFontA(-::MulDiv(kFontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                          FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                          DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, kFontFace);
    CreateControls(dpi);
}

frmFennick::~frmFennick() {
    if (window_ != nullptr) ::DestroyWindow(window_);
    if (font_ != nullptr) ::DeleteObject(font_);
}

namespace {

// The warning's text as the box shows it. A line that ends in a blank goes on in the next one:
// the break was only where the box it was written for ended its line. The box wraps its words
// at its own edge instead, so a font wider than that one pushes no word out of sight.
std::string FlowedText(const char* text) {
    std::string flowed(text);
    for (std::size_t at = flowed.find(" \r\n"); at != std::string::npos; at = flowed.find(" \r\n", at)) {
        const std::size_t next = at + 3;
        const bool paragraphGoesOn = next < flowed.size() && flowed[next] != '\r';
        if (paragraphGoesOn) {
            flowed.erase(at + 1, 2);
        } else {
            at = next;
        }
    }
    return flowed;
}

}  // namespace

// The controls are made in the order of their tab indices: Tab then moves through those that
// take the focus in that order.
void frmFennick::CreateControls(int dpi) {
    std::vector<const FormControl*> order;
    for (const FormControl& entry : kFormControls) order.push_back(&entry);
    std::stable_sort(order.begin(), order.end(), [](const FormControl* a, const FormControl* b) {
        return a->tabIndex < b->tabIndex;
    });
    for (const FormControl* entry : order) {
        const WindowsClass kind = ClassOf(entry->kind);
        const RECT rect = PixelRect(*entry, dpi);
        const auto index = static_cast<std::size_t>(entry->id);
        const std::string text =
            entry->kind == ControlKind::WarningBox ? FlowedText(entry->text) : entry->text;
        const HWND control = ::CreateWindowExA(
            kind.exStyle, kind.name, text.c_str(), kind.style, rect.left, rect.top,
            rect.right - rect.left, rect.bottom - rect.top, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + static_cast<int>(index))),
            ::GetModuleHandleA(nullptr), nullptr);
        if (control == nullptr) throw std::runtime_error("the window's controls could not be made");
        ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        if (entry->ticked) ::SendMessageA(control, BM_SETCHECK, BST_CHECKED, 0);
        controls_[index] = control;
    }
}

int frmFennick::Exec() {
    ::ShowWindow(window_, SW_SHOWNORMAL);
    ::UpdateWindow(window_);
    // The first control in the tab order that takes the focus has it when the window opens.
    if (const HWND first = ::GetNextDlgTabItem(window_, nullptr, FALSE)) ::SetFocus(first);
    MSG message{};
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) Dispatch(message);
    return static_cast<int>(message.wParam);
}

// Tab, Shift+Tab and the space bar work as in a dialog box.
void frmFennick::Dispatch(MSG& message) {
    if (window_ != nullptr && ::IsDialogMessageA(window_, &message)) return;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
}

LRESULT CALLBACK frmFennick::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        auto* created = static_cast<frmFennick*>(create->lpCreateParams);
        created->window_ = window;
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<frmFennick*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        self->window_ = nullptr;
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    // Nothing may unwind through Windows' own frames.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        ShowReport(window, "An unexpected failure stopped sorvel.\r\nThe program ends now.");
        self->EndWith(1);
        return 0;
    }
}

LRESULT frmFennick::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                const int id = LOWORD(wParam) - kFirstControlId;
                if (id == static_cast<int>(ControlId::cmdRemove)) cmdRemove_Click();
                if (id == static_cast<int>(ControlId::cmdCancel)) cmdCancel_Click();
            }
            return 0;
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<LRESULT>(
                ColourOf(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam)));
        case WM_ACTIVATE:
            // A window that is no dialog box does not keep its focus over a message box.
            if (LOWORD(wParam) == WA_INACTIVE) {
                focus_ = ::GetFocus();
            } else if (focus_ != nullptr && ::IsWindow(focus_)) {
                ::SetFocus(focus_);
            }
            return 0;
        case WM_CLOSE:
            WindowClosing();
            if (window_ != nullptr) ::DestroyWindow(window_);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(exitStatus_);
            return 0;
        default:
            return ::DefWindowProcA(window_, message, wParam, lParam);
    }
}

// The display boxes on the button face, like the captions; the warning on the window's own
// background.
HBRUSH frmFennick::ColourOf(HWND control, HDC dc) {
    int colour = COLOR_BTNFACE;
    if (control == Control(ControlId::Text3)) colour = COLOR_WINDOW;
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, ::GetSysColor(colour));
    return ::GetSysColorBrush(colour);
}

}  // namespace cleaner::win32
