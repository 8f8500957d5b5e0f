#include "cleaner/search/modFennick.h"

#include "platform/registry/text.h"

namespace cleaner {

modFennick::modFennick(modRegFuncs& reg, FennickView& view) : reg_(reg), view_(view) {}

void modFennick::ResetLists() {
    FoundKeys.clear();
    Keywords.clear();
}

std::string FileTextOfRegistryText(const std::string& registryText) {
#ifdef _WIN32
    // The narrow registry text and the ANSI file names are the same code page on Windows.
    return registryText;
#else
    return platform::text::Utf16ToUtf8(platform::text::FromCp1252(registryText));
#endif
}

}  // namespace cleaner
