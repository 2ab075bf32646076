#include "player/clip_player.h"

#include <new>
#include <system_error>

#include "formats/clip_index.h"
#include "formats/clip_reader.h"
#include "formats/formats_codes.h"
#include "platform/trace.h"

namespace kv4r::player {
namespace {

constexpr std::int64_t kMaxFrameDelayMs = 2000;
constexpr double kUnpacedSpeed = 10.0;

bool isMode(int mode) {
  return mode == kModeForward || mode == kModeBackward || mode == kModePause || mode == kModeStop;
}

// Wakes the worker if it has suspended itself; only the side that sees state 2 and sets it back to
// running gives the wake-up.
void resumeIfSuspended(ClipPlayer* player) {
  int expected = kWorkerSuspended;
  if (player->worker_state.compare_exchange_strong(expected, kWorkerRunning)) player->wake.resume();
}

}  // namespace

ClipPlayer* ClipPlayerOpen(const std::string& clip_path, FrameCallback frame_callback,
                           StatusCallback status_callback, PlayerClock* clock) {
  ClipPlayer* player = new (std::nothrow) ClipPlayer;
  if (!player) return nullptr;
  player->clip_path = clip_path;
  player->frame_callback = std::move(frame_callback);
  player->status_callback = std::move(status_callback);
  player->clock = clock;

  std::string index_path;
  const int count = formats::BuildClipIndex(clip_path, &index_path, player->status_callback);
  if (count < 0) {
    platform::traceErr("clip index of %s: %s\n", clip_path.c_str(),
                       formats::formatsCodeName(count));
    if (player->status_callback) player->status_callback(kStatusOpenError, 0);
    delete player;
    return nullptr;
  }
  // A count of 0 (no valid record) is refused here as well.
  if (formats::LoadClipIndex(index_path, count, &player->index) != count) {
    delete player;
    return nullptr;
  }
  player->entry_count = count;
  try {
    player->worker = std::thread([player] { player->worker_result = ClipPlayerWorker(player); });
  } catch (const std::system_error&) {
    delete player;
    return nullptr;
  }
  return player;
}

void ClipPlayerClose(ClipPlayer* player) {
  if (!player) return;
  player->stop_request.store(1);
  resumeIfSuspended(player);
  // Also ends a wait the worker is about to begin, and its pacing sleep.
  player->wake.stop();
  if (player->worker.joinable()) player->worker.join();
  delete player;
}

int ClipPlayerCommand(ClipPlayer* player, int mode, int position) {
  if (!player || !isMode(mode)) return kPlayerFailed;
  player->play_mode.store(mode);
  if (mode == kModePause) {
    const int last = player->entry_count > 0 ? player->entry_count - 1 : 0;
    player->position.store(position < 0 ? 0 : (position > last ? last : position));
  } else if (mode == kModeStop) {
    player->position.store(0);
  }
  // A worker that paces its way to the next record shows it now and then obeys: a pause or a seek
  // at a slow speed, or in a clip of few pictures a second, would otherwise wait up to two seconds.
  player->wake.cutSleep();
  resumeIfSuspended(player);
  return 1;
}

int ClipPlayerSetSpeed(ClipPlayer* player, double speed) {
  if (!player) return kPlayerFailed;
  player->speed.store(speed);
  return 1;
}

int FrameDelay(const ClipPlayer& player, std::int64_t elapsed_ms) {
  if (player.play_mode.load() == kModePause) return 0;
  std::int64_t gap_ms = formats::clipStampsGapMs(player.stamps);
  if (gap_ms == 0) return 1;
  const double speed = player.speed.load();
  if (speed == kUnpacedSpeed) return 1;
  if (gap_ms < 0) gap_ms = -gap_ms;  // backward play waits as long as forward play
  // Computed in double so that any gap and any speed (0 included) end up within 0 .. 2,000.
  const double scaled_ms = static_cast<double>(gap_ms) / speed;
  std::int64_t delay_ms = kMaxFrameDelayMs;
  if (scaled_ms < static_cast<double>(kMaxFrameDelayMs)) {
    delay_ms = scaled_ms > 0 ? static_cast<std::int64_t>(scaled_ms) : 0;
  }
  if (delay_ms > elapsed_ms) return static_cast<int>(delay_ms - elapsed_ms);
  return 1;
}

int ClipPlayerWorker(ClipPlayer* player) {
  PlayerClock& clock = player->clock ? *player->clock : steadyPlayerClock();
  auto report = [player](int code) {
    if (player->status_callback) player->status_callback(code, 0);
  };
  auto end = [player, &report](int result) {
    player->worker_state.store(kWorkerEnded);
    report(kStatusIdle);
    return result;
  };
  if (!player->frame_callback || !player->status_callback) {
    report(kStatusThreadError);
    return end(kPlayerFailed);
  }
  formats::ClipFilePtr clip(formats::ClipFileOpen(player->clip_path));
  if (!clip) {
    report(kStatusOpenError);
    return end(kPlayerFailed);
  }

  std::vector<std::uint8_t> buffer;
  try {
    buffer.resize(kRecordBufferBytes);
  } catch (const std::bad_alloc&) {
    report(kStatusOpenError);
    return end(kPlayerFailed);
  }
  // Reads entry `entry` into the buffer; the length, or 0 (reported) after a failed read.
  auto readRecord = [&](int entry) {
    const int length =
        formats::ReadClipRecord(clip.get(), player->index, entry, &player->stamps, buffer);
    if (length > 0) return length;
    platform::traceErr("clip record %d: %s\n", entry, formats::formatsCodeName(length));
    report(kStatusReadError);
    return 0;
  };

  // The buffer always holds the record of `record_position` (or nothing, after a failed read).
  int record_position = player->position.load();
  int length = readRecord(record_position);
  while (player->stop_request.load() != 1) {
    const std::int64_t t0_ms = clock.nowMs();
    const int shown_position = record_position;
    player->frame_callback(buffer.data(), length, shown_position);
    const std::int64_t t1_ms = clock.nowMs();

    int mode = player->play_mode.load();
    if (mode == kModeForward || mode == kModeBackward) {
      int current = player->position.load();
      int next = current + (mode == kModeForward ? 1 : -1);
      bool reached_end = false;
      if (next < 0) {
        next = 0;
        reached_end = true;
      }
      if (next >= player->entry_count) {
        next = player->entry_count - 1;
        reached_end = true;
      }
      // A command given meanwhile wins over the worker's own move.
      player->position.compare_exchange_strong(current, next);
      if (reached_end) player->play_mode.compare_exchange_strong(mode, kModePause);
    }

    record_position = player->position.load();
    length = readRecord(record_position);

    mode = player->play_mode.load();
    bool suspended = false;
    // In pause the worker suspends only once the record at the position has been shown: a step or
    // seek that arrived while it was awake gets its picture in the next cycle. Stop keeps the
    // picture on screen until the next command.
    if ((mode == kModePause && record_position == shown_position) || mode == kModeStop) {
      suspended = true;
      player->worker_state.store(kWorkerSuspended);
      // A command that landed before the store above found the worker running and gave no
      // wake-up: look again, and take the suspension back when there is work.
      const int now_mode = player->play_mode.load();
      const bool work = now_mode == kModeForward || now_mode == kModeBackward ||
                        player->position.load() != record_position;
      int expected = kWorkerSuspended;
      if (work && player->worker_state.compare_exchange_strong(expected, kWorkerRunning)) {
        const int resumed_position = player->position.load();
        if (resumed_position != record_position) {
          record_position = resumed_position;
          length = readRecord(record_position);
        }
        continue;
      }
      report(kStatusIdle);
      player->wake.waitForResume();
      // A step, seek or stop while suspended has moved the position: read that record now, so
      // the next cycle shows it rather than the one read before the suspension.
      const int resumed_position = player->position.load();
      if (resumed_position != record_position && player->stop_request.load() != 1) {
        record_position = resumed_position;
        length = readRecord(record_position);
      }
    }

    // The user's pause already separated the two pictures; pacing resumes with the next record.
    // (The two stamps may belong to records far apart after a stop or a seek.) Speed 10.0 plays
    // as fast as the worker can go: no wait at all, not even the 1 ms FrameDelay gives.
    if (!suspended) {
      const int delay_ms = FrameDelay(*player, t1_ms - t0_ms);
      if (player->speed.load() != kUnpacedSpeed) clock.sleepMs(delay_ms, player->wake);
    }
  }
  return end(1);
}

}  // namespace kv4r::player
