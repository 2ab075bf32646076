// The cameras' pictures, ready to send: per camera a ring of pre-built records (built once; the
// senders change only the time stamp bytes). Pattern cameras get their ring redrawn in the
// background every clock_refresh_ms so that the drawn clock runs; senders always take the newest
// ring as a whole.
//
// Threads: feedsCreate builds every ring on the calling thread; afterwards one painter thread of
// the feeds redraws pattern rings, and any number of sender threads call feedsRing at the same
// time. feedsStop (or destruction) ends and joins the painter.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/coded_record.h"
#include "sim/scenario.h"

namespace kv4r::sim {

struct RingFrame {
  std::vector<std::uint8_t> wire;   // record as the stream sends it (the camera's coding mode)
  std::vector<std::uint8_t> plain;  // mode-0 record of the same picture, for the MJPEG view
  int delay_ms = -1;  // clip records: pause before the next record; -1 = the camera's frame rate
};

struct CameraRing {
  std::vector<RingFrame> frames;  // never empty
};

struct CameraFeeds {
  // Set at creation, read-only afterwards.
  Scenario scenario;
  // Under `mutex`: the current ring of each camera (index camera_number - 1).
  std::mutex mutex;
  std::vector<std::shared_ptr<const CameraRing>> rings;
  // Painter thread.
  std::condition_variable wake;
  bool stop = false;  // under mutex
  std::thread painter;
};

struct FeedsDeleter {
  void operator()(CameraFeeds* feeds) const;
};
using FeedsPtr = std::unique_ptr<CameraFeeds, FeedsDeleter>;

// Builds every camera's ring and starts the painter (when a pattern camera needs a running clock).
// Returns 1, or a negative code with a one-line reason in *error (an unreadable folder or clip, a
// picture that cannot be coded).
[[nodiscard]] int feedsCreate(const Scenario& scenario, FeedsPtr* feeds, std::string* error);

// The current ring of camera `camera_number` (1-based), or nullptr for a camera that does not
// exist. Any thread; never blocks for long (one lock of a pointer copy).
[[nodiscard]] std::shared_ptr<const CameraRing> feedsRing(CameraFeeds* feeds, int camera_number);

// Stops and joins the painter. Idempotent.
void feedsStop(CameraFeeds* feeds);

// The camera coding of camera `camera_number` under a scenario.
[[nodiscard]] CameraCoding codingOf(const Scenario& scenario, int camera_number);

// The clock text drawn into pattern pictures: local "YYYY-MM-DD HH:MM:SS".
[[nodiscard]] std::string clockText();

}  // namespace kv4r::sim
