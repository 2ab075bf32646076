#include "player/player_commands.h"

#include <gtest/gtest.h>

namespace kv4r::player {
namespace {

// A player without a worker: commands act on its fields alone.
struct IdlePlayer {
  explicit IdlePlayer(int count) { player.entry_count = count; }
  ClipPlayer player;
};

TEST(ClipPlayerCommand, RefusesUnknownModesWithoutChangingAnything) {
  IdlePlayer idle(120);
  ClipPlayer& p = idle.player;
  p.play_mode = kModeForward;
  p.position = 42;
  p.worker_state = kWorkerSuspended;
  for (const int mode : {3, 4, -1, 6, 100}) {
    EXPECT_EQ(ClipPlayerCommand(&p, mode, 7), kPlayerFailed) << mode;
    EXPECT_EQ(p.play_mode.load(), kModeForward);
    EXPECT_EQ(p.position.load(), 42);
    EXPECT_EQ(p.worker_state.load(), kWorkerSuspended);
  }
  EXPECT_EQ(ClipPlayerCommand(nullptr, kModePause, 0), kPlayerFailed);
  EXPECT_EQ(ClipPlayerSetSpeed(nullptr, 2.0), kPlayerFailed);
}

TEST(ClipPlayerCommand, PauseClampsStopRewindsPlayKeepsPosition) {
  IdlePlayer idle(120);
  ClipPlayer& p = idle.player;
  EXPECT_EQ(ClipPlayerCommand(&p, kModePause, 500), 1);
  EXPECT_EQ(p.position.load(), 119);
  EXPECT_EQ(p.play_mode.load(), kModePause);
  EXPECT_EQ(ClipPlayerCommand(&p, kModePause, -3), 1);
  EXPECT_EQ(p.position.load(), 0);
  EXPECT_EQ(ClipPlayerCommand(&p, kModePause, 57), 1);
  EXPECT_EQ(ClipPlayerCommand(&p, kModeForward, -1), 1);
  EXPECT_EQ(p.position.load(), 57);
  EXPECT_EQ(ClipPlayerCommand(&p, kModeBackward, -1), 1);
  EXPECT_EQ(p.position.load(), 57);
  EXPECT_EQ(p.play_mode.load(), kModeBackward);
  EXPECT_EQ(ClipPlayerCommand(&p, kModeStop, 99), 1);
  EXPECT_EQ(p.position.load(), 0);
  EXPECT_EQ(p.play_mode.load(), kModeStop);
}

TEST(ClipPlayerCommand, WakesOnlyASuspendedWorkerAndNoWakeIsLost) {
  IdlePlayer idle(10);
  ClipPlayer& p = idle.player;
  EXPECT_EQ(ClipPlayerCommand(&p, kModeForward, -1), 1);
  EXPECT_EQ(p.worker_state.load(), kWorkerRunning);

  // The worker said it suspends but has not begun to wait yet: the wake-up is kept for it.
  p.worker_state = kWorkerSuspended;
  EXPECT_EQ(ClipPlayerCommand(&p, kModePause, 3), 1);
  EXPECT_EQ(p.worker_state.load(), kWorkerRunning);
  p.wake.waitForResume();  // returns at once
}

TEST(UserCommands, StepsSeeksAndSpeedsActOnThePlayer) {
  IdlePlayer idle(120);
  ClipPlayer& p = idle.player;
  p.position = 5;
  EXPECT_EQ(nextFrame(&p), 1);
  EXPECT_EQ(p.position.load(), 6);
  EXPECT_EQ(previousFrame(&p), 1);
  EXPECT_EQ(previousFrame(&p), 1);
  EXPECT_EQ(p.position.load(), 4);
  p.position = 119;
  EXPECT_EQ(nextFrame(&p), 1);
  EXPECT_EQ(p.position.load(), 119);
  EXPECT_EQ(seekTo(&p, 33), 1);
  EXPECT_EQ(p.position.load(), 33);
  EXPECT_EQ(p.play_mode.load(), kModePause);
  EXPECT_EQ(playForward(&p), 1);
  EXPECT_EQ(pausePlayback(&p), 1);
  EXPECT_EQ(p.position.load(), 33);
  EXPECT_EQ(p.play_mode.load(), kModePause);

  for (const double speed : kSpeedItems) {
    EXPECT_EQ(setSpeed(&p, speed), 1);
    for (const double item : kSpeedItems) EXPECT_EQ(speedItemChecked(&p, item), item == speed);
  }
  EXPECT_FALSE(speedItemChecked(nullptr, 1.0));

  for (auto command :
       {playForward, playBackward, pausePlayback, stopPlayback, nextFrame, previousFrame}) {
    EXPECT_EQ(command(nullptr), kPlayerFailed);
  }
  EXPECT_EQ(seekTo(nullptr, 3), kPlayerFailed);
}

TEST(CommandEnables, FollowModePositionAndCount) {
  struct Row {
    int mode, position, count;
    bool back, play, pause, stop, next, previous;
  };
  const Row rows[] = {
      // mode, pos, count: back play pause stop next previous
      {kModePause, 0, 120, false, true, false, true, true, false},
      {kModePause, 60, 120, true, true, false, true, true, true},
      {kModePause, 119, 120, true, false, false, true, false, true},
      {kModeForward, 0, 120, false, false, true, true, false, false},
      {kModeForward, 60, 120, true, false, true, true, false, false},
      {kModeBackward, 60, 120, false, true, true, true, false, false},
      {kModeBackward, 119, 120, false, false, true, true, false, false},
      {kModeStop, 0, 120, false, true, false, false, false, false},
      {kModePause, 0, 1, false, false, false, true, false, false},
  };
  for (const Row& r : rows) {
    const CommandEnables e = commandEnables(r.mode, r.position, r.count);
    SCOPED_TRACE(::testing::Message() << "mode " << r.mode << " position " << r.position);
    EXPECT_EQ(e.back, r.back);
    EXPECT_EQ(e.play, r.play);
    EXPECT_EQ(e.pause, r.pause);
    EXPECT_EQ(e.stop, r.stop);
    EXPECT_EQ(e.next_frame, r.next);
    EXPECT_EQ(e.previous_frame, r.previous);
  }
  const CommandEnables none = commandEnables(nullptr);
  EXPECT_FALSE(none.back || none.play || none.pause || none.stop || none.next_frame ||
               none.previous_frame);
}

}  // namespace
}  // namespace kv4r::player
