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
#include <memory>
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
int CheckValueOf(const QCheckBox* box) {
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

// Qt's own text and the platform's are UTF-8; the registry's is Windows-1252.
QString Decoded(const std::string& text, TextCode code) {
    return code == TextCode::Registry ? FromCp1252(text) : QString::fromStdString(text);
}

}  // namespace

// What FennickForm does to the window's widgets; it lives as long as the window (FennickForm
// owns it).
class frmFennick::Controls final : public FormControls {
public:
    explicit Controls(frmFennick& window) : window_(window) {}

    void SetControlText(ControlId id, const std::string& text, TextCode code) override {
        if (QLineEdit* field = window_.Field(id)) field->setText(Decoded(text, code));
    }
    std::string ControlText(ControlId id) const override {
        const QLineEdit* field = window_.Field(id);
        return field != nullptr ? field->text().toStdString() : std::string();
    }
    int CheckValue(ControlId id) const override {
        const auto* box =
            qobject_cast<const QCheckBox*>(window_.byId_[static_cast<std::size_t>(id)]);
        return box != nullptr ? CheckValueOf(box) : 0;
    }
    void PaintControlNow(ControlId id) override {
        if (QLineEdit* field = window_.Field(id)) {
            field->setCursorPosition(0);  // show a long text from its start
            field->repaint();
        }
    }
    void PaintWindowNow() override { window_.repaint(); }
    RunWindow::Answer AskOkCancel(const std::string& question) override {
        const QString text = FromCp1252(question);
        return window_.asker_ ? window_.asker_(text) : cleaner::AskOkCancel(&window_, text);
    }
    void Tell(const std::string& text, TextCode code) override {
        const QString shown = Decoded(text, code);
        if (window_.teller_) {
            window_.teller_(shown);
        } else {
            ShowReport(&window_, shown);
        }
    }
    void HideWindow() override { window_.hide(); }
    void QuitEventLoop(int exitStatus) override { QCoreApplication::exit(exitStatus); }
    void PumpEvents() override { QCoreApplication::processEvents(); }
    std::string LocalTimeText() override {
        return cleaner::TimeOfDayText(QLocale::system(), QTime::currentTime()).toStdString();
    }

private:
    frmFennick& window_;
};

frmFennick::frmFennick(QWidget* parent)
    : QWidget(parent, Qt::Window), FennickForm(std::make_unique<Controls>(*this)) {
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
    connect(cmdRemove, &QPushButton::clicked, this, [this] { cmdRemove_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
}

frmFennick::~frmFennick() = default;

void frmFennick::CreateControls() {
    for (const FormControl& entry : kFormControls) Keep(entry.id, PlaceControl(this, entry));
}

// Each control under its own name, as the run and the tests know it.
void frmFennick::Keep(ControlId id, QWidget* control) {
    byId_[static_cast<std::size_t>(id)] = control;
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

void frmFennick::SetAsker(Asker asker) { asker_ = std::move(asker); }
void frmFennick::SetTeller(Teller teller) { teller_ = std::move(teller); }

int frmFennick::Exec() {
    QApplication::setWindowIcon(windowIcon());
    show();
    return QApplication::exec();
}

QLineEdit* frmFennick::Field(ControlId id) const {
    return qobject_cast<QLineEdit*>(byId_[static_cast<std::size_t>(id)]);
}

void frmFennick::closeEvent(QCloseEvent* event) {
    WindowClosing();
    event->accept();
}

}  // namespace cleaner
