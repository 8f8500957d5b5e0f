// The failure report of fetchel.dll: the report of common/report.h with the text that
// wininet.dll's message table has for the code.
#pragma once

#include "report.h"

#include <cstdint>
#include <string_view>

namespace fetchel::win32 {

using fetchel::ReportText;

// "<step> error code: <code>\nMessage: <text>\n", the text from wininet.dll's message table
// (its own line break kept); for a code it does not know, Windows' text from common/report.h,
// else none. Allocates nothing, so that it
// can also report running out of memory.
ReportText ErrorReport(std::string_view step, std::uint32_t code);

// WinINet's code for an error that Wine's WinINet passes on from Winsock: a connection reset or
// aborted by the peer is WinINet's 12031 or 12030, as on Windows.
std::uint32_t WinInetCode(std::uint32_t error);

}  // namespace fetchel::win32
