// The store against the real Wine: it reads what Wine writes, writes what Wine would write, and
// Wine reads the result as it reads its own files.
#include "platform/wine/wine_store.h"
#include "store_test_util.h"
#include "tests/support/wine.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace {

using platform::detail::Hive;
using testsupport::ReadFile;

// Re-serializing every key of a file Wine wrote must give Wine's exact bytes.
void ExpectRewrittenIdentically(const std::string& path, Hive hive) {
    platform::detail::Tree tree;
    const std::string original = ReadFile(path);
    const std::string& kept = tree.KeepText(original);
    platform::detail::LoadedFile loaded;
    platform::detail::FileProblem problem;
    ASSERT_TRUE(platform::detail::LoadHiveFile(tree, hive, kept, loaded, problem))
        << path << ":" << problem.line << ": " << problem.what;
    EXPECT_EQ(storetest::Write(tree, loaded.header, hive), original) << path << " (blocks as read)";
    storetest::RewriteAll(tree, hive);
    const std::string rewritten = storetest::Write(tree, loaded.header, hive);
    if (rewritten != original) {
        std::size_t at = 0;
        while (at < rewritten.size() && at < original.size() && rewritten[at] == original[at]) ++at;
        const std::size_t from = at > 200 ? at - 200 : 0;
        ADD_FAILURE() << path << " differs at byte " << at << "\n--- wine:\n" << original.substr(from, 400)
                      << "\n--- ours:\n" << rewritten.substr(from, 400);
    }
}

class WineStoreInterop : public ::testing::Test {
protected:
    testsupport::WinePrefix prefix;
};

TEST_F(WineStoreInterop, WritesWinesOwnFilesByteForByte) {
    // Every value type, escapes, long names and data, a class, as Wine writes them.
    std::string reg =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\SorvelFmt]\r\n"
        "\"ctl\"=hex(1):41,00,09,00,42,00,0a,00,43,00,0d,00,44,00,01,00,35,00,01,00,78,00,1b,00,07,00,08,00,0b,00,0c,00,7f,00,1f,00,38,00,00,00\r\n"
        "\"uni\"=hex(1):e9,00,61,00,e9,00,7a,00,ac,20,3c,d8,0e,df,00,00\r\n"
        "\"quote\\\"back\\\\slash\"=\"x]y[z \\\"q\\\" \\\\\"\r\n"
        "\"brack[et]\"=\"v\"\r\n"
        "@=\"default\"\r\n"
        "\"empty\"=\"\"\r\n"
        "\"dw\"=dword:0000abcd\r\n"
        "\"exp\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\r\n"
        "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
        "\"multi_unterminated\"=hex(7):61,00,00,00,62,00\r\n"
        "\"odd_sz\"=hex(1):41,00,00,00,00\r\n"
        "\"zero_sz\"=hex(1):\r\n"
        "\"none\"=hex(0):\r\n"
        "\"dw_short\"=hex(4):01,02\r\n"
        "\"qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
        "\"devprop\"=hex(ffff0012):01\r\n";
    std::string longData = "\"long\"=hex:";
    for (int i = 0; i < 300; ++i) longData += (i ? "," : "") + std::string(i % 16 < 10 ? "0" : "1") + "a";
    reg += longData + "\r\n";
    reg += "\"" + std::string(80, 'N') + "\"=hex:01,02,03\r\n";
    reg += "\r\n[HKEY_CURRENT_USER\\Software\\SorvelFmt\\Key[br]ack\\Qu\"ote]\r\n";
    reg += "\r\n[HKEY_CURRENT_USER\\Software\\SorvelFmt\\Empty leaf]\r\n";
    reg += "\r\n[HKEY_CURRENT_USER\\Software\\SorvelFmt\\Order\\^c]\r\n"
           "[HKEY_CURRENT_USER\\Software\\SorvelFmt\\Order\\_u]\r\n"
           "[HKEY_CURRENT_USER\\Software\\SorvelFmt\\Order\\abc]\r\n"
           "[HKEY_CURRENT_USER\\Software\\SorvelFmt\\Order\\aB]\r\n"
           "[HKEY_CURRENT_USER\\Software\\SorvelFmt\\Order\\Z]\r\n";
    testsupport::RegImport(prefix.Path(), reg);
    // Narrow text: e-acute before a hex digit and the euro sign.
    testsupport::RegImport(prefix.Path(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\SorvelFmt\\Caf\xE9]\r\n"
                                          "\"\xE9" "a\"=\"\xE9" "z \x80\xE9\"\r\n");
    ExpectRewrittenIdentically(prefix.File("system.reg"), Hive::kMachine);
    ExpectRewrittenIdentically(prefix.File("user.reg"), Hive::kUser);
    ExpectRewrittenIdentically(prefix.File("userdef.reg"), Hive::kUser);
    EXPECT_NE(ReadFile(prefix.File("user.reg")).find("SorvelFmt"), std::string::npos);
}

