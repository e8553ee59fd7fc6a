// Velotrunk: the window. Takes no arguments.
#include <QApplication>
#include <QDir>
#include <QIcon>

#include "exception_report.h"
#include "form1.h"
#include "proxy.h"
#include "qt_message_boxes.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QCoreApplication::setApplicationName("Velotrunk");
  QIcon icon;
  for (const QFileInfo& size : QDir(":/icons").entryInfoList()) icon.addFile(size.filePath());
  QApplication::setWindowIcon(icon);
  QtMessageBoxes messageBoxes;
  try {
    Form1 = new TForm1;
    Form1->show();
    QApplication::exec();
  } catch (const std::exception& error) {
    ShowException(QString::fromStdString(error.what()));
  }
  // The program ends promptly: boxes waiting on the window give up, the
  // engine stops, and then the window goes (saving if the close did not).
  messageBoxes.Shutdown();
  StopRelayThread();
  delete Form1;
  Form1 = nullptr;
  return 0;
}
