// Under Wine a Windows program's registry is the prefix's files: the backup must never name
// them, by a Z:\ path or any other way there.
#include "cleaner/search/removal_backup.h"
#include "cleaner/startup/startup.h"
#include "platform/registry/memory_registry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class NoFilesStore : public cleaner::RegistryStore {
public:
    platform::RegistryApi& Registry() override { return registry_; }
    void Refresh() override {}
    bool HasChanges() const override { return false; }
    void Save() override {}

private:
    platform::MemoryRegistry registry_;
};

TEST(RegistryFilesUnderWine, ThePrefixThatWineRunsInHoldsTheFilesNoBackupMayName) {
    const std::string prefix = cleaner::RegistryFilesFolder(NoFilesStore());
    ASSERT_EQ(prefix.rfind("Z:\\", 0), 0u) << prefix;
    for (const std::string& path :
         {prefix + "\\user.reg", prefix + "\\drive_c\\..\\System.reg", prefix + "\\reg4d20000.tmp"}) {
        EXPECT_TRUE(cleaner::IsRegistryFile(prefix, path)) << path;
    }
    EXPECT_FALSE(cleaner::IsRegistryFile(prefix, prefix + "\\taDeletedRegKeys.reg"));
    EXPECT_FALSE(cleaner::IsRegistryFile(prefix, prefix + "\\drive_c\\user.reg"));
}

}  // namespace
