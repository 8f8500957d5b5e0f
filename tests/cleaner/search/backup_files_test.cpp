// The two implementations of the backup's files on the real file system, and the removal with
// them: a missing folder, a file that fills up (a file-size limit in a child process stands in
// for a full disc), a file that ends in whole blocks whatever failed, paths that are no regular
// file, and an earlier backup that a new one must not destroy.
#include "tests/cleaner/search/removal_fakes.h"

#include "cleaner/registry/backup_format.h"
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/files/durable_files.h"
#include "platform/files/standard_files.h"
#include "platform/registry/memory_registry.h"
#include "platform/wine/wine_store.h"
#include "tests/cleaner/startup/prefix_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace removal_test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

enum class Kind { Standard, Durable };

class BackupWritersTest : public ::testing::TestWithParam<Kind> {
protected:
    BackupWritersTest() {
        char pattern[] = "/tmp/sorvel-backup-files-XXXXXX";
        folder = ::mkdtemp(pattern);
    }
    ~BackupWritersTest() override { fs::remove_all(folder); }

    platform::BackupFiles& Files() {
        if (GetParam() == Kind::Durable) return durable;
        return platform::StandardFiles();
    }
    std::string PathOf(const std::string& name) const { return (folder / name).string(); }

    // Runs body in a child process whose files may not grow beyond limit bytes; the child's exit
    // status is body's result (0 = all checks held).
    int WithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
            const rlimit rl{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &rl);
            std::_Exit(body());
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    }

    fs::path folder;
    platform::DurableBackupFiles durable;
};

// A removal of one found class key, {A}, with the files of the test's writer.
struct OneKeyRemoval {
    explicit OneKeyRemoval(platform::BackupFiles& files) {
        fennick.UseBackupFiles(files);
        registry.SetString(platform::kHkeyClassesRoot, "CLSID\\{A}", "", "x");
        fennick.FoundKeys.push_back({"CLSID\\", "", "{A}", ""});
    }
    bool KeyThere() const { return registry.KeyExists(platform::kHkeyClassesRoot, "CLSID\\{A}"); }

    platform::MemoryRegistry registry;
    RecordingView view;
    cleaner::modRegFuncs reg{registry, view};
    cleaner::modFennick fennick{reg, view};
};

TEST_P(BackupWritersTest, CreateWritesExactBytesAndAppendContinuesAtTheEnd) {
    const std::string path = PathOf("backup.reg");
    std::string reason;
    {
        auto writer = Files().Create(path, reason);
        ASSERT_NE(writer, nullptr) << reason;
        ASSERT_TRUE(writer->Write("REGEDIT4\r\n\r\n", reason)) << reason;
        EXPECT_EQ(ReadAll(path), "REGEDIT4\r\n\r\n");  // on disc before the next step
        ASSERT_TRUE(writer->Write("block\r\n", reason));
        EXPECT_EQ(writer->Size(), 19u);
        EXPECT_TRUE(writer->Close(reason));
    }
    auto writer = Files().Append(path, reason);
    ASSERT_NE(writer, nullptr) << reason;
    EXPECT_EQ(writer->Size(), 19u);
    ASSERT_TRUE(writer->Write("more\r\n", reason));
    writer.reset();
    EXPECT_EQ(ReadAll(path), "REGEDIT4\r\n\r\nblock\r\nmore\r\n");

    // Create replaces what was there.
    ASSERT_NE(Files().Create(path, reason), nullptr);
    EXPECT_EQ(ReadAll(path), "");
}

TEST_P(BackupWritersTest, AMissingFolderIsNamedAsTheReason) {
    const std::string path = PathOf("no such folder/backup.reg");
    std::string reason;
    EXPECT_EQ(Files().Create(path, reason), nullptr);
    EXPECT_EQ(reason, "the folder \"" + PathOf("no such folder") + "\" does not exist");
    EXPECT_EQ(Files().Append(path, reason), nullptr);
    EXPECT_FALSE(fs::exists(path));
}

TEST_P(BackupWritersTest, RemoveDeletesFilesButNeverAFolder) {
    std::string reason;
    EXPECT_TRUE(Files().Remove(PathOf("nothing here"), reason));
    std::ofstream(PathOf("old.reg")) << "old";
    EXPECT_TRUE(Files().Remove(PathOf("old.reg"), reason));
    EXPECT_FALSE(fs::exists(PathOf("old.reg")));
    fs::create_directory(PathOf("a folder"));
    EXPECT_FALSE(Files().Remove(PathOf("a folder"), reason));
    EXPECT_THAT(reason, HasSubstr("is a folder"));
    EXPECT_TRUE(fs::is_directory(PathOf("a folder")));
    EXPECT_EQ(Files().Create(PathOf("a folder"), reason), nullptr);
}

