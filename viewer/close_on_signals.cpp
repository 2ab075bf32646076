#include "viewer/close_on_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>

namespace kv4r::viewer {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the handler, read on the main thread: a handler may do little more than write(2).
int signal_pipe[2] = {-1, -1};

void onStopSignal(int signal_number) {
  const int saved = errno;
  const char byte = static_cast<char>(signal_number);
  [[maybe_unused]] const ssize_t ignored = write(signal_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

bool closeOnStopSignals(QWidget* window) {
  if (signal_pipe[0] >= 0) return true;
  if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [] {
    char bytes[16];
    while (read(signal_pipe[0], bytes, sizeof bytes) > 0) {
    }
    // Every window, so that an open message box does not keep the program alive.
    QApplication::closeAllWindows();
  });
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  // Once only: a program that hangs while closing still dies at the next Ctrl-C.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (const int signal_number : kStopSignals) sigaction(signal_number, &action, nullptr);
  return true;
}

}  // namespace kv4r::viewer
