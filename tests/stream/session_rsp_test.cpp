#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "stream/camera_list.h"
#include "stream/http_request.h"
#include "stream/rsp.h"
#include "stream/socket_io.h"
#include "tests/stream/session_owner.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_wire.h"

namespace kv4r::stream {
namespace {

using kv4r::stream::testing_owner::SessionOwner;
using kv4r::testing::httpAnswer;
using kv4r::testing::LoopbackReply;
using kv4r::testing::LoopbackServer;
using kv4r::testing::partHeader;
using kv4r::testing::recordBe16;
using kv4r::testing::recordBe32;
using kv4r::testing::streamAnswerHead;
using kv4r::testing::wireRecord;

const std::string kModelAnswer = httpAnswer(
    "Model=0x1234\r\nKernelVersion=768\r\nSupportCameraCount=4\r\nSupportCameraModel=\"CCD\"\r\n");

std::string request(const std::string& path, const std::string& auth_line = "") {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n" + auth_line +
         "\r\n";
}

std::string hex8(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

std::pair<int, int> ev(int kind, int code) {
  return {kind, code};
}

// The first line of what a connection received.
std::string requestLine(const LoopbackServer& server, std::size_t index) {
  const std::string bytes = server.received(index);
  return bytes.substr(0, bytes.find("\r\n"));
}

// Waits (bounded) until `done` holds; for states that no callback reports.
template <class Done>
bool eventually(Done done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::yield();
  }
  return true;
}

class StreamSession : public ::testing::Test {
 protected:
  // A time-out second lasts 40 ms here, so the designed 5 s waits take 200 ms.
  void SetUp() override { previous_ = setTimeoutSecondForTesting(std::chrono::milliseconds(40)); }
  void TearDown() override { setTimeoutSecondForTesting(previous_); }

  // The stream answer is kept open: the receiver then blocks until the session stops.
  static LoopbackReply streamReply(const std::string& parts) {
    return LoopbackReply::keepingOpen({streamAnswerHead() + parts});
  }

 private:
  std::chrono::milliseconds previous_{};
};

TEST_F(StreamSession, DeliversFramesAndLogsInWithTheWholeCredentials) {
  LoopbackServer server;
  const std::string first = wireRecord({.camera_number = 2, .data_bytes = 3000});
  const std::string second = wireRecord({.camera_number = 0, .data_bytes = 100, .seed = 5});
  server.queueReply(streamReply(partHeader(1) + first + partHeader(2) + second + partHeader(3)));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));

  SessionOwner owner;
  // Longer than the 23 characters the session once kept: the stream must use the same login.
  const std::string user = "operator-with-a-long-name";
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port(), user, "pw");
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(owner.waitForFrames(2));
  const auto frames = owner.frames();
  EXPECT_EQ(frames[0].camera_index, 1);
  EXPECT_EQ(frames[0].length, static_cast<int>(first.size()));
  EXPECT_EQ(frames[0].bytes, first);
  EXPECT_EQ(frames[1].camera_index, -1);
  EXPECT_EQ(frames[1].bytes, second);
  EXPECT_EQ(session->link_state.load(), kLinkEstablished);
  EXPECT_EQ(owner.events().front(), ev(kLinkStarted, 0));

  std::string auth;
  ASSERT_GT(makeBasicAuth(user, "pw", "Authorization", kAuthLineCapacity, auth), 0);
  EXPECT_EQ(server.received(0),
            request("/cgi-bin/kxstream.cgi?ServerId=0&AppKey=" + hex8(session->app_key) +
                        "&CameraId=1&PauseTime=0&KxCgiVer=0x0001",
                    auth));
  EXPECT_EQ(server.received(1), request("/cgi-bin/kxsysget.cgi?KxModId=0&KxCgiVer=0x0001", auth));
  EXPECT_LE(session->app_key, 32767u);

  owner.stop(session);  // the receiver is blocked on the open stream
  ASSERT_TRUE(server.waitForClosed(0));
}

