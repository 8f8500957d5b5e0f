// Text between a Windows code page (CP_ACP: the system's ANSI one, which the A functions use;
// CP_UTF8) and UTF-16, which Windows itself keeps. A character the code page lacks becomes its
// default character ('?').
#pragma once

#include <string>

namespace platform {

std::wstring WideFromCodePage(const std::string& text, unsigned int codePage);
std::string CodePageFromWide(const std::wstring& wide, unsigned int codePage);

}  // namespace platform