// Splits a registry file into its key blocks, by path, in file order.
std::vector<std::pair<std::string, std::string>> Blocks(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> blocks;
    std::size_t at = text.find("\n[");
    while (at != std::string::npos) {
        const std::size_t next = text.find("\n\n[", at + 1);
        const std::string block = text.substr(at + 1, next == std::string::npos ? std::string::npos : next + 1 - (at + 1));
        blocks.emplace_back(block.substr(0, block.find("] ") + 1), block);
        at = next == std::string::npos ? next : next + 1;
    }
    return blocks;
}

// A block without its key line's time and its #time line.
std::string WithoutTimes(const std::string& block) {
    const std::size_t keyLineEnd = block.find('\n');
    std::string rest = block.substr(keyLineEnd + 1);
    if (rest.rfind("#time=", 0) == 0) rest = rest.substr(rest.find('\n') + 1);
    return block.substr(0, block.find("] ") + 1) + "\n" + rest;
}

void DeleteTree(platform::RegistryApi& reg, platform::HKEY root, const std::string& path) {
    platform::HKEY key = 0;
    ASSERT_EQ(reg.RegOpenKeyExA(root, path.c_str(), 0, 0x3F, &key), 0) << path;
    const std::vector<std::string> children = storetest::SubkeyNames(reg, key);
    reg.RegCloseKey(key);
    for (const std::string& child : children) DeleteTree(reg, root, path + "\\" + child);
    ASSERT_EQ(reg.RegDeleteKeyA(root, path.c_str()), 0) << path;
}

