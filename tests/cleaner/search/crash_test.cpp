// A removal killed at a random moment, many times over, on a real Wine prefix: after each kill
// the prefix's registry files load (each is the old file or a new one, never a torn one), and
// every key missing from them is whole in the backup file.
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/files/durable_files.h"
#include "platform/registry/memory_registry.h"
#include "platform/wine/wine_store.h"
#include "tests/cleaner/search/removal_fakes.h"
#include "tests/support/wine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace removal_test {
namespace {

using platform::kHkeyClassesRoot;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
using Clock = std::chrono::steady_clock;

constexpr int kKeys = 300;
constexpr int kKills = 40;

std::string Id(int i) {
    char id[40];
    std::snprintf(id, sizeof id, "{C0FFEE00-0000-0000-0000-%012d}", i);
    return id;
}

// The block each key must have in the backup: its subkey's, then its own.
std::string ExpectedBlocks(int i) {
    const std::string path = "HKEY_CLASSES_ROOT\\CLSID\\" + Id(i);
    return "\r\n[" + path + "\\InprocServer32]\r\n@=\"c:\\\\suite\\\\lib" + std::to_string(i) +
           ".dll\"\r\n\"ThreadingModel\"=\"Apartment\"\r\n\r\n[" + path + "]\r\n@=\"Suite thing " +
           std::to_string(i) + "\"\r\n";
}

class RemovalCrashTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        wine_ = new testsupport::WinePrefix();
        auto store = platform::WinePrefixStore::Open(wine_->Path());
        auto& registry = dynamic_cast<platform::MemoryRegistry&>(store->Registry());
        for (int i = 0; i < kKeys; ++i) {
            const std::string key = "CLSID\\" + Id(i);
            registry.SetString(kHkeyClassesRoot, key, "", "Suite thing " + std::to_string(i));
            registry.SetString(kHkeyClassesRoot, key + "\\InprocServer32", "",
                               "c:\\suite\\lib" + std::to_string(i) + ".dll");
            registry.SetString(kHkeyClassesRoot, key + "\\InprocServer32", "ThreadingModel",
                               "Apartment");
        }
        registry.SetString(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98", "Path", "c:\\tarvo");
        registry.SetString(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98", "User", "me");
        store->Save();
        store.reset();
        systemReg_ = new std::string(testsupport::ReadFile(wine_->File("system.reg")));
        userReg_ = new std::string(testsupport::ReadFile(wine_->File("user.reg")));
    }
    static void TearDownTestSuite() {
        delete wine_;
        delete systemReg_;
        delete userReg_;
    }

    void Restore() const {
        testsupport::WriteFile(wine_->File("system.reg"), *systemReg_);
        testsupport::WriteFile(wine_->File("user.reg"), *userReg_);
        std::filesystem::remove(Backup());
    }
    static std::string Backup() { return wine_->Path() + "/../taDeletedRegKeys.reg"; }

    // The removal as the window's run does it, with the backup flushed to the disc and the
    // prefix saved at the end of each operation. Runs in a child process, which writes a byte to
    // notify as each save begins.
    [[noreturn]] static void RemoveInChild(int notify) {
        try {
            auto store = platform::WinePrefixStore::Open(wine_->Path());
            RecordingView view;
            cleaner::modRegFuncs reg(store->Registry(), view);
            cleaner::modFennick fennick(reg, view);
            platform::DurableBackupFiles files;
            NotifyingCommit commit(*store, notify);
            fennick.UseBackupFiles(files);
            fennick.UseRegistryCommit(&commit);
            for (int i = 0; i < kKeys; ++i) fennick.FoundKeys.push_back({"CLSID\\", "", Id(i), ""});
            fennick.RemoveFoundKeys(Backup());
            bool startNewFile = false;
            fennick.RemoveSettings(Backup(), startNewFile);
            std::_Exit(view.messages.empty() ? 0 : 4);
        } catch (...) {
            std::_Exit(2);
        }
    }

    // Saves the prefix as the program's commit does; a failed save ends the child with 3.
    class NotifyingCommit : public cleaner::RegistryCommit {
    public:
        NotifyingCommit(platform::WinePrefixStore& store, int fd) : store_(store), fd_(fd) {}
        void CommitRegistry() override {
            if (::write(fd_, "s", 1) != 1) std::_Exit(5);
            try {
                if (store_.HasChanges()) store_.Save();
            } catch (const std::exception&) {
                std::_Exit(3);
            }
        }

    private:
        platform::WinePrefixStore& store_;
        int fd_;
    };

    struct Run {
        int status = 0;
        std::vector<Clock::duration> saves;  // when each save began, from the start
        Clock::duration end{};
    };

    // Starts the removal. With afterSave 0 it is killed after delay from its start; with
    // afterSave n, after delay from the start of its n-th save; never when delay is negative.
    static Run RunRemoval(Clock::duration delay, int afterSave = 0) {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        std::fflush(nullptr);
        const Clock::time_point start = Clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            RemoveInChild(fds[1]);
        }
        ::close(fds[1]);
        Run run;
        if (delay >= Clock::duration::zero() && afterSave == 0) {
            std::this_thread::sleep_for(delay);
            ::kill(child, SIGKILL);
        }
        char byte;
        while (::read(fds[0], &byte, 1) == 1) {
            run.saves.push_back(Clock::now() - start);
            if (delay >= Clock::duration::zero() && static_cast<int>(run.saves.size()) == afterSave) {
                std::this_thread::sleep_for(delay);
                ::kill(child, SIGKILL);
            }
        }
        ::close(fds[0]);
        ::waitpid(child, &run.status, 0);
        run.end = Clock::now() - start;
        return run;
    }

