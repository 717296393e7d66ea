// Entry point of the widget tests: a QApplication around GoogleTest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "sanitizers/KeepLoadedLibraries.h"

int main(int argc, char** argv) {
  // Line by line, so that the log of a test whose process is ended at a time-out shows how far
  // it got (a passed test whose process then hung at its end reads differently from a hang).
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // As the launcher does: Chromium cannot start its sandbox for root.
  if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  const int result = RUN_ALL_TESTS();
  zarn::test::KeepLoadedLibraries();  // only under AddressSanitizer
  return result;
}
