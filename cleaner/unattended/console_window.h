// frmFennick without a screen, for the modes that scripts start: the same FennickForm and the same
// run as the window's, with the fields filled from the command line, every question answered OK
// in advance, and what the window would show going to the caller instead (status lines and
// reports), so that an unattended run is the window's run and no copy of it.
//
// Standard library only: it builds for Windows too.
#pragma once

#include "cleaner/run/form.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleaner {

// What the console window's fields hold: the two path boxes (as file names of this platform) and
// the two check boxes.
struct ConsoleFields {
    std::string keyFile;
    std::string regFile;
    bool removeKeys = true;
    bool removeSettings = false;
};

// Where the console window's output goes. Each text is UTF-8.
struct ConsoleSinks {
    std::function<void(const std::string&)> status;  // a new text of the status field
    std::function<void(const std::string&)> report;  // a report the window would show in a box
};

class ConsoleWindow : public FennickForm {
public:
    ConsoleWindow(const ConsoleFields& fields, ConsoleSinks sinks);

    // Presses Remove... once and returns the status the program should end with: 0 unless the
    // run ended the program (a failure nothing expected gives 1).
    int Exec() override;

    // Every report in the order given, as UTF-8.
    const std::vector<std::string>& Reports() const;
    // Every text the status field took, in order.
    const std::vector<std::string>& StatusTexts() const;

private:
    class Controls;
    explicit ConsoleWindow(Controls* controls);  // takes it over
    Controls* controls_;  // owned by the form
};

}  // namespace cleaner
