// taDownloadFile: fetches a URL with libcurl in place of WinINet and stores the body in a file.
#pragma once

#include <chrono>
#include <cstdint>

namespace fetchel {

// The bound on a transfer's progress (rules.h), as the environment sets it.
std::chrono::milliseconds StallLimit();

std::int32_t DownloadFile(const char* url, const char* localPath, char* errorText);

}  // namespace fetchel
