#include "viewer/frame_statistics.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kv4r::viewer {

std::string formatFrameRate(double fps) {
  char text[32];
  if (fps > 30) {
    return "30 + fps";
  } else if (fps > 3.5) {
    std::snprintf(text, sizeof text, "%02d.0 fps", static_cast<int>(std::ceil(fps)));
  } else if (fps > 0) {
    // Not printf: the window layer takes on the user's locale, whose decimal comma would change
    // the text.
    text[0] = '0';
    char* end = std::to_chars(text + 1, text + 8, fps, std::chars_format::fixed, 1).ptr;
    std::memcpy(end, " fps", 5);
  } else {
    std::snprintf(text, sizeof text, "%02d.0 fps", 0);
  }
  return text;
}

int countFrame(FrameStatistics& stats, std::int64_t now_ns) {
  // The first frame a pane sees sets the reference time.
  if (stats.last_ns < 0) stats.last_ns = now_ns;
  if (++stats.frame_count < kFramesPerEvaluation) return 0;
  const double elapsed_s =
      stats.has_counter ? static_cast<double>(now_ns - stats.last_ns) / 1e9 : 0;
  // A zero elapsed time gives an infinite rate, which reads as "30 + fps".
  stats.last_fps = kFramesPerEvaluation / elapsed_s;
  std::string text = formatFrameRate(stats.last_fps);
  {
    std::lock_guard lock(stats.text_mutex);
    stats.text = std::move(text);
  }
  if (stats.has_counter) stats.last_ns = now_ns;
  stats.frame_count = 0;
  return 1;
}

std::string frameRateText(const FrameStatistics& stats) {
  std::lock_guard lock(stats.text_mutex);
  return stats.text;
}

std::int64_t steadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace kv4r::viewer
