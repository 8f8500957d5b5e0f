#include "cleaner/window/frmFennick.h"

#include "cleaner/window/qt_cp1252.h"
#include "cleaner/window/qt_dialogs.h"

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
QRect Twips(int left, int top, int width, int height) {
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

template <typename Control>
Control* Place(QWidget* parent, const char* name, const QRect& geometry, int tabIndex) {
    auto* control = new Control(parent);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    control->setProperty("TabIndex", tabIndex);
    return control;
}

QLabel* PlaceLabel(QWidget* parent, const char* name, const char* caption, const QRect& geometry,
                   int tabIndex) {
    auto* label = Place<QLabel>(parent, name, geometry, tabIndex);
    label->setText(QString::fromLatin1(caption));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLineEdit* PlacePathBox(QWidget* parent, const char* name, const char* text,
                        const QRect& geometry, int tabIndex) {
    auto* box = Place<QLineEdit>(parent, name, geometry, tabIndex);
    box->setText(QString::fromLatin1(text));
    box->setCursorPosition(0);
    return box;
}

// A field the run writes and the user only reads, on the button face like a caption.
QLineEdit* PlaceDisplayBox(QWidget* parent, const char* name, const QRect& geometry,
                           int tabIndex) {
    auto* box = Place<QLineEdit>(parent, name, geometry, tabIndex);
    box->setReadOnly(true);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    box->setPalette(palette);
    return box;
}

QCheckBox* PlaceCheckBox(QWidget* parent, const char* name, const char* caption, bool ticked,
                         const QRect& geometry, int tabIndex) {
    auto* box = Place<QCheckBox>(parent, name, geometry, tabIndex);
    box->setText(QString::fromLatin1(caption));
    box->setChecked(ticked);
    return box;
}

QPushButton* PlaceButton(QWidget* parent, const char* name, const char* caption,
                         const QRect& geometry, int tabIndex) {
    auto* button = Place<QPushButton>(parent, name, geometry, tabIndex);
    button->setText(QString::fromLatin1(caption));
    button->setAutoDefault(false);
    return button;
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
    Label3 = PlaceLabel(this, "Label3", "Key File", Twips(240, 120, 1095, 255), 7);
    txtKeyFile = PlacePathBox(this, "txtKeyFile", "taRegKeywords.txt",
                              Twips(1320, 120, 3255, 315), 8);
    Label4 = PlaceLabel(this, "Label4", "Reg File", Twips(240, 480, 1095, 255), 10);
    txtRegFile = PlacePathBox(this, "txtRegFile", "taDeletedRegKeys.reg",
                              Twips(1320, 480, 3255, 315), 9);
    Check1 = PlaceCheckBox(this, "Check1", "Remove Keys", true, Twips(1320, 840, 1335, 255), 15);
    Check2 = PlaceCheckBox(this, "Check2", "Remove Settings", false,
                           Twips(2880, 840, 1695, 255), 16);

    // A plain one-pixel line in the text colour, from 240 to 4560 twips at 1155.
    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Plain);
    Line1->setLineWidth(1);
    Line1->setGeometry(240 / kTwipsPerPixel, 1155 / kTwipsPerPixel,
                       (4560 - 240) / kTwipsPerPixel, 1);

    Label1 = PlaceLabel(this, "Label1", "Key Word", Twips(240, 1200, 1095, 255), 0);
    txtKeyWord = PlaceDisplayBox(this, "txtKeyWord", Twips(1320, 1200, 3255, 315), 2);
    Label2 = PlaceLabel(this, "Label2", "Registry Hive", Twips(240, 1560, 1095, 255), 1);
    txtRegistryHive = PlaceDisplayBox(this, "txtRegistryHive", Twips(1320, 1560, 3255, 315), 3);
    txtStatus = PlaceDisplayBox(this, "txtStatus", Twips(240, 1920, 4335, 315), 4);
    cmdRemove = PlaceButton(this, "cmdRemove", "Remove...", Twips(240, 2280, 975, 615), 6);
    Label5 = PlaceLabel(this, "Label5", "Start", Twips(1440, 2280, 855, 255), 13);
    Label6 = PlaceLabel(this, "Label6", "End", Twips(2520, 2280, 855, 255), 14);
    cmdCancel = PlaceButton(this, "cmdCancel", "Cancel", Twips(3600, 2280, 975, 615), 5);
    Text1 = PlaceDisplayBox(this, "Text1", Twips(1440, 2520, 855, 375), 11);
    Text2 = PlaceDisplayBox(this, "Text2", Twips(2520, 2520, 855, 375), 12);

    // Multi-line and read-only, on the ordinary text background.
    Text3 = Place<QPlainTextEdit>(this, "Text3", Twips(240, 3000, 4335, 975), 17);
    Text3->setReadOnly(true);
    Text3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // the fixed text fits
    Text3->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text3->document()->setDocumentMargin(2);
    Text3->setPlainText(QString::fromLatin1(kWarningText).replace(QStringLiteral("\r\n"),
                                                                  QStringLiteral("\n")));
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
