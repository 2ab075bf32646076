// The camera sequencer: every 4,000 ms it shows the next camera the user may view, alone in
// one-pane mode. Its steps run on a multimedia timer's thread and write the panes' draw flags
// (atomics of the session core) while the window thread reads them.
//
// Threads: start, stop and the destructor run on the window thread; step runs on the timer thread
// and, once at start, on the window thread; steps never overlap.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/multimedia_timer.h"
#include "viewer/viewer_window.h"

namespace kv4r::viewer {

inline constexpr int kSequencerPeriod_ms = 4000;
inline constexpr int kSequencerResolution_ms = 300;

class CameraSequencer {
 public:
  // `window` outlives the sequencer. `after_step` runs on the stepping thread after a camera was
  // chosen; it switches the view to one-pane mode and asks for a layout pass (it must not block
  // on the window thread).
  CameraSequencer(ViewerWindow& window, std::function<void()> after_step);
  // Kills the timer and waits for a running step.
  ~CameraSequencer();
  CameraSequencer(const CameraSequencer&) = delete;
  CameraSequencer& operator=(const CameraSequencer&) = delete;

  // Takes the camera count and view mask of the running session, starts the periodic timer,
  // resets the step counter to 0 and performs one step at once. Window thread.
  void start(int camera_count, std::uint32_t view_mask);
  // Kills the timer; the draw flags stay as the last step left them. Window thread.
  void stop();
  // True from start until stop, or until a step found no camera.
  [[nodiscard]] bool running() const { return timer_id_.load() != 0; }
  [[nodiscard]] int counter() const { return counter_.load(); }

  // One step: among the first camera-count panes, the next one (from the counter, at most
  // camera-count tries) whose camera may be viewed, that is enabled, while no key was refused,
  // becomes the only drawn one. Returns its index, or -1 when none qualifies (the timer is then
  // killed). Any thread.
  int step();

 private:
  ViewerWindow& window_;
  std::function<void()> after_step_;
  std::mutex step_mutex_;  // one step at a time
  std::atomic<int> camera_count_{0};
  std::atomic<std::uint32_t> view_mask_{0};
  std::atomic<int> counter_{0};
  std::atomic<int> timer_id_{0};
  std::unique_ptr<platform::MultimediaTimer> timer_;  // made at the first start
};

}  // namespace kv4r::viewer
