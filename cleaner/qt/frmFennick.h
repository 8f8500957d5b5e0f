// frmFennick, the one window of sorvel, in Qt 6 Widgets: two path boxes, two check boxes, the
// Remove... and Cancel buttons, the display fields the run writes, and the warning text.
// What the window does lives in FennickForm (cleaner/run/form.h); this class makes the controls
// and hands FennickForm their events.
#pragma once

#include "cleaner/run/control_table.h"
#include "cleaner/run/form.h"

#include <QWidget>

#include <array>
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

class frmFennick : public QWidget, public FennickForm {
    Q_OBJECT

public:
    // Answers a question of the run; the window's own shows a modal message box.
    using Asker = std::function<Answer(const QString& question)>;
    // Shows a report of the registry layer; the window's own shows a modal OK-only box.
    using Teller = std::function<void(const QString& text)>;

    explicit frmFennick(QWidget* parent = nullptr);
    ~frmFennick() override;

    void SetAsker(Asker asker);
    void SetTeller(Teller teller);

    // Shows the window and runs the application's event loop until the window is gone.
    int Exec() override;

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Controls;  // the controls as FennickForm reaches them

    void CreateControls();
    void Keep(ControlId id, QWidget* control);
    void SetTabOrder();
    QLineEdit* Field(ControlId id) const;

    std::array<QWidget*, kFormControls.size()> byId_{};
    Asker asker_;
    Teller teller_;
};

}  // namespace cleaner
