// taDownloadFile: fetches a URL with libcurl in place of WinINet and stores the body in a file.
#pragma once

#include <chrono>
#include <cstdint>

namespace fetchel {

// The bound on a transfer's progress, 60 seconds: the head of the final response must be in
// within it of the start, and after that each further 1024 bytes of the body must arrive within
// it; otherwise the transfer fails with WinINet's timeout code. Tests shorten it through the
// environment variable FETCHEL_TEST_STALL_MS, which nothing else reads.
std::chrono::milliseconds StallLimit();

std::int32_t DownloadFile(const char* url, const char* localPath, char* errorText);

}  // namespace fetchel
