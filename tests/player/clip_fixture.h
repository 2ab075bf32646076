// Test clips for the player: real frame records around sample JPEGs, with chosen capture stamps,
// and a probe that collects what a worker hands to its callbacks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "player/clip_player.h"

namespace kv4r::testing {

// A stamp as seconds since 1970 (UTC) and hundredths.
struct ClipStamp {
  std::int64_t seconds = 0;
  int hundredths = 0;
};

// The stamp that is `ms` milliseconds after 2004-05-06 07:08:09.00 (ms may be negative).
ClipStamp stampAfterMs(std::int64_t ms);

// One encoded record per stamp (records differ by picture seed), written back to back to `path`.
// Returns the record bytes written, so tests can compare what the worker shows.
std::vector<std::vector<std::uint8_t>> writeClip(const std::filesystem::path& path,
                                                 const std::vector<ClipStamp>& stamps,
                                                 int width = 176, int height = 112);

// `count` stamps `gap_ms` apart.
std::vector<ClipStamp> evenStamps(int count, std::int64_t gap_ms);

// Collects frame callbacks and status codes of one worker and lets the test wait for them.
class WorkerProbe {
 public:
  struct Frame {
    int length = 0;
    int position = 0;
    int hundredths = -1;  // record byte 39: tells the test clip's records apart
    int second = -1;      // record byte 38
  };

  player::FrameCallback frameCallback();
  player::StatusCallback statusCallback();

  // Waits until the worker has reported code 3 (suspending or ended) at least `count` times in all.
  // False after 10 s.
  bool waitForIdle(int count);
  // Waits until at least `count` frames have arrived. False after 10 s.
  bool waitForFrames(int count);
  // Waits until a frame at index `from` or later shows entry `position` with a record (length > 0).
  // False after 10 s.
  bool waitForFrameAt(std::size_t from, int position);

  int idleCount() const;
  std::vector<Frame> frames() const;
  std::vector<int> statuses() const;  // every code, in order
  Frame lastFrame() const;

  // Optional: called inside every frame callback (for example to move a manual clock).
  std::function<void(const Frame&)> on_frame;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Frame> frames_;
  std::vector<int> statuses_;
  int idle_ = 0;
};

}  // namespace kv4r::testing
