#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "stream/http_request.h"
#include "stream/socket_io.h"
#include "tests/support/loopback_server.h"

namespace kv4r::stream {
namespace {

using kv4r::testing::LoopbackReply;
using kv4r::testing::LoopbackServer;

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = LoopbackServer::addressBe();
  address.sin_port = htons(port);
  return address;
}

bool isOpen(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

class NetSocket : public ::testing::Test {
 protected:
  // A time-out second lasts 40 ms here, so the designed 5 s waits take 200 ms.
  void SetUp() override { previous_ = setTimeoutSecondForTesting(std::chrono::milliseconds(40)); }
  void TearDown() override { setTimeoutSecondForTesting(previous_); }

  // A socket connected to `server`; the test owns it.
  int connectTo(const LoopbackServer& server) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(sockConnect(fd, loopback(server.port()), kRequestTimeout_s), 0);
    return fd;
  }

 private:
  std::chrono::milliseconds previous_{};
};

TEST_F(NetSocket, ConnectRefusedReportsTheErrorAndLeavesTheSocketToItsOwner) {
  kv4r::testing::RefusingPort refusing;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  errno = 0;
  EXPECT_EQ(sockConnect(fd, loopback(refusing.port()), kRequestTimeout_s), -1);
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_TRUE(isOpen(fd));
  sockClose(fd);
}

TEST_F(NetSocket, ConnectWithoutAnswerTimesOut) {
  kv4r::testing::UnansweredListener unanswered;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const auto start = std::chrono::steady_clock::now();
  errno = 0;
  EXPECT_EQ(sockConnect(fd, loopback(unanswered.port()), kRequestTimeout_s), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_TRUE(isOpen(fd));
  sockClose(fd);
}

TEST_F(NetSocket, ConnectedSocketIsBlocking) {
  LoopbackServer server;
  const int fd = connectTo(server);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  sockClose(fd);
}

TEST_F(NetSocket, ReceiveTimeOutKeepsTheSocketOpen) {
  LoopbackServer server(LoopbackReply::keepingOpen({}, false));
  const int fd = connectTo(server);
  char byte = 0;
  errno = 0;
  EXPECT_EQ(sockRecv(fd, &byte, 1, 0, kRequestTimeout_s), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_TRUE(isOpen(fd));
  errno = 0;
  EXPECT_EQ(sockRecvN(fd, &byte, 1, 0, 0), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_TRUE(isOpen(fd));
  for (const int timeout_s : {kRequestTimeout_s, 0}) {
    ASSERT_EQ(sockSetReceiveTimeout(fd, timeout_s), 0);
    errno = 0;
    EXPECT_EQ(sockRecvAll(fd, &byte, 1), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    errno = 0;
    EXPECT_EQ(sockRecvAtLeast(fd, &byte, 1, 1), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_TRUE(isOpen(fd));
  }
  sockClose(fd);
  EXPECT_TRUE(server.waitForClosed(0));
}

TEST_F(NetSocket, ReceiveAllCollectsSeveralWritesAndStopsAtTheEnd) {
  const auto polled = [](int fd, char* to, std::size_t n) {
    return sockRecvN(fd, to, n, 0, kRequestTimeout_s);
  };
  const auto blocking = [](int fd, char* to, std::size_t n) {
    return sockSetReceiveTimeout(fd, kRequestTimeout_s) == 0 ? sockRecvAll(fd, to, n) : -2;
  };
  for (const auto& receive : {+polled, +blocking}) {
    LoopbackServer server(LoopbackReply::closing({"abc", "defg", "hi"}, false));
    const int fd = connectTo(server);
    std::string buffer(16, '\0');
    EXPECT_EQ(receive(fd, buffer.data(), 4), 4);
    EXPECT_EQ(buffer.substr(0, 4), "abcd");
    // Asking for more than remains returns what came before the server closed.
    EXPECT_EQ(receive(fd, buffer.data(), buffer.size()), 5);
    EXPECT_EQ(buffer.substr(0, 5), "efghi");
    sockClose(fd);
  }
}

TEST_F(NetSocket, ReceiveAtLeastTakesWhatHasArrivedButWaitsOnlyForWhatIsNeeded) {
  int fds[2] = {-1, -1};
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::string buffer(16, '\0');
  ASSERT_EQ(write(fds[1], "abcdef", 6), 6);
  EXPECT_EQ(sockRecvAtLeast(fds[0], buffer.data(), 2, 4), 4);
  EXPECT_EQ(buffer.substr(0, 4), "abcd");
  EXPECT_EQ(sockRecvAtLeast(fds[0], buffer.data(), 1, 10), 2);
  EXPECT_EQ(buffer.substr(0, 2), "ef");
  // Fewer than needed: the rest is waited for; a close before it comes ends the wait.
  std::thread writer([&] {
    EXPECT_EQ(write(fds[1], "gh", 2), 2);
    close(fds[1]);
  });
  EXPECT_EQ(sockRecvAtLeast(fds[0], buffer.data(), 5, 8), 2);
  EXPECT_EQ(buffer.substr(0, 2), "gh");
  writer.join();
  errno = 0;
  EXPECT_EQ(sockRecvAtLeast(fds[0], buffer.data(), 4, 2), -1);
  EXPECT_EQ(errno, EINVAL);
  close(fds[0]);
}

TEST_F(NetSocket, ReceiveIntoPiecesFillsThemInOrder) {
  int fds[2] = {-1, -1};
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::string first(3, '.');
  std::string second(6, '.');
  const iovec pieces[3] = {{first.data(), 3}, {nullptr, 0}, {second.data(), 6}};
  // Part of what is needed first, the rest (and more) later: the rest completes the pieces in
  // order, and what follows the need is not waited for.
  ASSERT_EQ(write(fds[1], "ab", 2), 2);
  std::thread writer([&] { EXPECT_EQ(write(fds[1], "cdefg", 5), 5); });
  EXPECT_EQ(sockRecvPiecesAtLeast(fds[0], pieces, 3, 7), 7);
  writer.join();
  EXPECT_EQ(first, "abc");
  EXPECT_EQ(second, "defg..");
  ASSERT_EQ(write(fds[1], "hijklmnop", 9), 9);
  EXPECT_EQ(sockRecvPiecesAtLeast(fds[0], pieces, 3, 2), 9);
  EXPECT_EQ(first + second, "hijklmnop");

  errno = 0;
  EXPECT_EQ(sockRecvPiecesAtLeast(fds[0], pieces, 3, 10), -1);
  EXPECT_EQ(errno, EINVAL);
  const iovec too_many[kMaxReceivePieces + 1] = {};
  errno = 0;
  EXPECT_EQ(sockRecvPiecesAtLeast(fds[0], too_many, kMaxReceivePieces + 1, 0), -1);
  EXPECT_EQ(errno, EINVAL);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(NetSocket, SendToAClosedPeerFailsWithoutSignal) {
  auto server = std::make_unique<LoopbackServer>(LoopbackReply::keepingOpen({}, false));
  const int fd = connectTo(*server);
  ASSERT_TRUE(server->waitForConnections(1));
  server.reset();  // closes the server's side completely
  char byte = 0;
  EXPECT_EQ(sockRecv(fd, &byte, 1, 0, kRequestTimeout_s), 0);
  // The first send reaches a closed socket, which answers with a reset; wait for it.
  const std::string data = "late request";
  EXPECT_EQ(sockSendAll(fd, data.data(), data.size(), 0), static_cast<int>(data.size()));
  pollfd hangup{fd, 0, 0};
  EXPECT_EQ(poll(&hangup, 1, 10000), 1);  // POLLHUP/POLLERR: the reset has arrived
  // Now the send fails; with a SIGPIPE the test program would die here.
  errno = 0;
  EXPECT_EQ(sockSendAll(fd, data.data(), data.size(), 0), -1);
  EXPECT_EQ(errno, EPIPE);
  sockClose(fd);
}

TEST_F(NetSocket, ShutdownFromAnotherThreadWakesABlockedReceive) {
  for (const bool polled : {true, false}) {
    LoopbackServer server(LoopbackReply::keepingOpen({}, false));
    const int fd = connectTo(server);
    int result = -2;
    std::thread receiver([&] {
      char bytes[4] = {};
      // Both would wait for ever.
      result = polled ? sockRecv(fd, bytes, 1, 0, -1) : sockRecvAll(fd, bytes, sizeof bytes);
    });
    shutdown(fd, SHUT_RDWR);
    receiver.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(isOpen(fd));
    sockClose(fd);
  }
}

TEST_F(NetSocket, CancelledWatchWakesTheWatchedReceiveAndRefusesNewSockets) {
  LoopbackServer server(LoopbackReply::keepingOpen({}, false));
  SocketWatch watch;
  const int fd = connectTo(server);
  ASSERT_TRUE(watchSocket(&watch, fd));
  int result = -2;
  std::thread receiver([&] {
    char byte = 0;
    result = sockRecv(fd, &byte, 1, 0, -1);  // would wait for ever
  });
  cancelSockets(&watch);
  receiver.join();
  EXPECT_EQ(result, 0);
  unwatchSocket(&watch, fd);
  sockClose(fd);
  EXPECT_FALSE(watchSocket(&watch, 0));
  EXPECT_TRUE(watchSocket(nullptr, 0));
  errno = 0;
  EXPECT_EQ(httpOpen(LoopbackServer::addressBe(), server.port(), "", "", "/", 1, &watch), -1);
  EXPECT_EQ(errno, ECANCELED);
}

TEST_F(NetSocket, CloseIgnoresNoSocketAndEndsTheConnection) {
  sockClose(kNoSocket);
  LoopbackServer server(LoopbackReply::keepingOpen({}, false));
  const int fd = connectTo(server);
  ASSERT_TRUE(server.waitForConnections(1));
  sockClose(fd);
  EXPECT_FALSE(isOpen(fd));
  EXPECT_TRUE(server.waitForClosed(0));
}

}  // namespace
}  // namespace kv4r::stream
