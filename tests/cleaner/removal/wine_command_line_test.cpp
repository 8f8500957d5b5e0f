// sorvel with a command line on a prefix that wineboot made and that holds the suite's keys,
// against a copy of that prefix from which Wine's own `reg delete` took the keys the suite's
// settings table lists: Wine must see the two registries alike.
#include "run_program.h"
#include "tests/support/wine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

// The keys the settings table names for the command line "My App", in its order.
std::vector<std::string> TableKeys() {
    std::vector<std::string> keys;
    for (const std::string hive : {"HKCU", "HKLM"}) {
        keys.push_back(hive + "\\Software\\Tarvo\\My App");
        keys.push_back(hive + "\\Software\\Zelk\\My App");
        keys.push_back(hive + "\\Software\\Zelk Company");
    }
    for (const char* name : {"TarvoNexbay", "TarvoNexbay 98", "Tarvo Nexbay 1.0"}) {
        keys.push_back("HKLM\\" + kUninstall + name);
    }
    return keys;
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
    const std::string wineDeleted = sorvelPrefix.CopyTo(folder.path);

    const ProgramResult result =
        RunProgram(SORVEL_PROGRAM, {"My", "App"},
                   {{"WINEPREFIX", sorvelPrefix.Path()}, {"WINEDEBUG", "-all"}, {"DISPLAY", {}},
                    {"WAYLAND_DISPLAY", {}}});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(result.errors, "");

    for (const std::string& key : TableKeys()) {
        const testsupport::WineResult deleted =
            testsupport::RunWine(wineDeleted, {"reg", "delete", key, "/f"});
        ASSERT_EQ(deleted.status, 0) << key << ": " << deleted.output;
    }

    for (const char* key : {"HKCU\\Software", "HKLM\\Software"}) {
        const std::string bySorvel = testsupport::RegExport(sorvelPrefix.Path(), key);
        const std::string byWine = testsupport::RegExport(wineDeleted, key);
        EXPECT_EQ(bySorvel, byWine) << key;
        EXPECT_THAT(bySorvel, HasSubstr("\\Software\\Tarvo\\Other]"));
        EXPECT_THAT(bySorvel, HasSubstr("\\Software\\Zelk\\My Apps]"));
        EXPECT_THAT(bySorvel, Not(HasSubstr("Zelk Company")));
        EXPECT_THAT(bySorvel, Not(HasSubstr("\\Software\\Tarvo\\My App]")));
    }
    // The uninstall keys are looked for in HKEY_LOCAL_MACHINE only.
    EXPECT_TRUE(testsupport::RegKeyExists(sorvelPrefix.Path(), "HKCU\\" + kUninstall + "TarvoNexbay"));
    EXPECT_FALSE(testsupport::RegKeyExists(sorvelPrefix.Path(), "HKLM\\" + kUninstall + "TarvoNexbay"));
}

}  // namespace
}  // namespace removal_test
