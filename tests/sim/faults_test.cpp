// Every fault a scenario can ask for does what it says, and only where it is asked for.
#include <gtest/gtest.h>

#include <chrono>

#include "formats/frame_record.h"
#include "stream/socket_io.h"
#include "tests/sim/sim_test_support.h"

namespace kv4r::simtest {
namespace {

sim::SimulatorPtr startWith(const sim::FaultScenario& faults, int cameras = 1) {
  sim::SimOptions o;
  o.scenario = testScenario(cameras, 176, 144, 0, 100);
  o.scenario.faults = faults;
  std::string error;
  auto server = startSim(o, &error);
  EXPECT_TRUE(server) << error;
  return server;
}

TEST(Faults, CloseAfterFramesEndsTheStreamBetweenOrInsideRecords) {
  for (const bool mid_record : {false, true}) {
    SCOPED_TRACE(mid_record ? "inside a record" : "between records");
    sim::FaultScenario f;
    f.close_after_frames = 3;
    f.close_mid_record = mid_record;
    auto server = startWith(f);
    ASSERT_TRUE(server);
    StreamClient client;
    ASSERT_EQ(client.open(sim::simPort(server.get()), streamPath(1, "1")), 1);
    Part part;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(client.readPart(&part), 1);
    if (mid_record) {
      EXPECT_EQ(client.readPart(&part), -1);
      EXPECT_GT(client.partial.size(), 62u + 60u);  // a part header and some of the record
      EXPECT_EQ(client.partial.rfind("--myboundary", 0), 0u);
    } else {
      EXPECT_EQ(client.readPart(&part), 0);
    }
  }
}

TEST(Faults, OnlyTheNamedStreamRequestIsDamaged) {
  sim::FaultScenario f;
  f.close_after_frames = 2;
  f.only_stream = 2;
  auto server = startWith(f);
  ASSERT_TRUE(server);
  const int port = sim::simPort(server.get());
  Part part;
  StreamClient first;
  ASSERT_EQ(first.open(port, streamPath(1, "1")), 1);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(first.readPart(&part), 1);
  StreamClient second;
  ASSERT_EQ(second.open(port, streamPath(2, "1")), 1);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(second.readPart(&part), 1);
  EXPECT_EQ(second.readPart(&part), 0);
  StreamClient third;
  ASSERT_EQ(third.open(port, streamPath(3, "1")), 1);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(third.readPart(&part), 1);
}

TEST(Faults, StallHoldsTheStreamOnce) {
  sim::FaultScenario f;
  f.stall_after_frames = 2;
  f.stall_ms = 700;
  auto server = startWith(f);
  ASSERT_TRUE(server);
  StreamClient client;
  ASSERT_EQ(client.open(sim::simPort(server.get()), streamPath(1, "1")), 1);
  // The gaps as the server stamped the parts: one of 700 ms after the second part, then 10 ms.
  std::vector<std::int64_t> sent;
  for (int i = 0; i < 8; ++i) {
    Part part;
    ASSERT_EQ(client.readPart(&part), 1);
    sent.push_back(sentMs(part.record));
  }
  EXPECT_GE(sent[2] - sent[1], 690);
  EXPECT_LT(sent[7] - sent[2], 600);
}

TEST(Faults, SplitBoundaryAndSmallPiecesKeepTheBytesIntact) {
  for (const bool pieces : {false, true}) {
    SCOPED_TRACE(pieces ? "random pieces" : "split first boundary");
    sim::FaultScenario f;
    f.split_first_boundary = !pieces;
    f.random_pieces = pieces;
    f.piece_max_bytes = 700;
    auto server = startWith(f, 2);
    ASSERT_TRUE(server);
    StreamClient client;
    ASSERT_EQ(client.open(sim::simPort(server.get()), streamPath(1, "1,2")), 1);
    for (int i = 0; i < 6; ++i) {
      Part part;
      ASSERT_EQ(client.readPart(&part), 1);
      EXPECT_EQ(part.part_header.rfind("--myboundary\r\nContent-type:image/jpeg\r\nDaemonId:0x", 0),
                0u);
      EXPECT_EQ(formats::checkFrameRecord(part.record), 1);
    }
  }
}

TEST(Faults, FirstBoundaryArrivesInTwoPieces) {
  sim::FaultScenario f;
  f.split_first_boundary = true;
  f.split_pause_ms = 400;
  auto server = startWith(f);
  ASSERT_TRUE(server);
  StreamClient client;
  ASSERT_EQ(client.open(sim::simPort(server.get()), streamPath(1, "1")), 1);
  char first[64];
  const int n = stream::sockRecv(client.fd, first, sizeof first, 0, 5);
  EXPECT_EQ(std::string(first, static_cast<std::size_t>(std::max(n, 0))), "--mybo");
  char rest[6];
  ASSERT_EQ(stream::sockRecvN(client.fd, rest, sizeof rest, 0, 5), 6);
  EXPECT_EQ(std::string(rest, 6), "undary");
}

TEST(Faults, PageWithoutBoundary) {
  sim::FaultScenario f;
  f.page_without_boundary = true;
  auto server = startWith(f);
  ASSERT_TRUE(server);
  StreamClient client;
  ASSERT_EQ(client.open(sim::simPort(server.get()), streamPath(1, "1")), 1);
  const std::string page = client.header + client.readRest();
  EXPECT_EQ(page.find("--myboundary"), std::string::npos);
  EXPECT_EQ(page.find("Unauthorized"), std::string::npos);
  EXPECT_NE(page.find("<html>"), std::string::npos);
}

}  // namespace
}  // namespace kv4r::simtest
