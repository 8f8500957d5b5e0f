#include "cleaner/unattended/console_window.h"

#include "platform/registry/text.h"

#include <optional>
#include <utility>

namespace cleaner {
namespace {

std::string Utf8Of(const std::string& text, TextCode code) {
    if (code != TextCode::Registry) return text;
    return platform::text::Utf16ToUtf8(platform::text::FromCp1252(text));
}

// A report on one line each: the window's boxes use CR LF, and a CR alone would let a terminal
// write the next line over the last.
std::string Lines(std::string text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') continue;
            out.push_back('\n');
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace

class ConsoleWindow::Controls : public FormControls {
public:
    Controls(const ConsoleFields& fields, ConsoleSinks sinks)
        : fields_(fields), sinks_(std::move(sinks)) {}

    void SetControlText(ControlId id, const std::string& text, TextCode code) override {
        if (id != ControlId::txtStatus) return;  // the key and hive fields change too often
        statusTexts_.push_back(Utf8Of(text, code));
        if (sinks_.status) sinks_.status(statusTexts_.back());
    }
    std::string ControlText(ControlId id) const override {
        if (id == ControlId::txtKeyFile) return fields_.keyFile;
        if (id == ControlId::txtRegFile) return fields_.regFile;
        return {};
    }
    int CheckValue(ControlId id) const override {
        if (id == ControlId::Check1) return fields_.removeKeys ? 1 : 0;
        if (id == ControlId::Check2) return fields_.removeSettings ? 1 : 0;
        return 0;
    }
    void PaintControlNow(ControlId) override {}
    void PaintWindowNow() override {}
    // The one who started the program gave OK in advance by choosing the mode.
    RunWindow::Answer AskOkCancel(const std::string&) override { return RunWindow::Answer::Ok; }
    void Tell(const std::string& text, TextCode code) override {
        reports_.push_back(Lines(Utf8Of(text, code)));
        if (sinks_.report) sinks_.report(reports_.back());
    }
    void HideWindow() override {}
    void QuitEventLoop(int exitStatus) override { ended_ = exitStatus; }
    void PumpEvents() override {}
    std::string LocalTimeText() override { return {}; }

    std::optional<int> ended_;
    std::vector<std::string> reports_;
    std::vector<std::string> statusTexts_;

private:
    ConsoleFields fields_;
    ConsoleSinks sinks_;
};

ConsoleWindow::ConsoleWindow(const ConsoleFields& fields, ConsoleSinks sinks)
    : ConsoleWindow(new Controls(fields, std::move(sinks))) {}

ConsoleWindow::ConsoleWindow(Controls* controls)
    : FennickForm(std::unique_ptr<FormControls>(controls)), controls_(controls) {}

int ConsoleWindow::Exec() {
    cmdRemove_Click();
    return controls_->ended_.value_or(0);
}

const std::vector<std::string>& ConsoleWindow::Reports() const { return controls_->reports_; }
const std::vector<std::string>& ConsoleWindow::StatusTexts() const {
    return controls_->statusTexts_;
}

}  // namespace cleaner