TEST_F(StreamSession, FrameWithoutTablesArrivesWithItsGap) {
  LoopbackServer server;
  const std::string record =
      wireRecord({.camera_number = 3, .coding_flags = 1, .extension_bytes = 8, .data_bytes = 700});
  server.queueReply(streamReply(partHeader(1) + record + partHeader(2)));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  SessionOwner owner;
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(owner.waitForFrames(1));
  const auto frame = owner.frames()[0];
  EXPECT_EQ(frame.camera_index, 2);
  EXPECT_EQ(frame.length, static_cast<int>(record.size() + 595));
  EXPECT_EQ(recordBe16(frame.bytes, 4), 56u);
  EXPECT_EQ(recordBe32(frame.bytes, 48), record.size() + 595);
  EXPECT_EQ(frame.bytes.substr(663), record.substr(68));
  owner.stop(session);
}

TEST_F(StreamSession, RefusedLoginOnTheStreamIsReportedOncePerAttempt) {
  LoopbackServer server;
  for (int attempt = 0; attempt < 3; ++attempt) {
    server.queueReply(LoopbackReply::closing({kv4r::testing::unauthorizedAnswer()}));
    server.queueReply(LoopbackReply::closing({kModelAnswer}));
  }
  SessionOwner owner;
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(owner.waitFor([&] {
    std::size_t refused = 0;
    for (const auto& e : owner.eventsLocked()) refused += e.second == kLinkRefused ? 1 : 0;
    return refused == 3;
  }));
  const auto events = owner.events();
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(events[2 * attempt], ev(kLinkStarted, 0));
    EXPECT_EQ(events[2 * attempt + 1], ev(kLinkFailure, kLinkRefused));
  }
  owner.stop(session);
}

TEST_F(StreamSession, PageWithoutBoundaryBreaksTheLink) {
  LoopbackServer server;
  server.queueReply(LoopbackReply::closing({"HTTP/1.0 200 OK\r\n\r\n<html>busy</html>"}));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  SessionOwner owner;
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(owner.waitForEvents(2));
  EXPECT_EQ(owner.events()[1], ev(kLinkFailure, kLinkBroken));
  EXPECT_EQ(session->link_state.load(), kLinkBroken);
  // Every buffer the session took came back.
  owner.stop(session);
  EXPECT_EQ(poolFreeCount(owner.pool()), 5);
}

TEST_F(StreamSession, ModelCheckRefusesAnotherModelAndAnUnauthorizedAnswer) {
  LoopbackServer server;
  server.queueReply(streamReply(""));
  server.queueReply(LoopbackReply::closing({httpAnswer("Model=0x9999\r\n")}));
  server.queueReply(streamReply(""));
  server.queueReply(LoopbackReply::closing({kv4r::testing::unauthorizedAnswer()}));
  SessionOwner owner;
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(owner.waitForEvents(1));
  EXPECT_EQ(owner.events()[0], ev(kLinkFailure, kLinkWrongModel));
  // The next attempt follows after a 5 s pause; stopping cuts the pause short.
  owner.stop(session);
  EXPECT_EQ(owner.events().size(), 1u);

  SessionOwner again;
  LoopbackServer server2;
  server2.queueReply(streamReply(""));
  server2.queueReply(LoopbackReply::closing({kv4r::testing::unauthorizedAnswer()}));
  session = again.start(LoopbackServer::addressBe(), server2.port());
  ASSERT_TRUE(again.waitForEvents(1));
  EXPECT_EQ(again.events()[0], ev(kLinkFailure, kLinkRefused));
  again.stop(session);
}

