// The store's handling of a prefix on disc: what it refuses (and that it then writes nothing),
// and how it saves.
#include "platform/files/replacement_file.h"
#include "platform/registry/wine_store.h"
#include "tests/support/wine.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

const std::string kSystem =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n"
    "\n[Software\\\\Classes\\\\.abc] 1700000000\n#time=1da0000000000000\n@=\"abcfile\"\n"
    "\n[Software\\\\Classes\\\\CLSID\\\\{1}] 1700000000\n#time=1da0000000000000\n@=\"One\"\n";
const std::string kUser =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n"
    "\n[Software\\\\Maker\\\\Suite] 1700000000\n#time=1da0000000000000\n\"Version\"=\"1\"\n";

class WineStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = testsupport::MakeTempDir("store");
        prefix = folder + "/prefix";
        fs::create_directory(prefix);
        WriteFile(prefix + "/system.reg", kSystem);
        WriteFile(prefix + "/user.reg", kUser);
    }
    void TearDown() override { testsupport::RemoveTree(folder); }

    // The message of the StoreError that opening the prefix gives, or "" when it opens.
    std::string OpenError(const std::string& path) {
        try {
            platform::WinePrefixStore::Open(path);
        } catch (const platform::StoreError& e) {
            return e.what();
        }
        return "";
    }

    std::vector<std::string> FolderEntries() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(prefix)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string folder, prefix;
};

TEST_F(WineStoreTest, ServesBothHivesAndClassesRoot) {
    auto store = platform::WinePrefixStore::Open(prefix + "/");
    EXPECT_EQ(store->Prefix(), prefix);
    platform::RegistryApi& reg = store->Registry();
    platform::HKEY key = 0;
    ASSERT_EQ(reg.RegOpenKeyExA(platform::kHkeyClassesRoot, "clsid\\{1}", 0, 0x3F, &key), 0);
    char data[16];
    platform::DWORD size = sizeof data;
    EXPECT_EQ(reg.RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<unsigned char*>(data), &size), 0);
    EXPECT_STREQ(data, "One");
    reg.RegCloseKey(key);
    EXPECT_EQ(reg.RegOpenKeyExA(platform::kHkeyCurrentUser, "Software\\Maker\\Suite", 0, 0x3F, &key), 0);
    reg.RegCloseKey(key);
    EXPECT_FALSE(store->HasChanges());
    EXPECT_TRUE(reg.HasWow64Node());  // #arch=win64
}

TEST_F(WineStoreTest, A32BitPrefixHasNo32BitNode) {
    for (const char* name : {"/system.reg", "/user.reg"}) {
        std::string text = ReadFile(prefix + name);
        text.replace(text.find("#arch=win64"), 11, "#arch=win32");
        WriteFile(prefix + name, text);
    }
    EXPECT_FALSE(platform::WinePrefixStore::Open(prefix)->Registry().HasWow64Node());
}

TEST_F(WineStoreTest, SavesOnlyTheChangedFileAtomically) {
    ::chmod((prefix + "/system.reg").c_str(), 0640);
    struct stat userBefore {};
    ::stat((prefix + "/user.reg").c_str(), &userBefore);
    {
        auto store = platform::WinePrefixStore::Open(prefix);
        ASSERT_EQ(store->Registry().RegDeleteKeyA(platform::kHkeyClassesRoot, ".abc"), 0);
        EXPECT_TRUE(store->HasChanges());
        store->Save();
        EXPECT_FALSE(store->HasChanges());
        store->Save();  // nothing more to do
    }
    const std::string saved = ReadFile(prefix + "/system.reg");
    EXPECT_EQ(saved.find(".abc"), std::string::npos);
    EXPECT_NE(saved.find("[Software\\\\Classes\\\\CLSID\\\\{1}] 1700000000\n#time=1da0000000000000\n@=\"One\"\n"),
              std::string::npos);
    struct stat st {};
    ::stat((prefix + "/system.reg").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    struct stat userAfter {};
    ::stat((prefix + "/user.reg").c_str(), &userAfter);
    EXPECT_EQ(userAfter.st_ino, userBefore.st_ino);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"system.reg", "user.reg"}));
    // The saved prefix loads again.
    EXPECT_EQ(OpenError(prefix), "");
}

