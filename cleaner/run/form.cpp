#include "cleaner/run/form.h"

#include <exception>
#include <utility>

namespace cleaner {

FennickForm::FennickForm(std::unique_ptr<FormControls> controls, Clock clock)
    : controls_(std::move(controls)), clock_(std::move(clock)) {}

void FennickForm::SetEnder(std::function<void(int)> ender) { ender_ = std::move(ender); }

void FennickForm::ShowField(ControlId id, const std::string& text) {
    if (run_ == nullptr || !run_->RunStarted()) return;  // nothing is shown before the first run
    controls_->SetControlText(id, text, TextCode::Registry);
    controls_->PaintControlNow(id);  // visible now, while the run keeps this thread busy
}

void FennickForm::ShowWaitingKeyword() {
    if (!waitingKeyword_) return;
    const std::string text = std::move(*waitingKeyword_);
    waitingKeyword_.reset();
    keywordPainted_ = clock_();
    ShowField(ControlId::txtKeyWord, text);
}

void FennickForm::UpdateRegistryHiveText(const std::string& text) {
    ShowWaitingKeyword();
    ShowField(ControlId::txtRegistryHive, text);
}
void FennickForm::UpdateStatusText(const std::string& text) {
    ShowWaitingKeyword();
    ShowField(ControlId::txtStatus, text);
}
// Each keyword is kept; it is painted when the last paint is long enough ago, else by the next
// update, yield, question or message that finds it waiting.
void FennickForm::UpdateKeywordText(const std::string& text) {
    if (run_ == nullptr || !run_->RunStarted()) return;
    waitingKeyword_ = text;
    if (!keywordPainted_ || clock_() - *keywordPainted_ >= kKeywordPaintInterval) {
        ShowWaitingKeyword();
    }
}

void FennickForm::ShowMessage(const std::string& text) {
    ShowWaitingKeyword();
    controls_->Tell(text, TextCode::Registry);
}
void FennickForm::ShowFileMessage(const std::string& text) {
    ShowWaitingKeyword();
    controls_->Tell(text, TextCode::Native);
}
void FennickForm::ShowPlatformMessage(const std::string& text) {
    ShowWaitingKeyword();
    controls_->Tell(text, TextCode::Utf8);
}

void FennickForm::DoEvents() {
    if (waitingKeyword_ && clock_() - *keywordPainted_ >= kKeywordPaintInterval) {
        ShowWaitingKeyword();
    }
    controls_->PumpEvents();
}

int FennickForm::Check1Value() const { return controls_->CheckValue(ControlId::Check1); }
int FennickForm::Check2Value() const { return controls_->CheckValue(ControlId::Check2); }
std::string FennickForm::KeyFileText() const {
    return controls_->ControlText(ControlId::txtKeyFile);
}
std::string FennickForm::RegFileText() const {
    return controls_->ControlText(ControlId::txtRegFile);
}

void FennickForm::SetText1(const std::string& text) {
    controls_->SetControlText(ControlId::Text1, text, TextCode::Native);
}
void FennickForm::SetText2(const std::string& text) {
    controls_->SetControlText(ControlId::Text2, text, TextCode::Native);
}
std::string FennickForm::TimeOfDayText() { return controls_->LocalTimeText(); }

void FennickForm::RefreshWindow() {
    ShowWaitingKeyword();
    controls_->PaintWindowNow();
}

RunWindow::Answer FennickForm::Ask(const std::string& question) {
    ShowWaitingKeyword();
    return controls_->AskOkCancel(question);
}

void FennickForm::UnloadWindow() {
    unloading_ = true;
    controls_->HideWindow();
}

void FennickForm::EndProgram() { EndWith(0); }

void FennickForm::EndWith(int exitStatus) {
    if (ender_) {
        ender_(exitStatus);
    } else {
        controls_->QuitEventLoop(exitStatus);
    }
}

void FennickForm::cmdRemove_Click() {
    if (run_ == nullptr) return;
    try {
        run_->cmdRemove_Click();
        ShowWaitingKeyword();
    } catch (const std::exception& failure) {
        // Nothing in the run expects this: say what happened and end, as a failed program does.
        controls_->Tell(std::string("The run stopped: ") + failure.what() +
                           "\r\nThe program ends now.",
                       TextCode::Utf8);
        UnloadWindow();
        EndWith(1);
    }
}

void FennickForm::cmdCancel_Click() {
    if (run_ != nullptr) {
        run_->cmdCancel_Click();
    } else {
        UnloadWindow();
        EndProgram();
    }
}

// Closing the window while a run is under way ends the program as Cancel does; when idle, the
// window simply goes and the program ends with it.
void FennickForm::WindowClosing() {
    if (!unloading_ && run_ != nullptr && run_->Running()) run_->cmdCancel_Click();
}

}  // namespace cleaner