TEST_F(StreamSession, CameraChangeWaitsForTheFirstDaemonId) {
  LoopbackServer server;
  const std::string record = wireRecord({});
  server.queueReply(streamReply(partHeader(1) + record + partHeader(42) + record + partHeader(43)));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  server.queueReply(LoopbackReply::closing({httpAnswer("OK")}));
  SessionOwner owner;
  // Camera 1 when connecting, cameras 1 and 2 for every later buffer.
  owner.mask_script = [](int call) { return call == 0 ? 1 : 3; };
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(server.waitForRequest(2));
  EXPECT_EQ(requestLine(server, 2),
            "GET /cgi-bin/kxstctr.cgi?ServerId=0&AppKey=" + hex8(session->app_key) +
                "&DaemonId=42&Action=Add&CameraId=2&KxCgiVer=0x0001 HTTP/1.1");
  ASSERT_TRUE(owner.waitForFrames(2));
  owner.stop(session);
  EXPECT_EQ(server.connectionCount(), 3u);
}

TEST_F(StreamSession, CameraChangeAfterAReconnectionWaitsForTheNewStreamsDaemonId) {
  LoopbackServer server;
  const std::string record = wireRecord({});
  // The first stream brings a frame and daemon id 42, then breaks; the second has sent nothing
  // yet when the change comes. Id 42 names a stream the server has dropped: the change must wait.
  server.queueReply(
      LoopbackReply::closing({streamAnswerHead() + partHeader(1) + record + partHeader(42)}));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  server.queueReply(streamReply(""));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  server.queueReply(LoopbackReply::closing({httpAnswer("No such stream")}));
  SessionOwner owner;
  // Camera 1 until the reconnection, then cameras 1 and 2.
  owner.mask_script = [](int call) { return call < 4 ? 1 : 3; };
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(server.waitForRequest(4));
  const std::string fifth = requestLine(server, 4);
  EXPECT_EQ(fifth.find("kxstctr"), std::string::npos) << fifth;
  EXPECT_EQ(fifth.find("DaemonId=42"), std::string::npos) << fifth;
  owner.stop(session);
}

TEST_F(StreamSession, CameraChangeAddsBeforeItRemoves) {
  LoopbackServer server;
  const std::string record = wireRecord({});
  server.queueReply(streamReply(partHeader(1) + record + partHeader(7) + record + partHeader(7)));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  server.queueReply(LoopbackReply::closing({httpAnswer("OK")}));
  server.queueReply(LoopbackReply::closing({httpAnswer("OK")}));
  SessionOwner owner;
  owner.mask_script = [](int call) { return call < 2 ? 0b101 : 0b011; };
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(server.waitForRequest(3));
  const std::string prefix = "GET /cgi-bin/kxstctr.cgi?ServerId=0&AppKey=" + hex8(session->app_key);
  EXPECT_NE(requestLine(server, 0).find("&CameraId=1,3&"), std::string::npos);
  EXPECT_EQ(requestLine(server, 2),
            prefix + "&DaemonId=7&Action=Add&CameraId=2&KxCgiVer=0x0001 HTTP/1.1");
  EXPECT_EQ(requestLine(server, 3),
            prefix + "&DaemonId=7&Action=Remove&CameraId=3&KxCgiVer=0x0001 HTTP/1.1");
  owner.stop(session);
}

TEST_F(StreamSession, FailedCameraUpdateReconnectsWithTheNewList) {
  LoopbackServer server;
  const std::string record = wireRecord({});
  server.queueReply(streamReply(partHeader(1) + record + partHeader(9)));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  server.queueReply(LoopbackReply::closing({"HTTP/1.0 500 Error\r\nContent-Length: 0\r\n\r\n"}));
  server.queueReply(streamReply(""));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  SessionOwner owner;
  owner.mask_script = [](int call) { return call < 2 ? 1 : 0b110; };
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(server.waitForRequest(3));
  EXPECT_NE(requestLine(server, 3).find("kxstream.cgi?"), std::string::npos);
  EXPECT_NE(requestLine(server, 3).find("&CameraId=2,3&"), std::string::npos);
  ASSERT_TRUE(server.waitForClosed(0));  // the old stream was dropped
  owner.stop(session);
}