TEST_F(WineStoreTest, RefusesWhatIsNotACompletePrefix) {
    EXPECT_NE(OpenError(folder + "/missing").find("The Wine prefix \"" + folder + "/missing\" does not exist"),
              std::string::npos);
    EXPECT_NE(OpenError("relative/prefix").find("not an absolute path"), std::string::npos);
    WriteFile(folder + "/a-file", "");
    EXPECT_NE(OpenError(folder + "/a-file").find("The Wine prefix \"" + folder + "/a-file\" is a file, but a prefix is the folder"),
              std::string::npos) << OpenError(folder + "/a-file");
    fs::rename(prefix + "/user.reg", folder + "/user.reg");
    fs::create_symlink(folder + "/user.reg.gone", prefix + "/user.reg");
    EXPECT_NE(OpenError(prefix).find("\"" + prefix + "/user.reg\" of the Wine prefix \"" + prefix +
                                     "\" is a symbolic link that points nowhere: \"" + folder + "/user.reg.gone\" does not exist"),
              std::string::npos) << OpenError(prefix);
    fs::remove(prefix + "/user.reg");
    const std::string message = OpenError(prefix);
    EXPECT_NE(message.find("\"" + prefix + "\" has no registry file user.reg"), std::string::npos) << message;
    EXPECT_NE(message.find("wineboot"), std::string::npos) << message;
}

TEST_F(WineStoreTest, RemovesOnlyTheTemporaryFilesNoSaveHolds) {
    // Left by a save that was killed, by a save still writing (it holds its file), and not ours.
    WriteFile(prefix + "/.system.reg.sorvel-Ab12Cd", kSystem.substr(0, 40));
    platform::ReplacementFile live;
    std::string reason;
    ASSERT_TRUE(live.Create(prefix + "/user.reg", platform::ReplacementName(prefix + "/user.reg", "sorvel"), reason))
        << reason;
    WriteFile(prefix + "/.system.reg.other-Ab12Cd", "");
    const std::vector<std::string> before = FolderEntries();
    ASSERT_EQ(before.size(), 5u);
    EXPECT_EQ(OpenError(prefix), "");
    std::vector<std::string> after = FolderEntries();
    EXPECT_EQ(after.size(), 4u);
    EXPECT_EQ(std::count(after.begin(), after.end(), ".system.reg.sorvel-Ab12Cd"), 0);
    EXPECT_EQ(std::count(after.begin(), after.end(), ".system.reg.other-Ab12Cd"), 1);
}

// Rewrites a file as another program would: in place, or as Wine does, by renaming a new file
// over it.
void ReplaceFile(const std::string& path, const std::string& content) {
    WriteFile(path + ".new", content);
    fs::rename(path + ".new", path);
}

TEST_F(WineStoreTest, NeverSavesOverAFileChangedSinceItWasReadAndRefreshesToIt) {
    auto store = platform::WinePrefixStore::Open(prefix);
    platform::RegistryApi& reg = store->Registry();
    ASSERT_EQ(reg.RegDeleteKeyA(platform::kHkeyClassesRoot, ".abc"), 0);
    // Another program changes one byte, in place, keeping the size and the inode.
    std::string changed = kSystem;
    changed.replace(changed.find("\"One\""), 5, "\"Uno\"");
    {
        std::fstream file(prefix + "/system.reg", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(kSystem.find("\"One\"")));
        file << "\"Uno\"";
    }
    try {
        store->Save();
        ADD_FAILURE() << "saved over another program's change";
    } catch (const platform::StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("Nothing was saved: \"" + prefix + "/system.reg\" of the Wine prefix \"" +
                                             prefix + "\" was changed by another program"),
                  std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(prefix + "/system.reg"), changed);
    // The next run starts from the files as they are; the refused deletion is dropped.
    store->Refresh();
    EXPECT_FALSE(store->HasChanges());
    char data[16];
    platform::DWORD size = sizeof data;
    platform::HKEY key = 0;
    ASSERT_EQ(reg.RegOpenKeyExA(platform::kHkeyClassesRoot, "CLSID\\{1}", 0, 0x3F, &key), 0);
    EXPECT_EQ(reg.RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<unsigned char*>(data), &size), 0);
    EXPECT_STREQ(data, "Uno");
    reg.RegCloseKey(key);
    ASSERT_EQ(reg.RegDeleteKeyA(platform::kHkeyClassesRoot, ".abc"), 0);
    store->Save();
    EXPECT_EQ(ReadFile(prefix + "/system.reg").find(".abc"), std::string::npos);
    EXPECT_NE(ReadFile(prefix + "/system.reg").find("Uno"), std::string::npos);
    // A file renamed over with the same bytes (Wine's first save does that) is no change.
    ReplaceFile(prefix + "/user.reg", kUser);
    ASSERT_EQ(reg.RegDeleteKeyA(platform::kHkeyCurrentUser, "Software\\Maker\\Suite"), 0);
    EXPECT_NO_THROW(store->Save());
    EXPECT_EQ(ReadFile(prefix + "/user.reg").find("Suite"), std::string::npos);
}

