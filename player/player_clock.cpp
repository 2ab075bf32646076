#include "player/player_clock.h"

#include <chrono>

namespace kv4r::player {

void WorkerWake::resume() {
  {
    std::lock_guard lock(mutex_);
    resumed_ = true;
  }
  changed_.notify_all();
}

void WorkerWake::cutSleep() {
  {
    std::lock_guard lock(mutex_);
    sleep_cut_ = true;
  }
  changed_.notify_all();
}

void WorkerWake::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

void WorkerWake::waitForResume() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return resumed_ || stopped_; });
  resumed_ = false;
  sleep_cut_ = false;  // what it was for happened during the suspension
}

void WorkerWake::sleepFor(int delay_ms) {
  if (delay_ms <= 0) return;
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(delay_ms),
                    [this] { return stopped_ || sleep_cut_; });
  sleep_cut_ = false;
}

namespace {

class SteadyPlayerClock : public PlayerClock {
 public:
  std::int64_t nowMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void sleepMs(int delay_ms, WorkerWake& wake) override { wake.sleepFor(delay_ms); }
};

}  // namespace

PlayerClock& steadyPlayerClock() {
  static SteadyPlayerClock clock;
  return clock;
}

std::int64_t ManualPlayerClock::nowMs() {
  std::lock_guard lock(mutex_);
  return now_ms_;
}

void ManualPlayerClock::sleepMs(int delay_ms, WorkerWake&) {
  std::lock_guard lock(mutex_);
  sleeps_.push_back(delay_ms);
  if (delay_ms > 0) now_ms_ += delay_ms;
}

void ManualPlayerClock::advanceMs(std::int64_t ms) {
  std::lock_guard lock(mutex_);
  now_ms_ += ms;
}

std::vector<int> ManualPlayerClock::sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

}  // namespace kv4r::player
