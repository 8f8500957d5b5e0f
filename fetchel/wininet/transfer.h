// One download through WinINet, as the worker thread runs it: open, judge the head, read the
// body into the output file, and put the file in place.
#pragma once

#include "transfer_watch.h"

#include <string>

namespace fetchel::win32 {

Outcome RunTransfer(const std::string& url, const std::string& localPath, TransferWatch& watch);

}  // namespace fetchel::win32
