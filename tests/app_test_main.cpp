// Main for the widget tests: one QApplication for the whole suite, on the
// offscreen platform unless the environment names another (test discovery
// runs the binary without the test environment).
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_SCALE_FACTOR", "1");
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName("Velotrunk");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
