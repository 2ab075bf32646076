// Per-pane frame statistics: every fifth frame the frame rate is worked out from a monotonic clock
// and turned into the text the frame-rate items of the on-screen display show.
//
// Threads: countFrame runs on the delivering thread only; frameRateText may be called from any
// thread (the painter reads the text while frames arrive).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace kv4r::viewer {

inline constexpr int kFramesPerEvaluation = 5;
inline constexpr const char* kLoadingText = "Loading images ...";

struct FrameStatistics {
  // Delivering thread.
  int frame_count = 0;
  bool has_counter = true;    // false: elapsed time always 0, so the text reads "30 + fps"
  std::int64_t last_ns = -1;  // clock at the last evaluation; -1 before the first frame
  double last_fps = 0;        // for tests and traces

  // Shared with the painter under `text_mutex`.
  mutable std::mutex text_mutex;
  std::string text = kLoadingText;
};

// The text for a frame rate: above 30 "30 + fps"; above 3.5 up to 30 "%02d.0 fps" with the rate
// rounded up to a whole number; above 0 up to 3.5 "0%1.1f fps"; anything else (0, negative, NaN)
// "00.0 fps".
[[nodiscard]] std::string formatFrameRate(double fps);

// Counts one frame at clock value `now_ns` (steady clock, nanoseconds). The first frame only
// remembers the clock; every fifth frame updates the text and restarts the count. Returns 1 when
// the text was updated, else 0.
int countFrame(FrameStatistics& stats, std::int64_t now_ns);

// The current text (a copy). Any thread.
[[nodiscard]] std::string frameRateText(const FrameStatistics& stats);

// The steady clock in nanoseconds.
[[nodiscard]] std::int64_t steadyNowNs();

}  // namespace kv4r::viewer
