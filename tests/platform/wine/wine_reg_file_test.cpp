// Wine's registry files: what the loader accepts and refuses, and the exact text the writer
// produces.
#include "platform/registry/memory_registry.h"
#include "platform/registry/text.h"
#include "store_test_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::detail::FileProblem;
using platform::detail::Hive;
using platform::detail::Tree;

const std::string kHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";

// Loads a hive into a MemoryRegistry so that it can be read through the Win32 calls.
class LoadedRegistry : public ::testing::Test {
protected:
    bool Load(const std::string& text) {
        std::string_view header;
        return storetest::Load(reg.Tree(), text, header, problem);
    }

    std::string Query(const char* path, const char* name, platform::DWORD* type = nullptr) {
        platform::HKEY key = 0;
        if (reg.RegOpenKeyExA(platform::kHkeyLocalMachine, path, 0, 0x3F, &key) != 0) return "<no key>";
        unsigned char data[512];
        platform::DWORD size = sizeof data;
        const platform::LONG rc = reg.RegQueryValueExA(key, name, nullptr, type, data, &size);
        reg.RegCloseKey(key);
        return rc == 0 ? std::string(reinterpret_cast<char*>(data), size) : "<rc " + std::to_string(rc) + ">";
    }

    std::vector<std::string> Subkeys(const char* path) {
        platform::HKEY key = 0;
        if (reg.RegOpenKeyExA(platform::kHkeyLocalMachine, path, 0, 0x3F, &key) != 0) return {"<no key>"};
        std::vector<std::string> names = storetest::SubkeyNames(reg, key);
        reg.RegCloseKey(key);
        return names;
    }

    // The last write time of the machine hive's subkey at index.
    std::uint64_t TopKeyTime(platform::DWORD index) {
        std::uint64_t time = 0;
        char name[16];
        platform::DWORD size = sizeof name;
        EXPECT_EQ(reg.RegEnumKeyExA(platform::kHkeyLocalMachine, index, name, &size, nullptr, nullptr, nullptr, &time), 0);
        return time;
    }

    platform::MemoryRegistry reg;
    FileProblem problem;
};

TEST_F(LoadedRegistry, ReadsEveryValueForm) {
    ASSERT_TRUE(Load(kHeader +
                     "\n[A] 1700000000\n#time=1d9f0b1c2d3e4f5\n"
                     "@=\"def\"\n"
                     "\"sz\"=\"\\x00e9a\\\"q\\\\\"\n"
                     "\"str\"=str:\"plain\"\n"
                     "\"exp\"=str(2):\"%x%\"\n"
                     "\"multi\"=str(7):\"a\\0b\\0\"\n"
                     "  \"dw\" = dword:0000ABCD\n"
                     "\"bin\"=hex:01, 02 ,FF,\\\n   03,\\\n  04\n"
                     "\"q\"=hex(b):01,02,03,04,05,06,07,08\n"
                     "\"utf8\"=\"\xc3\xa9\"\n"
                     "\"euro\"=\"\\x20ac\"\n"))
        << problem.line << ": " << problem.what;
    platform::DWORD type = 0;
    EXPECT_EQ(Query("A", ""), std::string("def", 4));
    EXPECT_EQ(Query("A", "SZ", &type), std::string("\xe9" "a\"q\\", 6));
    EXPECT_EQ(type, platform::kRegSz);
    EXPECT_EQ(Query("A", "str", &type), std::string("plain", 6));
    EXPECT_EQ(Query("A", "exp", &type), std::string("%x%", 4));
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_EQ(Query("A", "multi", &type), std::string("a\0b\0\0", 5));
    EXPECT_EQ(type, platform::kRegMultiSz);
    EXPECT_EQ(Query("A", "dw", &type), std::string("\xcd\xab\0\0", 4));
    EXPECT_EQ(type, platform::kRegDword);
    EXPECT_EQ(Query("A", "bin", &type), std::string("\x01\x02\xff\x03\x04", 5));
    EXPECT_EQ(Query("A", "q", &type), std::string("\1\2\3\4\5\6\7\x08", 8));
    EXPECT_EQ(type, platform::kRegQword);
    EXPECT_EQ(Query("A", "utf8"), std::string("\xe9", 2));
    EXPECT_EQ(Query("A", "euro"), std::string("\x80", 2));
    EXPECT_EQ(TopKeyTime(0), 0x1d9f0b1c2d3e4f5ull);  // #time wins over the seconds
}

