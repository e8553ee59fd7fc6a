// Velotrunk: the window. Takes no arguments.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>

#include "exception_report.h"
#include "form1.h"
#include "no_display.h"
#include "proxy.h"
#include "qt_message_boxes.h"
#include "stop_signals.h"

namespace {

// A stop signal closes the window as its close button would, after the
// message boxes in its way: a box of the window's own waits in a loop of
// its own, which must end for the program to end.
void CloseForStopSignal() {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible()) box->done(0);
  if (Form1) Form1->close();
}

}  // namespace

int main(int argc, char** argv) {
  NoDisplayReport noDisplay;
  QApplication application(argc, argv);
  noDisplay.Release();
  QCoreApplication::setApplicationName("Velotrunk");
  QIcon icon;
  for (const QFileInfo& size : QDir(":/icons").entryInfoList()) icon.addFile(size.filePath());
  QApplication::setWindowIcon(icon);
  QtMessageBoxes messageBoxes;
  StopSignals stopSignals(CloseForStopSignal);
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