TEST_F(WineStoreInterop, DeletesKeysAsWineDoes) {
    testsupport::RegImport(prefix.Path(),
                           "REGEDIT4\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\SorvelDel\\Only\\Leaf]\r\n\"v\"=\"1\"\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\SorvelDel\\WithValues]\r\n\"kept\"=dword:00000001\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\SorvelDel\\WithValues\\Child]\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\SorvelDel\\WithValues\\Sibling]\r\n");
    const std::string copyFolder = testsupport::MakeTempDir("winecopy");
    const std::string copy = prefix.CopyTo(copyFolder);
    const std::string systemBefore = ReadFile(prefix.File("system.reg"));
    const std::string userBefore = ReadFile(prefix.File("user.reg"));

    {
        auto store = platform::WinePrefixStore::Open(prefix.Path());
        platform::RegistryApi& reg = store->Registry();
        DeleteTree(reg, platform::kHkeyCurrentUser, "Software\\SorvelDel\\Only\\Leaf");
        DeleteTree(reg, platform::kHkeyCurrentUser, "Software\\SorvelDel\\WithValues\\Child");
        DeleteTree(reg, platform::kHkeyClassesRoot, "CLSID\\{0000002F-0000-0000-C000-000000000046}");
        ASSERT_TRUE(store->HasChanges());
        store->Save();
        EXPECT_FALSE(store->HasChanges());
    }
    for (const char* key : {"HKCU\\Software\\SorvelDel\\Only\\Leaf", "HKCU\\Software\\SorvelDel\\WithValues\\Child",
                            "HKCR\\CLSID\\{0000002F-0000-0000-C000-000000000046}"})
        ASSERT_EQ(testsupport::RunWine(copy, {"reg", "delete", key, "/f"}).status, 0) << key;

    // The files differ from the old ones only in the deleted keys and their parents' times,
    // and the parent left empty gets a block of its own.
    const std::string systemAfter = ReadFile(prefix.File("system.reg"));
    const std::string userAfter = ReadFile(prefix.File("user.reg"));
    auto compare = [](const std::string& before, const std::string& after,
                      const std::set<std::string>& deleted, const std::set<std::string>& touched,
                      const std::set<std::string>& added) {
        const auto old = Blocks(before);
        const auto now = Blocks(after);
        std::map<std::string, std::string> oldByPath(old.begin(), old.end()), nowByPath(now.begin(), now.end());
        std::set<std::string> gone, retimed, fresh;
        std::vector<std::string> keptOrderBefore, keptOrderAfter;
        for (const auto& [path, block] : old) {
            auto it = nowByPath.find(path);
            if (it == nowByPath.end()) {
                gone.insert(path);
                continue;
            }
            keptOrderBefore.push_back(path);
            if (it->second != block) {
                EXPECT_EQ(WithoutTimes(it->second), WithoutTimes(block)) << path;
                retimed.insert(path);
            }
        }
        for (const auto& [path, block] : now)
            if (oldByPath.count(path)) keptOrderAfter.push_back(path);
            else fresh.insert(path);
        EXPECT_EQ(keptOrderBefore, keptOrderAfter);
        EXPECT_EQ(gone, deleted);
        EXPECT_EQ(retimed, touched);
        EXPECT_EQ(fresh, added);
        EXPECT_EQ(before.substr(0, before.find("\n[")), after.substr(0, after.find("\n[")));
    };
    compare(userBefore, userAfter,
            {"[Software\\\\SorvelDel\\\\Only\\\\Leaf]", "[Software\\\\SorvelDel\\\\WithValues\\\\Child]"},
            {"[Software\\\\SorvelDel\\\\WithValues]"}, {"[Software\\\\SorvelDel\\\\Only]"});
    compare(systemBefore, systemAfter,
            {"[Software\\\\Classes\\\\CLSID\\\\{0000002F-0000-0000-C000-000000000046}]",
             "[Software\\\\Classes\\\\CLSID\\\\{0000002F-0000-0000-C000-000000000046}\\\\InprocServer32]"},
            {"[Software\\\\Classes\\\\CLSID]"}, {});

    // Wine reads our files as it reads its own after `reg delete`.
    for (const char* key : {"HKCU\\Software\\SorvelDel", "HKLM\\Software\\Classes\\CLSID"})
        EXPECT_EQ(testsupport::RegExport(prefix.Path(), key), testsupport::RegExport(copy, key)) << key;
    EXPECT_TRUE(testsupport::RegKeyExists(prefix.Path(), "HKCU\\Software\\SorvelDel\\Only"));
    testsupport::WaitForWineServer(copy);
    testsupport::RemoveTree(copyFolder);
}

