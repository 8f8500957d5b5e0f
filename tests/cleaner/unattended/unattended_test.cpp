// sorvel --preview and --clean as a script runs them, on a prefix of the test's own: what they
// refuse changes nothing and says why with status 1; a tree the backup cannot hold exactly is
// listed as kept, with why, and makes the status 2; a backup that holds something is kept aside
// and the report says where. (The same runs beside a window run: tests/cleaner/qt.)
#include "tests/cleaner/startup/prefix_files.h"
#include "tests/support/run_program.h"
#include "tests/support/wine.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#if !defined(SORVEL_PROGRAM) || !defined(SORVEL_SOURCE_DIR)
#error "SORVEL_PROGRAM and SORVEL_SOURCE_DIR must name the program and the source tree"
#endif

namespace removal_test {
namespace {

using ::testing::HasSubstr;
using platform::kHkeyClassesRoot;
using platform::kHkeyLocalMachine;

class UnattendedTest : public ::testing::Test {
protected:
    UnattendedTest() : folder(testsupport::MakeTempDir("unattended")) {
        testsupport::WriteFile(folder + "/keywords.txt", "Nexbay\r\n");
        prefix.Change([](platform::MemoryRegistry& registry) {
            registry.SetString(kHkeyLocalMachine, "Software\\Classes\\Nexbay.Doc\\CLSID", "", "x");
            registry.SetString(kHkeyLocalMachine, "Software\\Classes\\Other.Doc", "", "keep");
            // Text beyond Windows-1252: the backup could not give it back as it was.
            registry.SetStringW(kHkeyLocalMachine, u"Software\\Classes\\Nexbay.Odd", u"",
                                u"\u03A9mega");
        });
    }
    ~UnattendedTest() override { testsupport::RemoveTree(folder); }

    ProgramResult Run(std::vector<std::string> args, const std::string& at = {}) {
        return RunProgram(SORVEL_PROGRAM, args,
                          {{"WINEPREFIX", at.empty() ? prefix.Path() : at}, {"DISPLAY", {}}});
    }
    std::vector<std::string> Clean(const std::string& backup) const {
        return {"--clean", "--keywords", folder + "/keywords.txt", "--backup", backup, "--json"};
    }

