// taDownloadFile on Windows: fetches a URL with WinINet and stores the body in a file.
#pragma once

#include <cstdint>

namespace fetchel::win32 {

// See taDownloadFile in fetchel.h.
std::int32_t DownloadFile(const char* url, const char* localPath, char* errorText);

}  // namespace fetchel::win32
