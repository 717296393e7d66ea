// Proves that the leak check of the widget tests still sees our own leaks: the suppressions for
// the web engine's and the system libraries' leaks must not hide memory that our code loses,
// also when our code runs from inside a web engine signal. It loses a block of a size found
// nowhere else, from the page's load signal and from a timer, and the test passes only when the
// leak report at exit names both.
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWebEngineView>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sanitizers/KeepLoadedLibraries.h"

namespace {

void* volatile g_keep = nullptr;

// Each loses a block: the only pointer to it is overwritten before the function returns.
[[gnu::noinline]] void LoseFromPageSignal() {
  g_keep = std::malloc(4243);
  std::memset(g_keep, 0x5a, 4243);
  g_keep = nullptr;
}

[[gnu::noinline]] void LoseFromTimer() {
  g_keep = std::malloc(4241);
  std::memset(g_keep, 0x5a, 4241);
  g_keep = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  int result = 3;  // the page never finished loading
  QWebEngineView view;
  QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) {
    LoseFromPageSignal();
    std::fputs("leak canary: page signal\n", stderr);
    result = 0;
    app.quit();
  });
  QTimer::singleShot(0, [] {
    LoseFromTimer();
    std::fputs("leak canary: timer\n", stderr);
  });
  QTimer::singleShot(60000, &app, &QApplication::quit);
  view.resize(200, 100);
  view.show();
  view.setHtml("<p>canary</p>");
  app.exec();
  zarn::test::KeepLoadedLibraries();  // as the widget tests do
  return result;
}
