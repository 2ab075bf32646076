#include "player/clip_player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "player/player_commands.h"
#include "tests/player/clip_fixture.h"
#include "tests/support/test_env.h"

namespace kv4r::player {
namespace {

using testing::ClipStamp;
using testing::evenStamps;
using testing::stampAfterMs;
using testing::TempDir;
using testing::WorkerProbe;
using testing::writeClip;

constexpr int kCallbackMs = 30;  // what each frame callback "takes" on the manual clock

// A clip on disk, opened with a probe and a manual clock whose time each frame callback moves on.
struct ManualClip {
  explicit ManualClip(const std::vector<ClipStamp>& stamps) {
    path = dir / "cam1.vrx";
    records = writeClip(path, stamps);
    probe.on_frame = [this](const WorkerProbe::Frame&) { clock.advanceMs(kCallbackMs); };
    player.reset(
        ClipPlayerOpen(path.string(), probe.frameCallback(), probe.statusCallback(), &clock));
  }

  // Which record a frame shows (by its stamp), or -1.
  int recordOf(const WorkerProbe::Frame& frame) const {
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (records[i][38] == frame.second && records[i][39] == frame.hundredths) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  TempDir dir;
  std::filesystem::path path;
  std::vector<std::vector<std::uint8_t>> records;
  WorkerProbe probe;
  ManualPlayerClock clock;
  ClipPlayerPtr player;
};

TEST(ClipPlayerWorker, StartsPausedShowingRecordZero) {
  ManualClip clip(evenStamps(3, 400));
  ASSERT_TRUE(clip.player);
  ASSERT_TRUE(clip.probe.waitForIdle(1));
  EXPECT_EQ(clip.player->entry_count, 3);
  EXPECT_EQ(clip.player->worker_state.load(), kWorkerSuspended);
  EXPECT_EQ(clip.player->play_mode.load(), kModePause);
  const auto frames = clip.probe.frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].position, 0);
  EXPECT_EQ(clip.recordOf(frames[0]), 0);
  EXPECT_EQ(frames[0].length, static_cast<int>(clip.records[0].size()));
  // Index progress first (5, one 6 per record, 7), then the first suspension.
  EXPECT_EQ(clip.probe.statuses(), (std::vector<int>{5, 6, 6, 6, 7, 3}));
  EXPECT_TRUE(clip.clock.sleeps().empty());
}

struct PacingCase {
  const char* name;
  std::int64_t gap_ms;
  double speed;
  int expected_sleep_ms;
};

TEST(ClipPlayerWorker, PacesForwardPlayByCaptureGapsLessCallbackTime) {
  const PacingCase cases[] = {
      {"0.40 s at x1.0", 400, 1.0, 400 - kCallbackMs},
      {"0.40 s at x0.1", 400, 0.1, 2000 - kCallbackMs},
      {"0.40 s at x10.0 does not wait", 400, 10.0, 0},
      {"3 s at x2.0", 3000, 2.0, 1500 - kCallbackMs},
      {"3 s at x1.0", 3000, 1.0, 2000 - kCallbackMs},
      {"same stamps", 0, 1.0, 1},
  };
  for (const PacingCase& c : cases) {
    SCOPED_TRACE(c.name);
    ManualClip clip(evenStamps(4, c.gap_ms));
    ASSERT_TRUE(clip.player);
    ASSERT_TRUE(clip.probe.waitForIdle(1));
    ASSERT_EQ(setSpeed(clip.player.get(), c.speed), 1);
    ASSERT_EQ(playForward(clip.player.get()), 1);
    ASSERT_TRUE(clip.probe.waitForIdle(2));
    const std::vector<int> expected =
        c.expected_sleep_ms ? std::vector<int>(3, c.expected_sleep_ms) : std::vector<int>{};
    EXPECT_EQ(clip.clock.sleeps(), expected);

    // Every record shown once, in order, and play ends paused on the last one.
    std::vector<int> positions;
    std::vector<int> shown;
    for (const auto& frame : clip.probe.frames()) {
      positions.push_back(frame.position);
      shown.push_back(clip.recordOf(frame));
    }
    EXPECT_EQ(positions, (std::vector<int>{0, 0, 1, 2, 3}));
    if (c.gap_ms != 0) {
      EXPECT_EQ(shown, (std::vector<int>{0, 0, 1, 2, 3}));
    }
    EXPECT_EQ(clip.player->play_mode.load(), kModePause);
    EXPECT_EQ(clip.player->position.load(), 3);
    const CommandEnables enables = commandEnables(clip.player.get());
    EXPECT_FALSE(enables.play);
    EXPECT_TRUE(enables.back);
    EXPECT_FALSE(enables.next_frame);
  }
}

TEST(ClipPlayerWorker, BackwardPlayPacesLikeForwardAndEndsAtZero) {
  ManualClip clip(evenStamps(4, 400));
  ASSERT_TRUE(clip.player);
  ASSERT_TRUE(clip.probe.waitForIdle(1));
  ASSERT_EQ(ClipPlayerCommand(clip.player.get(), kModePause, 3), 1);
  ASSERT_TRUE(clip.probe.waitForIdle(2));
  ASSERT_EQ(clip.recordOf(clip.probe.lastFrame()), 3);
  ASSERT_EQ(playBackward(clip.player.get()), 1);
  ASSERT_TRUE(clip.probe.waitForIdle(3));
  EXPECT_EQ(clip.clock.sleeps(), std::vector<int>(3, 400 - kCallbackMs));
  EXPECT_EQ(clip.player->position.load(), 0);
  EXPECT_EQ(clip.player->play_mode.load(), kModePause);
  EXPECT_EQ(clip.recordOf(clip.probe.lastFrame()), 0);
  const CommandEnables enables = commandEnables(clip.player.get());
  EXPECT_TRUE(enables.play);
  EXPECT_FALSE(enables.back);
}

TEST(ClipPlayerWorker, HugeAndNegativeGapsAreCappedAtTwoSeconds) {
  const std::int64_t year_ms = 365LL * 24 * 3600 * 1000;
  ManualClip clip({stampAfterMs(0), stampAfterMs(30 * year_ms), stampAfterMs(-30 * year_ms),
                   stampAfterMs(1), stampAfterMs(-1)});
  ASSERT_TRUE(clip.player);
  ASSERT_TRUE(clip.probe.waitForIdle(1));
  ASSERT_EQ(playForward(clip.player.get()), 1);
  ASSERT_TRUE(clip.probe.waitForIdle(2));
  // The last two stamps differ by less than a hundredth: equal to the clip's resolution.
  EXPECT_EQ(clip.clock.sleeps(), (std::vector<int>{1970, 1970, 1970, 1}));
}

TEST(ClipPlayerWorker, StepOrSeekWhilePausedShowsTheNewRecordNextCycle) {
  ManualClip clip(evenStamps(5, 400));
  ASSERT_TRUE(clip.player);
  ASSERT_TRUE(clip.probe.waitForIdle(1));
  ClipPlayer* player = clip.player.get();

  ASSERT_EQ(nextFrame(player), 1);
  EXPECT_EQ(player->position.load(), 1);  // at once
  ASSERT_TRUE(clip.probe.waitForIdle(2));
  EXPECT_EQ(clip.recordOf(clip.probe.lastFrame()), 1);
  EXPECT_EQ(clip.probe.lastFrame().position, 1);

  ASSERT_EQ(ClipPlayerCommand(player, kModePause, 4), 1);
  ASSERT_TRUE(clip.probe.waitForIdle(3));
  EXPECT_EQ(clip.recordOf(clip.probe.lastFrame()), 4);

  ASSERT_EQ(previousFrame(player), 1);
  ASSERT_TRUE(clip.probe.waitForIdle(4));
  EXPECT_EQ(clip.recordOf(clip.probe.lastFrame()), 3);

  // Stop while paused: position 0 at once, record 0 in the next cycle, then Play is offered.
  const int idle = clip.probe.idleCount();
  ASSERT_EQ(stopPlayback(player), 1);
  EXPECT_EQ(player->position.load(), 0);
  EXPECT_EQ(player->play_mode.load(), kModeStop);
  ASSERT_TRUE(clip.probe.waitForIdle(idle + 1));
  EXPECT_EQ(clip.recordOf(clip.probe.lastFrame()), 0);
  EXPECT_TRUE(commandEnables(player).play);
  EXPECT_FALSE(commandEnables(player).pause);

  // The slider gives two commands; the worker may wake once or twice.
  const std::size_t before = clip.probe.frames().size();
  ASSERT_EQ(seekTo(player, 2), 1);
  ASSERT_TRUE(clip.probe.waitForFrameAt(before, 2));
  EXPECT_EQ(clip.recordOf(clip.probe.lastFrame()), 2);

  // None of this paced: every command picked its record.
  for (const int sleep_ms : clip.clock.sleeps()) EXPECT_EQ(sleep_ms, 0);
}

TEST(ClipPlayerWorker, SeekThatArrivesWhileTheWorkerIsAwakeIsStillShown) {
  ManualClip clip(evenStamps(5, 400));
  ASSERT_TRUE(clip.player);
  ASSERT_TRUE(clip.probe.waitForIdle(1));
  ClipPlayer* player = clip.player.get();
  // The second slider command lands while the worker shows record 1 (it is awake, so it is not
  // woken again): it must not suspend on a record it has read but never shown.
  std::atomic<bool> seeked{false};
  clip.probe.on_frame = [&](const WorkerProbe::Frame& frame) {
    if (frame.position == 1 && !seeked.exchange(true)) {
      EXPECT_EQ(ClipPlayerCommand(player, kModePause, 3), 1);
    }
  };
  ASSERT_EQ(nextFrame(player), 1);
  ASSERT_TRUE(clip.probe.waitForIdle(2));
  EXPECT_TRUE(seeked.load());
  EXPECT_EQ(clip.recordOf(clip.probe.lastFrame()), 3);
  EXPECT_EQ(clip.probe.lastFrame().position, 3);
  EXPECT_EQ(player->worker_state.load(), kWorkerSuspended);
}

TEST(ClipPlayerWorker, SeekDuringTheLastReadBeforeSuspendingIsStillShown) {
  TempDir dir;
  const std::filesystem::path path = dir / "cam1.vrx";
  const auto records = writeClip(path, evenStamps(3, 400));
  WorkerProbe probe;
  ManualPlayerClock clock;
  ClipPlayer* target = nullptr;
  std::atomic<int> read_errors{0};
  // The slider moves back to record 0 at the instant the worker re-reads record 1, which it has
  // just shown, before it suspends; the worker is awake then, so the command wakes nobody. (The
  // read-error report of a cut record makes that instant one the test can hit.)
  auto status = probe.statusCallback();
  ClipPlayerPtr player(ClipPlayerOpen(
      path.string(), probe.frameCallback(),
      [&](int code, std::int64_t value) {
        if (code == kStatusReadError && ++read_errors == 2) {
          EXPECT_EQ(seekTo(target, 0), 1);
        }
        return status(code, value);
      },
      &clock));
  ASSERT_TRUE(player);
  target = player.get();
  ASSERT_TRUE(probe.waitForIdle(1));
  std::filesystem::resize_file(path, records[0].size() + 100);  // record 1 is cut short
  ASSERT_EQ(nextFrame(target), 1);
  ASSERT_TRUE(probe.waitForIdle(2));
  EXPECT_EQ(read_errors.load(), 2);
  EXPECT_EQ(target->position.load(), 0);
  EXPECT_EQ(probe.lastFrame().position, 0);
  EXPECT_EQ(target->worker_state.load(), kWorkerSuspended);
}

TEST(ClipPlayerWorker, RecordCutShortReportsReadErrorAndShowsNothingNew) {
  TempDir dir;
  const std::filesystem::path path = dir / "cut.vrx";
  const auto records = writeClip(path, evenStamps(3, 400));
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 100);
  WorkerProbe probe;
  ManualPlayerClock clock;
  ClipPlayerPtr player(
      ClipPlayerOpen(path.string(), probe.frameCallback(), probe.statusCallback(), &clock));
  ASSERT_TRUE(player);
  ASSERT_EQ(player->entry_count, 3);  // the cut record is indexed
  ASSERT_TRUE(probe.waitForIdle(1));
  ASSERT_EQ(ClipPlayerCommand(player.get(), kModePause, 2), 1);
  ASSERT_TRUE(probe.waitForIdle(2));
  const auto statuses = probe.statuses();
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), kStatusReadError), statuses.end());
  EXPECT_EQ(probe.lastFrame().length, 0);
  EXPECT_EQ(probe.lastFrame().position, 2);
}

