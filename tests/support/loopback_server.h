// A scripted HTTP-ish server on 127.0.0.1 for tests, plus two helpers for connects that are
// refused or never answered.
//
// LoopbackServer listens on 127.0.0.1 with a free port. Each accepted connection gets the next
// queued LoopbackReply (or the default one) and its own thread. The server records every byte
// it receives per connection, in accept order, and lets a test wait for "request received" and
// "connection closed" without sleeping. The destructor stops everything and joins its threads.
// Thread safety: every member may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv4r::testing {

// What the server does on one connection.
struct LoopbackReply {
  // Wait for the request's empty line (CR LF CR LF), or for the client to stop sending, before
  // answering.
  bool read_request = true;
  // Sent in this order, one send per entry, so that a client sees them as separate arrivals
  // only if it reads between them (TCP may still join them).
  std::vector<std::string> writes;
  // true: end the sending side after the writes. false: keep the connection open until the
  // client closes it, releaseOpenConnections() is called or the server stops.
  bool close_after_writes = true;

  // Answers after the request and ends the connection.
  static LoopbackReply closing(std::vector<std::string> writes, bool read_request = true) {
    return LoopbackReply{read_request, std::move(writes), true};
  }
  // Answers after the request and keeps the connection open.
  static LoopbackReply keepingOpen(std::vector<std::string> writes, bool read_request = true) {
    return LoopbackReply{read_request, std::move(writes), false};
  }
};

class LoopbackServer {
 public:
  // Starts listening; throws std::runtime_error when no socket can be made.
  explicit LoopbackServer(LoopbackReply default_reply = {});
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t port() const { return port_; }
  // 127.0.0.1 in network byte order, and as text.
  static std::uint32_t addressBe();
  static const char* host() { return "127.0.0.1"; }

  // The reply for the next connection that has no reply yet (queued replies are used in order).
  void queueReply(LoopbackReply reply);

  // Number of connections accepted so far.
  std::size_t connectionCount() const;
  // All bytes received so far on connection `index` (0 = the first accepted).
  std::string received(std::size_t index) const;

  // Each wait returns false if the event did not happen within `limit` (a safety net against a
  // hanging test, not a timing assumption).
  bool waitForConnections(std::size_t count, std::chrono::milliseconds limit = kWaitLimit);
  // The request's empty line arrived, or the client ended its sending side.
  bool waitForRequest(std::size_t index, std::chrono::milliseconds limit = kWaitLimit);
  // The client closed the connection and the server closed its side.
  bool waitForClosed(std::size_t index, std::chrono::milliseconds limit = kWaitLimit);

  // Ends the sending side of every connection that is kept open, so its clients see the end.
  void releaseOpenConnections();

  static constexpr std::chrono::milliseconds kWaitLimit{10000};

 private:
  struct Connection {
    int fd = -1;
    int wake_fd = -1;  // eventfd: stop or release
    LoopbackReply reply;
    std::string bytes;  // under mutex_
    bool request_done = false;
    bool closed = false;
    bool released = false;
  };

  void acceptLoop();
  void serve(Connection& connection);
  // Reads what is waiting; false when the client ended or the connection failed.
  // `watch_release`: also end the sending side when releaseOpenConnections() asks.
  bool readSome(Connection& connection, bool watch_release);
  // Sends all bytes; false when the client went away or the server stops.
  bool sendAll(Connection& connection, const std::string& bytes);
  bool waitFor(std::chrono::milliseconds limit, const std::function<bool()>& done);

  int listen_fd_ = -1;
  int stop_fd_ = -1;  // eventfd signalled once at destruction
  std::uint16_t port_ = 0;
  LoopbackReply default_reply_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<LoopbackReply> queued_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<std::thread> threads_;
  bool stopping_ = false;
  std::thread acceptor_;
};

// A listening socket on 127.0.0.1 whose accept queue is full: a further connect to port() gets
// no answer at all and can only time out. Nothing leaves the loopback interface.
class UnansweredListener {
 public:
  UnansweredListener();
  ~UnansweredListener();
  UnansweredListener(const UnansweredListener&) = delete;
  UnansweredListener& operator=(const UnansweredListener&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int listen_fd_ = -1;
  std::vector<int> fillers_;
  std::uint16_t port_ = 0;
};

// A port on 127.0.0.1 that is bound but not listening, so connects to it are refused. The port
// stays reserved while the object lives.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// Number of open descriptors of this process (entries of /proc/self/fd).
std::size_t openDescriptorCount();

}  // namespace kv4r::testing
