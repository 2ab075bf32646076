// The control's about box: its name and version with an OK button. Window thread only.
#pragma once

#include <QDialog>

namespace kv4r::viewer {

inline constexpr const char* kAboutTitle = "About Kv4rCtrl Control";
inline constexpr const char* kAboutText = "Kv4rCtrl Control, Version 1.0";

class AboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace kv4r::viewer
