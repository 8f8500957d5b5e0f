// Subkey and value walks with their shared positions.
#include "layer_fixture.h"

#include <cstring>
#include <limits>

namespace cleaner::testing {
namespace {

using Op = testsupport::FaultyRegistry::Op;

class KeyWalks : public LayerTest {
protected:
    void SetUp() override {
        registry.CreateKey(kHkcr, "Parent\\A");
        registry.CreateKey(kHkcr, "Parent\\B");
        registry.CreateKey(kHkcr, "Parent\\C");
        registry.CreateKey(kHkcr, "Other\\P");
        registry.CreateKey(kHkcr, "Other\\Q");
        registry.CreateKey(kHkcr, "Other\\R");
        registry.CreateKey(kHkcr, "Leaf");
    }
};

TEST_F(KeyWalks, WalksSubkeysInOrderAndEndsSilently) {
    const HKEY parent = Open(kHkcr, "Parent");
    std::string name;
    ASSERT_TRUE(reg.RegFirstKey(parent, name));
    EXPECT_EQ(name, "A");
    ASSERT_TRUE(reg.RegNextKey(parent, name));
    EXPECT_EQ(name, "B");
    ASSERT_TRUE(reg.RegNextKey(parent, name));
    EXPECT_EQ(name, "C");
    EXPECT_FALSE(reg.RegNextKey(parent, name));
    EXPECT_EQ(name, "");
    EXPECT_EQ(reg.RegGetKeyIndex(), 3);

    const HKEY leaf = Open(kHkcr, "Leaf");
    name = "old";
    EXPECT_FALSE(reg.RegFirstKey(leaf, name));
    EXPECT_EQ(name, "");
    EXPECT_EQ(reg.RegGetKeyIndex(), 0);
    reg.RegClose(parent);
    reg.RegClose(leaf);
    ExpectNoMessages();
}

TEST_F(KeyWalks, ThePositionIsSharedByEveryHandle) {
    const HKEY parent = Open(kHkcr, "Parent");
    const HKEY other = Open(kHkcr, "Other");
    std::string name;
    ASSERT_TRUE(reg.RegFirstKey(parent, name));
    ASSERT_TRUE(reg.RegNextKey(other, name));  // goes on at index 1, of the other key
    EXPECT_EQ(name, "Q");
    reg.RegSetKeyIndex(2);
    ASSERT_TRUE(reg.RegNextKey(parent, name));
    EXPECT_EQ(name, "C");
    reg.RegSetKeyIndex(0);
    ASSERT_TRUE(reg.RegNextKey(other, name));
    EXPECT_EQ(name, "P");
    reg.RegClose(parent);
    reg.RegClose(other);
}

TEST_F(KeyWalks, AFailureMidWalkIsReportedAndEndsTheWalk) {
    faulty.FailEnumKey(kHkcr, "Parent", 1, platform::kErrorAccessDenied);
    const HKEY parent = Open(kHkcr, "Parent");
    std::string name;
    ASSERT_TRUE(reg.RegFirstKey(parent, name));
    EXPECT_FALSE(reg.RegNextKey(parent, name));
    EXPECT_EQ(name, "");
    EXPECT_EQ(reg.RegGetKeyIndex(), 1);  // not advanced on failure
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Next Reg : -  5 - Access is denied.\r\n");
    reg.RegClose(parent);
}

TEST_F(KeyWalks, AFailingFirstReadIsReportedUnderItsOwnLabel) {
    faulty.FailEnumKey(kHkcr, "Parent", 0, platform::kErrorInvalidHandle);
    const HKEY parent = Open(kHkcr, "Parent");
    std::string name = "old";
    EXPECT_FALSE(reg.RegFirstKey(parent, name));
    EXPECT_EQ(name, "");
    reg.RegClose(parent);
    // A handle that is no longer open gives code 6 from the platform itself.
    EXPECT_FALSE(reg.RegFirstKey(parent, name));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0], "First Reg : -  6 - The handle is invalid.\r\n");
    EXPECT_EQ(ui.messages[1], "First Reg : -  6 - The handle is invalid.\r\n");
}

