// One QApplication for a whole test program (Qt allows one per process), always on Qt's
// offscreen platform, so the tests need no display and do not depend on the one they find.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace cleaner::test {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "sorvel-test";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

}  // namespace cleaner::test