TEST_F(WineStoreTest, RefusesADamagedFileNamingFileAndLine) {
    WriteFile(prefix + "/user.reg", kUser + "\n[Broken\n");
    const std::string message = OpenError(prefix);
    EXPECT_NE(message.find("\"" + prefix + "/user.reg\""), std::string::npos) << message;
    EXPECT_NE(message.find("line 10:"), std::string::npos) << message;
    WriteFile(prefix + "/user.reg", "REGEDIT4\n");
    EXPECT_NE(OpenError(prefix).find("line 1: the first line is not"), std::string::npos);
    WriteFile(prefix + "/user.reg", "WINE REGISTRY Version 2\n#arch=win32\n");
    EXPECT_NE(OpenError(prefix).find("disagree about the prefix's architecture"), std::string::npos);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"system.reg", "user.reg"}));
}

TEST_F(WineStoreTest, RefusesASecondWriterUntilTheFirstHasGone) {
    auto first = platform::WinePrefixStore::Open(prefix);
    const std::string message = OpenError(prefix);
    EXPECT_NE(message.find("Another program is already changing the Wine prefix \"" + prefix + "\""),
              std::string::npos) << message;
    first.reset();
    EXPECT_EQ(OpenError(prefix), "");
}

// A process that holds Wine's server lock for the prefix, as a running wineserver does.
class FakeWineServer {
public:
    explicit FakeWineServer(const std::string& lockFile) {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(release[1]);
            ::close(ready[0]);
            const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_len = 1;
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? '1' : '0';
            if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
            char ignored;
            while (::read(release[0], &ignored, 1) > 0) {}
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char ok = '0';
        if (::read(ready[0], &ok, 1) != 1 || ok != '1') throw std::runtime_error("cannot take the lock");
        ::close(ready[0]);
    }
    ~FakeWineServer() {
        ::close(release_);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

TEST_F(WineStoreTest, RefusesAPrefixWhoseServerHoldsItsLock) {
    // Debian's layout: <prefix>/wineserver names a folder in the temporary directory.
    const std::string base = testsupport::MakeTempDir("wineserver");
    const char* tmp = std::getenv("TMPDIR");
    ASSERT_EQ(base.rfind(std::string(tmp && *tmp ? tmp : "/tmp") + "/", 0), 0u);
    WriteFile(prefix + "/wineserver", fs::path(base).filename().string());
    struct stat st {};
    ::stat(prefix.c_str(), &st);
    char leaf[64];
    std::snprintf(leaf, sizeof leaf, "/server-%lx-%lx", static_cast<unsigned long>(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    fs::create_directory(base + leaf);
    {
        FakeWineServer server(base + leaf + "/lock");
        const std::string message = OpenError(prefix);
        EXPECT_NE(message.find("Wine is running in the Wine prefix \"" + prefix + "\" (wineserver, process " +
                               std::to_string(server.Pid()) + ")"),
                  std::string::npos) << message;
    }
    auto store = platform::WinePrefixStore::Open(prefix);
    ASSERT_EQ(store->Registry().RegDeleteKeyA(platform::kHkeyCurrentUser, "Software\\Maker\\Suite"), 0);
    {
        FakeWineServer server(base + leaf + "/lock");
        EXPECT_THROW(store->Save(), platform::StoreError);
        EXPECT_EQ(ReadFile(prefix + "/user.reg"), kUser);
    }
    store->Save();
    EXPECT_EQ(ReadFile(prefix + "/user.reg").find("Suite"), std::string::npos);
    testsupport::RemoveTree(base);
}

TEST_F(WineStoreTest, AFailedSaveLeavesEveryFileAsItWas) {
    auto store = platform::WinePrefixStore::Open(prefix);
    ASSERT_EQ(store->Registry().RegDeleteKeyA(platform::kHkeyClassesRoot, ".abc"), 0);
    ASSERT_EQ(store->Registry().RegDeleteKeyA(platform::kHkeyCurrentUser, "Software\\Maker\\Suite"), 0);
    // Files may grow no larger than a few bytes, as on a full disc (root may write anywhere).
    rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{64, limit.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    try {
        store->Save();
        ADD_FAILURE() << "saved more than the limit allows";
    } catch (const platform::StoreError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("Could not save \"" + prefix + "/system.reg\""), std::string::npos) << message;
        EXPECT_NE(message.find("left as they were"), std::string::npos) << message;
    }
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(ReadFile(prefix + "/system.reg"), kSystem);
    EXPECT_EQ(ReadFile(prefix + "/user.reg"), kUser);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"system.reg", "user.reg"}));
    EXPECT_TRUE(store->HasChanges());
}

TEST(DefaultWinePrefix, IsWinePrefixElseHomeDotWine) {
    const char* savedPrefix = std::getenv("WINEPREFIX");
    const std::string kept = savedPrefix ? savedPrefix : "";
    ::setenv("WINEPREFIX", "/some/prefix//", 1);
    EXPECT_EQ(platform::DefaultWinePrefix(), "/some/prefix");
    ::unsetenv("WINEPREFIX");
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(platform::DefaultWinePrefix(), "/home/someone/.wine");
    if (savedPrefix) ::setenv("WINEPREFIX", kept.c_str(), 1);
}

}  // namespace
