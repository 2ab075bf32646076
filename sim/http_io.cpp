#include "sim/http_io.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "sim/sim_codes.h"

namespace kv4r::sim {
namespace {

std::string trim(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return std::string(text.substr(b, e - b));
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

}  // namespace

int parseRequest(std::string raw, HttpRequest* request) {
  HttpRequest r;
  r.raw = std::move(raw);
  std::size_t start = 0;
  while (start < r.raw.size()) {
    std::size_t end = r.raw.find("\r\n", start);
    if (end == std::string::npos) end = r.raw.size();
    if (end == start) break;  // the empty line
    r.lines.push_back(r.raw.substr(start, end - start));
    start = end + 2;
  }
  if (r.lines.empty()) return kSimErrBadRequest;
  const std::string& line = r.lines[0];
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos) return kSimErrBadRequest;
  r.method = line.substr(0, sp1);
  r.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  // A request through a proxy names the server in the target: keep its path.
  if (r.target.rfind("http://", 0) == 0) {
    const std::size_t slash = r.target.find('/', 7);
    r.target = slash == std::string::npos ? "/" : r.target.substr(slash);
  }
  if (r.target.empty() || r.target[0] != '/') return kSimErrBadRequest;
  if (line.compare(sp2 + 1, 5, "HTTP/") != 0) return kSimErrBadRequest;
  const std::size_t q = r.target.find('?');
  r.path = r.target.substr(0, q);
  if (q != std::string::npos) r.query = r.target.substr(q + 1);
  for (std::size_t i = 1; i < r.lines.size(); ++i) {
    const std::size_t colon = r.lines[i].find(':');
    if (colon == std::string::npos) continue;
    if (equalsNoCase(trim(std::string_view(r.lines[i]).substr(0, colon)), "Authorization")) {
      r.authorization = trim(std::string_view(r.lines[i]).substr(colon + 1));
    }
  }
  *request = std::move(r);
  return 1;
}

int readRequest(int fd, int timeout_ms, HttpRequest* request) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string raw;
  char chunk[1024];
  for (;;) {
    const std::size_t end = raw.find("\r\n\r\n");
    if (end != std::string::npos) {
      raw.resize(end + 4);  // bytes after the empty line (none expected) are dropped
      return parseRequest(std::move(raw), request);
    }
    if (raw.size() > kMaxRequestBytes) return kSimErrBadRequest;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return kSimErrTimeout;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return kSimErrClosed;
    if (ready == 0) return kSimErrTimeout;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kSimErrClosed;
    raw.append(chunk, static_cast<std::size_t>(n));
  }
}

std::optional<std::string> queryValue(std::string_view query, std::string_view key) {
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view pair = query.substr(start, end - start);
    const std::size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == key) {
      return std::string(pair.substr(eq + 1));
    }
    start = end + 1;
  }
  return std::nullopt;
}

std::optional<long long> parseInteger(std::string_view text) {
  if (text.empty()) return std::nullopt;
  bool negative = false;
  std::size_t i = 0;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  int base = 10;
  if (text.size() >= i + 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  unsigned long long value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    if (value > (static_cast<unsigned long long>(LLONG_MAX) - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  const long long signed_value = static_cast<long long>(value);
  return negative ? -signed_value : signed_value;
}

std::vector<int> parseCameraList(std::string_view text, int max_camera) {
  std::vector<bool> wanted(static_cast<std::size_t>(std::max(max_camera, 0)) + 1, false);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    const std::optional<long long> n = parseInteger(trim(text.substr(start, end - start)));
    if (n && *n >= 1 && *n <= max_camera) wanted[static_cast<std::size_t>(*n)] = true;
    start = end + 1;
  }
  std::vector<int> cameras;
  for (int c = 1; c <= max_camera; ++c) {
    if (wanted[static_cast<std::size_t>(c)]) cameras.push_back(c);
  }
  return cameras;
}

std::optional<std::string> base64Decode(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int pads = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        v[k] = 0;
        ++pads;
        continue;
      }
      if (pads > 0) return std::nullopt;  // data after padding
      v[k] = value(c);
      if (v[k] < 0) return std::nullopt;
    }
    const unsigned triple = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<char>((triple >> 16) & 0xFF));
    if (pads < 2) out.push_back(static_cast<char>((triple >> 8) & 0xFF));
    if (pads < 1) out.push_back(static_cast<char>(triple & 0xFF));
  }
  return out;
}

bool authorize(const std::optional<std::string>& authorization, const std::vector<SimUser>& users,
               std::string* user) {
  if (user) user->clear();
  std::optional<std::string> pair;
  if (authorization && authorization->size() > 6 &&
      equalsNoCase(std::string_view(*authorization).substr(0, 6), "Basic ")) {
    pair = base64Decode(trim(std::string_view(*authorization).substr(6)));
  }
  std::string name;
  std::string password;
  if (pair) {
    const std::size_t colon = pair->find(':');
    name = pair->substr(0, colon);
    if (colon != std::string::npos) password = pair->substr(colon + 1);
    if (user) *user = name;
  }
  if (users.empty()) return true;
  if (!pair || pair->find(':') == std::string::npos) return false;
  for (const SimUser& u : users) {
    if (u.name == name && u.password == password) return true;
  }
  return false;
}

int sendAll(int fd, const void* data, std::size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kSimErrClosed;
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return 1;
}

int sendAll(int fd, std::string_view text) {
  return sendAll(fd, text.data(), text.size());
}

int sendScattered(int fd, const iovec* buffers, int count) {
  std::vector<iovec> rest(buffers, buffers + count);
  std::size_t first = 0;
  while (first < rest.size()) {
    msghdr msg{};
    msg.msg_iov = &rest[first];
    msg.msg_iovlen = rest.size() - first;
    ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kSimErrClosed;
    while (n > 0 && first < rest.size()) {
      const std::size_t take = std::min(static_cast<std::size_t>(n), rest[first].iov_len);
      rest[first].iov_base = static_cast<char*>(rest[first].iov_base) + take;
      rest[first].iov_len -= take;
      n -= static_cast<ssize_t>(take);
      if (rest[first].iov_len == 0) ++first;
    }
    while (first < rest.size() && rest[first].iov_len == 0) ++first;
  }
  return 1;
}

int sendInPieces(int fd, std::string_view bytes, int max_piece, std::mt19937* random) {
  std::uniform_int_distribution<int> piece(1, std::max(1, max_piece));
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t n = std::min(bytes.size() - at, static_cast<std::size_t>(piece(*random)));
    if (sendAll(fd, bytes.data() + at, n) < 0) return kSimErrClosed;
    at += n;
  }
  return 1;
}

void finishAnswer(int fd, int linger_ms) {
  if (::shutdown(fd, SHUT_WR) != 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(linger_ms);
  char scratch[256];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    const ssize_t n = ::recv(fd, scratch, sizeof scratch, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
  }
}

bool peerGone(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLERR | POLLHUP | POLLRDHUP | POLLNVAL)) return true;
  char c;
  const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace kv4r::sim
