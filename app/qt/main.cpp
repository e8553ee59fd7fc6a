// Velotrunk: the window. Takes no arguments.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>

#include "exception_report.h"
#include "form1.h"
#include "no_display.h"
#include "notices.h"
#include "proxy.h"
#include "qt_message_boxes.h"
#include "stop_signals.h"

namespace {

// From now on nobody may be there to answer a box: what one would tell (a
// save that failed) goes to stderr, and the program does not wait.
void TellOnTerminal() { win::SetMessageBoxHandler(win::TerminalMessageBox); }

// A stop signal or the session's end closes the window as its close button
// would, after the message boxes in its way: a box of the window's own waits
// in a loop of its own, which must end for the program to end.
void CloseUnattended() {
  TellOnTerminal();
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
  StopSignals stopSignals(CloseUnattended);
  QObject::connect(&application, &QGuiApplication::commitDataRequest, CloseUnattended);
  try {
    Form1 = new TForm1;
    Form1->show();
    QApplication::exec();
  } catch (const std::exception& error) {
    ShowException(QString::fromStdString(error.what()));
  }
  // The program ends promptly: boxes waiting on the window give up, the
  // engine stops, and then the window goes (saving if the close did not:
  // the loop ended without a close, so the user is not there to answer).
  messageBoxes.Shutdown();
  TellOnTerminal();
  StopRelayThread();
  delete Form1;
  Form1 = nullptr;
  return 0;
}