TEST_F(KeyWalks, NamesOf255CharactersAndMoreAreReadWhole) {
    const std::string name255(255, 'n');
    const std::string name300 = "z" + std::string(299, 'L');
    registry.CreateKey(kHkcr, "Long\\" + name255);
    registry.CreateKey(kHkcr, "Long\\" + name300);
    const HKEY parent = Open(kHkcr, "Long");
    std::string name;
    ASSERT_TRUE(reg.RegFirstKey(parent, name));
    EXPECT_EQ(name, name255);
    ASSERT_TRUE(reg.RegNextKey(parent, name));
    EXPECT_EQ(name, name300);
    EXPECT_FALSE(reg.RegNextKey(parent, name));
    reg.RegClose(parent);
    ExpectNoMessages();
}

TEST_F(KeyWalks, AFullBufferWithoutNulIsA255CharacterName) {
    faulty.enumKey = [](HKEY, DWORD index, char* buffer, DWORD* size) -> std::optional<LONG> {
        if (index == 0) {
            std::memset(buffer, 'x', *size);  // the whole buffer, no NUL
        } else {
            std::memset(buffer, 'y', *size);
            buffer[10] = '\0';
        }
        *size = 255;
        return platform::kErrorSuccess;
    };
    const HKEY parent = Open(kHkcr, "Parent");
    std::string name;
    ASSERT_TRUE(reg.RegFirstKey(parent, name));
    EXPECT_EQ(name, std::string(255, 'x'));
    ASSERT_TRUE(reg.RegNextKey(parent, name));
    EXPECT_EQ(name, std::string(10, 'y'));  // the text before the first NUL
    reg.RegClose(parent);
}

TEST_F(KeyWalks, APlatformThatNeverFitsTheNameIsNotReadPastTheBuffer) {
    // Says "more data" for a length it then does not need; writes nothing.
    faulty.enumKey = [](HKEY, DWORD, char*, DWORD* size) -> std::optional<LONG> {
        *size = 400;
        return platform::kErrorMoreData;
    };
    const HKEY parent = Open(kHkcr, "Parent");
    std::string name = "old";
    EXPECT_TRUE(reg.RegFirstKey(parent, name));  // 234 counts as success: an empty name
    EXPECT_EQ(name, "");
    EXPECT_LE(faulty.Calls(Op::EnumKey), 10);
    reg.RegClose(parent);
}

TEST_F(KeyWalks, AnIndexThatCannotAdvanceIsAnUnexpectedFailure) {
    faulty.enumKey = [](HKEY, DWORD, char* buffer, DWORD* size) -> std::optional<LONG> {
        std::memcpy(buffer, "X", 2);
        *size = 1;
        return platform::kErrorSuccess;
    };
    const HKEY parent = Open(kHkcr, "Parent");
    reg.RegSetKeyIndex(std::numeric_limits<std::int32_t>::max());
    std::string name;
    EXPECT_FALSE(reg.RegNextKey(parent, name));
    EXPECT_EQ(name, "X");  // already written: kept
    EXPECT_EQ(reg.RegGetKeyIndex(), std::numeric_limits<std::int32_t>::max());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "NextKey - error # 6 : Overflow\rPlease exit and try again.");
    reg.RegClose(parent);
}

TEST_F(KeyWalks, OutOfMemoryIsReportedUnderTheWalksLabel) {
    const HKEY parent = Open(kHkcr, "Parent");
    std::string name;
    faulty.ThrowOnCall(Op::EnumKey);
    EXPECT_FALSE(reg.RegFirstKey(parent, name));
    ASSERT_TRUE(reg.RegFirstKey(parent, name));
    faulty.ThrowOnCall(Op::EnumKey);
    EXPECT_FALSE(reg.RegNextKey(parent, name));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0], OutOfMemoryReport("FirstKey - error #"));
    EXPECT_EQ(ui.messages[1], OutOfMemoryReport("NextKey - error #"));
    reg.RegClose(parent);
}

