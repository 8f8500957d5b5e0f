// The program's message boxes on Windows: the run's questions and the reports.
#pragma once

#include <windows.h>

#include "cleaner/run/run.h"

#include <string>

namespace cleaner::win32 {

// Title of the registry layer's reports and of the start-up's messages: the program's name.
inline constexpr const char* kReportTitle = "sorvel";
inline constexpr const wchar_t* kReportTitleWide = L"sorvel";

// A question of the run (narrow code page): OK and Cancel, no icon, title "Tarvo Fennick", OK
// the default; only OK goes ahead.
RunWindow::Answer AskOkCancel(HWND owner, const std::string& question);

// An OK-only report titled "sorvel", of the registry layer's narrow text...
void ShowReport(HWND owner, const std::string& narrow);
// ... or of the platform's UTF-8 text (shown narrow when it is no UTF-8: a file name, say).
void ShowUtf8Report(HWND owner, const std::string& utf8);

// UTF-8 as UTF-16; false when the text is no UTF-8.
bool WideFromUtf8(const std::string& utf8, std::wstring& wide);

}  // namespace cleaner::win32
