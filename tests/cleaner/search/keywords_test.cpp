// LoadKeywords on real files: trimming, line ends, odd bytes and sizes, byte-order marks, the
// path rule, failures.
#include "tests/cleaner/search/search_fixture.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

namespace cleaner::testing {
namespace {

namespace fs = std::filesystem;

class LoadKeywordsTest : public SearchTest {
protected:
    fs::path dir;
    fs::path savedCwd;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("sorvel-keywords-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        savedCwd = fs::current_path();
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(savedCwd);
        fs::remove_all(dir);
        SearchTest::TearDown();
    }

    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream out(dir / name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const Keyword& k : fennick.Keywords) {
            EXPECT_EQ(k.TypeLibId, "");
            out.push_back(k.Text);
        }
        return out;
    }
    // Loads a file holding bytes from the current folder.
    std::vector<std::string> Load(const std::string& bytes) {
        Write("taRegKeywords.txt", bytes);
        EXPECT_TRUE(fennick.LoadKeywords("taRegKeywords.txt"));
        return Texts();
    }
};

TEST_F(LoadKeywordsTest, TrimsSpacesAndSkipsBlankLines) {
    EXPECT_EQ(Load("  Alpha\r\n\r\n   \r\nBeta  \r\n"), (Lines{"Alpha", "Beta"}));
    EXPECT_EQ(Load("Alpha\r\nBeta\r\n\r\n\r\n   \r\n"), (Lines{"Alpha", "Beta"}));
}

TEST_F(LoadKeywordsTest, OnlySpacesAreTrimmed) {
    EXPECT_EQ(Load("\t\r\n \tx\t \r\n\x0B" "y\r\n\xA0z\r\n"),
              (Lines{"\t", "\tx\t", "\x0By", "\xA0z"}));
}

TEST_F(LoadKeywordsTest, LinesEndInCrLfOrCrOrLf) {
    EXPECT_EQ(Load("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(Load("a\n\rb\r\r\nc\n\n"), (Lines{"a", "b", "c"}));
}

TEST_F(LoadKeywordsTest, DuplicatesStayInFileOrder) {
    EXPECT_EQ(Load("acme\r\nzeta\r\nacme\r\n"), (Lines{"acme", "zeta", "acme"}));
}

TEST_F(LoadKeywordsTest, KeepsWindows1252Unchanged) {
    EXPECT_EQ(Load("\xC9" "cole \x80\r\nnext\r\n"), (Lines{"\xC9" "cole \x80", "next"}));
}

TEST_F(LoadKeywordsTest, ReadsAMegabyteLineWhole) {
    // The line ends right across the reader's block boundaries, CR in one block and LF in the
    // next, so no byte may be lost or doubled there.
    std::string longLine(1024 * 1024 - 1, 'k');
    longLine[0] = 'A';
    longLine.back() = 'Z';
    EXPECT_EQ(Load(longLine + "\r\nnext\r\n"), (Lines{longLine, "next"}));
    std::string exact(64 * 1024 - 1, 'q');
    EXPECT_EQ(Load(exact + "\r\nafter"), (Lines{exact, "after"}));
}

TEST_F(LoadKeywordsTest, ReadsAMillionLines) {
    std::string bytes;
    for (int i = 0; i < 1000000; ++i) {
        bytes += "k" + std::to_string(i) + (i % 2 ? "\n" : "\r\n");
    }
    Lines texts = Load(bytes);
    ASSERT_EQ(texts.size(), 1000000u);
    EXPECT_EQ(texts.front(), "k0");
    EXPECT_EQ(texts[500000], "k500000");
    EXPECT_EQ(texts.back(), "k999999");
}

// A byte-order mark and the text after it in UTF-16, little- or big-endian.
std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

TEST_F(LoadKeywordsTest, AByteOrderMarkSaysHowTheFileIsRead) {
    const Lines expected{"\xC9" "cole", "\x80" "uro", "Beta"};
    EXPECT_EQ(Load("\xEF\xBB\xBF\xC3\x89" "cole\r\n\xE2\x82\xAC" "uro\r\n  Beta  \r\n"), expected);
    for (const bool bigEndian : {false, true}) {
        EXPECT_EQ(Load(Utf16(u"\u00C9cole\r\n\u20ACuro\r\n  Beta  \r\n", bigEndian)), expected);
    }
}

TEST_F(LoadKeywordsTest, AKeywordWithoutAWindows1252FormIsReportedByItsLine) {
    Write("utf16.txt", Utf16(u"Alpha\r\n\r\n\u03A9mega\r\n", false));
    Write("utf8.txt", "\xEF\xBB\xBF" "Alpha\n\xC1\x81\n\xF0\x9F\x98\x80\n");  // an overlong 'A'
    EXPECT_FALSE(fennick.LoadKeywords("utf16.txt"));
    EXPECT_FALSE(fennick.LoadKeywords("utf8.txt"));
    ASSERT_EQ(view.calls.size(), 4u);
    EXPECT_THAT(view.calls[0], ::testing::StartsWith("message:Line 3 of the keyword file \"utf16.txt\""));
    EXPECT_THAT(view.calls[2], ::testing::StartsWith("message:Lines 2 and 3 of the keyword file"));
    EXPECT_EQ(view.calls[3], "status:Error opening keywords file");
}

// UTF-16 without a mark (every second byte NUL), or any NUL in a file without a mark, could
// match nothing: one message says what is wrong and what to do, and the file counts as unread.
TEST_F(LoadKeywordsTest, AFileWithNulBytesAndNoMarkIsRefused) {
    const std::string unmarked = Utf16(u"Tarvo\r\nNexbay\r\n", false).substr(2);
    for (const std::string& bytes : {unmarked, std::string("Tarvo\r\na\0b\r\n", 12)}) {
        view.calls.clear();
        Write("words.txt", bytes);
        fennick.Keywords = {Keyword{"old", ""}};
        EXPECT_FALSE(fennick.LoadKeywords("words.txt"));
        EXPECT_TRUE(fennick.Keywords.empty());
        ASSERT_EQ(view.calls.size(), 2u);
        EXPECT_THAT(view.calls[0], ::testing::StartsWith(
                                       "message:The keyword file \"words.txt\" holds NUL bytes"));
        EXPECT_THAT(view.calls[0], ::testing::HasSubstr("UTF-16 with a byte-order mark"));
        EXPECT_EQ(view.calls[1], "status:Error opening keywords file");
    }
    // With a mark the same text is read as it is meant.
    EXPECT_EQ(Load(Utf16(u"Tarvo\r\nNexbay\r\n", false)), (Lines{"Tarvo", "Nexbay"}));
}

TEST_F(LoadKeywordsTest, AFileWithoutKeywordsLoadsAnEmptyList) {
    EXPECT_EQ(Load(""), Lines{});
    EXPECT_EQ(Load("   \r\n\r\n"), Lines{});
    EXPECT_TRUE(view.calls.empty());
}

TEST_F(LoadKeywordsTest, EachLoadReplacesTheListAndItsTypeLibIds) {
    Load("acme\r\nzeta\r\n");
    fennick.Keywords[0].TypeLibId = "{T1}";
    EXPECT_EQ(Load("acme\r\nzeta\r\n"), (Lines{"acme", "zeta"}));  // Texts() checks TypeLibId
}

TEST_F(LoadKeywordsTest, AnAbsolutePathIsUsedAsItStands) {
    Write("words.txt", "acme\n");
    fs::current_path(savedCwd);
    EXPECT_TRUE(fennick.LoadKeywords((dir / "words.txt").string()));
    EXPECT_EQ(Texts(), (Lines{"acme"}));
}

TEST_F(LoadKeywordsTest, ARelativeNameIsTakenFromTheCurrentFolder) {
    fs::create_directories(dir / "sub");
    Write("sub/words.txt", "in sub\n");
    EXPECT_TRUE(fennick.LoadKeywords("sub/words.txt"));
    EXPECT_EQ(Texts(), (Lines{"in sub"}));
}

TEST_F(LoadKeywordsTest, AFileThatCannotBeReadIsReportedOnTheStatusLine) {
    fs::create_directories(dir / "folder");
    for (const std::string name : {"missing.txt", "folder", ""}) {
        view.calls.clear();
        EXPECT_FALSE(fennick.LoadKeywords(name)) << name;
        EXPECT_EQ(view.calls, (Lines{"status:Error opening keywords file"})) << name;
    }
}

}  // namespace
}  // namespace cleaner::testing
