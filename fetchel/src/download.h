// taDownloadFile: fetches a URL with libcurl in place of WinINet and stores the body in a file.
#pragma once

#include <chrono>
#include <cstdint>

namespace fetchel {

// How long a transfer may go without receiving anything before it fails with WinINet's timeout
// code: 60 seconds. Tests shorten it through the environment variable FETCHEL_TEST_STALL_MS,
// which nothing else reads.
std::chrono::milliseconds StallLimit();

std::int32_t DownloadFile(const char* url, const char* localPath, char* errorText);

}  // namespace fetchel