TEST_P(BackupWritersTest, AWriteThatDoesNotFitIsCutOffAndLaterWritesFail) {
    const std::string path = PathOf("full.reg");
    const int result = WithFileSizeLimit(16, [&] {
        std::string reason;
        auto writer = Files().Create(path, reason);
        if (!writer || !writer->Write("0123456789", reason)) return 1;
        if (writer->Write("abcdefghij", reason)) return 2;  // 20 bytes do not fit in 16
        if (reason.empty()) return 3;
        if (ReadAll(path) != "0123456789") return 4;  // no half block left behind
        if (writer->Write("x", reason)) return 5;    // the file stays as it is
        return 0;
    });
    EXPECT_EQ(result, 0);
}

TEST_P(BackupWritersTest, ARemovalWhoseDiscFillsDeletesOnlyTheKeysInTheBackup) {
    const std::string path = PathOf("backup.reg");
    const std::size_t header = std::string("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n").size();
    const std::size_t block = std::string("\r\n[HKEY_CLASSES_ROOT\\CLSID\\{AAAA}]\r\n@=\"x\"\r\n\r\n").size();
    // The header and two blocks fit; the third does not.
    const int result = WithFileSizeLimit(header + 2 * block + block / 2, [&] {
        platform::MemoryRegistry registry;
        RecordingView view;
        cleaner::modRegFuncs reg(registry, view);
        cleaner::modFennick fennick(reg, view);
        fennick.UseBackupFiles(Files());
        for (const char* id : {"{AAAA}", "{BBBB}", "{CCCC}"}) {
            registry.SetString(platform::kHkeyClassesRoot, std::string("CLSID\\") + id, "", "x");
            fennick.FoundKeys.push_back({"CLSID\\", "", id, ""});
        }
        fennick.RemoveFoundKeys(path);
        const std::string backup = ReadAll(path);
        if (registry.KeyExists(platform::kHkeyClassesRoot, "CLSID\\{BBBB}")) return 1;
        if (!registry.KeyExists(platform::kHkeyClassesRoot, "CLSID\\{CCCC}")) return 2;
        if (backup.size() != header + 2 * block) return 3;
        if (backup.find("{BBBB}") == std::string::npos) return 4;
        if (view.messages.size() != 1) return 5;
        if (view.messages[0].find("could not be written") == std::string::npos) return 6;
        return 0;
    });
    EXPECT_EQ(result, 0);
}

