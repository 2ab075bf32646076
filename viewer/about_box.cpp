#include "viewer/about_box.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace kv4r::viewer {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kAboutTitle);
  auto* text = new QLabel(kAboutText, this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(buttons);
}

}  // namespace kv4r::viewer