TEST_F(StreamSession, NoCameraWantedSuspendsUntilTheStop) {
  LoopbackServer server;
  SessionOwner owner;
  owner.mask = 0;
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(eventually([&] { return session->stream_state.load() == kStreamSuspended; }));
  EXPECT_EQ(server.connectionCount(), 0u);
  owner.stop(session);
  EXPECT_EQ(owner.returnedBuffers(), 1);
}

TEST_F(StreamSession, StopWakesAReceiverWaitingForABuffer) {
  LoopbackServer server;
  const std::string record = wireRecord({});
  std::string parts = partHeader(1);
  for (int i = 0; i < 6; ++i) parts += record + partHeader(2);
  server.queueReply(streamReply(parts));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  SessionOwner owner(3);
  owner.hold_buffers = true;  // the owner keeps every frame: the pool runs dry
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(owner.waitForFrames(3));
  ASSERT_TRUE(eventually([&] { return poolWaiters(owner.pool()) == 1; }));
  owner.stop(session);
  EXPECT_EQ(owner.frames().size(), 3u);
}

TEST_F(StreamSession, PauseTimeIsSentToTheRunningStreamAndKeptForReconnections) {
  LoopbackServer server;
  server.queueReply(streamReply(""));
  server.queueReply(LoopbackReply::closing({kModelAnswer}));
  server.queueReply(LoopbackReply::closing({httpAnswer("OK")}));
  SessionOwner owner;
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_TRUE(owner.waitForEvents(1));
  EXPECT_GT(setPauseTime(session, 300, "127.0.0.1"), 0);
  EXPECT_EQ(requestLine(server, 2),
            "GET /cgi-bin/kxstctr.cgi?ServerId=0&AppKey=" + hex8(session->app_key) +
                "&DaemonId=-1&Action=Set&PauseTime=300&KxCgiVer=0x0001 "
                "HTTP/1.1");
  EXPECT_NE(streamRequestPath(*session, 1).find("&PauseTime=300&"), std::string::npos);
  owner.stop(session);
  EXPECT_EQ(setPauseTime(nullptr, 10, "127.0.0.1"), -1);
}

// A server that accepts the model check and never answers it: the stop cancels the query instead
// of waiting out its time-out (here 100 s), and the cancel is not reported as a broken link.
TEST_F(StreamSession, StopDoesNotWaitForAnUnansweredModelCheck) {
  setTimeoutSecondForTesting(std::chrono::seconds(20));
  LoopbackServer server;
  server.queueReply(streamReply(""));
  server.queueReply(LoopbackReply::keepingOpen({}));
  SessionOwner owner;
  RSP* session = owner.start(LoopbackServer::addressBe(), server.port());
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(server.waitForRequest(1));
  const auto before = std::chrono::steady_clock::now();
  owner.stop(session);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
  EXPECT_TRUE(owner.events().empty());
  EXPECT_TRUE(server.waitForClosed(0));
  EXPECT_TRUE(server.waitForClosed(1));
}

TEST(CameraList, ListsTheSixCamerasAscendingWithoutBlanks) {
  EXPECT_EQ(formatCameraList(0), "");
  EXPECT_EQ(formatCameraList(0b101), "1,3");
  EXPECT_EQ(formatCameraList(0b111111), "1,2,3,4,5,6");
  EXPECT_EQ(formatCameraList(0b1000000 | 0b100000), "6");
  EXPECT_EQ(formatCameraList(-1), "1,2,3,4,5,6");
}

TEST(StreamSessionCreate, RefusesANegativeDescriptorCount) {
  SessionOwner owner;
  EXPECT_EQ(RSPCreate(0, LoopbackServer::addressBe(), 1, "", "", 0, 0, -1, &owner, nullptr, nullptr,
                      nullptr),
            nullptr);
}

}  // namespace
}  // namespace kv4r::stream
