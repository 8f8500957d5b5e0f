#include "cleaner/win32/message_boxes.h"

#include "platform/win32/code_page.h"

namespace cleaner::win32 {
namespace {

// A box without an owner (the command-line mode has no window) comes to the front, so that it
// cannot wait unseen behind the program that started this one.
UINT OwnerStyle(HWND owner) { return owner == nullptr ? MB_SETFOREGROUND : 0; }

}  // namespace

RunWindow::Answer AskOkCancel(HWND owner, const std::string& question) {
    const int answer = ::MessageBoxA(owner, question.c_str(), runtext::kTitle,
                                     MB_OKCANCEL | MB_DEFBUTTON1 | OwnerStyle(owner));
    return answer == IDOK ? RunWindow::Answer::Ok : RunWindow::Answer::Cancel;
}

void ShowReport(HWND owner, const std::string& narrow) {
    ::MessageBoxA(owner, narrow.c_str(), kReportTitle, MB_OK | OwnerStyle(owner));
}

void ShowUtf8Report(HWND owner, const std::string& utf8) {
    std::wstring wide;
    if (!WideFromUtf8(utf8, wide)) {
        ShowReport(owner, utf8);
        return;
    }
    ::MessageBoxW(owner, wide.c_str(), kReportTitleWide, MB_OK | OwnerStyle(owner));
}

bool WideFromUtf8(const std::string& utf8, std::wstring& wide) {
    wide.clear();
    if (utf8.empty()) return true;
    const int length = static_cast<int>(utf8.size());
    const int needed =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
    if (needed <= 0) return false;
    wide.resize(static_cast<std::size_t>(needed));
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length,
                                 wide.data(), needed) == needed;
}

std::string Utf8FromCodePage(const std::string& narrow, UINT codePage) {
    return platform::CodePageFromWide(platform::WideFromCodePage(narrow, codePage), CP_UTF8);
}

bool WindowStationVisible() {
    const HWINSTA station = ::GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    // A station that cannot be asked is taken as the user's own: the window must still open.
    if (station == nullptr ||
        !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
        return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace cleaner::win32
