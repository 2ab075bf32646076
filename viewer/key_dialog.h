// The dialog that asks the user for the JPEG encryption key: one edit field that hides what is
// typed (scrolling sideways when the text is longer than the field), OK and Cancel.
// Window thread only.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

namespace kv4r::viewer {

class KeyDialog : public QDialog {
  Q_OBJECT
 public:
  explicit KeyDialog(QWidget* parent = nullptr);

  // The typed text.
  [[nodiscard]] std::string key() const;
  QLineEdit* keyEdit() const { return edit_; }

  // Shows the dialog modally. Returns the typed text after OK, an empty text after Cancel or
  // closing.
  static std::string ask(QWidget* parent);

 private:
  QLineEdit* edit_ = nullptr;  // owned by the dialog
};

}  // namespace kv4r::viewer
