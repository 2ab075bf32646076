// Modal messages for the user. The window programs install a box built on QMessageBox; tests and
// headless programs install a RecordingMessageBoxes, which keeps every text (and, when asked,
// prints it to standard error) and answers questions from a script.
// The texts are fixed by the callers; this layer never changes them.
// Thread safety: `show`/`ask` of the installed implementation may be called from any thread; a Qt
// implementation forwards to the window thread, where `ask` waits for the user's answer and `show`
// from another thread does not wait for the box to close.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace kv4r::platform {

enum class MessageIcon { None, Information, Warning, Error, Question };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows a text with an OK button; on the window thread it returns when the box was closed.
  virtual void show(const std::string& text, MessageIcon icon = MessageIcon::Warning) = 0;
  // Asks a Yes/No question; true for Yes.
  virtual bool ask(const std::string& text) = 0;
};

// Keeps the texts in order; answers `ask` from a queue of scripted answers (No when it is empty).
class RecordingMessageBoxes : public MessageBoxes {
 public:
  explicit RecordingMessageBoxes(bool echo_to_stderr = false) : echo_(echo_to_stderr) {}
  void show(const std::string& text, MessageIcon icon = MessageIcon::Warning) override;
  bool ask(const std::string& text) override;

  void queueAnswer(bool yes);
  [[nodiscard]] std::vector<std::string> texts() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
  std::deque<bool> answers_;
  bool echo_;
};

}  // namespace kv4r::platform
