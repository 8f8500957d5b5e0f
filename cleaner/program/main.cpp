// sorvel: the registry cleaner. Everything it does begins in the start-up (startup.h), on the
// platform that this program links (startup_platform.h).
#include "cleaner/startup/startup.h"
#include "cleaner/unattended/unattended.h"

int main(int argc, char** argv) {
    const auto platform = cleaner::MakeStartupPlatform(argc, argv);
    return cleaner::Startup(*platform, cleaner::RunUnattended);
}