TEST(ClipPlayerWorker, StartWithoutCallbacksOrClipEndsWithError) {
  TempDir dir;
  const std::filesystem::path path = dir / "a.vrx";
  writeClip(path, evenStamps(2, 400));
  {
    WorkerProbe probe;
    ClipPlayerPtr player(ClipPlayerOpen(path.string(), nullptr, probe.statusCallback()));
    ASSERT_TRUE(player);
    ASSERT_TRUE(probe.waitForIdle(1));
    const auto statuses = probe.statuses();
    EXPECT_EQ(std::vector<int>(statuses.end() - 2, statuses.end()),
              (std::vector<int>{kStatusThreadError, kStatusIdle}));
    EXPECT_EQ(player->worker_state.load(), kWorkerEnded);
    // Commands on an ended worker change the mode but wake nothing.
    EXPECT_EQ(playForward(player.get()), 1);
    EXPECT_EQ(player->worker_state.load(), kWorkerEnded);
  }
  {
    // The clip vanished between indexing and the worker's start.
    WorkerProbe probe;
    ClipPlayer player;
    player.clip_path = (dir / "gone.vrx").string();
    player.entry_count = 1;
    player.index.resize(1);
    player.frame_callback = probe.frameCallback();
    player.status_callback = probe.statusCallback();
    EXPECT_EQ(ClipPlayerWorker(&player), kPlayerFailed);
    EXPECT_EQ(probe.statuses(), (std::vector<int>{kStatusOpenError, kStatusIdle}));
    EXPECT_EQ(player.worker_state.load(), kWorkerEnded);
    EXPECT_TRUE(probe.frames().empty());
  }
}

