#include "platform/multimedia_timer.h"

namespace kv4r::platform {

MultimediaTimer::MultimediaTimer() : thread_([this] { run(); }) {}

MultimediaTimer::~MultimediaTimer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    events_.clear();
  }
  changed_.notify_all();
  thread_.join();
}

int MultimediaTimer::setEvent(int delay_ms, int /*resolution_ms*/, Callback callback,
                              bool periodic) {
  if (delay_ms < 1 || !callback) return 0;
  int id = 0;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return 0;
    id = next_id_++;
    if (next_id_ <= 0) next_id_ = 1;  // ids stay positive after a wrap
    Event event;
    event.period = std::chrono::milliseconds(delay_ms);
    event.due = Clock::now() + event.period;
    event.periodic = periodic;
    event.callback = std::make_shared<Callback>(std::move(callback));
    events_[id] = std::move(event);
  }
  changed_.notify_all();
  return id;
}

int MultimediaTimer::kill(int id) {
  // Ids start at 1; 0 is also what running_id_ holds while no callback runs, so it must not be
  // waited for.
  if (id <= 0) return kTimerUnknownId;
  std::unique_lock lock(mutex_);
  const bool known = events_.erase(id) > 0;
  const bool self = std::this_thread::get_id() == thread_.get_id();
  if (!self) {
    // Also a one-shot event that fired and still runs its callback is waited for.
    changed_.wait(lock, [&] { return running_id_ != id; });
  }
  if (known) changed_.notify_all();
  return known ? kTimerOk : kTimerUnknownId;
}

bool MultimediaTimer::onTimerThread() const {
  return std::this_thread::get_id() == thread_.get_id();
}

void MultimediaTimer::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (events_.empty()) {
      changed_.wait(lock);
      continue;
    }
    auto next = events_.begin();
    for (auto it = events_.begin(); it != events_.end(); ++it) {
      if (it->second.due < next->second.due) next = it;
    }
    const Clock::time_point due = next->second.due;
    if (Clock::now() < due) {
      changed_.wait_until(lock, due);
      continue;  // the table may have changed meanwhile
    }
    const int id = next->first;
    const std::shared_ptr<Callback> callback = next->second.callback;
    if (next->second.periodic) {
      const Clock::time_point now = Clock::now();
      next->second.due = due + next->second.period;
      if (next->second.due < now) next->second.due = now;
    } else {
      events_.erase(next);
    }
    running_id_ = id;
    lock.unlock();
    (*callback)(id);
    lock.lock();
    running_id_ = 0;
    changed_.notify_all();
  }
}

}  // namespace kv4r::platform
