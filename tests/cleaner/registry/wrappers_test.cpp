// RegOpen, RegClose, RegGet, and the two report forms.
#include "cleaner/registry/failure_reports.h"
#include "layer_fixture.h"

#include <stdexcept>

namespace cleaner::testing {
namespace {

using Op = testsupport::FaultyRegistry::Op;

TEST(FailureTexts, NumbersCarryABlankInTheSignPosition) {
    EXPECT_EQ(NumberText(5), " 5");
    EXPECT_EQ(NumberText(0), " 0");
    EXPECT_EQ(NumberText(-5), "-5");
    EXPECT_EQ(RegistryFailureText("First Reg :", "", 259, "No more data is available.\r\n"),
              "First Reg : -  259 - No more data is available.\r\n");
    EXPECT_EQ(UnexpectedFailureText("Get - error #", 6, "Overflow"),
              "Get - error # 6 : Overflow\rPlease exit and try again.");
}

TEST(FailureTexts, EachKindOfFailureHasItsNumber) {
    EXPECT_EQ(DescribeFailure(std::bad_alloc()).number, kFailureOutOfMemory);
    EXPECT_EQ(DescribeFailure(std::length_error("x")).number, kFailureInvalidArgument);
    EXPECT_EQ(DescribeFailure(OverflowFailure()).number, kFailureOverflow);
    const FailureDescription other = DescribeFailure(std::runtime_error("disc gone"));
    EXPECT_EQ(other.number, kFailureInternal);
    EXPECT_EQ(other.description, "Internal error (disc gone)");
}

class Wrappers : public LayerTest {
protected:
    void SetUp() override {
        registry.SetString(kHkcr, "CLSID\\{K}", "", "Thing");
        registry.SetString(kHkcr, "CLSID\\{K}\\InprocServer32", "", "c:\\x\\a.dll");
        registry.SetValue(kHkcr, "CLSID\\{K}", "Long", platform::kRegBinary,
                          std::string(300, 'b'));
        registry.SetValue(kHkcr, "CLSID\\{K}", "Empty", platform::kRegBinary, "");
        registry.SetValue(kHkcr, "CLSID\\{K}", "Num", platform::kRegDword,
                          std::string("\x01\x02\x03\x04", 4));
    }
};

TEST_F(Wrappers, OpenJoinsKeyPathAndSubKeyWithOneBackslash) {
    HKEY handle = 0;
    ASSERT_TRUE(reg.RegOpen(kHkcr, "CLSID", "{K}", handle));
    std::string data;
    EXPECT_TRUE(reg.RegGet(handle, "", data));
    EXPECT_EQ(data, "Thing");
    EXPECT_TRUE(reg.RegClose(handle));

    ASSERT_TRUE(reg.RegOpen(kHkcr, "CLSID\\{K}", "", handle));
    EXPECT_TRUE(reg.RegGet(handle, "", data));
    EXPECT_EQ(data, "Thing");
    EXPECT_TRUE(reg.RegClose(handle));
    ExpectNoMessages();
    ExpectNoLeaks();
}

TEST_F(Wrappers, TellsALinkKeyByItsTypedLinkValue) {
    registry.SetValue(kHkcr, "Wow6432Node\\TypeLib", "SymbolicLinkValue", platform::kRegLink,
                      std::string("\\\0R\0", 4));
    registry.SetString(kHkcr, "Wow6432Node\\Fake", "SymbolicLinkValue", "not a link");
    EXPECT_TRUE(reg.IsLinkKey(kHkcr, "Wow6432Node", "TypeLib"));
    EXPECT_FALSE(reg.IsLinkKey(kHkcr, "Wow6432Node", "Fake"));
    EXPECT_FALSE(reg.IsLinkKey(kHkcr, "Wow6432Node", "Missing"));
    EXPECT_FALSE(reg.IsLinkKey(kHkcr, "CLSID", "{K}"));
    ExpectNoMessages();
    ExpectNoLeaks();
}

TEST_F(Wrappers, OpenOfAMissingKeyIsSilentAndLeavesTheHandle) {
    HKEY handle = 1234;
    EXPECT_FALSE(reg.RegOpen(kHkcr, "CLSID", "{missing}", handle));
    EXPECT_EQ(handle, 1234u);
    ExpectNoMessages();
}

TEST_F(Wrappers, RefusedOpenReportsPathCodeAndSystemText) {
    faulty.FailOpen(kHkcr, "CLSID\\{K}", platform::kErrorAccessDenied);
    HKEY handle = 0;
    EXPECT_FALSE(reg.RegOpen(kHkcr, "CLSID", "{K}", handle));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Open Reg:CLSID\\{K} -  5 - Access is denied.\r\n");
}

TEST_F(Wrappers, OpenBelowAnInvalidHandleReportsCodeSix) {
    HKEY handle = 0;
    EXPECT_FALSE(reg.RegOpen(0x1234, "Sub", "", handle));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Open Reg:Sub -  6 - The handle is invalid.\r\n");
}

TEST_F(Wrappers, ReportWithoutSystemTextKeepsItsLayout) {
    faulty.FailOpen(kHkcr, "CLSID\\{K}", 4242);  // a code with no system text
    HKEY handle = 0;
    EXPECT_FALSE(reg.RegOpen(kHkcr, "CLSID\\{K}", "", handle));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Open Reg:CLSID\\{K} -  4242 - ");
}

TEST_F(Wrappers, CloseTellsOnlyByItsResult) {
    const HKEY handle = Open(kHkcr, "CLSID");
    EXPECT_TRUE(reg.RegClose(handle));
    EXPECT_FALSE(reg.RegClose(handle));  // already closed: code 6, no report
    ExpectNoMessages();
}

TEST_F(Wrappers, GetDropsTheLastByteAndRefusesLongData) {
    const HKEY handle = Open(kHkcr, "CLSID\\{K}");
    std::string data = "old";
    EXPECT_TRUE(reg.RegGet(handle, "", data));
    EXPECT_EQ(data, "Thing");
    // A number gives its first three bytes as characters; the type is not looked at.
    EXPECT_TRUE(reg.RegGet(handle, "Num", data));
    EXPECT_EQ(data, std::string("\x01\x02\x03", 3));
    // Reported size 0: empty data, and true.
    data = "old";
    EXPECT_TRUE(reg.RegGet(handle, "Empty", data));
    EXPECT_EQ(data, "");
    // 300 bytes do not fit the 255-byte buffer: false, empty, no report.
    data = "old";
    EXPECT_FALSE(reg.RegGet(handle, "Long", data));
    EXPECT_EQ(data, "");
    data = "old";
    EXPECT_FALSE(reg.RegGet(handle, "Missing", data));
    EXPECT_EQ(data, "");
    EXPECT_TRUE(reg.RegClose(handle));
    ExpectNoMessages();
}

TEST_F(Wrappers, DataOf255BytesIsReadAnd256AreNot) {
    registry.SetString(kHkcr, "Edge", "fits", std::string(254, 'f'));   // 255 with its NUL
    registry.SetString(kHkcr, "Edge", "over", std::string(255, 'o'));   // 256 with its NUL
    const HKEY handle = Open(kHkcr, "Edge");
    std::string data;
    EXPECT_TRUE(reg.RegGet(handle, "fits", data));
    EXPECT_EQ(data, std::string(254, 'f'));
    EXPECT_FALSE(reg.RegGet(handle, "over", data));
    reg.RegClose(handle);
}

TEST_F(Wrappers, UnexpectedFailuresAreReportedUnderEachWrappersLabel) {
    HKEY handle = 0;
    faulty.ThrowOnCall(Op::Open);
    EXPECT_FALSE(reg.RegOpen(kHkcr, "CLSID", "", handle));

    handle = Open(kHkcr, "CLSID\\{K}");
    std::string data = "old";
    faulty.ThrowOnCall(Op::Query);
    EXPECT_FALSE(reg.RegGet(handle, "", data));
    EXPECT_EQ(data, "");

    faulty.ThrowOnCall(Op::Close);
    EXPECT_FALSE(reg.RegClose(handle));
    EXPECT_TRUE(reg.RegClose(handle));

    ASSERT_EQ(ui.messages.size(), 3u);
    EXPECT_EQ(ui.messages[0], OutOfMemoryReport("Open - error #"));
    EXPECT_EQ(ui.messages[1], OutOfMemoryReport("Get - error #"));
    EXPECT_EQ(ui.messages[2], OutOfMemoryReport("Close - error #"));
    ExpectNoLeaks();
}

}  // namespace
}  // namespace cleaner::testing
