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

// Narrow text of a code page (the system's ANSI one: CP_ACP) as UTF-8.
std::string Utf8FromCodePage(const std::string& narrow, UINT codePage);

// Whether anyone can see this program's windows and boxes. Not so in a window station without
// WSF_VISIBLE: a service's, or session 0's, where uninstallers run as SYSTEM (started by Intune,
// Configuration Manager, a Group Policy script, an MSI custom action); a box there is never
// answered and the program waits for ever.
bool WindowStationVisible();

}  // namespace cleaner::win32
