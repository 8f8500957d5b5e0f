// The Wine helpers themselves: a prefix copy is a working prefix, and import/export reach it.
#include "tests/support/wine.h"

#include <gtest/gtest.h>

namespace {

TEST(WineSupport, CopiedPrefixImportsAndExportsKeys) {
    testsupport::WinePrefix prefix;
    testsupport::RegImport(prefix.Path(),
                           "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\SorvelProbe]\r\n\"Name\"=\"value\"\r\n");
    EXPECT_TRUE(testsupport::RegKeyExists(prefix.Path(), "HKCU\\Software\\SorvelProbe"));
    const std::string text = testsupport::RegExport(prefix.Path(), "HKCU\\Software\\SorvelProbe");
    EXPECT_NE(text.find("\"Name\"=\"value\""), std::string::npos) << text;
    EXPECT_NE(testsupport::ReadFile(prefix.File("user.reg")).find("SorvelProbe"), std::string::npos);
}

}  // namespace
