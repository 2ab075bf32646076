// For tests of Qt widgets: one QApplication for the whole test program (offscreen, see the test
// main), and a pump that runs the window thread's queued calls until a condition holds.
// Header-only, so that tests/support itself stays free of Qt.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>

namespace kv4r::testing {

inline QApplication& qtTestApp() {
  static int argc = 1;
  static char name[] = "kv4r_qt_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* instance = new QApplication(argc, argv);
  return *instance;
}

// Runs queued calls until `done` holds; false after 20 s, so that a fault fails instead of hanging.
template <typename Pred>
bool pumpUntil(Pred done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace kv4r::testing
