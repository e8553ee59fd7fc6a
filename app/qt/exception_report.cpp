#include "exception_report.h"

#include <QCoreApplication>

#include "notices.h"

QString ExceptionReportText(const QString& message) {
  if (!message.isEmpty() && message.back() > QChar('.')) return message + '.';
  return message;
}

void ShowException(const QString& message) {
  win::MessageBoxA(nullptr, ExceptionReportText(message).toStdString().c_str(),
                   QCoreApplication::applicationName().toStdString().c_str(), win::MB_ICONERROR);
}
