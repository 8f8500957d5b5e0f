// frmFennick, the one window of sorvel, in Qt 6 Widgets: two path boxes, two check boxes, the
// Remove... and Cancel buttons, the display fields the run writes, and the warning text.
// The run itself lives in FennickRun (run.h); this class only shows and forwards.
#pragma once

#include "cleaner/run/control_table.h"
#include "cleaner/run/run.h"
#include "cleaner/startup/startup_platform.h"

#include <QWidget>

#include <functional>
#include <string>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QCloseEvent;

namespace cleaner {

// Client area at 15 twips a pixel: 311 x 272.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidth = kClientWidthTwips / kTwipsPerPixel;
inline constexpr int kClientHeight = kClientHeightTwips / kTwipsPerPixel;

class frmFennick : public QWidget, public MainWindow {
    Q_OBJECT

public:
    // Answers a question of the run; the window's own shows a modal message box.
    using Asker = std::function<Answer(const QString& question)>;
    // Shows a report of the registry layer; the window's own shows a modal OK-only box.
    using Teller = std::function<void(const QString& text)>;
    // Ends the program at once with the exit status; the start-up's saves the registry's
    // changed files first.
    using Ender = std::function<void(int exitStatus)>;

    explicit frmFennick(QWidget* parent = nullptr);
    ~frmFennick() override;

    void SetAsker(Asker asker);
    void SetTeller(Teller teller);

    // --- MainWindow
    void Attach(FennickRun& run) override;
    void SetEnder(Ender ender) override;
    // Shows the window and runs the application's event loop until the window is gone.
    int Exec() override;

    // --- FennickView / RegistryUi
    void UpdateRegistryHiveText(const std::string& text) override;
    void UpdateStatusText(const std::string& text) override;
    void UpdateKeywordText(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    void DoEvents() override;

    // --- RunWindow
    int Check1Value() const override;
    int Check2Value() const override;
    std::string KeyFileText() const override;
    std::string RegFileText() const override;
    void SetText1(const std::string& text) override;
    void SetText2(const std::string& text) override;
    std::string TimeOfDayText() override;
    void RefreshWindow() override;
    Answer Ask(const std::string& question) override;
    void ShowPlatformMessage(const std::string& text) override;
    void UnloadWindow() override;
    void EndProgram() override;

    // The controls, under their names (each also carries its name as objectName).
    QLabel* Label3 = nullptr;
    QLineEdit* txtKeyFile = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtRegFile = nullptr;
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QFrame* Line1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtKeyWord = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtRegistryHive = nullptr;
    QLineEdit* txtStatus = nullptr;
    QPushButton* cmdRemove = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QPushButton* cmdCancel = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPlainTextEdit* Text3 = nullptr;

public slots:
    void cmdRemove_Click();
    void cmdCancel_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void Keep(ControlId id, QWidget* control);
    void SetTabOrder();
    bool RunStarted() const;
    void ShowField(QLineEdit* field, const std::string& text);
    void Report(const QString& text);
    void EndWith(int exitStatus);

    FennickRun* run_ = nullptr;
    Asker asker_;
    Teller teller_;
    Ender ender_;
    bool unloading_ = false;
};

}  // namespace cleaner
