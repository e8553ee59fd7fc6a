// The standard report of an error that reaches the user: a message box with
// the message, a "." added when its last character sorts after ".", the
// application's name as caption and the error icon.
#pragma once

#include <QString>

QString ExceptionReportText(const QString& message);
void ShowException(const QString& message);
