// Timer events with integer ids whose callbacks run on the timer's own thread: one-shot or
// periodic, as the controls' sequencer and automatic stop use them.
// Thread safety: setEvent and kill may be called from any thread, also from inside a callback.
// Callbacks of one timer run one at a time, in due order, never while the timer's lock is held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace kv4r::platform {

// Result codes of the timer.
enum : int {
  kTimerOk = 0,
  kTimerUnknownId = -40,  // kill: no such event (never started, killed, or a one-shot that fired)
};

class MultimediaTimer {
 public:
  using Callback = std::function<void(int id)>;

  // Starts the timer thread.
  MultimediaTimer();
  // Stops every event, waits for a running callback and joins the thread. Must not run on the
  // timer thread (that is, not from inside a callback).
  ~MultimediaTimer();
  MultimediaTimer(const MultimediaTimer&) = delete;
  MultimediaTimer& operator=(const MultimediaTimer&) = delete;

  // Starts an event: `callback(id)` runs on the timer thread `delay_ms` from now and, when
  // `periodic`, every `delay_ms` after that (a late callback does not make the next ones come
  // sooner than "now"). `resolution_ms` is accepted for the callers' sake; the timer is as exact as
  // the system's clock. Returns the event id (1 or more), or 0 when `delay_ms` is below 1 or the
  // callback is empty.
  [[nodiscard]] int setEvent(int delay_ms, int resolution_ms, Callback callback, bool periodic);

  // Stops an event: its callback is not called again. Called from any thread but the timer's, it
  // returns only when that event's callback is not running; from inside a callback it returns at
  // once. Returns kTimerOk or kTimerUnknownId.
  int kill(int id);

  // True on the timer's own thread (inside a callback).
  [[nodiscard]] bool onTimerThread() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Event {
    Clock::time_point due;
    std::chrono::milliseconds period{0};
    bool periodic = false;
    std::shared_ptr<Callback> callback;
  };
  void run();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  // Under mutex_:
  std::map<int, Event> events_;
  int next_id_ = 1;
  int running_id_ = 0;  // the event whose callback runs now, 0 for none
  bool stopping_ = false;

  std::thread thread_;  // started last, joined in the destructor
};

}  // namespace kv4r::platform
