// Every close() of this program goes through __wrap_close (linked with -Wl,--wrap=close), which
// records the calling thread, the descriptor and the result. A socket closed twice shows up as a
// second close of the same number by the same thread (or as EBADF).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stream/http_request.h"
#include "stream/socket_io.h"
#include "stream/stream_codes.h"
#include "tests/support/loopback_server.h"

extern "C" int __real_close(int fd);

namespace {

struct CloseCall {
  std::thread::id thread;
  int fd = -1;
  int result = 0;
  int error = 0;
};

std::mutex calls_mutex;
std::vector<CloseCall> calls;

}  // namespace

extern "C" int __wrap_close(int fd) {
  const int result = __real_close(fd);
  const int error = errno;
  {
    std::lock_guard lock(calls_mutex);
    calls.push_back({std::this_thread::get_id(), fd, result, error});
  }
  errno = error;
  return result;
}

namespace kv4r::stream {
namespace {

using kv4r::testing::LoopbackReply;
using kv4r::testing::LoopbackServer;

class NetClose : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = setTimeoutSecondForTesting(std::chrono::milliseconds(40));
    descriptors_before_ = kv4r::testing::openDescriptorCount();
    std::lock_guard lock(calls_mutex);
    calls.clear();
  }
  void TearDown() override { setTimeoutSecondForTesting(previous_); }

  // The closes this thread made since SetUp; each must have succeeded.
  std::vector<int> closesOfThisThread() {
    std::vector<int> fds;
    std::lock_guard lock(calls_mutex);
    for (const auto& call : calls) {
      if (call.thread != std::this_thread::get_id()) continue;
      EXPECT_EQ(call.result, 0) << "close(" << call.fd << ") failed with errno " << call.error;
      fds.push_back(call.fd);
    }
    return fds;
  }

  std::size_t descriptors_before_ = 0;
  std::string response_;

 private:
  std::chrono::milliseconds previous_{};
};

// Each query opens one socket and must close it exactly once, whatever went wrong.
TEST_F(NetClose, EveryQueryClosesItsSocketOnce) {
  LoopbackServer server;
  server.queueReply(LoopbackReply::closing({"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"}));
  server.queueReply(LoopbackReply::keepingOpen(
      {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n"}));           // body times out
  server.queueReply(LoopbackReply::keepingOpen({"HTTP/1.0 200"}));  // header times out
  server.queueReply(LoopbackReply::closing({"HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n"}));
  server.queueReply(LoopbackReply::keepingOpen({"partial"}));  // query-all time-out
  const std::size_t descriptors_with_server = kv4r::testing::openDescriptorCount();

  const auto one = [&](int result, int expected) {
    EXPECT_EQ(result, expected);
    EXPECT_EQ(closesOfThisThread().size(), 1u);
    std::lock_guard lock(calls_mutex);
    calls.clear();
  };
  one(httpQuery("/a", "127.0.0.1", server.port(), "", "", &response_, 256), 40);
  one(httpQuery("/b", "127.0.0.1", server.port(), "", "", &response_, 256), kQueryFailed);
  one(httpQuery("/c", "127.0.0.1", server.port(), "", "", &response_, 256), kQueryFailed);
  one(httpQuery("/d", "127.0.0.1", server.port(), "", "", &response_, 256), kQueryFailed);
  one(httpQueryAll("/e", "127.0.0.1", server.port(), "", "", &response_, 256), kQueryFailed);
  one(httpQuery("/f", "127.0.0.1", server.port(), std::string(60, 'u'), "", &response_, 256),
      kQueryFailed);  // credentials too long

  kv4r::testing::RefusingPort refusing;
  one(httpQuery("/g", "127.0.0.1", refusing.port(), "", "", &response_, 256), kQueryFailed);
  {
    kv4r::testing::UnansweredListener unanswered;
    one(httpQuery("/h", "127.0.0.1", unanswered.port(), "", "", &response_, 256), kQueryFailed);
  }

  // Once the server has seen every connection end, no descriptor of ours is left open.
  for (std::size_t i = 0; i < 6; ++i) EXPECT_TRUE(server.waitForClosed(i)) << i;
  EXPECT_EQ(kv4r::testing::openDescriptorCount(), descriptors_with_server + 1);  // `refusing`
}

TEST_F(NetClose, NoDescriptorIsLeftAfterTheServerStops) {
  {
    LoopbackServer server(LoopbackReply::closing({"HTTP/1.0 200 OK\r\n\r\n"}));
    EXPECT_GT(httpQuery("/a", "127.0.0.1", server.port(), "", "", &response_, 256), 0);
  }
  EXPECT_EQ(kv4r::testing::openDescriptorCount(), descriptors_before_);
}

}  // namespace
}  // namespace kv4r::stream