TEST_F(LoadedRegistry, BuildsImplicitKeysMergesDuplicatesAndAcceptsCrLf) {
    ASSERT_TRUE(Load("WINE REGISTRY Version 2\r\n;; comment\r\n\r\n#arch=win64\r\n#future=1\r\n"
                     "\r\n[Top\\\\Mid\\\\Leaf] 1700000000\r\n\"v\"=\"1\"\r\n"
                     "\r\n  [Dup] 1700000000\r\n;; a comment inside\r\n#unknown option\r\n\"a\"=\"first\"\r\n\"b\"=\"b\"\r\n"
                     "\r\n[dup] 1700000001\r\n\"A\"=\"second\"\r\n\"c\"=\"c\"\r\n"
                     "\r\n[Esc\\[x\\]] 1\r\n#class=\"Cl\\\"s\"\r\n#link\r\n"))
        << problem.line << ": " << problem.what;
    EXPECT_EQ(Subkeys(""), (std::vector<std::string>{"Dup", "Esc[x]", "Top"}));
    EXPECT_EQ(Subkeys("Top"), std::vector<std::string>{"Mid"});
    EXPECT_EQ(Query("top\\mid\\leaf", "v"), std::string("1", 2));
    EXPECT_EQ(Query("Dup", "a"), std::string("second", 7));
    EXPECT_EQ(Query("Dup", "c"), std::string("c", 2));
    // An implicit key takes the time of its first descendant.
    EXPECT_EQ(TopKeyTime(2), 1700000000ull * 10000000ull + 116444736000000000ull);
    char name[16], cls[16];
    platform::DWORD size = sizeof name, classSize = sizeof cls;
    ASSERT_EQ(reg.RegEnumKeyExA(platform::kHkeyLocalMachine, 1, name, &size, nullptr, cls, &classSize, nullptr), 0);
    EXPECT_STREQ(cls, "Cl\"s");
}

TEST_F(LoadedRegistry, KeepsTheFirstSpellingOfANameAndReadsTimesAfterValues) {
    // Keys named first by a subkey's line, plain or escaped, then given blocks of their own.
    ASSERT_TRUE(Load(kHeader + "\n[top\\\\sub] 1\n\n[TOP] 2\n\"v\"=\"1\"\n#time=1da0000000000000\n"
                               "\n[Caf\\xe9\\\\x] 3\n\n[CAF\\xc9] 4\n"))
        << problem.line << ": " << problem.what;
    EXPECT_EQ(Subkeys(""), (std::vector<std::string>{"Caf\xE9", "top"}));
    EXPECT_EQ(Query("Top", "v"), std::string("1", 2));
    std::uint64_t times[2] = {};
    for (platform::DWORD i = 0; i < 2; ++i) {
        char name[16];
        platform::DWORD size = sizeof name;
        ASSERT_EQ(reg.RegEnumKeyExA(platform::kHkeyLocalMachine, i, name, &size, nullptr, nullptr, nullptr, &times[i]), 0);
    }
    EXPECT_EQ(times[0], 4ull * 10000000ull + 116444736000000000ull);
    EXPECT_EQ(times[1], 0x1da0000000000000ull);
}

TEST_F(LoadedRegistry, SortsSiblingsGivenOutOfOrderAndMergesThem) {
    // Past a few hundred siblings the loader appends and sorts at the end; the result must be
    // the same as inserting in order.
    std::string text = kHeader;
    for (int i = 2999; i >= 0; --i) text += "\n[List\\\\K" + std::to_string(i) + "] 1\n\"n\"=dword:0000000" + std::to_string(i % 10) + "\n";
    text += "\n[LIST\\\\k1500] 1\n\"late\"=\"x\"\n\n[List\\\\_first] 1\n";
    ASSERT_TRUE(Load(text)) << problem.what;
    const std::vector<std::string> names = Subkeys("List");
    ASSERT_EQ(names.size(), 3001u);
    EXPECT_EQ(names[0], "_first");
    EXPECT_EQ(names[1], "K0");
    EXPECT_EQ(names[2], "K1");
    EXPECT_EQ(names[3], "K10");
    for (std::size_t i = 1; i < names.size(); ++i)
        EXPECT_LT(platform::text::CompareNames(platform::text::FromCp1252(names[i - 1]),
                                               platform::text::FromCp1252(names[i])), 0) << names[i];
    EXPECT_EQ(Query("List\\K1500", "late"), std::string("x", 2));
    EXPECT_EQ(Query("List\\K1500", "n"), std::string("\0\0\0\0", 4));
}

