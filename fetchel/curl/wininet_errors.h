// WinINet's error numbers and English texts for what libcurl reports, so that a caller that
// checks the code in a failure report behaves the same on Windows and on Linux.
#pragma once

#include "report.h"

#include <cstdint>

#include <curl/curl.h>

namespace fetchel {

// The code and text for a WinINet error number; codes outside WinINet's message table get an
// empty text, as FormatMessageA leaves it for them.
WinInetError WinInetErrorFromCode(std::int32_t code);

// The WinINet error that stands for a failed libcurl transfer of a URL whose scheme was accepted
// before the transfer. osError is the system error number libcurl saw last (0 when none);
// httpStatus the status of the last response (0 when none).
WinInetError WinInetErrorFor(CURLcode result, long osError, long httpStatus);

}  // namespace fetchel
