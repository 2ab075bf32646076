// ClipPlayer: one open .vrx clip with its index and the worker thread that shows its records.
//
// The window thread opens and closes the clip and steers the worker by writing the mode, position
// and speed (ClipPlayerCommand, ClipPlayerSetSpeed); the worker shows the record at the position
// through the frame callback, moves the position by the mode, reads the next record and waits for
// the capture gap between the two records divided by the speed (FrameDelay). In pause and stop it
// suspends itself until a command wakes it. It never touches a window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "formats/clip_index.h"
#include "formats/clip_reader.h"
#include "player/player_clock.h"
#include "player/player_codes.h"

namespace kv4r::player {

// Hands one record to the view: the record buffer (valid only during the call), its length (0 after
// a failed read: nothing new to show) and the entry number it was read from. Called on the worker
// thread; the worker waits for it.
using FrameCallback = std::function<void(const std::uint8_t* record, int length, int position)>;

// Reports a status code (player_codes.h) and its value. For the index codes 5 and 6 (on the opening
// thread) nonzero continues and 0 aborts; otherwise the answer is ignored. Codes 0 to 3 from the
// worker arrive on the worker thread, which waits for the call.
using StatusCallback = std::function<int(int code, std::int64_t value)>;

// Size of the worker's one record buffer.
inline constexpr int kRecordBufferBytes = 102400;

struct ClipPlayer {
  // Set by ClipPlayerOpen before the worker starts; read-only afterwards.
  std::string clip_path;
  std::vector<formats::ClipIndexEntry> index;
  int entry_count = 0;
  FrameCallback frame_callback;
  StatusCallback status_callback;
  PlayerClock* clock = nullptr;

  // Shared by the window thread and the worker; each is a single word written without a lock.
  std::atomic<int> stop_request{0};  // 1 asks the worker to end (ClipPlayerClose)
  std::atomic<int> worker_state{kWorkerRunning};
  std::atomic<int> play_mode{kModePause};
  std::atomic<int> position{0};  // entry number, 0 .. entry_count - 1
  std::atomic<double> speed{1.0};

  // Worker only (FrameDelay reads them on the worker thread).
  formats::ClipStamps stamps;  // time stamps of the record read last and the one before it

  // The worker's wake-up; resumed and stopped from the window thread.
  WorkerWake wake;
  // Started by ClipPlayerOpen, joined by ClipPlayerClose.
  std::thread worker;
  // The worker's result: 1 after a normal end, kPlayerFailed after a start failure. Valid after
  // the join.
  int worker_result = 0;
};

// Opens a clip: builds its index beside it (the status callback receives the progress codes 5, 6
// and 7 on the calling thread), loads the index and starts the worker, which shows record 0 and
// then waits in pause. Returns the new player, or nullptr when the index cannot be built (the
// status callback then receives code 0 first), when it cannot be loaded or when the clip holds no
// valid record. `clock` (optional, must outlive the player) replaces the steady clock, for tests.
// Window thread; blocks while the clip is scanned. The caller owns the player until
// ClipPlayerClose.
[[nodiscard]] ClipPlayer* ClipPlayerOpen(const std::string& clip_path, FrameCallback frame_callback,
                                         StatusCallback status_callback,
                                         PlayerClock* clock = nullptr);

// Ends the worker and frees the player (nullptr is allowed). Wakes the worker from its suspension
// or its wait and joins it, so the player is never freed while the worker may use it. Returns once
// the worker has ended: at the latest when a frame or status callback in progress returns, so the
// callbacks must not wait for the thread that closes. Window thread; never from a callback.
void ClipPlayerClose(ClipPlayer* player);

struct ClipPlayerCloser {
  void operator()(ClipPlayer* player) const { ClipPlayerClose(player); }
};
using ClipPlayerPtr = std::unique_ptr<ClipPlayer, ClipPlayerCloser>;

// Sets the play mode: 0 forward, 1 backward, 2 pause (the position becomes `position` clamped to
// the clip), 5 stop (the position becomes 0). Wakes a suspended worker. Returns 1, or kPlayerFailed
// (nothing changed) for any other mode or no player. Window thread.
[[nodiscard]] int ClipPlayerCommand(ClipPlayer* player, int mode, int position);

// Sets the speed, used from the worker's next delay on. 10.0 means no pacing at all. Returns 1, or
// kPlayerFailed for no player. Window thread.
int ClipPlayerSetSpeed(ClipPlayer* player, double speed);

// Milliseconds the worker waits after showing a record, given how long the frame callback took:
// 0 in pause; otherwise the capture gap between the two records read last (either direction)
// divided by the speed and truncated, at most 2,000, less `elapsed_ms`; never below 1. Equal stamps
// and speed 10.0 give 1 (the worker does not wait at all at 10.0). Worker thread (reads the
// worker-only stamps).
[[nodiscard]] int FrameDelay(const ClipPlayer& player, std::int64_t elapsed_ms);

// The worker itself, run on the thread ClipPlayerOpen starts; returns 1 after a normal end and
// kPlayerFailed after a start failure (missing callback, clip not readable). Exposed for tests that
// drive a hand-made player.
int ClipPlayerWorker(ClipPlayer* player);

}  // namespace kv4r::player
