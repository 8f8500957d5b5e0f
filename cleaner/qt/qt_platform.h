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

    // Empty when Qt can show windows. Qt ends the process when it cannot open its display; so
    // when Qt is to use the X server (neither QT_QPA_PLATFORM nor Wayland say otherwise), that
    // server is asked first, and a display that is unset or does not answer is named here.
    std::string WindowProblem() override;
    void ShowReport(const std::string& text) override;
    void ProcessEvents() override;
    std::unique_ptr<MainWindow> CreateMainWindow() override;

private:
    void StartApplication();

    std::unique_ptr<QApplication> app_;
};

}  // namespace cleaner