    TempPrefix prefix;
    std::string folder;
};

TEST_F(UnattendedTest, WhatIsRefusedChangesNothingAndSaysWhyWithStatusOne) {
    const std::string system = prefix.Read("system.reg");
    const std::string keywords = folder + "/keywords.txt";
    const std::string backup = folder + "/backup.reg";
    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
        {{"--clean", "--keywords", keywords, "--backup", ""}, "never deletes without a backup"},
        {{"--clean", "--keywords", folder + "/none.txt", "--backup", backup}, "keywords file"},
        {{"--preview", "--no-keys"}, "--no-keys without --settings"},
        {{"--clean", "--keywords", keywords, "--backup", backup, "--fast"}, "\"--fast\""},
        {{"--preview", "--backup", backup}, "\"--backup\" is not an option of --preview"},
    };
    for (const auto& [args, why] : refusals) {
        SCOPED_TRACE(testing::PrintToString(args));
        ProgramResult result = Run(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(result.errors, HasSubstr(why));
        std::vector<std::string> json = args;
        json.push_back("--json");
        result = Run(json);
        EXPECT_EQ(result.status, 1);
        const nlohmann::json document = nlohmann::json::parse(result.output);
        EXPECT_EQ(document["exit"], 1);
        EXPECT_EQ(document["keys"], nlohmann::json::array());
        ASSERT_EQ(document["reports"].size(), 1u);
        EXPECT_THAT(document["reports"][0].get<std::string>(), HasSubstr(why));
    }
    // A refused prefix: named.
    const ProgramResult missing = Run(Clean(backup), folder + "/nowhere");
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(nlohmann::json::parse(missing.output)["reports"][0].get<std::string>(),
                HasSubstr(folder + "/nowhere"));
    EXPECT_TRUE(prefix.Read("system.reg") == system);
    EXPECT_FALSE(std::filesystem::exists(backup));
}

TEST_F(UnattendedTest, AKeptTreeIsListedWithWhyAndAnEarlierBackupIsKeptAside) {
    const std::string system = prefix.Read("system.reg");
    const ProgramResult preview =
        Run({"--preview", "--keywords", folder + "/keywords.txt", "--json"});
    EXPECT_EQ(preview.status, 2) << preview.errors;
    EXPECT_TRUE(prefix.Read("system.reg") == system);
    const nlohmann::json found = nlohmann::json::parse(preview.output);
    ASSERT_EQ(found["keys"].size(), 2u) << found.dump(1);
    EXPECT_EQ(found["keys"][0]["key"], "HKEY_CLASSES_ROOT\\Nexbay.Doc");
    EXPECT_EQ(found["keys"][0]["state"], "found");
    EXPECT_EQ(found["keys"][0]["tree"], 2);
    EXPECT_EQ(found["keys"][1]["key"], "HKEY_CLASSES_ROOT\\Nexbay.Odd");
    EXPECT_EQ(found["keys"][1]["state"], "kept");
    EXPECT_THAT(found["keys"][1]["reason"].get<std::string>(), HasSubstr("Windows-1252"));

    const std::string backup = folder + "/backup.reg";
    testsupport::WriteFile(backup, "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\Earlier]\r\n");
    const ProgramResult clean = Run(Clean(backup));
    EXPECT_EQ(clean.status, 2) << clean.errors;
    EXPECT_THAT(clean.errors, HasSubstr("sorvel: Remove Keys Completed\n"));
    const nlohmann::json done = nlohmann::json::parse(clean.output);
    EXPECT_EQ(done["mode"], "clean");
    EXPECT_EQ(done["registry"], prefix.Path());
    EXPECT_EQ(done["backup"], backup);
    ASSERT_TRUE(done["kept_aside"].is_string());
    EXPECT_EQ(testsupport::ReadFile(done["kept_aside"].get<std::string>()),
              "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\Earlier]\r\n");
    ASSERT_EQ(done["keys"].size(), 2u);
    EXPECT_EQ(done["keys"][0]["state"], "removed");
    EXPECT_EQ(done["keys"][1]["state"], "kept");
    EXPECT_EQ(done["exit"], 2);
    EXPECT_FALSE(prefix.KeyExists(kHkeyClassesRoot, "Nexbay.Doc"));
    EXPECT_TRUE(prefix.KeyExists(kHkeyClassesRoot, "Nexbay.Odd"));
    EXPECT_TRUE(prefix.KeyExists(kHkeyClassesRoot, "Other.Doc"));
    EXPECT_THAT(testsupport::ReadFile(backup), HasSubstr("\r\n[HKEY_CLASSES_ROOT\\Nexbay.Doc]\r\n"));
}

// The demo's prefix, completed by Wine, cleaned on two copies: one put back by --restore, with no
// Wine to run, the other by Wine's own reg import in the 64-bit view. Both give back the registry
// as it was before the run, in both nodes, as reg export shows it.
TEST(UnattendedRestoreTest, PutsBackTheBackupAsWinesRegImportDoesWithoutWine) {
    const std::string folder = testsupport::MakeTempDir("unattended-restore");
    const std::string before = folder + "/before";
    ASSERT_EQ(std::system(("python3 '" SORVEL_SOURCE_DIR "/demo/make_demo_prefix.py' '" + before +
                           "' >/dev/null").c_str()),
              0);
    // The classes of both nodes and the suite's settings (the rest of the registry is Wine's
    // own, which it changes as it starts).
    const auto exportSoftware = [](const std::string& prefix) {
        return testsupport::RegExport(prefix, "HKEY_LOCAL_MACHINE\\Software\\Classes") +
               testsupport::RegExport(prefix, "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tarvo") +
               testsupport::RegExport(prefix, "HKEY_CURRENT_USER\\Software\\Tarvo");
    };
    // Beside the demo's strings and numbers, every other kind of value the backup writes: text
    // with quotes, backslashes and a letter beyond ASCII, long text, bytes, expandable text, a
    // list, a 64-bit number, and a key without values.
    testsupport::RegImport(
        before,
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarvo\\98\\Types]\r\n"
        "\"Owner\"=\"Caf\xe9 \\\"Nord\\\" C:\\\\Tarvo\"\r\n\"Notes\"=\"" + std::string(300, 'n') +
            "\"\r\n\"Key\"=hex:01,02,03\r\n\"Home\"=hex(2):25,50,72,6f,67,25,00\r\n"
            "\"Modules\"=hex(7):61,00,62,00,00\r\n\"Big\"=hex(b):01,02,03,04,05,06,07,08\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tarvo\\98\\Types\\Empty]\r\n\r\n");
    const std::string original = exportSoftware(before);  // Wine completes the prefix here
    testsupport::WaitForWineServer(before);
    std::vector<std::string> restored;
    for (const bool byWine : {false, true}) {
        const std::string prefix = folder + (byWine ? "/by-wine" : "/by-sorvel");
        ASSERT_EQ(std::system(("cp -a '" + before + "' '" + prefix + "'").c_str()), 0);
        const std::string backup = folder + (byWine ? "/by-wine.reg" : "/by-sorvel.reg");
        const ProgramResult clean = RunProgram(
            SORVEL_PROGRAM,
            {"--clean", "--settings", "--keywords", SORVEL_SOURCE_DIR "/demo/taRegKeywords.txt",
             "--backup", backup},
            {{"WINEPREFIX", prefix}, {"DISPLAY", {}}});
        ASSERT_EQ(clean.status, 0) << clean.errors;
        ASSERT_THAT(clean.output, HasSubstr("removed HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\"));
        if (!byWine) {
            const std::string written = testsupport::ReadFile(backup);
            for (const char* kind : {"=hex:", "=hex(2):", "=hex(7):", "=hex(b):", "=dword:"})
                EXPECT_THAT(written, HasSubstr(kind));
        }
        if (byWine) {
            const testsupport::WineResult imported = testsupport::RunWine(
                prefix, {"reg", "import", "Z:" + backup, "/reg:64"});
            ASSERT_EQ(imported.status, 0) << imported.output;
        } else {
            // No Wine can start: neither the loader nor the server is on the way.
            const ProgramResult restore =
                RunProgram(SORVEL_PROGRAM, {"--restore", backup, "--json"},
                           {{"WINEPREFIX", prefix}, {"PATH", "/nonexistent"},
                            {"WINELOADER", "/bin/false"}, {"WINESERVER", "/bin/false"}});
            EXPECT_EQ(restore.status, 0) << restore.errors;
            EXPECT_THAT(restore.errors, HasSubstr("every key and value of the file came back"));
            const nlohmann::json document = nlohmann::json::parse(restore.output);
            EXPECT_EQ(document["mode"], "restore");
            EXPECT_EQ(document["exit"], 0);
            ASSERT_FALSE(document["keys"].empty());
            for (const nlohmann::json& key : document["keys"]) EXPECT_EQ(key["state"], "restored");
        }
        restored.push_back(exportSoftware(prefix));
        EXPECT_TRUE(restored.back() == original) << (byWine ? "reg import" : "--restore");
    }
    EXPECT_TRUE(restored[0] == restored[1]);
    testsupport::RemoveTree(folder);
}

TEST_F(UnattendedTest, ARestoreRefusesAFileThatDeletesAndWritesNothing) {
    const std::string system = prefix.Read("system.reg");
    for (const char* line : {"[-HKEY_CLASSES_ROOT\\Nexbay.Doc]", "\"Level\"=-"}) {
        SCOPED_TRACE(line);
        const std::string file = folder + "/deletes.reg";
        testsupport::WriteFile(file, std::string("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\New]\r\n") +
                                         "@=\"x\"\r\n" + line + "\r\n");
        const ProgramResult result = Run({"--restore", file});
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(result.errors, HasSubstr("line 5: the file deletes"));
    }
    EXPECT_TRUE(prefix.Read("system.reg") == system);
}

}  // namespace
}  // namespace removal_test
