// Message boxes asked for from the GUI thread and from other threads.
#include "qt_message_boxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "notices.h"

namespace {

std::vector<QMessageBox*> OpenBoxes() {
  std::vector<QMessageBox*> boxes;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) boxes.push_back(box);
  return boxes;
}

// Runs the event loop until `done` holds, for at most 30 seconds.
template <class Done>
bool ProcessUntil(Done done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

QMessageBox* BoxWithText(const QString& text) {
  for (QMessageBox* box : OpenBoxes())
    if (box->text() == text) return box;
  return nullptr;
}

void Press(QMessageBox* box, QMessageBox::StandardButton button) { box->button(button)->click(); }

TEST(MessageBoxes, BoxesFromOtherThreadsAreIndependentAndCarryTheirLook) {
  QtMessageBoxes handler;
  std::atomic<int> first{-1}, second{-1};
  std::thread a([&] { first = win::MessageBoxA(nullptr, "This port in use!", "BIND TCP ERROR!!!", win::MB_OK | win::MB_ICONERROR | win::MB_SYSTEMMODAL); });
  std::thread b([&] { second = win::MessageBoxA(nullptr, "Не могу подключиться", "ERROR!!!", win::MB_OK); });
  ASSERT_TRUE(ProcessUntil([] { return OpenBoxes().size() == 2; }));

  QMessageBox* bind = BoxWithText("This port in use!");
  QMessageBox* connect = BoxWithText("Не могу подключиться");
  ASSERT_TRUE(bind && connect);
  EXPECT_EQ(bind->windowTitle(), "BIND TCP ERROR!!!");
  EXPECT_EQ(bind->icon(), QMessageBox::Critical);
  EXPECT_EQ(bind->standardButtons(), QMessageBox::Ok);
  EXPECT_TRUE(bind->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(connect->icon(), QMessageBox::NoIcon);
  EXPECT_FALSE(connect->isModal());

  Press(connect, QMessageBox::Ok);  // the later box closes first; the other thread still waits
  b.join();
  EXPECT_EQ(second, win::IDOK);
  EXPECT_EQ(first, -1);
  Press(bind, QMessageBox::Ok);
  a.join();
  EXPECT_EQ(first, win::IDOK);
}

TEST(MessageBoxes, OnTheGuiThreadTheBoxIsModalAndReturnsTheButtonPressed) {
  QtMessageBoxes handler;
  bool modal = false;
  QTimer::singleShot(0, [&] {
    QMessageBox* box = BoxWithText("Proceed?");
    modal = box && box->isModal();
    if (box) Press(box, QMessageBox::Cancel);
  });
  EXPECT_EQ(win::MessageBoxA(nullptr, "Proceed?", "Velotrunk", 1 /* MB_OKCANCEL */), 2 /* IDCANCEL */);
  EXPECT_TRUE(modal);
}

TEST(MessageBoxes, ABoxIsAsWideAsItsCaptionNeeds) {
  QtMessageBoxes handler;
  const char* caption = "BIND TCP ERROR!!!";
  std::thread waiting([&] { win::MessageBoxA(nullptr, "This port in use!", caption, win::MB_OK); });
  ASSERT_TRUE(ProcessUntil([] { return BoxWithText("This port in use!") != nullptr; }));
  QMessageBox* box = BoxWithText("This port in use!");
  QFont bold = box->font();
  bold.setBold(true);
  // The caption in a bold face, and room for the title bar's icon and three buttons.
  EXPECT_GE(box->width(), QFontMetrics(bold).horizontalAdvance(caption) + 4 * QFontMetrics(box->font()).height());
  Press(box, QMessageBox::Ok);
  waiting.join();
}

TEST(MessageBoxes, TheBeepIsTheDesktopsNotABellOnTheTerminal) {
  QtMessageBoxes handler;
  std::fflush(stderr);
  int saved = ::dup(2);
  FILE* capture = std::tmpfile();
  ::dup2(::fileno(capture), 2);
  std::thread engine([] { win::Beep(2000, 50); });
  engine.join();
  QCoreApplication::processEvents();
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  EXPECT_EQ(std::ftell(capture), 0L);
  std::fclose(capture);
}

TEST(MessageBoxes, ShutdownReleasesWaitingThreadsAndLaterCallers) {
  auto handler = std::make_unique<QtMessageBoxes>();
  std::atomic<int> result{-1};
  std::thread waiting([&] { result = win::MessageBoxA(nullptr, "listen error!", "ERROR!!!", win::MB_OK); });
  ASSERT_TRUE(ProcessUntil([] { return BoxWithText("listen error!") != nullptr; }));
  handler->Shutdown();
  waiting.join();
  EXPECT_EQ(result, 0);
  std::thread late([&] { result = win::MessageBoxA(nullptr, "late", "ERROR!!!", win::MB_OK); });
  late.join();
  EXPECT_EQ(result, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(BoxWithText("late"), nullptr);

  handler.reset();
  Press(BoxWithText("listen error!"), QMessageBox::Ok);  // a box left open closes harmlessly
  QCoreApplication::processEvents();
}

}  // namespace
