// sorvel's platform on Linux with the Qt window: the Linux platform (Wine prefix, arguments,
// terminal) with frmFennick and Qt's message boxes. The Qt application is made when the first
// box or the window needs it, so a command-line run with nothing to report never touches the
// display.
#pragma once

#include "cleaner/linux/linux_platform.h"

#include <QApplication>

#include <memory>
#include <string>

namespace cleaner {

class QtPlatform : public LinuxPlatform {
public:
    using LinuxPlatform::LinuxPlatform;

    // Empty when a display is named (DISPLAY or WAYLAND_DISPLAY set) or QT_QPA_PLATFORM chooses
    // Qt's platform. Qt would end the process without one, with advice to reinstall the program.
    std::string WindowProblem() override;
    void ShowReport(const std::string& text) override;
    void ProcessEvents() override;
    std::unique_ptr<MainWindow> CreateMainWindow() override;

private:
    void StartApplication();

    std::unique_ptr<QApplication> app_;
};

}  // namespace cleaner
