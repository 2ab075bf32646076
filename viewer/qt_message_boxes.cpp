#include "viewer/qt_message_boxes.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

namespace kv4r::viewer {

void runOnApplicationThread(const std::function<void()>& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

void QtMessageBoxes::show(const std::string& text, platform::MessageIcon icon) {
  auto show_box = [parent = parent_, text, icon] {
    QMessageBox box(parent.data());
    switch (icon) {
      case platform::MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
      case platform::MessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
      case platform::MessageIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
      case platform::MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
      case platform::MessageIcon::None:
        break;
    }
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setText(QString::fromStdString(text));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
  };
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    show_box();
  } else {
    QMetaObject::invokeMethod(app, show_box, Qt::QueuedConnection);
  }
}

bool QtMessageBoxes::ask(const std::string& text) {
  bool yes = false;
  runOnApplicationThread([&] {
    yes = QMessageBox::question(parent_.data(), QCoreApplication::applicationName(),
                                QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
  });
  return yes;
}

}  // namespace kv4r::viewer
