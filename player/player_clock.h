// The clock the playback worker paces by, and the wake-up through which the window thread resumes a
// worker that suspended itself or ends its wait.
//
// The worker measures how long the frame callback took with nowMs() and then waits through
// sleepMs(). The steady clock waits for real and returns early when the clip is closed or a
// command arrives; a ManualPlayerClock lets tests check the pacing without waiting.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kv4r::player {

// The worker's suspension and sleep, woken from the window thread. A resume given before the worker
// waits is kept, so none is ever lost; a stop ends every wait, present and future.
// Thread safety: resume(), cutSleep() and stop() from any thread; the waits from the worker only.
class WorkerWake {
 public:
  // Wakes the worker from waitForResume (or lets its next waitForResume return at once).
  void resume();
  // Ends the pacing sleep in progress, or the next one when the worker is not asleep: a user's
  // command then takes effect at once instead of after up to two seconds of pacing. A suspension
  // in between forgets it.
  void cutSleep();
  // Ends the current and every later wait at once.
  void stop();
  // Blocks until resume() or stop(); consumes the resume.
  void waitForResume();
  // Blocks for `delay_ms` milliseconds of the steady clock, or until cutSleep() or stop(). At once
  // for <= 0.
  void sleepFor(int delay_ms);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool resumed_ = false;
  bool sleep_cut_ = false;
  bool stopped_ = false;
};

class PlayerClock {
 public:
  virtual ~PlayerClock() = default;
  // Milliseconds since an arbitrary start; never goes back. Called on the worker thread.
  virtual std::int64_t nowMs() = 0;
  // Waits `delay_ms` milliseconds (0 or less: not at all) and returns early once `wake` is stopped
  // or its sleep is cut. Called on the worker thread.
  virtual void sleepMs(int delay_ms, WorkerWake& wake) = 0;
};

// The real clock (std::chrono::steady_clock); one shared instance, safe from any thread.
PlayerClock& steadyPlayerClock();

// A clock for tests: time stands still until advanced. sleepMs keeps the requested delay, moves the
// time on by it and returns at once. Thread safety: every member from any thread.
class ManualPlayerClock : public PlayerClock {
 public:
  std::int64_t nowMs() override;
  void sleepMs(int delay_ms, WorkerWake& wake) override;

  // Moves the time on, for example from a frame callback to stand for its decoding time.
  void advanceMs(std::int64_t ms);
  // Every delay passed to sleepMs so far, in order.
  [[nodiscard]] std::vector<int> sleeps() const;

 private:
  mutable std::mutex mutex_;
  std::int64_t now_ms_ = 0;
  std::vector<int> sleeps_;
};

}  // namespace kv4r::player
