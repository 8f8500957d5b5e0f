// Windows' own English texts for the error codes the registry can return, as FormatMessageA
// gives them (ending in CR LF).
#pragma once

#include "platform/registry/registry_api.h"

namespace platform {

// The text for a code, or null when there is none.
const char* SystemText(DWORD code);

// FormatMessageA with FORMAT_MESSAGE_FROM_SYSTEM: copies the text with its NUL; returns its
// length, or 0 when the flags ask for something else, the code has no text or the buffer is
// too small.
DWORD FormatSystemText(DWORD flags, DWORD code, char* buffer, DWORD size);

}  // namespace platform
