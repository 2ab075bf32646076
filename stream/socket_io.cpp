#include "stream/socket_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>

#include "platform/trace.h"

namespace kv4r::stream {
namespace {

std::atomic<long long> timeout_second_ms{1000};

// Keeps errno across a trace, so that the caller sees the reason of the failure, not of printing.
void traceNotSet() {
  const int saved = errno;
  platform::traceErr("select error: sockfd not set\n");
  errno = saved;
}

bool setNonBlocking(int fd, bool on) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return wanted == flags || fcntl(fd, F_SETFL, wanted) == 0;
}

using Clock = std::chrono::steady_clock;

// The deadline of a wait of `timeout_s` time-out seconds; none for a negative value.
struct Deadline {
  bool unlimited = true;
  Clock::time_point at{};
};

Deadline deadlineAfter(int timeout_s) {
  Deadline d;
  if (timeout_s < 0) return d;
  d.unlimited = false;
  d.at = Clock::now() + std::chrono::milliseconds(timeout_s * timeout_second_ms.load());
  return d;
}

int pollTimeoutMs(const Deadline& d) {
  if (d.unlimited) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(d.at - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// poll() on one descriptor until an event, the deadline or a failure. Returns the revents (> 0),
// 0 on a time-out, -1 on failure (errno as poll set it). An interruption is returned as -1/EINTR
// when `return_on_eintr`, otherwise the wait goes on until the same deadline.
int pollOne(int fd, short events, const Deadline& deadline, bool return_on_eintr) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, pollTimeoutMs(deadline));
    if (n > 0) {
      if ((p.revents & POLLNVAL) == 0) return p.revents;
      errno = EBADF;  // not an open descriptor
      return -1;
    }
    if (n == 0) return 0;
    if (errno != EINTR || return_on_eintr) return -1;
  }
}

// Repeats `receive_some(dest, want)` until `length` bytes have come (the result), the peer closed
// (fewer) or a receive failed (-1; an interrupted one is repeated).
template <typename ReceiveSome>
int receiveRepeated(void* buffer, std::size_t length, ReceiveSome receive_some) {
  if (length > INT_MAX) {
    errno = EINVAL;
    return -1;
  }
  auto* bytes = static_cast<char*>(buffer);
  std::size_t received = 0;
  while (received < length) {
    const ssize_t n = receive_some(bytes + received, length - received);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    received += static_cast<std::size_t>(n);
  }
  return static_cast<int>(received);
}

}  // namespace

std::chrono::milliseconds setTimeoutSecondForTesting(std::chrono::milliseconds second) {
  return std::chrono::milliseconds(timeout_second_ms.exchange(second.count()));
}

int sockConnect(int fd, const sockaddr_in& address, int timeout_s) {
  if (!setNonBlocking(fd, true)) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) return -1;
    const int revents = pollOne(fd, POLLIN | POLLOUT, deadlineAfter(timeout_s), false);
    if (revents == 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    // A failed connect reports POLLERR/POLLHUP: ready, with the reason in SO_ERROR.
    if (revents < 0 || (revents & (POLLIN | POLLOUT | POLLERR | POLLHUP)) == 0) {
      traceNotSet();
      return -1;
    }
    int pending = 0;
    socklen_t size = sizeof pending;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) != 0) return -1;
    if (pending != 0) {
      errno = pending;
      return -1;
    }
  }
  if (!setNonBlocking(fd, false)) return -1;
  return 0;
}

int sockRecv(int fd, void* buffer, std::size_t length, int flags, int timeout_s) {
  const int revents = pollOne(fd, POLLIN, deadlineAfter(timeout_s), true);
  if (revents == 0) {
    errno = ETIMEDOUT;
    return -1;
  }
  if (revents < 0) {
    if (errno != EINTR) traceNotSet();
    return -1;
  }
  // POLLHUP or POLLERR without POLLIN: recv reports the end or the error itself.
  if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
    traceNotSet();
    return -1;
  }
  if (length > INT_MAX) length = INT_MAX;
  return static_cast<int>(recv(fd, buffer, length, flags));
}

int sockRecvN(int fd, void* buffer, std::size_t length, int flags, int timeout_s) {
  return receiveRepeated(buffer, length, [&](char* dest, std::size_t want) -> ssize_t {
    return sockRecv(fd, dest, want, flags, timeout_s);
  });
}

