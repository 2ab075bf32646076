// A stand-in for the stream session's owner in tests: a receive pool, a scripted wanted-camera
// mask, and a record of every delivered frame and link event that tests can wait for.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "stream/frame_pools.h"
#include "stream/rsp.h"
#include "stream/sbpool.h"

namespace kv4r::stream::testing_owner {

struct Delivery {
  int camera_index = 0;
  int length = 0;
  std::string bytes;  // the record as delivered
};

class SessionOwner {
 public:
  explicit SessionOwner(int buffers = 5) : pool_(mkpool(kReceiveBlockBytes, buffers)) {}
  ~SessionOwner() {
    for (void* buffer : held_) poolPut(buffer);
    (void)freepool(pool_);
  }

  // The mask for the n-th getBuffer call (0-based); by default the fixed `mask`.
  std::function<int(int)> mask_script;
  std::atomic<int> mask{1};
  // Keep delivered buffers instead of giving them back.
  bool hold_buffers = false;

  RSP* start(std::uint32_t address_be, int port, const std::string& user = "",
             const std::string& password = "", int model = 0x1234) {
    return RSPCreate(0, address_be, port, user, password, model, 0, kViewerDescriptorCount, this,
                     &SessionOwner::getBuffer, &SessionOwner::deliverFrame,
                     &SessionOwner::linkEvent);
  }

  // The stop sequence of a live view: terminate the receive pool, destroy the session.
  void stop(RSP* session) {
    (void)termpool(pool_);
    RSPDestroy(session);
  }

  bool waitFor(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, done);
  }
  bool waitForFrames(std::size_t count) {
    return waitFor([&] { return frames_.size() >= count; });
  }
  bool waitForEvents(std::size_t count) {
    return waitFor([&] { return events_.size() >= count; });
  }
  std::size_t countEvents(int kind, int code) {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& e : events_) n += e == std::make_pair(kind, code) ? 1 : 0;
    return n;
  }

  std::vector<Delivery> frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  std::vector<std::pair<int, int>> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  int returnedBuffers() {
    std::lock_guard lock(mutex_);
    return returned_;
  }
  SBPOOL* pool() const { return pool_; }

  // Caller holds mutex_ (inside waitFor predicates).
  const std::vector<Delivery>& framesLocked() const { return frames_; }
  const std::vector<std::pair<int, int>>& eventsLocked() const { return events_; }

 private:
  static void* getBuffer(void* owner) {
    auto* self = static_cast<SessionOwner*>(owner);
    void* buffer = poolGet(self->pool_);
    if (buffer == nullptr) return nullptr;
    std::memset(buffer, 0, kReceiveBlockBytes);
    const int call = self->calls_++;
    const std::uint32_t words[2] = {
        static_cast<std::uint32_t>(kReceiveBlockBytes),
        static_cast<std::uint32_t>(self->mask_script ? self->mask_script(call)
                                                     : self->mask.load())};
    std::memcpy(buffer, words, sizeof words);
    return buffer;
  }

  static void deliverFrame(void* owner, int kind, int camera_index, void* buffer, int length) {
    auto* self = static_cast<SessionOwner*>(owner);
    bool keep = false;
    {
      std::lock_guard lock(self->mutex_);
      if (kind == kDeliverFrame) {
        self->frames_.push_back(
            {camera_index, length, std::string(static_cast<const char*>(buffer), length)});
        keep = self->hold_buffers;
        if (keep) self->held_.push_back(buffer);
      } else {
        ++self->returned_;
      }
    }
    if (!keep) poolPut(buffer);
    self->changed_.notify_all();
  }

  static void linkEvent(void* owner, int kind, int code) {
    auto* self = static_cast<SessionOwner*>(owner);
    {
      std::lock_guard lock(self->mutex_);
      self->events_.emplace_back(kind, code);
    }
    self->changed_.notify_all();
  }

  SBPOOL* pool_;
  std::atomic<int> calls_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Delivery> frames_;
  std::vector<std::pair<int, int>> events_;
  std::vector<void*> held_;
  int returned_ = 0;
};

}  // namespace kv4r::stream::testing_owner