    // Checks the prefix and the backup after a removal ended somehow. Returns the keys missing.
    static int CheckPrefix(const std::string& when) {
        std::unique_ptr<platform::WinePrefixStore> store;
        try {
            store = platform::WinePrefixStore::Open(wine_->Path());
        } catch (const std::exception& e) {
            ADD_FAILURE() << when << ": the prefix does not load: " << e.what();
            return -1;
        }
        auto& registry = dynamic_cast<platform::MemoryRegistry&>(store->Registry());
        std::string backup;
        if (std::filesystem::exists(Backup())) backup = testsupport::ReadFile(Backup());

        int missing = 0;
        for (int i = 0; i < kKeys; ++i) {
            if (registry.KeyExists(kHkeyClassesRoot, "CLSID\\" + Id(i))) continue;
            ++missing;
            EXPECT_NE(backup.find(ExpectedBlocks(i)), std::string::npos)
                << when << ": " << Id(i) << " is gone but not whole in the backup";
        }
        // system.reg is saved whole or not at all: its keys go together.
        EXPECT_TRUE(missing == 0 || missing == kKeys) << when << ": " << missing << " keys gone";
        const bool machineGone = !registry.KeyExists(kHkeyLocalMachine, "SOFTWARE\\Tarvo\\98");
        const bool userGone = !registry.KeyExists(kHkeyCurrentUser, "SOFTWARE\\Tarvo\\98");
        if (machineGone) {
            EXPECT_EQ(missing, kKeys) << when;
            EXPECT_NE(backup.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\98]\r\n\"Path\"="),
                      std::string::npos) << when;
        }
        if (userGone) {
            EXPECT_NE(backup.find("[HKEY_CURRENT_USER\\SOFTWARE\\Tarvo\\98]\r\n\"User\"=\"me\""),
                      std::string::npos) << when;
        }
        return missing;
    }

    static testsupport::WinePrefix* wine_;
    static std::string* systemReg_;
    static std::string* userReg_;
};

testsupport::WinePrefix* RemovalCrashTest::wine_ = nullptr;
std::string* RemovalCrashTest::systemReg_ = nullptr;
std::string* RemovalCrashTest::userReg_ = nullptr;

TEST_F(RemovalCrashTest, AKilledRemovalLeavesLoadableFilesAndABackupOfEveryKeyGone) {
    // Once to the end, to know how long a whole removal and each of its two saves take.
    Restore();
    const Run whole = RunRemoval(Clock::duration(-1));
    ASSERT_TRUE(WIFEXITED(whole.status) && WEXITSTATUS(whole.status) == 0)
        << "status " << whole.status;
    ASSERT_EQ(whole.saves.size(), 2u);
    ASSERT_EQ(CheckPrefix("after a whole removal"), kKeys);
    const Clock::duration saveTime[] = {whole.saves[1] - whole.saves[0],
                                        whole.end - whole.saves[1]};

    // Half of the kills come at any moment of the removal, half while one of the saves runs,
    // which is where a torn file would come from.
    // The moments come from a seed that is printed, and SORVEL_CRASH_SEED sets it, so that a
    // failing run's kills can be tried again at the same points of the removal.
    const char* given = std::getenv("SORVEL_CRASH_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10))
                                : std::random_device{}();
    std::printf("random seed %u (SORVEL_CRASH_SEED=%u runs these kills again)\n", seed, seed);
    std::fflush(stdout);
    SCOPED_TRACE("random seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto Us = [](Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
    };
    int killedBeforeSave = 0, killedAfterSave = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        Restore();
        const int afterSave = kill % 2 == 0 ? 0 : 1 + (kill / 2) % 2;
        const Clock::duration span = afterSave == 0 ? whole.end : saveTime[afterSave - 1];
        const auto delay = std::chrono::microseconds(
            std::uniform_int_distribution<long long>(0, Us(span))(random));
        RunRemoval(delay, afterSave);
        const int missing = CheckPrefix("killed " + std::to_string(delay.count()) + " us after " +
                                        (afterSave == 0 ? std::string("the start")
                                                        : "save " + std::to_string(afterSave)));
        (missing == 0 ? killedBeforeSave : killedAfterSave) += 1;
    }
    std::printf("whole removal %lld ms, saves %lld ms and %lld ms; prefixes found old: %d, "
                "new: %d\n",
                static_cast<long long>(Us(whole.end) / 1000),
                static_cast<long long>(Us(saveTime[0]) / 1000),
                static_cast<long long>(Us(saveTime[1]) / 1000), killedBeforeSave, killedAfterSave);

    // Wine itself reads the files the last run left.
    const bool gone = !testsupport::RegKeyExists(
        wine_->Path(), "HKLM\\Software\\Classes\\CLSID\\" + Id(kKeys - 1));
    EXPECT_EQ(gone, CheckPrefix("after Wine started") == kKeys);
}

}  // namespace
}  // namespace removal_test
