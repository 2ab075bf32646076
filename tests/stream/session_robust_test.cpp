#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "sim/simulator.h"
#include "stream/rsp.h"
#include "tests/stream/session_owner.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_wire.h"

namespace kv4r::stream {
namespace {

using kv4r::stream::testing_owner::SessionOwner;

std::size_t threadCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/self/task")) {
    ++n;
  }
  return n;
}

sim::SimulatorPtr startSim(const sim::FaultScenario& faults, int cameras = 2) {
  sim::SimOptions options;
  options.port = 0;
  options.scenario = sim::defaultScenario();
  options.scenario.camera_count = cameras;
  options.scenario.cameras.resize(static_cast<std::size_t>(cameras));
  for (auto& camera : options.scenario.cameras) camera.fps = 0;  // as fast as we read
  options.scenario.faults = faults;
  sim::SimulatorPtr simulator;
  std::string error;
  EXPECT_EQ(sim::simStart(options, &simulator, &error), 1) << error;
  return simulator;
}

TEST(SessionRobustness, ReconnectsAfterFiftyCutsMidRecordAndLeavesNothingBehind) {
  std::thread([] {}).join();  // a sanitizer starts its helper thread with the first thread
  const std::size_t descriptors = kv4r::testing::openDescriptorCount();
  const std::size_t threads = threadCount();
  {
    sim::FaultScenario faults;
    faults.close_after_frames = 1;
    faults.close_mid_record = true;
    auto simulator = startSim(faults);
    SessionOwner owner;
    owner.mask = 0b11;
    RSP* session =
        owner.start(kv4r::testing::LoopbackServer::addressBe(), sim::simPort(simulator.get()));
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(owner.waitFor([&] {
      std::size_t broken = 0;
      for (const auto& e : owner.eventsLocked()) broken += e.second == kLinkBroken ? 1 : 0;
      return broken >= 50;
    }));
    owner.stop(session);
    // Every cut gave a broken link and a fresh connection; every connection brought its frame.
    EXPECT_GE(owner.countEvents(kLinkStarted, 0), 50u);
    EXPECT_EQ(owner.countEvents(kLinkFailure, kLinkRefused), 0u);
    EXPECT_GE(owner.frames().size(), 50u);
    for (const auto& frame : owner.frames()) {
      ASSERT_TRUE(frame.camera_index == 0 || frame.camera_index == 1);
      ASSERT_EQ(static_cast<unsigned char>(frame.bytes[0]), 0xFF);
      ASSERT_EQ(static_cast<unsigned char>(frame.bytes[frame.bytes.size() - 1]), 0xD9);
    }
    EXPECT_EQ(poolFreeCount(owner.pool()), 5);  // every receive buffer came back
  }
  EXPECT_EQ(kv4r::testing::openDescriptorCount(), descriptors);
  EXPECT_EQ(threadCount(), threads);
}

TEST(SessionRobustness, StopDuringAStalledStreamAndDuringRandomPieces) {
  const std::size_t descriptors = kv4r::testing::openDescriptorCount();
  for (int variant = 0; variant < 2; ++variant) {
    sim::FaultScenario faults;
    if (variant == 0) {
      faults.stall_after_frames = 3;
      faults.stall_ms = 60000;
    } else {
      faults.random_pieces = true;
      faults.piece_max_bytes = 7;
      faults.split_first_boundary = true;
    }
    auto simulator = startSim(faults);
    SessionOwner owner;
    RSP* session =
        owner.start(kv4r::testing::LoopbackServer::addressBe(), sim::simPort(simulator.get()));
    // With the stall, the third frame waits for the part header behind it: two frames arrive.
    ASSERT_TRUE(owner.waitForFrames(2)) << variant;
    owner.stop(session);  // the receiver waits inside a record or between records
    EXPECT_EQ(owner.countEvents(kLinkStarted, 0), 1u) << variant;
    EXPECT_EQ(poolFreeCount(owner.pool()), 5);
  }
  EXPECT_EQ(kv4r::testing::openDescriptorCount(), descriptors);
}

// A server that is down refuses at once, and one that answers with a page ends the stream before
// its first frame: either way the next attempts are spaced out (100, 200, 400 ms ... up to 1 s),
// where a frame on the connection lets the next one go at once (the fifty cuts above).
TEST(SessionRobustness, AttemptsWithoutAFrameAreSpacedOut) {
  using std::chrono::milliseconds;
  const auto brokenCount = [](SessionOwner& owner) {
    std::size_t broken = 0;
    for (const auto& e : owner.eventsLocked()) broken += e.second == kLinkBroken ? 1 : 0;
    return broken;
  };
  kv4r::testing::RefusingPort refusing;
  kv4r::testing::LoopbackServer page_server(kv4r::testing::LoopbackReply::closing(
      {kv4r::testing::httpAnswer("Model=0x1234\r\n<html>busy</html>\r\n")}));
  for (const int port : {static_cast<int>(refusing.port()), static_cast<int>(page_server.port())}) {
    SessionOwner owner;
    const auto start = std::chrono::steady_clock::now();
    RSP* session = owner.start(kv4r::testing::LoopbackServer::addressBe(), port);
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(owner.waitFor([&] { return brokenCount(owner) >= 4; })) << port;
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(100 + 200 + 400)) << port;
    owner.stop(session);
  }
}

}  // namespace
}  // namespace kv4r::stream
