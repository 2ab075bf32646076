// Message boxes of the window programs, built on QMessageBox. Any thread may call `show` and
// `ask`. A call from another thread is carried to the application's thread; `ask` blocks until the
// user has answered, `show` returns at once. (A stream thread that showed a message and waited for
// the box could hold up forever a window thread that is waiting for that stream thread to end.)
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "platform/message_boxes.h"

namespace kv4r::viewer {

class QtMessageBoxes : public platform::MessageBoxes {
 public:
  // `parent` (may be null) centres the boxes; it is not owned and may go away first.
  explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
  void show(const std::string& text, platform::MessageIcon icon) override;
  bool ask(const std::string& text) override;

 private:
  QPointer<QWidget> parent_;
};

// Runs `work` on the application's thread and returns when it has run: directly when called
// there, else through a blocking queued call. Without an application it runs directly.
void runOnApplicationThread(const std::function<void()>& work);

}  // namespace kv4r::viewer
