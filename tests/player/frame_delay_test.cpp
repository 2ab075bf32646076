#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <limits>

#include "player/clip_player.h"
#include "player/player_clock.h"
#include "tests/player/clip_fixture.h"
#include "tests/support/test_env.h"

namespace kv4r::player {
namespace {

using testing::ClipStamp;
using testing::stampAfterMs;

void setStamps(ClipPlayer& player, ClipStamp previous, ClipStamp current) {
  player.stamps.previous = {static_cast<std::int32_t>(previous.seconds), previous.hundredths};
  player.stamps.current = {static_cast<std::int32_t>(current.seconds), current.hundredths};
}

struct DelayCase {
  const char* name;
  std::int64_t gap_ms;  // capture gap from the record read before to the record read last
  double speed;
  int mode;
  std::int64_t elapsed_ms;  // time the frame callback took
  int expected_ms;
};

TEST(FrameDelay, ScalesTheCaptureGapByTheSpeedWithinItsBounds) {
  const DelayCase cases[] = {
      {"0.40 s at x1.0", 400, 1.0, kModeForward, 30, 370},
      {"0.40 s at x1.0, slow callback", 400, 1.0, kModeForward, 450, 1},
      {"0.40 s at x1.0, callback took it all", 400, 1.0, kModeForward, 400, 1},
      {"0.40 s at x0.1 is capped", 400, 0.1, kModeForward, 0, 2000},
      {"0.40 s at x0.1 less the callback", 400, 0.1, kModeForward, 30, 1970},
      {"0.40 s at x10.0 is unpaced", 400, 10.0, kModeForward, 0, 1},
      {"3 s at x2.0", 3000, 2.0, kModeForward, 25, 1475},
      {"3 s at x1.0 is capped", 3000, 1.0, kModeForward, 25, 1975},
      {"0.40 s backward", -400, 1.0, kModeBackward, 30, 370},
      {"3 s backward at x2.0", -3000, 2.0, kModeBackward, 25, 1475},
      {"equal stamps", 0, 1.0, kModeForward, 0, 1},
      {"equal stamps at x0.1", 0, 0.1, kModeForward, 0, 1},
      {"pause never waits", 400, 1.0, kModePause, 0, 0},
      {"stop paces like play", 400, 1.0, kModeStop, 0, 400},
      {"truncated toward zero", 10, 4.0, kModeForward, 0, 2},
      {"0.25 s at x8.0", 250, 8.0, kModeForward, 0, 31},
  };
  for (const DelayCase& c : cases) {
    ClipPlayer player;
    setStamps(player, stampAfterMs(0), stampAfterMs(c.gap_ms));
    player.speed = c.speed;
    player.play_mode = c.mode;
    EXPECT_EQ(FrameDelay(player, c.elapsed_ms), c.expected_ms) << c.name;
  }
}

TEST(FrameDelay, HugeNegativeOrOddGapsStayWithinTwoSeconds) {
  ClipPlayer player;
  player.play_mode = kModeForward;
  const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
  const std::int32_t highest = std::numeric_limits<std::int32_t>::max();
  const formats::RecordStamp extremes[][2] = {
      {{lowest, 0}, {highest, 99}},
      {{highest, 99}, {lowest, 0}},
      {{0, 0}, {0, -100000}},
  };
  for (const auto& pair : extremes) {
    for (const double speed : {0.1, 1.0, 0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
      player.stamps.previous = pair[0];
      player.stamps.current = pair[1];
      player.speed = speed;
      const int delay = FrameDelay(player, 0);
      EXPECT_GE(delay, 1) << "speed " << speed;
      EXPECT_LE(delay, 2000) << "speed " << speed;
    }
  }
}

// How long sleepFor(delay_ms) took, in milliseconds.
std::int64_t timedSleep(WorkerWake& wake, int delay_ms) {
  const auto start = std::chrono::steady_clock::now();
  wake.sleepFor(delay_ms);
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

TEST(WorkerWake, ACutEndsOneSleepAndASuspensionForgetsIt) {
  WorkerWake wake;
  // A sleep in progress ends at the cut.
  auto sleeping = std::async(std::launch::async, [&] { return timedSleep(wake, 60'000); });
  while (sleeping.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    wake.cutSleep();
    if (sleeping.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready) break;
  }
  EXPECT_LT(sleeping.get(), 10'000);

  // A cut while awake ends the next sleep only.
  wake.cutSleep();
  EXPECT_LT(timedSleep(wake, 60'000), 10'000);
  EXPECT_GE(timedSleep(wake, 30), 30);

  // A cut before a suspension is spent by it.
  wake.cutSleep();
  wake.resume();
  wake.waitForResume();
  EXPECT_GE(timedSleep(wake, 30), 30);
}

}  // namespace
}  // namespace kv4r::player
