// The backup file: REGEDIT4 text in the narrow code page, every line ended by CR LF, that a
// registry editor imports to bring back what the cleaner removed.
//
// Layout: the header below; then, for each removed tree in the order of removal, its export
// text (RegExportTree) followed by one CR LF. Each key of a tree is one block: an empty line,
// the key line, one line per value. Values are written in their own type with their exact
// data, so that an import restores them as they were.
#pragma once

#include "platform/registry/registry_api.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace cleaner {

// The four lines that head a new backup file: "REGEDIT4", an empty line, "[HKEY_CLASSES_ROOT]",
// an empty line.
inline constexpr std::string_view kBackupFileHeader = "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n";

// The line of the backup file that holds one removed tree: its export text and one CR LF.
std::string BackupFileLine(std::string_view exportText);

// Appends the start of a key's block: CR LF, "[" + path + "]", CR LF.
void AppendKeyLine(std::string& out, std::string_view path);

// Appends one value line: @= for the unnamed value, else the quoted, escaped name and "=";
// then the data in the value's own type (see backup_format.cpp), and CR LF.
void AppendValueLine(std::string& out, std::string_view name, platform::DWORD type,
                     std::string_view bytes);

// The command that imports a backup file (named as given) back where its keys were: Windows' own
// `reg`, or Wine's under Linux (in the prefix that WINEPREFIX names), told the 64-bit view. A
// 32-bit reg (plain `wine` starts the 32-bit one when 32-bit Wine is installed) then still puts
// each key where its key line names it, Wow6432Node keys in the 32-bit node; a 32-bit Windows,
// with its one view, takes the option too. Wine's regedit has no such option.
std::string RestoreCommand(std::string_view file);

// Appends text with \ written as \\ and " as \" (and CR, LF as \r, \n, which a line cannot
// hold), as a quoted name or string value needs it.
void AppendEscaped(std::string& out, std::string_view text);

}  // namespace cleaner