TEST_F(WineStoreInterop, LeavesAnUnchangedPrefixUntouched) {
    struct stat before {};
    ASSERT_EQ(::stat(prefix.File("system.reg").c_str(), &before), 0);
    const std::string bytes = ReadFile(prefix.File("system.reg"));
    {
        auto store = platform::WinePrefixStore::Open(prefix.Path());
        EXPECT_FALSE(store->HasChanges());
        store->Save();
    }
    struct stat after {};
    ASSERT_EQ(::stat(prefix.File("system.reg").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadFile(prefix.File("system.reg")), bytes);
}

// A Wine server kept running for a test, ended (with its registry saved) when the test ends.
// With a temporary folder of its own, it is where a Wine started from here does not look.
class RunningWineServer {
public:
    RunningWineServer(const std::string& prefix, const std::string& tmpdir)
        : env_("WINEPREFIX='" + prefix + "' WINEDEBUG=-all " + (tmpdir.empty() ? "" : "TMPDIR='" + tmpdir + "' ")) {
        EXPECT_EQ(std::system((env_ + "wineserver -p").c_str()), 0);
    }
    ~RunningWineServer() {
        if (std::system((env_ + "wineserver -k").c_str()) != 0) { /* already gone */ }
        if (std::system((env_ + "wineserver -w").c_str()) != 0) { /* already gone */ }
    }

private:
    std::string env_;
};

TEST_F(WineStoreInterop, RefusesAPrefixWhoseWineServerRunsHoweverItWasStarted) {
    testsupport::RegImport(prefix.Path(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\SorvelRun]\r\n");
    const std::string bytes = ReadFile(prefix.File("user.reg"));
    const std::string otherTmp = testsupport::MakeTempDir("othertmp");
    for (const std::string& tmpdir : {std::string(), otherTmp}) {
        SCOPED_TRACE("TMPDIR of the server: " + (tmpdir.empty() ? std::string("ours") : tmpdir));
        auto store = platform::WinePrefixStore::Open(prefix.Path());
        {
            // Wine started after the store loaded: the save is refused and nothing is written.
            RunningWineServer server(prefix.Path(), tmpdir);
            ASSERT_EQ(store->Registry().RegDeleteKeyA(platform::kHkeyCurrentUser, "Software\\SorvelRun"), 0);
            try {
                store->Save();
                ADD_FAILURE() << "saved while Wine runs";
            } catch (const platform::StoreError& e) {
                const std::string message = e.what();
                EXPECT_NE(message.find("Wine is running in the Wine prefix \"" + prefix.Path() + "\""), std::string::npos) << message;
                EXPECT_NE(message.find("wineserver -k"), std::string::npos) << message;
            }
            EXPECT_TRUE(ReadFile(prefix.File("user.reg")) == bytes);
            store.reset();
            try {
                platform::WinePrefixStore::Open(prefix.Path());
                ADD_FAILURE() << "opened while Wine runs";
            } catch (const platform::StoreError& e) {
                EXPECT_NE(std::string(e.what()).find("Wine is running"), std::string::npos) << e.what();
            }
        }
    }
    EXPECT_NO_THROW(platform::WinePrefixStore::Open(prefix.Path()));
    testsupport::RemoveTree(otherTmp);
}

TEST_F(WineStoreInterop, NeverUndoesWhatAWindowsProgramWroteMeanwhile) {
    testsupport::RegImport(prefix.Path(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\SorvelOld]\r\n");
    auto store = platform::WinePrefixStore::Open(prefix.Path());
    platform::RegistryApi& reg = store->Registry();
    ASSERT_EQ(reg.RegDeleteKeyA(platform::kHkeyCurrentUser, "Software\\SorvelOld"), 0);
    // While the store holds the prefix, a Windows program changes it and ends.
    ASSERT_EQ(testsupport::RunWine(prefix.Path(), {"reg", "add", "HKCU\\Software\\SorvelNew", "/f"}).status, 0);
    try {
        store->Save();
        ADD_FAILURE() << "saved over what reg wrote";
    } catch (const platform::StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("was changed by another program"), std::string::npos) << e.what();
    }
    // The next run sees the registry as Wine left it.
    store->Refresh();
    platform::HKEY key = 0;
    ASSERT_EQ(reg.RegOpenKeyExA(platform::kHkeyCurrentUser, "Software\\SorvelNew", 0, 0x3F, &key), 0);
    reg.RegCloseKey(key);
    ASSERT_EQ(reg.RegDeleteKeyA(platform::kHkeyCurrentUser, "Software\\SorvelOld"), 0);
    store->Save();
    store.reset();
    EXPECT_TRUE(testsupport::RegKeyExists(prefix.Path(), "HKCU\\Software\\SorvelNew"));
    EXPECT_FALSE(testsupport::RegKeyExists(prefix.Path(), "HKCU\\Software\\SorvelOld"));
}

std::string Utf16Hex(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        char pair[8];
        std::snprintf(pair, sizeof pair, "%s%02x,00", out.empty() ? "" : ",", static_cast<unsigned char>(c));
        out += pair;
    }
    return out;
}

// Every block of a file that is a link key, by its key line.
std::map<std::string, std::string> LinkBlocks(const std::string& text) {
    std::map<std::string, std::string> links;
    for (const auto& [path, block] : Blocks(text))
        if (block.find("\n#link\n") != std::string::npos) links.emplace(path, block);
    return links;
}

// Reads every key and value below key, as the searches do; returns the number of keys.
int WalkEverything(platform::RegistryApi& reg, platform::HKEY key) {
    int keys = 1;
    char name[256];
    unsigned char data[4096];
    for (platform::DWORD i = 0;; ++i) {
        platform::DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (reg.RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) == platform::kErrorNoMoreItems) break;
    }
    for (platform::DWORD i = 0;; ++i) {
        platform::DWORD nameSize = sizeof name;
        if (reg.RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != 0) break;
        platform::HKEY sub = 0;
        if (reg.RegOpenKeyExA(key, name, 0, 0x3F, &sub) != 0) continue;
        keys += WalkEverything(reg, sub);
        reg.RegCloseKey(sub);
    }
    return keys;
}

