#include "platform/message_boxes.h"

#include <cstdio>

namespace kv4r::platform {

void RecordingMessageBoxes::show(const std::string& text, MessageIcon) {
  std::lock_guard lock(mutex_);
  texts_.push_back(text);
  if (echo_) std::fprintf(stderr, "%s\n", text.c_str());
}

bool RecordingMessageBoxes::ask(const std::string& text) {
  std::lock_guard lock(mutex_);
  texts_.push_back(text);
  if (echo_) std::fprintf(stderr, "%s\n", text.c_str());
  if (answers_.empty()) return false;
  const bool yes = answers_.front();
  answers_.pop_front();
  return yes;
}

void RecordingMessageBoxes::queueAnswer(bool yes) {
  std::lock_guard lock(mutex_);
  answers_.push_back(yes);
}

std::vector<std::string> RecordingMessageBoxes::texts() const {
  std::lock_guard lock(mutex_);
  return texts_;
}

void RecordingMessageBoxes::clear() {
  std::lock_guard lock(mutex_);
  texts_.clear();
}

}  // namespace kv4r::platform
