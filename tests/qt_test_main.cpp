// main() for GoogleTest suites that need widgets: the QApplication lives for
// the whole run, and every test starts with the distinct test palette.
// Without a display setting (test discovery runs the binary bare) it renders
// offscreen at scale 1, as the tests expect, with a runtime folder of its own
// (Qt warns without one).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <optional>

#include "qt_test_support.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) qputenv("QT_SCALE_FACTOR", "1");
  std::optional<QTemporaryDir> runtime;
  if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
    runtime.emplace();
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
  }
  QApplication app(argc, argv);
  qt_test::UseDistinctPalette();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
