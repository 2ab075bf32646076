#include "viewer/snapshot_grab.h"

#include <algorithm>
#include <chrono>

namespace kv4r::viewer {

int grabNextRecord(GrabHandoff& grab, std::vector<std::uint8_t>* out, int timeout_ms) {
  out->clear();
  std::unique_lock lock(grab.mutex);
  if (grab.pending) return 0;
  grab.pending = true;
  grab.filled = false;
  grab.destination = out;
  grab.grabbed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return grab.filled; });
  // On a time-out the delivering thread must no longer write into the caller's buffer.
  grab.pending = false;
  grab.destination = nullptr;
  if (!grab.filled) out->clear();
  grab.filled = false;
  return static_cast<int>(out->size());
}

int offerToGrab(GrabHandoff& grab, std::span<const std::uint8_t> record) {
  {
    std::lock_guard lock(grab.mutex);
    if (!grab.pending || grab.filled || grab.destination == nullptr) return 0;
    const std::size_t length = std::min(record.size(), kJpegSnapshotBytes);
    grab.destination->assign(record.begin(), record.begin() + static_cast<long>(length));
    grab.filled = true;
  }
  grab.grabbed.notify_all();
  return 1;
}

}  // namespace kv4r::viewer
