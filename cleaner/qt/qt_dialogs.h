// The message boxes and the time text of the window, kept apart so that tests can check how
// each box is made without waiting for a user to answer it.
#pragma once

#include "cleaner/run/run.h"

#include <QLocale>
#include <QMessageBox>
#include <QString>
#include <QTime>

#include <memory>

class QWidget;

namespace cleaner {

// Title of the registry layer's reports and of the start-up's messages: the program's name.
inline constexpr const char* kReportTitle = "sorvel";

// A question of the run: OK and Cancel, no icon, title "Tarvo Fennick", OK the default; Esc or
// the close control answer Cancel.
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& question);
// A report: OK only, no icon, title "sorvel".
std::unique_ptr<QMessageBox> MakeReportBox(QWidget* parent, const QString& text);

// Shows the box modally and waits for the answer: OK only when OK was pressed.
RunWindow::Answer AskOkCancel(QWidget* parent, const QString& question);
void ShowReport(QWidget* parent, const QString& text);

// The time of day in the locale's long time format with any time-zone name left out: time only,
// with its seconds, as the platform shows a time.
QString TimeOfDayText(const QLocale& locale, const QTime& time);

}  // namespace cleaner
