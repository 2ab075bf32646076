// The snapshot hand-off between a method caller and the delivering thread: the caller asks for the
// next decoded frame record of a pane and waits (at most a bounded time); the frame entry copies
// the record to it.
//
// Threads: grabInterruptions and grabNextRecord on the caller's thread (one grab at a time per
// pane; a second caller while one waits gets nothing); offerToGrab and interruptGrab on the
// delivering thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace kv4r::viewer {

inline constexpr int kGrabTimeout_ms = 5000;
inline constexpr std::size_t kJpegSnapshotBytes = 102400;
inline constexpr int kGrabInterrupted = -1;

struct GrabHandoff {
  std::mutex mutex;
  std::condition_variable grabbed;
  bool pending = false;                              // a caller waits for the next frame
  std::vector<std::uint8_t>* destination = nullptr;  // the waiting caller's buffer
  bool filled = false;
  std::uint64_t interruptions = 0;  // raised by interruptGrab
};

// Waits up to `timeout_ms` for the next decoded record of the pane and copies it into *out
// (cleared first). Returns the number of bytes (at most 102,400), or 0 when the wait timed out or
// another grab is already waiting. With `since` (a value of grabInterruptions), an interruption
// after it ends the wait early with kGrabInterrupted. Blocks.
int grabNextRecord(GrabHandoff& grab, std::vector<std::uint8_t>* out,
                   int timeout_ms = kGrabTimeout_ms,
                   std::optional<std::uint64_t> since = std::nullopt);

// The interruptions so far, to pass to grabNextRecord.
[[nodiscard]] std::uint64_t grabInterruptions(GrabHandoff& grab);

// Ends a grab that waits, or that starts after its caller read the interruptions: the delivering
// thread calls it before it waits for something only the grab's thread can give.
void interruptGrab(GrabHandoff& grab);

// Hands `record` to a waiting grab, if any, and wakes it. Returns 1 when a grab took it, else 0.
int offerToGrab(GrabHandoff& grab, std::span<const std::uint8_t> record);

}  // namespace kv4r::viewer
