#include "tools/vrxtool_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace kv4r::tools {

namespace {
constexpr int kBarWidth = 40;
}

TerminalProgress::TerminalProgress(std::string label)
    : label_(std::move(label)), terminal_(::isatty(STDERR_FILENO) == 1) {}

TerminalProgress::~TerminalProgress() {
  finish();
}

void TerminalProgress::show(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (!terminal_ || percent == last_percent_) return;
  last_percent_ = percent;
  const int filled = percent * kBarWidth / 100;
  std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label_.c_str(), filled,
               "########################################", kBarWidth - filled, "", percent);
  std::fflush(stderr);
}

void TerminalProgress::finish() {
  if (terminal_ && last_percent_ >= 0) std::fputc('\n', stderr);
  last_percent_ = -1;
}

}  // namespace kv4r::tools
