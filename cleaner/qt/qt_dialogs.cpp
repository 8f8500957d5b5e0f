#include "cleaner/qt/qt_dialogs.h"

#include <QPushButton>

namespace cleaner {

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& question) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QString::fromLatin1(runtext::kTitle),
                                             question, QMessageBox::Ok | QMessageBox::Cancel, parent);
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Cancel);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

std::unique_ptr<QMessageBox> MakeReportBox(QWidget* parent, const QString& text) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QString::fromLatin1(kReportTitle),
                                             text, QMessageBox::Ok, parent);
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Ok);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

RunWindow::Answer AskOkCancel(QWidget* parent, const QString& question) {
    auto box = MakeQuestionBox(parent, question);
    box->exec();
    return box->clickedButton() == box->button(QMessageBox::Ok) ? RunWindow::Answer::Ok
                                                                : RunWindow::Answer::Cancel;
}

void ShowReport(QWidget* parent, const QString& text) { MakeReportBox(parent, text)->exec(); }

QString TimeOfDayText(const QLocale& locale, const QTime& time) {
    // Drop the time-zone letters ('t', outside quoted text) and the blanks around them.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString timeOnly;
    bool quoted = false;
    for (QChar ch : format) {
        if (ch == QLatin1Char('\'')) {
            quoted = !quoted;
        }
        if (!quoted && ch == QLatin1Char('t')) {
            continue;
        }
        timeOnly.append(ch);
    }
    return locale.toString(time, timeOnly.simplified());
}

}  // namespace cleaner