TEST(WineRegFileLoader, RefusesMalformedFilesWithTheLine) {
    struct Case {
        std::string body;  // after the header's four lines
        std::size_t line;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"\n[A\n", 6, "closing ]"},
        {"\n[A] 12x\n", 6, "after the key name"},
        {"\n[A] 99999999999\n", 6, "32-bit"},
        {"\"v\"=\"1\"\n", 5, "before the first key"},
        {"\n[A]\n\"v\"=\"1\n", 7, "closing \""},
        {"\n[A]\n\"v\" \"1\"\n", 7, "'='"},
        {"\n[A]\n\"v\"=str(3):\"x\"\n", 7, "unknown type"},
        {"\n[A]\n\"v\"=dword:123456789\n", 7, "greater than ffffffff"},
        {"\n[A]\n\"v\"=dword:\n", 7, "not hex digits"},
        {"\n[A]\n\"v\"=dword:12 zz\n", 7, "not hex digits"},
        {"\n[A]\n\"v\"=hex:01,123\n", 7, "greater than ff"},
        {"\n[A]\n\"v\"=hex:01,zz\n", 7, "unexpected character"},
        {"\n[A]\n\"v\"=hex:01,\\\n", 7, "past the end"},
        {"\n[A]\n\"v\"=hex(x):01\n", 7, "hex(...)"},
        {"\n[A]\n\"v\"=\"x\" junk\n", 7, "after a string value"},
        {"\n[A]\n\"v\"=\"\xff\"\n", 7, "UTF-8"},
        {"\n[A]\n#class=x\n", 7, "#class"},
        {"\n[A]\nrandom text\n", 7, "neither a key"},
        {"\n[" + std::string(256, 'k') + "]\n", 6, "255"},
        {std::string("\n[A]\n\"v\"=\"a\0b\"\n", 13), 7, "NUL"},
        {"#arch=win16\n", 5, "#arch"},
    };
    for (const Case& c : cases) {
        Tree tree;
        std::string_view header;
        FileProblem problem;
        EXPECT_FALSE(storetest::Load(tree, kHeader + c.body, header, problem)) << c.body;
        EXPECT_EQ(problem.line, c.line) << c.body;
        EXPECT_NE(problem.what.find(c.reason), std::string::npos) << c.body << " -> " << problem.what;
    }
    Tree tree;
    std::string_view header;
    FileProblem problem;
    EXPECT_FALSE(storetest::Load(tree, "REGEDIT4\n\n[HKEY_CURRENT_USER\\x]\n", header, problem));
    EXPECT_EQ(problem.line, 1u);
    EXPECT_FALSE(storetest::Load(tree, "", header, problem));
}

TEST(WineRegFileWriter, KeepsUnchangedBlocksAndRewritesOnlyWhatDeletionTouched) {
    const std::string text = kHeader +
                             "\n[Keep] 1\n#time=1\n;; hand-written, kept as it is\n\"x\"=hex:AA, BB\n"
                             "\n[Keep\\\\Child] 1\n#time=1\n"
                             "\n[Lone\\\\Mid\\\\Leaf] 2\n#time=2\n\"v\"=\"1\"\n"
                             "\n[Parent] 3\n#time=3\n\"p\"=dword:00000001\n"
                             "\n[Parent\\\\Gone] 3\n#time=3\n"
                             "\n[Parent\\\\Stays] 3\n#time=3\n";
    platform::MemoryRegistry reg;
    std::string_view header;
    FileProblem problem;
    ASSERT_TRUE(storetest::Load(reg.Tree(), text, header, problem)) << problem.what;
    EXPECT_EQ(storetest::Write(reg.Tree(), header), text);
    EXPECT_EQ(reg.RegDeleteKeyA(platform::kHkeyLocalMachine, "Lone\\Mid\\Leaf"), 0);
    EXPECT_EQ(reg.RegDeleteKeyA(platform::kHkeyLocalMachine, "Parent\\Gone"), 0);
    const std::string saved = storetest::Write(reg.Tree(), header);
    // The parent left empty gets a block (with the deletion time); the one above stays implicit.
    const std::size_t mid = saved.find("\n[Lone\\\\Mid] ");
    ASSERT_NE(mid, std::string::npos) << saved;
    EXPECT_EQ(saved.find("[Lone] "), std::string::npos);
    EXPECT_EQ(saved.find("Leaf"), std::string::npos);
    EXPECT_EQ(saved.find("Gone"), std::string::npos);
    EXPECT_NE(saved.find("\n[Parent] "), std::string::npos);
    EXPECT_EQ(saved.find("\n[Parent] 3\n"), std::string::npos);  // its time is the deletion's
    EXPECT_EQ(saved.substr(0, saved.find("\n[Lone")),
              kHeader + "\n[Keep] 1\n#time=1\n;; hand-written, kept as it is\n\"x\"=hex:AA, BB\n"
                        "\n[Keep\\\\Child] 1\n#time=1\n");
    EXPECT_NE(saved.find("\"p\"=dword:00000001\n\n[Parent\\\\Stays] 3\n#time=3\n"), std::string::npos);
    EXPECT_EQ(saved.back(), '\n');
    EXPECT_NE(saved.substr(saved.size() - 2), "\n\n");
}

TEST(WineRegFileWriter, WritesAnEmptyHiveAsItsRootBlock) {
    platform::MemoryRegistry reg;
    std::string_view header;
    FileProblem problem;
    ASSERT_TRUE(storetest::Load(reg.Tree(), kHeader + "\n[Only] 5\n#time=5\n", header, problem));
    ASSERT_EQ(reg.RegDeleteKeyA(platform::kHkeyLocalMachine, "Only"), 0);
    const std::string saved = storetest::Write(reg.Tree(), header);
    EXPECT_EQ(saved.rfind(kHeader + "\n[] ", 0), 0u) << saved;
}

}  // namespace
