// Message boxes of the window programs, built on QMessageBox. Any thread may call `show` and
// `ask`: a call from another thread is carried to the application's thread and blocks until the
// user has closed the box.
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
