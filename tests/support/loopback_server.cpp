#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <stdexcept>

namespace kv4r::testing {
namespace {

void signal(int event_fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(event_fd, &one, sizeof one);
}

void clear(int event_fd) {
  std::uint64_t value = 0;
  [[maybe_unused]] const ssize_t n = read(event_fd, &value, sizeof value);
}

int makeEvent() {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::runtime_error("eventfd failed");
  return fd;
}

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// A TCP socket bound to 127.0.0.1 with a free port; the port is returned through `port`.
int boundSocket(std::uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(fd);
    throw std::runtime_error("bind failed");
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

LoopbackServer::LoopbackServer(LoopbackReply default_reply)
    : default_reply_(std::move(default_reply)) {
  listen_fd_ = boundSocket(port_);
  if (listen(listen_fd_, 16) != 0) {
    close(listen_fd_);
    throw std::runtime_error("listen failed");
  }
  stop_fd_ = makeEvent();
  acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  signal(stop_fd_);
  acceptor_.join();
  for (auto& thread : threads_) thread.join();
  close(stop_fd_);
  close(listen_fd_);
}

std::uint32_t LoopbackServer::addressBe() {
  return htonl(INADDR_LOOPBACK);
}

void LoopbackServer::queueReply(LoopbackReply reply) {
  std::lock_guard lock(mutex_);
  queued_.push_back(std::move(reply));
}

std::size_t LoopbackServer::connectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

std::string LoopbackServer::received(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return index < connections_.size() ? connections_[index]->bytes : std::string();
}

bool LoopbackServer::waitFor(std::chrono::milliseconds limit, const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, done);
}

bool LoopbackServer::waitForConnections(std::size_t count, std::chrono::milliseconds limit) {
  return waitFor(limit, [&] { return connections_.size() >= count; });
}

bool LoopbackServer::waitForRequest(std::size_t index, std::chrono::milliseconds limit) {
  return waitFor(limit,
                 [&] { return index < connections_.size() && connections_[index]->request_done; });
}

bool LoopbackServer::waitForClosed(std::size_t index, std::chrono::milliseconds limit) {
  return waitFor(limit, [&] { return index < connections_.size() && connections_[index]->closed; });
}

void LoopbackServer::releaseOpenConnections() {
  std::lock_guard lock(mutex_);
  for (auto& connection : connections_) {
    if (!connection->reply.close_after_writes && connection->wake_fd >= 0) {
      signal(connection->wake_fd);
    }
  }
}

void LoopbackServer::acceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;

    std::lock_guard lock(mutex_);
    if (stopping_) {
      close(fd);
      return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connection->wake_fd = makeEvent();
    if (queued_.empty()) {
      connection->reply = default_reply_;
    } else {
      connection->reply = std::move(queued_.front());
      queued_.pop_front();
    }
    Connection& ref = *connection;
    connections_.push_back(std::move(connection));
    threads_.emplace_back([this, &ref] { serve(ref); });
    changed_.notify_all();
  }
}

bool LoopbackServer::readSome(Connection& connection, bool watch_release) {
  pollfd fds[3] = {{connection.fd, POLLIN, 0},
                   {stop_fd_, POLLIN, 0},
                   {connection.wake_fd, static_cast<short>(watch_release ? POLLIN : 0), 0}};
  if (poll(fds, 3, -1) < 0) return errno == EINTR;
  if (fds[1].revents != 0) return false;
  if (fds[2].revents != 0) {
    clear(connection.wake_fd);
    shutdown(connection.fd, SHUT_WR);
    return true;
  }
  char chunk[4096];
  const ssize_t n = recv(connection.fd, chunk, sizeof chunk, 0);
  std::lock_guard lock(mutex_);
  if (n <= 0) {
    connection.request_done = true;
    changed_.notify_all();
    return false;
  }
  connection.bytes.append(chunk, static_cast<std::size_t>(n));
  if (connection.bytes.find("\r\n\r\n") != std::string::npos && !connection.request_done) {
    connection.request_done = true;
    changed_.notify_all();
  }
  return true;
}

bool LoopbackServer::sendAll(Connection& connection, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    pollfd fds[2] = {{connection.fd, POLLOUT, 0}, {stop_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    const ssize_t n =
        send(connection.fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void LoopbackServer::serve(Connection& connection) {
  bool open = true;
  if (connection.reply.read_request) {
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (connection.request_done) break;
      }
      if (!readSome(connection, false)) {
        open = false;
        break;
      }
    }
  }
  for (const auto& bytes : connection.reply.writes) {
    if (!sendAll(connection, bytes)) break;
  }
  if (connection.reply.close_after_writes) shutdown(connection.fd, SHUT_WR);
  while (open && readSome(connection, true)) {
  }
  close(connection.fd);
  std::lock_guard lock(mutex_);
  close(connection.wake_fd);
  connection.wake_fd = -1;
  connection.request_done = true;
  connection.closed = true;
  changed_.notify_all();
}

UnansweredListener::UnansweredListener() {
  listen_fd_ = boundSocket(port_);
  // With a backlog of 0 the accept queue holds one connection; once it is taken, the kernel
  // drops further connection requests, which the client retries until its own time-out.
  if (listen(listen_fd_, 0) != 0) throw std::runtime_error("listen failed");
  const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (filler < 0) throw std::runtime_error("socket failed");
  fillers_.push_back(filler);
  const sockaddr_in address = loopback(port_);
  if (connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) throw std::runtime_error("filler connect failed");
    pollfd p{filler, POLLOUT, 0};
    if (poll(&p, 1, static_cast<int>(LoopbackServer::kWaitLimit.count())) != 1) {
      throw std::runtime_error("filler connect did not complete");
    }
  }
}

UnansweredListener::~UnansweredListener() {
  for (const int fd : fillers_) close(fd);
  close(listen_fd_);
}

RefusingPort::RefusingPort() {
  fd_ = boundSocket(port_);
}

RefusingPort::~RefusingPort() {
  close(fd_);
}

std::size_t openDescriptorCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

}  // namespace kv4r::testing
