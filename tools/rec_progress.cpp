#include "tools/rec_progress.h"

#include <unistd.h>

#include <cstdio>

namespace kv4r::tools {

namespace {
RecProgress::Clock::duration intervalForStderr() {
  if (::isatty(STDERR_FILENO) == 1) return std::chrono::seconds(1);
  return std::chrono::minutes(1);
}
}  // namespace

RecProgress::RecProgress(Clock::time_point start)
    : start_(start), interval_(intervalForStderr()), next_(start + interval_) {}

void RecProgress::tick(Clock::time_point now, long long frames) {
  if (now < next_) return;
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_).count();
  std::fprintf(stderr, "kv4r_rec: %lld frames (%lld s)\n", frames, static_cast<long long>(elapsed));
  next_ = now + interval_;
}

}  // namespace kv4r::tools
