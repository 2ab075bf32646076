#include "viewer/camera_sequencer.h"

#include <algorithm>
#include <limits>

namespace kv4r::viewer {

CameraSequencer::CameraSequencer(ViewerWindow& window, std::function<void()> after_step)
    : window_(window), after_step_(std::move(after_step)) {}

CameraSequencer::~CameraSequencer() {
  stop();
  timer_.reset();
}

void CameraSequencer::start(int camera_count, std::uint32_t view_mask) {
  stop();
  camera_count_.store(std::clamp(camera_count, 0, kPaneCount));
  view_mask_.store(view_mask);
  if (!timer_) timer_ = std::make_unique<platform::MultimediaTimer>();
  counter_.store(0);
  const int id = timer_->setEvent(
      kSequencerPeriod_ms, kSequencerResolution_ms, [this](int) { (void)step(); }, true);
  timer_id_.store(id);
  (void)step();
}

void CameraSequencer::stop() {
  const int id = timer_id_.exchange(0);
  if (id != 0 && timer_) (void)timer_->kill(id);
}

int CameraSequencer::step() {
  int chosen = -1;
  {
    std::lock_guard lock(step_mutex_);
    const int n = camera_count_.load();
    const std::uint32_t mask = view_mask_.load();
    // The counter wraps to 0 instead of going negative.
    auto advance = [this] {
      const int next = counter_.load() == std::numeric_limits<int>::max() ? 0 : counter_.load() + 1;
      counter_.store(next < 0 ? 0 : next);
    };
    for (int tries = 0; tries < n; ++tries) {
      const int k = counter_.load() % n;
      if ((mask & (1u << k)) != 0 && window_.panes[k].enabled.load() &&
          !window_.key_refused.load()) {
        chosen = k;
        break;
      }
      advance();
    }
    if (chosen >= 0) {
      for (int i = 0; i < n; ++i) window_.panes[i].draw.store(i == chosen);
      advance();
    }
  }
  if (chosen < 0) {
    // Outside the step lock: killing waits for a running step on the timer thread.
    stop();
    return -1;
  }
  if (after_step_) after_step_();
  return chosen;
}

}  // namespace kv4r::viewer