TEST_F(WineStoreInterop, KeepsLinkKeysByteForByteAndNeverFollowsThem) {
    // Beside Wine's own links, links a damaged or hostile file may hold: to itself, to a key
    // that does not exist, with a value cut short, with a value that is text.
    const std::string head = "\n[Software\\\\SorvelLinks\\\\";
    const std::string times = "] 1700000000\n#time=1da0000000000000\n";
    std::string system = ReadFile(prefix.File("system.reg"));
    system += head + "Damaged" + times + "#link\n\"SymbolicLinkValue\"=hex(6):5c,00,52\n";
    system += head + "Missing" + times + "#link\n\"SymbolicLinkValue\"=hex(6):" +
              Utf16Hex("\\REGISTRY\\Machine\\Software\\SorvelNowhere") + "\n";
    system += head + "Plain" + times + "\"v\"=\"1\"\n";
    system += head + "Self" + times + "#link\n\"SymbolicLinkValue\"=hex(6):" +
              Utf16Hex("\\REGISTRY\\Machine\\Software\\SorvelLinks\\Self") + "\n";
    system += head + "Text" + times + "#link\n\"SymbolicLinkValue\"=\"\\\\REGISTRY\\\\Machine\\\\Software\"\n";
    testsupport::WriteFile(prefix.File("system.reg"), system);
    const auto before = LinkBlocks(system);
    EXPECT_EQ(before.size(), 54u + 4u);
    {
        auto store = platform::WinePrefixStore::Open(prefix.Path());
        platform::RegistryApi& reg = store->Registry();
        EXPECT_GT(WalkEverything(reg, platform::kHkeyLocalMachine), 8000);
        platform::HKEY key = 0;
        ASSERT_EQ(reg.RegOpenKeyExA(platform::kHkeyLocalMachine, "Software\\SorvelLinks\\Self", 0, 0x3F, &key), 0);
        char name[64];
        platform::DWORD nameSize = sizeof name;
        EXPECT_EQ(reg.RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), platform::kErrorNoMoreItems);
        platform::DWORD type = 0;
        EXPECT_EQ(reg.RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr), 0);
        EXPECT_EQ(type, platform::kRegLink);
        reg.RegCloseKey(key);
        EXPECT_EQ(reg.RegOpenKeyExA(platform::kHkeyLocalMachine, "Software\\Wow6432Node\\Classes\\CLSID", 0, 0x3F, &key),
                  platform::kErrorFileNotFound);
        ASSERT_EQ(reg.RegDeleteKeyA(platform::kHkeyLocalMachine, "Software\\SorvelLinks\\Plain"), 0);
        store->Save();
    }
    EXPECT_EQ(LinkBlocks(ReadFile(prefix.File("system.reg"))), before);
}

}  // namespace