TEST_P(BackupWritersTest, ABackupInAFolderThatDoesNotExistDeletesNothingAndSaysWhy) {
    platform::MemoryRegistry registry;
    RecordingView view;
    cleaner::modRegFuncs reg(registry, view);
    cleaner::modFennick fennick(reg, view);
    fennick.UseBackupFiles(Files());
    registry.SetString(platform::kHkeyClassesRoot, "CLSID\\{A}", "", "x");
    registry.SetString(platform::kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98", "", "x");
    fennick.FoundKeys.push_back({"CLSID\\", "", "{A}", ""});
    const std::string path = PathOf("gone/backup.reg");

    fennick.RemoveFoundKeys(path);
    bool startNewFile = false;
    fennick.RemoveSettings(path, startNewFile);

    EXPECT_TRUE(registry.KeyExists(platform::kHkeyClassesRoot, "CLSID\\{A}"));
    EXPECT_TRUE(registry.KeyExists(platform::kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98"));
    ASSERT_EQ(view.messages.size(), 2u);  // one for each removal operation
    for (const std::string& message : view.messages) {
        EXPECT_THAT(message, HasSubstr("\"" + path + "\""));
        EXPECT_THAT(message, HasSubstr("the folder \"" + PathOf("gone") + "\" does not exist"));
        EXPECT_THAT(message, HasSubstr("Nothing was deleted"));
    }
}

TEST_P(BackupWritersTest, APathThatIsNoRegularFileIsRefusedBeforeAnyDelete) {
    const std::string pipe = PathOf("pipe.reg");
    const std::string device = PathOf("device.reg");
    const std::string dangling = PathOf("dangling.reg");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_symlink("/dev/null", device);
    fs::create_symlink(PathOf("nowhere/x.reg"), dangling);
    for (const std::string& path : {pipe, device, dangling}) {
        OneKeyRemoval removal(Files());
        removal.fennick.RemoveFoundKeys(path);
        EXPECT_TRUE(removal.KeyThere()) << path;
        ASSERT_EQ(removal.view.messages.size(), 1u) << path;
        EXPECT_THAT(removal.view.messages[0], HasSubstr("\"" + path + "\""));
        EXPECT_THAT(removal.view.messages[0], HasSubstr("Nothing was deleted"));
    }
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_TRUE(fs::is_symlink(device));
    EXPECT_TRUE(fs::is_symlink(dangling));

    // A link to a regular file is written through and stays a link.
    std::ofstream(PathOf("target.reg")) << "";
    fs::create_symlink(PathOf("target.reg"), PathOf("link.reg"));
    OneKeyRemoval removal(Files());
    removal.fennick.RemoveFoundKeys(PathOf("link.reg"));
    EXPECT_FALSE(removal.KeyThere());
    EXPECT_TRUE(fs::is_symlink(PathOf("link.reg")));
    EXPECT_THAT(ReadAll(PathOf("target.reg")), HasSubstr("[HKEY_CLASSES_ROOT\\CLSID\\{A}]"));
}

// The prefix's own registry files, or the temporary files of their saves, are never a backup,
// whichever way the path leads there; both removals refuse before anything is written or
// deleted. Any other file in the prefix folder is still a backup.
TEST_P(BackupWritersTest, ABackupThatLeadsToTheRegistryFilesIsRefusedBeforeAnyDelete) {
    const fs::path prefix = folder / "prefix";
    fs::create_directories(prefix / "drive_c");
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        std::ofstream(prefix / name) << "WINE REGISTRY Version 2\n;; " << name << "\n";
    }
    fs::create_symlink(prefix / "user.reg", folder / "user-link.reg");
    fs::create_symlink(prefix, folder / "prefix-link");
    fs::create_hard_link(prefix / "system.reg", folder / "hard.reg");
    const auto listing = [&] {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(prefix)) {
            files[entry.path().filename().string()] =
                entry.is_regular_file() ? ReadAll(entry.path()) : "";
        }
        return files;
    };
    const auto before = listing();
    for (const fs::path& path :
         {prefix / "user.reg", prefix / "drive_c" / ".." / "system.reg", folder / "user-link.reg",
          folder / "prefix-link" / "USERDEF.REG", folder / "hard.reg",
          prefix / ".user.reg.sorvel-Ab12Cd", folder / "prefix-link" / "reg1f2e0000.tmp"}) {
        OneKeyRemoval removal(Files());
        removal.fennick.UseRegistryFolder(prefix.string());
        removal.fennick.RemoveFoundKeys(path.string());
        bool startNewFile = false;
        removal.fennick.RemoveSettings(path.string(), startNewFile);
        EXPECT_TRUE(removal.KeyThere()) << path;
        ASSERT_EQ(removal.view.messages.size(), 2u) << path;
        EXPECT_THAT(removal.view.messages[0],
                    HasSubstr("is a registry file of the Wine prefix \"" + prefix.string()));
        EXPECT_THAT(removal.view.messages[1], HasSubstr("Nothing was deleted"));
        EXPECT_EQ(listing(), before) << path;
    }

    OneKeyRemoval removal(Files());
    removal.fennick.UseRegistryFolder(prefix.string());
    removal.fennick.RemoveFoundKeys((prefix / "taDeletedRegKeys.reg").string());
    EXPECT_FALSE(removal.KeyThere());
    EXPECT_THAT(removal.view.messages, ::testing::IsEmpty());
}

// Trees a registry editor cannot give back from the backup, on the Wine store: a key with a
// class name (#class, which REGEDIT4 cannot carry) and a chain of keys whose full name grows
// past what the editor reads. Both are kept whole and named in one message with the trees kept
// for their text; the keys beside them go as always.
TEST_P(BackupWritersTest, TreesTheBackupCannotGiveBackAreKeptAndNamedInOneMessage) {
    TempPrefix prefix;
    const std::string deep = "CLSID\\{DEEP}";
    std::string chain = deep;
    for (int level = 0; level < 180; ++level) chain += "\\" + std::string(200, static_cast<char>('a' + level % 26));
    prefix.Change([&](platform::MemoryRegistry& registry) {
        registry.SetString(platform::kHkeyClassesRoot, chain, "", "bottom");
        registry.SetString(platform::kHkeyClassesRoot, "CLSID\\{PLAIN}", "", "plain");
        registry.SetString(platform::kHkeyClassesRoot, "CLSID\\{CLASSY}\\Sub", "", "sub");
    });
    // Wine writes a class name as an option line of the key's block.
    std::ofstream(prefix.Path() + "/system.reg", std::ios::app)
        << "\n[Software\\\\Classes\\\\CLSID\\\\{CLASSY}\\\\Sub\\\\Deeper] 1700000000\n"
           "#class=\"Widget\"\n@=\"classy\"\n";
    const auto store = platform::WinePrefixStore::Open(prefix.Path());
    RecordingView view;
    cleaner::modRegFuncs reg(store->Registry(), view);
    cleaner::modFennick fennick(reg, view);
    fennick.UseBackupFiles(Files());
    for (const char* id : {"{DEEP}", "{PLAIN}", "{CLASSY}"}) {
        fennick.FoundKeys.push_back({"CLSID\\", "", id, ""});
    }
    fennick.RemoveFoundKeys(PathOf("backup.reg"));

    auto& registry = dynamic_cast<platform::MemoryRegistry&>(store->Registry());
    EXPECT_TRUE(registry.KeyExists(platform::kHkeyClassesRoot, chain));
    EXPECT_TRUE(registry.KeyExists(platform::kHkeyClassesRoot, "CLSID\\{CLASSY}\\Sub\\Deeper"));
    EXPECT_FALSE(registry.KeyExists(platform::kHkeyClassesRoot, "CLSID\\{PLAIN}"));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_THAT(view.messages[0], HasSubstr("class name"));
    EXPECT_THAT(view.messages[0], HasSubstr("\nHKEY_CLASSES_ROOT\\CLSID\\{DEEP}\n"));
    EXPECT_THAT(view.messages[0], HasSubstr("\nHKEY_CLASSES_ROOT\\CLSID\\{CLASSY}\n"));
    const std::string backup = ReadAll(PathOf("backup.reg"));
    EXPECT_THAT(backup, HasSubstr("{PLAIN}"));
    EXPECT_THAT(backup, Not(HasSubstr("{DEEP}")));
    EXPECT_THAT(backup, Not(HasSubstr("{CLASSY}")));
}

TEST_P(BackupWritersTest, AStartThatCannotWriteTheHeaderLeavesTheFilesAsTheyWere) {
    const std::string path = PathOf("backup.reg");
    const std::string earlier = PathOf("earlier.reg");
    std::ofstream(earlier) << "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{E}]\r\n";
    const int result = WithFileSizeLimit(10, [&] {
        for (const std::string& name : {path, earlier}) {
            OneKeyRemoval removal(Files());
            removal.fennick.RemoveFoundKeys(name);
            if (!removal.KeyThere()) return 1;
            if (removal.view.messages.size() != 1) return 2;
        }
        if (fs::exists(path)) return 3;  // no empty file of its own
        if (ReadAll(earlier) != "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{E}]\r\n") return 4;
        return std::distance(fs::directory_iterator(folder), fs::directory_iterator()) == 1 ? 0 : 5;
    });
    EXPECT_EQ(result, 0);
}

TEST_P(BackupWritersTest, ANewBackupKeepsAnEarlierOneBesideItNamedByItsTime) {
    const std::string path = PathOf("backup.reg");
    OneKeyRemoval first(Files());
    first.fennick.RemoveFoundKeys(path);
    const std::string firstBackup = ReadAll(path);
    ASSERT_THAT(firstBackup, HasSubstr("{A}"));
    std::tm written{};
    written.tm_year = 2026 - 1900;
    written.tm_mon = 11;
    written.tm_mday = 8;
    written.tm_hour = 9;
    written.tm_min = 15;
    written.tm_isdst = -1;
    fs::last_write_time(path, std::chrono::file_clock::from_sys(
                                  std::chrono::system_clock::from_time_t(std::mktime(&written))));
    std::ofstream(PathOf("backup-20261208-091500.reg")) << "another";

    // Nothing found this time: the new file is the header alone, the first one is kept.
    OneKeyRemoval second(Files());
    second.fennick.FoundKeys.clear();
    second.fennick.RemoveFoundKeys(path);
    const std::string keptAs = PathOf("backup-20261208-091500-2.reg");
    EXPECT_EQ(ReadAll(path), std::string(cleaner::kBackupFileHeader));
    EXPECT_EQ(ReadAll(keptAs), firstBackup);
    EXPECT_EQ(ReadAll(PathOf("backup-20261208-091500.reg")), "another");
    ASSERT_EQ(second.view.messages.size(), 1u);
    EXPECT_THAT(second.view.messages[0], HasSubstr("\"" + keptAs + "\""));

    // A file with nothing to restore is replaced as it was.
    bool startNewFile = true;
    second.fennick.RemoveSettings(path, startNewFile);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3);
    EXPECT_EQ(second.view.messages.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothWriters, BackupWritersTest,
                         ::testing::Values(Kind::Standard, Kind::Durable),
                         [](const auto& param) {
                             return param.param == Kind::Durable ? "Durable" : "Standard";
                         });

TEST(DurableBackupFilesTest, APipeWithoutAReaderFailsInsteadOfWaiting) {
    char pattern[] = "/tmp/sorvel-backup-fifo-XXXXXX";
    const fs::path folder = ::mkdtemp(pattern);
    const std::string path = (folder / "pipe").string();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    platform::DurableBackupFiles files;
    std::string reason;
    EXPECT_EQ(files.Append(path, reason), nullptr);
    EXPECT_FALSE(reason.empty());
    fs::remove_all(folder);
}

}  // namespace
}  // namespace removal_test
