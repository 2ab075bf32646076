// A one-line progress bar on standard error, drawn only when standard error is a terminal (so logs
// and tests see nothing). Main thread only.
#pragma once

#include <string>

namespace kv4r::tools {

class TerminalProgress {
 public:
  explicit TerminalProgress(std::string label);
  ~TerminalProgress();
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  // Redraws when the percentage (clamped to 0..100) differs from the last one drawn.
  void show(int percent);
  // Ends the line (also done by the destructor once something was drawn).
  void finish();

 private:
  std::string label_;
  bool terminal_ = false;
  int last_percent_ = -1;
};

}  // namespace kv4r::tools