// The real clock, which also lets the test wait until the worker has begun a pacing wait.
class WatchedSteadyClock : public PlayerClock {
 public:
  std::int64_t nowMs() override { return steadyPlayerClock().nowMs(); }
  void sleepMs(int delay_ms, WorkerWake& wake) override {
    {
      std::lock_guard lock(mutex_);
      ++waits_begun_;
    }
    changed_.notify_all();
    steadyPlayerClock().sleepMs(delay_ms, wake);
  }
  // Waits until `count` pacing waits have begun in all; false after 10 s.
  bool waitForWaits(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return waits_begun_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int waits_begun_ = 0;
};

// Opens a clip of `records` records an hour apart, so that every pacing wait is the full 2,000 ms
// of the real clock, and plays it forward until the worker has shown record 0 and waits before
// record 1. Null when any step fails.
ClipPlayerPtr playIntoALongWait(const TempDir& dir, int records, WorkerProbe& probe,
                                WatchedSteadyClock& clock) {
  const std::filesystem::path path = dir / "sparse.vrx";
  writeClip(path, evenStamps(records, 3600 * 1000));
  ClipPlayerPtr player(
      ClipPlayerOpen(path.string(), probe.frameCallback(), probe.statusCallback(), &clock));
  if (!player || !probe.waitForIdle(1) || playForward(player.get()) != 1 ||
      !clock.waitForWaits(1)) {
    return nullptr;
  }
  return player;
}

TEST(ClipPlayerClose, EndsAWorkerInItsLongestWaitPromptly) {
  TempDir dir;
  WorkerProbe probe;
  WatchedSteadyClock clock;
  ClipPlayerPtr player = playIntoALongWait(dir, 4, probe, clock);
  ASSERT_TRUE(player);
  const auto start = std::chrono::steady_clock::now();
  ClipPlayerClose(player.release());
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(1000));
  EXPECT_EQ(probe.statuses().back(), kStatusIdle);
}

