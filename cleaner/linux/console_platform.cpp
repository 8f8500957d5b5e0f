// The platform of a Linux build without the Qt window: the command-line mode works, and the
// window mode says that this build has none.
#include "cleaner/linux/linux_platform.h"
#include "platform/wine/wine_store.h"

namespace cleaner {

std::unique_ptr<StartupPlatform> MakeStartupPlatform(int& argc, char** argv) {
    return std::make_unique<LinuxPlatform>(argc, argv, platform::DefaultWinePrefix());
}

}  // namespace cleaner