int sockSetReceiveTimeout(int fd, int timeout_s) {
  timeval limit{};  // zero: no limit
  if (timeout_s >= 0) {
    const long long ms = timeout_s * timeout_second_ms.load();
    limit.tv_sec = static_cast<time_t>(ms / 1000);
    limit.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    if (ms == 0) limit.tv_usec = 1;  // as short as possible, not "no limit"
  }
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 ? 0 : -1;
}

int sockRecvAll(int fd, void* buffer, std::size_t length) {
  const iovec whole{buffer, length};
  return sockRecvPiecesAtLeast(fd, &whole, 1, length);
}

int sockRecvPiecesAtLeast(int fd, const iovec* pieces, int count, std::size_t need) {
  std::size_t want = 0;
  for (int i = 0; i < count && pieces != nullptr; ++i) want += pieces[i].iov_len;
  if (pieces == nullptr || count <= 0 || count > kMaxReceivePieces || want < need ||
      want > INT_MAX) {
    errno = EINVAL;
    return -1;
  }
  // The first receive takes whatever has come, up to every piece; without room beyond `need` the
  // kernel completes it at once.
  std::size_t got = 0;
  std::size_t limit = want;
  int flags = want == need ? MSG_WAITALL : 0;
  while (got < need) {
    // The pieces from byte `got` on, cut to `limit` bytes in all.
    std::array<iovec, kMaxReceivePieces> rest{};
    std::size_t skip = got;
    std::size_t left = limit - got;
    int used = 0;
    for (int i = 0; i < count && left > 0; ++i) {
      if (skip >= pieces[i].iov_len) {
        skip -= pieces[i].iov_len;
        continue;
      }
      const std::size_t length = std::min(pieces[i].iov_len - skip, left);
      rest[used++] = {static_cast<char*>(pieces[i].iov_base) + skip, length};
      left -= length;
      skip = 0;
    }
    msghdr message{};
    message.msg_iov = rest.data();
    message.msg_iovlen = static_cast<std::size_t>(used);
    const ssize_t n = recvmsg(fd, &message, flags);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) errno = ETIMEDOUT;
      return -1;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    // From now on only what is still needed, completed by the kernel: the segments that arrive
    // meanwhile wake the thread inside the call, not in a new system call each, and each call is
    // bounded by SO_RCVTIMEO.
    limit = need;
    flags = MSG_WAITALL;
  }
  return static_cast<int>(got);
}

int sockRecvAtLeast(int fd, void* buffer, std::size_t need, std::size_t want) {
  const iovec whole{buffer, want};
  return sockRecvPiecesAtLeast(fd, &whole, 1, need);
}

int sockSendAll(int fd, const void* data, std::size_t length, int flags) {
  if (length > INT_MAX) {
    errno = EINVAL;
    return -1;
  }
  const auto* bytes = static_cast<const char*>(data);
  std::size_t sent = 0;
  while (sent < length) {
    const ssize_t n = send(fd, bytes + sent, length - sent, flags | MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return -1;
    }
    sent += static_cast<std::size_t>(n);
  }
  return static_cast<int>(length);
}

bool watchSocket(SocketWatch* watch, int fd) {
  if (watch == nullptr) return true;
  std::lock_guard guard(watch->mutex);
  if (watch->cancelled) return false;
  watch->fd = fd;
  return true;
}

void unwatchSocket(SocketWatch* watch, int fd) {
  if (watch == nullptr) return;
  std::lock_guard guard(watch->mutex);
  if (watch->fd == fd) watch->fd = kNoSocket;
}

void cancelSockets(SocketWatch* watch) {
  if (watch == nullptr) return;
  std::lock_guard guard(watch->mutex);
  watch->cancelled = true;
  if (watch->fd != kNoSocket) shutdown(watch->fd, SHUT_RDWR);
}

void sockClose(int fd) {
  if (fd == kNoSocket) return;
  const int saved = errno;
  setNonBlocking(fd, true);
  if (shutdown(fd, SHUT_WR) == 0) {
    char scratch[256];
    [[maybe_unused]] const ssize_t ignored = recv(fd, scratch, sizeof scratch, 0);
  }
  close(fd);
  errno = saved;
}

}  // namespace kv4r::stream