TEST(ClipPlayerCommand, EndsThePacingWaitSoThatAPauseOrSeekNeedNotWaitForIt) {
  TempDir dir;
  WorkerProbe probe;
  WatchedSteadyClock clock;
  ClipPlayerPtr player = playIntoALongWait(dir, 6, probe, clock);
  ASSERT_TRUE(player);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(pausePlayback(player.get()), 1);
  ASSERT_TRUE(probe.waitForIdle(2));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(probe.lastFrame().position, 1);  // the record it had read is shown, then it pauses

  // A seek during a wait: the picture sought comes at once, and the player stays paused there.
  ASSERT_EQ(playForward(player.get()), 1);
  ASSERT_TRUE(clock.waitForWaits(2));  // showed record 1 again, waits before record 2
  const std::size_t before_seek = probe.frames().size();
  start = std::chrono::steady_clock::now();
  ASSERT_EQ(seekTo(player.get(), 5), 1);
  ASSERT_TRUE(probe.waitForFrameAt(before_seek, 5));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(player->play_mode.load(), kModePause);
}

TEST(ClipPlayerClose, WaitsForAFrameCallbackInProgress) {
  TempDir dir;
  const std::filesystem::path path = dir / "busy.vrx";
  writeClip(path, evenStamps(2, 400));
  std::atomic<bool> in_callback{false};
  std::atomic<bool> release{false};
  std::atomic<int> calls_after_close{0};
  std::atomic<bool> closed{false};
  auto frame = [&](const std::uint8_t* record, int length, int) {
    if (closed) ++calls_after_close;
    if (length > 0) {
      EXPECT_EQ(record[0], 0xFF);  // the buffer is still alive
    }
    in_callback = true;
    while (!release) std::this_thread::yield();
  };
  ClipPlayer* player = ClipPlayerOpen(path.string(), frame, [](int, std::int64_t) { return 1; });
  ASSERT_TRUE(player);
  while (!in_callback) std::this_thread::yield();
  std::thread closer([&] {
    ClipPlayerClose(player);
    closed = true;
  });
  std::this_thread::sleep_for(
      std::chrono::milliseconds(20));  // give the close a chance to run ahead
  EXPECT_FALSE(closed.load());
  release = true;
  closer.join();
  EXPECT_TRUE(closed.load());
  EXPECT_EQ(calls_after_close.load(), 0);
}

TEST(ClipPlayerClose, RightAfterOpenOrWhilePlayingNeverHangs) {
  TempDir dir;
  const std::filesystem::path path = dir / "quick.vrx";
  writeClip(path, evenStamps(6, 10));
  for (int round = 0; round < 20; ++round) {
    WorkerProbe probe;
    ClipPlayer* player =
        ClipPlayerOpen(path.string(), probe.frameCallback(), probe.statusCallback());
    ASSERT_TRUE(player);
    if (round % 2) (void)playForward(player);
    if (round % 3 == 0) (void)stopPlayback(player);
    ClipPlayerClose(player);
    EXPECT_EQ(probe.statuses().back(), kStatusIdle);
  }
}

}  // namespace
}  // namespace kv4r::player
