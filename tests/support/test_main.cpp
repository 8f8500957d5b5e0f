// The tests' main: GoogleTest's, except that a test which skips itself fails. A skipped test
// proves nothing, and GoogleTest reports as skipped every test of a fixture whose setup failed
// (its peer, Wine or a server, could not be set up), which ctest would then count as skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Stands in front of GoogleTest's own printer and forwards everything to it, but ends the
// program with a failure at the first skipped test, before the printer can call it a skip.
class NoSkips : public ::testing::EmptyTestEventListener {
public:
    explicit NoSkips(::testing::TestEventListener* printer) : printer_(printer) {}

    void OnTestProgramStart(const ::testing::UnitTest& test) override { printer_->OnTestProgramStart(test); }
    void OnTestIterationStart(const ::testing::UnitTest& test, int iteration) override {
        printer_->OnTestIterationStart(test, iteration);
    }
    void OnEnvironmentsSetUpStart(const ::testing::UnitTest& test) override { printer_->OnEnvironmentsSetUpStart(test); }
    void OnEnvironmentsSetUpEnd(const ::testing::UnitTest& test) override { printer_->OnEnvironmentsSetUpEnd(test); }
    void OnTestSuiteStart(const ::testing::TestSuite& suite) override { printer_->OnTestSuiteStart(suite); }
    void OnTestStart(const ::testing::TestInfo& info) override { printer_->OnTestStart(info); }
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (result.skipped()) return;  // told below as the failure it is
        printer_->OnTestPartResult(result);
    }
    void OnTestEnd(const ::testing::TestInfo& info) override {
        if (info.result() != nullptr && info.result()->Skipped()) {
            std::printf("[  FAILED  ] %s.%s was skipped; a test here never is: whatever it needs "
                        "must be there (see the messages above)\n",
                        info.test_suite_name(), info.name());
            std::fflush(stdout);
            std::_Exit(1);
        }
        printer_->OnTestEnd(info);
    }
    void OnTestSuiteEnd(const ::testing::TestSuite& suite) override { printer_->OnTestSuiteEnd(suite); }
    void OnEnvironmentsTearDownStart(const ::testing::UnitTest& test) override {
        printer_->OnEnvironmentsTearDownStart(test);
    }
    void OnEnvironmentsTearDownEnd(const ::testing::UnitTest& test) override {
        printer_->OnEnvironmentsTearDownEnd(test);
    }
    void OnTestIterationEnd(const ::testing::UnitTest& test, int iteration) override {
        printer_->OnTestIterationEnd(test, iteration);
    }
    void OnTestProgramEnd(const ::testing::UnitTest& test) override { printer_->OnTestProgramEnd(test); }

private:
    std::unique_ptr<::testing::TestEventListener> printer_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    ::testing::TestEventListener* printer = listeners.Release(listeners.default_result_printer());
    if (printer != nullptr) listeners.Append(new NoSkips(printer));
    return RUN_ALL_TESTS();
}
