// sorvel with a command line on a 64-bit prefix that wineboot made and that holds the suite's
// keys in both nodes (imported by Wine's regedit, and by `reg import /reg:32` as a 32-bit
// installer writes them), against a copy of that prefix from which Wine's own `reg delete` took
// the keys the suite's settings table lists, with /reg:64 and /reg:32: Wine must see the two
// registries alike.
#include "tests/support/run_program.h"
#include "tests/support/wine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace removal_test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string SuiteKeys() {
    std::string text = "REGEDIT4\r\n";
    for (const std::string hive : {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}) {
        text += "\r\n[" + hive + "\\Software\\Tarvo\\My App]\r\n\"Level\"=\"3\"\r\n"
                "\r\n[" + hive + "\\Software\\Tarvo\\My App\\Options]\r\n\"Size\"=dword:00000010\r\n"
                "\r\n[" + hive + "\\Software\\Tarvo\\Other]\r\n\"Keep\"=\"yes\"\r\n"
                "\r\n[" + hive + "\\Software\\Zelk\\My App]\r\n@=\"zelk\"\r\n"
                "\r\n[" + hive + "\\Software\\Zelk\\My Apps]\r\n@=\"a neighbour\"\r\n"
                "\r\n[" + hive + "\\Software\\Zelk Company\\Anything\\Deeper]\r\n@=\"x\"\r\n";
        for (const char* name : {"TarvoNexbay", "TarvoNexbay 98", "Tarvo Nexbay 1.0", "Another"}) {
            text += "\r\n[" + hive + "\\" + kUninstall + name + "]\r\n\"DisplayName\"=\"" + name +
                    "\"\r\n";
        }
    }
    return text;
}

// Wine's reg delete of the keys the settings table names for the command line "My App", in
// its order: those of HKEY_LOCAL_MACHINE in each view, those of HKEY_CURRENT_USER (one view).
std::string TableDeletes() {
    std::vector<std::string> keys;
    for (const std::string hive : {"HKCU", "HKLM"}) {
        keys.push_back(hive + "\\Software\\Tarvo\\My App");
        keys.push_back(hive + "\\Software\\Zelk\\My App");
        keys.push_back(hive + "\\Software\\Zelk Company");
    }
    for (const char* name : {"TarvoNexbay", "TarvoNexbay 98", "Tarvo Nexbay 1.0"}) {
        keys.push_back("HKLM\\" + kUninstall + name);
    }
    std::string batch = "@echo off\r\n";
    for (const char* view : {"/reg:64", "/reg:32"}) {
        for (const std::string& key : keys) {
            if (key.rfind("HKCU", 0) == 0 && std::string(view) == "/reg:32") continue;
            batch += "reg delete \"" + key + "\" /f " + view + "\r\nif errorlevel 1 exit /b 1\r\n";
        }
    }
    return batch;
}

// A file of the test's folder as Wine names it.
std::string WinePath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

// An export without the key that Wine's crash handler makes when some Wine process of the
// prefix crashed (seen under load): Wine's bookkeeping, not what either side removed.
std::string WithoutCrashHandlerKey(std::string exported) {
    const std::string block = "\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n\r\n";
    if (const auto at = exported.find(block); at != std::string::npos) exported.erase(at + 1, block.size() - 1);
    return exported;
}

struct TempFolder {
    TempFolder() : path(testsupport::MakeTempDir("reg-delete")) {}
    ~TempFolder() {
        testsupport::WaitForWineServer(path + "/prefix");
        testsupport::RemoveTree(path);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string path;
};

TEST(WineCommandLineTest, RemovesWhatWinesRegDeleteRemoves) {
    testsupport::WinePrefix sorvelPrefix;
    testsupport::RegImport(sorvelPrefix.Path(), SuiteKeys());
    const TempFolder folder;
    testsupport::WriteFile(folder.path + "/suite.reg", SuiteKeys());
    const testsupport::WineResult imported = testsupport::RunWine(
        sorvelPrefix.Path(), {"reg", "import", WinePath(folder.path + "/suite.reg"), "/reg:32"});
    ASSERT_EQ(imported.status, 0) << imported.output;
    const std::string wineDeleted = sorvelPrefix.CopyTo(folder.path);

    const ProgramResult result =
        RunProgram(SORVEL_PROGRAM, {"My", "App"},
                   {{"WINEPREFIX", sorvelPrefix.Path()}, {"WINEDEBUG", "-all"}, {"DISPLAY", {}},
                    {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.errors, "");

    testsupport::WriteFile(folder.path + "/delete.bat", TableDeletes());
    const testsupport::WineResult deleted =
        testsupport::RunWine(wineDeleted, {"cmd", "/c", WinePath(folder.path + "/delete.bat")});
    ASSERT_EQ(deleted.status, 0) << deleted.output;

    for (const char* key : {"HKCU\\Software", "HKLM\\Software"}) {
        const std::string bySorvel = testsupport::RegExport(sorvelPrefix.Path(), key);
        const std::string byWine = testsupport::RegExport(wineDeleted, key);
        EXPECT_EQ(WithoutCrashHandlerKey(bySorvel), WithoutCrashHandlerKey(byWine)) << key;
        EXPECT_THAT(bySorvel, HasSubstr("\\Software\\Tarvo\\Other]"));
        EXPECT_THAT(bySorvel, HasSubstr("\\Software\\Zelk\\My Apps]"));
        EXPECT_THAT(bySorvel, Not(HasSubstr("Zelk Company")));
        EXPECT_THAT(bySorvel, Not(HasSubstr("\\Software\\Tarvo\\My App]")));
        if (std::string(key) == "HKLM\\Software") {
            const std::string node = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\";
            EXPECT_THAT(bySorvel, HasSubstr(node + "Tarvo\\Other]"));
            EXPECT_THAT(bySorvel, Not(HasSubstr(node + "Tarvo\\My App]")));
            EXPECT_THAT(bySorvel, Not(HasSubstr(node + kUninstall + "TarvoNexbay 98]")));
        }
    }
    // The uninstall keys are looked for in HKEY_LOCAL_MACHINE only.
    EXPECT_TRUE(testsupport::RegKeyExists(sorvelPrefix.Path(), "HKCU\\" + kUninstall + "TarvoNexbay"));
    EXPECT_FALSE(testsupport::RegKeyExists(sorvelPrefix.Path(), "HKLM\\" + kUninstall + "TarvoNexbay"));
}

}  // namespace
}  // namespace removal_test
