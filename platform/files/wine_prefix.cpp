#include "platform/files/wine_prefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* account = ::getpwuid(::getuid()); account && account->pw_dir) return account->pw_dir;
    return {};
}

}  // namespace

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string DefaultWinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return WithoutTrailingSlashes(prefix);
    return WithoutTrailingSlashes(HomeFolder() + "/.wine");
}

}  // namespace platform
