// main() for GoogleTest suites that need widgets: the QApplication lives for
// the whole run, and every test starts with the distinct test palette.
// Without a display setting (test discovery runs the binary bare) it renders
// offscreen at scale 1, as the tests expect.
#include <gtest/gtest.h>

#include <QApplication>

#include "qt_test_support.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) qputenv("QT_SCALE_FACTOR", "1");
  QApplication app(argc, argv);
  qt_test::UseDistinctPalette();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