class ValueWalks : public LayerTest {
protected:
    void SetUp() override {
        registry.SetString(kHkcr, "Key", "", "default");
        registry.SetString(kHkcr, "Key", "x", "x");
        registry.SetString(kHkcr, "Key", "empty", "");
        registry.SetValue(kHkcr, "Key", "long", platform::kRegBinary, std::string(300, 'b'));
        registry.SetValue(kHkcr, "Key", "zero", platform::kRegBinary, "");
        registry.SetDword(kHkcr, "Key", "num", 0x44434241);
        registry.CreateKey(kHkcr, "Key\\Sub1");
        registry.CreateKey(kHkcr, "Key\\Sub2");
        registry.CreateKey(kHkcr, "NoValues");
    }
};

TEST_F(ValueWalks, EachValueComesWithItsDataAsText) {
    const HKEY key = Open(kHkcr, "Key");
    std::vector<std::pair<std::string, std::string>> seen;
    std::string name;
    std::string data;
    if (reg.RegFirstValue(key, name, data)) {
        do {
            seen.emplace_back(name, data);
        } while (reg.RegNextValue(key, name, data));
    }
    EXPECT_EQ(name, "");
    EXPECT_EQ(data, "");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"", "default"}, {"x", "x"}, {"empty", ""},
        {"long", ""},    // over 255 bytes: the name, empty data, and the walk goes on
        {"zero", ""},    // reported size 0: empty data
        {"num", "ABC"},  // the last byte is dropped whatever the type
    };
    EXPECT_EQ(seen, expected);
    reg.RegClose(key);
    ExpectNoMessages();
}

TEST_F(ValueWalks, AKeyWithoutValuesGivesNothing) {
    const HKEY key = Open(kHkcr, "NoValues");
    std::string name = "old";
    std::string data = "old";
    EXPECT_FALSE(reg.RegFirstValue(key, name, data));
    EXPECT_EQ(name, "");
    EXPECT_EQ(data, "");
    reg.RegClose(key);
}

TEST_F(ValueWalks, ValueAndSubkeyPositionsAreSeparate) {
    const HKEY key = Open(kHkcr, "Key");
    std::string name;
    std::string data;
    ASSERT_TRUE(reg.RegFirstKey(key, name));
    ASSERT_TRUE(reg.RegFirstValue(key, name, data));
    ASSERT_TRUE(reg.RegNextValue(key, name, data));
    EXPECT_EQ(name, "x");
    ASSERT_TRUE(reg.RegNextKey(key, name));
    EXPECT_EQ(name, "Sub2");
    ASSERT_TRUE(reg.RegNextValue(key, name, data));
    EXPECT_EQ(name, "empty");
    reg.RegClose(key);
}

TEST_F(ValueWalks, LongValueNamesAreReadWhole) {
    const std::string longName(300, 'v');
    registry.SetString(kHkcr, "LongNames", longName, "data");
    const HKEY key = Open(kHkcr, "LongNames");
    std::string name;
    std::string data;
    ASSERT_TRUE(reg.RegFirstValue(key, name, data));
    EXPECT_EQ(name, longName);
    EXPECT_EQ(data, "data");
    reg.RegClose(key);
}

TEST_F(ValueWalks, FailuresInsideGoToTheCaller) {
    // The value walks have no failure handler: the operation that called them reports.
    const HKEY key = Open(kHkcr, "Key");
    std::string name;
    std::string data;
    faulty.ThrowOnCall(Op::EnumValue);
    EXPECT_THROW(reg.RegFirstValue(key, name, data), std::bad_alloc);
    faulty.enumValue = [](HKEY, DWORD) -> std::optional<LONG> { return 1018; };
    EXPECT_FALSE(reg.RegFirstValue(key, name, data));  // ends the walk, no report
    reg.RegClose(key);
    ExpectNoMessages();
}

}  // namespace
}  // namespace cleaner::testing
