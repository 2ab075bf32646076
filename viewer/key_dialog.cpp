#include "viewer/key_dialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QVBoxLayout>

namespace kv4r::viewer {

KeyDialog::KeyDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Enter JPEG encryption key");
  setFont(QFont("Verdana", 10));
  edit_ = new QLineEdit(this);
  edit_->setEchoMode(QLineEdit::Password);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(edit_);
  layout->addWidget(buttons);
}

std::string KeyDialog::key() const {
  return edit_->text().toStdString();
}

std::string KeyDialog::ask(QWidget* parent) {
  KeyDialog dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.key();
}

}  // namespace kv4r::viewer
