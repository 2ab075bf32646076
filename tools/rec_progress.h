// kv4r_rec's running frame count on stderr: every second on a terminal, where someone watches it,
// every minute otherwise, so that a log of a long recording shows the run is alive without
// growing a line a second. Main thread only.
#pragma once

#include <chrono>

namespace kv4r::tools {

class RecProgress {
 public:
  using Clock = std::chrono::steady_clock;

  // The interval follows whether stderr is a terminal.
  explicit RecProgress(Clock::time_point start);

  // Prints "kv4r_rec: N frames (S s)" when an interval has passed since the last line.
  void tick(Clock::time_point now, long long frames);

 private:
  Clock::time_point start_;
  Clock::duration interval_;
  Clock::time_point next_;
};

}  // namespace kv4r::tools
