#include "viewer/snapshot_grab.h"

#include <algorithm>
#include <chrono>

namespace kv4r::viewer {

int grabNextRecord(GrabHandoff& grab, std::vector<std::uint8_t>* out, int timeout_ms,
                   std::optional<std::uint64_t> since) {
  out->clear();
  std::unique_lock lock(grab.mutex);
  if (grab.pending) return 0;
  grab.pending = true;
  grab.filled = false;
  grab.destination = out;
  auto interrupted = [&] { return since && grab.interruptions != *since; };
  grab.grabbed.wait_for(lock, std::chrono::milliseconds(std::max(timeout_ms, 0)),
                        [&] { return grab.filled || interrupted(); });
  // On a time-out the delivering thread must no longer write into the caller's buffer.
  grab.pending = false;
  grab.destination = nullptr;
  const bool filled = grab.filled;
  grab.filled = false;
  if (!filled) {
    out->clear();
    if (interrupted()) return kGrabInterrupted;
  }
  return static_cast<int>(out->size());
}

std::uint64_t grabInterruptions(GrabHandoff& grab) {
  std::lock_guard lock(grab.mutex);
  return grab.interruptions;
}

void interruptGrab(GrabHandoff& grab) {
  {
    std::lock_guard lock(grab.mutex);
    ++grab.interruptions;
  }
  grab.grabbed.notify_all();
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
