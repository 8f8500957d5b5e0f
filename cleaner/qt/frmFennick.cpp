#include "cleaner/qt/frmFennick.h"

#include "cleaner/qt/qt_cp1252.h"
#include "cleaner/qt/qt_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QPushButton>

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

// The icon lives in this static library's resources, which the linker keeps only when asked to.
static void InitWindowResources() { Q_INIT_RESOURCE(sorvel); }

namespace cleaner {

namespace {

// The layout is kept in twips, the unit the window was drawn in.
QRect Twips(const FormControl& control) {
    return QRect(control.left / kTwipsPerPixel, control.top / kTwipsPerPixel,
                 control.width / kTwipsPerPixel, control.height / kTwipsPerPixel);
}

template <typename Control>
Control* Place(QWidget* parent, const FormControl& entry) {
    auto* control = new Control(parent);
    control->setObjectName(QString::fromLatin1(entry.name));
    control->setGeometry(Twips(entry));
    if (entry.tabIndex >= 0) control->setProperty("TabIndex", entry.tabIndex);
    return control;
}

QLabel* PlaceLabel(QWidget* parent, const FormControl& entry) {
    auto* label = Place<QLabel>(parent, entry);
    label->setText(QString::fromLatin1(entry.text));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLineEdit* PlacePathBox(QWidget* parent, const FormControl& entry) {
    auto* box = Place<QLineEdit>(parent, entry);
    box->setText(QString::fromLatin1(entry.text));
    box->setCursorPosition(0);
    return box;
}

// A field the run writes and the user only reads, on the button face like a caption.
QLineEdit* PlaceDisplayBox(QWidget* parent, const FormControl& entry) {
    auto* box = Place<QLineEdit>(parent, entry);
    box->setReadOnly(true);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    box->setPalette(palette);
    return box;
}

// Multi-line and read-only, on the ordinary text background.
QPlainTextEdit* PlaceWarningBox(QWidget* parent, const FormControl& entry) {
    auto* box = Place<QPlainTextEdit>(parent, entry);
    box->setReadOnly(true);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // the fixed text fits
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->document()->setDocumentMargin(2);
    box->setPlainText(QString::fromLatin1(entry.text).replace(QStringLiteral("\r\n"),
                                                              QStringLiteral("\n")));
    return box;
}

QCheckBox* PlaceCheckBox(QWidget* parent, const FormControl& entry) {
    auto* box = Place<QCheckBox>(parent, entry);
    box->setText(QString::fromLatin1(entry.text));
    box->setChecked(entry.ticked);
    return box;
}

QPushButton* PlaceButton(QWidget* parent, const FormControl& entry) {
    auto* button = Place<QPushButton>(parent, entry);
    button->setText(QString::fromLatin1(entry.text));
    button->setAutoDefault(false);
    return button;
}

// A plain one-pixel line in the text colour.
QFrame* PlaceLine(QWidget* parent, const FormControl& entry) {
    auto* line = Place<QFrame>(parent, entry);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(1);
    line->setFixedHeight(1);
    return line;
}

QWidget* PlaceControl(QWidget* parent, const FormControl& entry) {
    switch (entry.kind) {
        case ControlKind::Label: return PlaceLabel(parent, entry);
        case ControlKind::PathBox: return PlacePathBox(parent, entry);
        case ControlKind::DisplayBox: return PlaceDisplayBox(parent, entry);
        case ControlKind::WarningBox: return PlaceWarningBox(parent, entry);
        case ControlKind::CheckBox: return PlaceCheckBox(parent, entry);
        case ControlKind::Button: return PlaceButton(parent, entry);
        case ControlKind::Line: return PlaceLine(parent, entry);
    }
    return nullptr;
}

// The layout was drawn for an 8-point sans-serif font of Windows' metrics; the first of these
// that is installed comes nearest (fontconfig picks a sans-serif when none is).
QFont LayoutFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

// Windows' check-box values: 0 not ticked, 1 ticked, 2 greyed.
int CheckValue(const QCheckBox* box) {
    switch (box->checkState()) {
        case Qt::Unchecked:
            return 0;
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
    }
    return 0;
}

}  // namespace

frmFennick::frmFennick(QWidget* parent) : QWidget(parent, Qt::Window) {
    InitWindowResources();
    setObjectName(QStringLiteral("frmFennick"));
    setWindowTitle(QString::fromLatin1(kWindowCaption));
    setWindowIcon(QIcon(QStringLiteral(":/sorvel/sorvel.xpm")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(LayoutFont());
    CreateControls();
    SetTabOrder();
    connect(cmdRemove, &QPushButton::clicked, this, &frmFennick::cmdRemove_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmFennick::cmdCancel_Click);
}

frmFennick::~frmFennick() = default;

void frmFennick::CreateControls() {
    for (const FormControl& entry : kFormControls) Keep(entry.id, PlaceControl(this, entry));
}

// Each control under its own name, as the run and the tests know it.
void frmFennick::Keep(ControlId id, QWidget* control) {
    switch (id) {
        case ControlId::Label3: Label3 = static_cast<QLabel*>(control); break;
        case ControlId::txtKeyFile: txtKeyFile = static_cast<QLineEdit*>(control); break;
        case ControlId::Label4: Label4 = static_cast<QLabel*>(control); break;
        case ControlId::txtRegFile: txtRegFile = static_cast<QLineEdit*>(control); break;
        case ControlId::Check1: Check1 = static_cast<QCheckBox*>(control); break;
        case ControlId::Check2: Check2 = static_cast<QCheckBox*>(control); break;
        case ControlId::Line1: Line1 = static_cast<QFrame*>(control); break;
        case ControlId::Label1: Label1 = static_cast<QLabel*>(control); break;
        case ControlId::txtKeyWord: txtKeyWord = static_cast<QLineEdit*>(control); break;
        case ControlId::Label2: Label2 = static_cast<QLabel*>(control); break;
        case ControlId::txtRegistryHive: txtRegistryHive = static_cast<QLineEdit*>(control); break;
        case ControlId::txtStatus: txtStatus = static_cast<QLineEdit*>(control); break;
        case ControlId::cmdRemove: cmdRemove = static_cast<QPushButton*>(control); break;
        case ControlId::Label5: Label5 = static_cast<QLabel*>(control); break;
        case ControlId::Label6: Label6 = static_cast<QLabel*>(control); break;
        case ControlId::cmdCancel: cmdCancel = static_cast<QPushButton*>(control); break;
        case ControlId::Text1: Text1 = static_cast<QLineEdit*>(control); break;
        case ControlId::Text2: Text2 = static_cast<QLineEdit*>(control); break;
        case ControlId::Text3: Text3 = static_cast<QPlainTextEdit*>(control); break;
    }
}

// Tab moves through the controls that take the focus in the order of the tab indices they were
// placed with, and the first of them has the focus when the window opens.
void frmFennick::SetTabOrder() {
    std::vector<QWidget*> chain;
    for (QWidget* control : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (control->property("TabIndex").isValid() && (control->focusPolicy() & Qt::TabFocus)) {
            chain.push_back(control);
        }
    }
    std::sort(chain.begin(), chain.end(), [](const QWidget* a, const QWidget* b) {
        return a->property("TabIndex").toInt() < b->property("TabIndex").toInt();
    });
    for (std::size_t i = 1; i < chain.size(); ++i) {
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    }
    chain.front()->setFocus();
}

void frmFennick::Attach(FennickRun& run) { run_ = &run; }
void frmFennick::SetAsker(Asker asker) { asker_ = std::move(asker); }
void frmFennick::SetTeller(Teller teller) { teller_ = std::move(teller); }
void frmFennick::SetEnder(Ender ender) { ender_ = std::move(ender); }

int frmFennick::Exec() {
    QApplication::setWindowIcon(windowIcon());
    show();
    return QApplication::exec();
}

bool frmFennick::RunStarted() const { return run_ != nullptr && run_->RunStarted(); }

void frmFennick::ShowField(QLineEdit* field, const std::string& text) {
    if (!RunStarted()) {
        return;  // nothing is shown before the first run
    }
    field->setText(FromCp1252(text));
    field->setCursorPosition(0);  // show a long text from its start
    field->repaint();             // visible now, while the run keeps this thread busy
}

void frmFennick::UpdateRegistryHiveText(const std::string& text) {
    ShowField(txtRegistryHive, text);
}
void frmFennick::UpdateStatusText(const std::string& text) { ShowField(txtStatus, text); }
void frmFennick::UpdateKeywordText(const std::string& text) { ShowField(txtKeyWord, text); }

void frmFennick::ShowMessage(const std::string& text) { Report(FromCp1252(text)); }

void frmFennick::Report(const QString& text) {
    if (teller_) {
        teller_(text);
    } else {
        ShowReport(this, text);
    }
}

void frmFennick::DoEvents() { QCoreApplication::processEvents(); }

int frmFennick::Check1Value() const { return CheckValue(Check1); }
int frmFennick::Check2Value() const { return CheckValue(Check2); }
std::string frmFennick::KeyFileText() const { return txtKeyFile->text().toStdString(); }
std::string frmFennick::RegFileText() const { return txtRegFile->text().toStdString(); }

void frmFennick::SetText1(const std::string& text) { Text1->setText(QString::fromStdString(text)); }
void frmFennick::SetText2(const std::string& text) { Text2->setText(QString::fromStdString(text)); }

std::string frmFennick::TimeOfDayText() {
    return cleaner::TimeOfDayText(QLocale::system(), QTime::currentTime()).toStdString();
}

void frmFennick::RefreshWindow() { repaint(); }

RunWindow::Answer frmFennick::Ask(const std::string& question) {
    const QString text = FromCp1252(question);
    return asker_ ? asker_(text) : AskOkCancel(this, text);
}

void frmFennick::ShowPlatformMessage(const std::string& text) {
    Report(QString::fromStdString(text));
}

void frmFennick::UnloadWindow() {
    unloading_ = true;
    hide();
}

void frmFennick::EndProgram() { EndWith(0); }

void frmFennick::EndWith(int exitStatus) {
    if (ender_) {
        ender_(exitStatus);
    } else {
        QCoreApplication::exit(exitStatus);
    }
}

void frmFennick::cmdRemove_Click() {
    if (run_ == nullptr) {
        return;
    }
    try {
        run_->cmdRemove_Click();
    } catch (const std::exception& failure) {
        // Nothing in the run expects this: say what happened and end, as a failed program does.
        Report(QStringLiteral("The run stopped: %1\r\nThe program ends now.")
                   .arg(QString::fromUtf8(failure.what())));
        UnloadWindow();
        EndWith(1);
    }
}

void frmFennick::cmdCancel_Click() {
    if (run_ != nullptr) {
        run_->cmdCancel_Click();
    } else {
        UnloadWindow();
        EndProgram();
    }
}

// Closing the window while a run is under way ends the program as Cancel does; when idle, the
// window simply goes and the program ends with it.
void frmFennick::closeEvent(QCloseEvent* event) {
    if (!unloading_ && run_ != nullptr && run_->Running()) {
        run_->cmdCancel_Click();
    }
    event->accept();
}

}  // namespace cleaner
