#include "stream/http_request.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/trace.h"
#include "stream/server_address.h"
#include "stream/socket_io.h"
#include "stream/stream_codes.h"
#include "stream/text_search.h"

namespace kv4r::stream {
namespace {

constexpr std::size_t kHostTextCapacity = 32;
constexpr std::string_view kContentLength = "Content-Length:";

std::size_t limitCapacity(std::size_t capacity) {
  return capacity > INT_MAX ? static_cast<std::size_t>(INT_MAX) : capacity;
}

// Connects and sends the request of a query; -1 when that failed (nothing stays open then).
int openQuery(std::string_view path, std::string_view host, int port, std::string_view user,
              std::string_view password, SocketWatch* watch) {
  in_addr address{};
  // inet_aton reads the same forms as inet_addr but tells a bad text from 255.255.255.255.
  if (inet_aton(std::string(host).c_str(), &address) == 0) return -1;
  return httpOpen(address.s_addr, port, user, password, path, kRequestTimeout_s, watch);
}

// Forgets the socket in its watch before closing it, so that a cancel never reaches a reused
// number.
void closeWatched(int fd, SocketWatch* watch) {
  unwatchSocket(watch, fd);
  sockClose(fd);
}

}  // namespace

std::string base64Encode(const void* data, std::size_t length) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  for (std::size_t at = 0; at < length; at += 3) {
    const std::size_t left = length - at;
    const unsigned b0 = bytes[at];
    const unsigned b1 = left > 1 ? bytes[at + 1] : 0;
    const unsigned b2 = left > 2 ? bytes[at + 2] : 0;
    const unsigned triple = (b0 << 16) | (b1 << 8) | b2;
    out += kAlphabet[(triple >> 18) & 0x3F];
    out += kAlphabet[(triple >> 12) & 0x3F];
    out += left > 1 ? kAlphabet[(triple >> 6) & 0x3F] : '=';
    out += left > 2 ? kAlphabet[triple & 0x3F] : '=';
  }
  return out;
}

int makeBasicAuth(std::string_view user, std::string_view password, std::string_view header_name,
                  std::size_t capacity, std::string& line) {
  std::string joined;
  joined.reserve(user.size() + password.size() + 1);
  joined.append(user).append(":").append(password);
  const std::string encoded = base64Encode(joined.data(), joined.size());
  // ": Basic ", CR LF and the terminating NUL take 11 bytes.
  if (header_name.size() + encoded.size() + 11 > capacity) {
    line.clear();
    return -1;
  }
  line.clear();
  line.append(header_name).append(": Basic ").append(encoded).append("\r\n");
  return static_cast<int>(line.size());
}

int httpOpen(std::uint32_t address_be, int port, std::string_view user, std::string_view password,
             std::string_view path, int timeout_s, SocketWatch* watch) {
  // A port typed beyond 16 bits must fail, not wrap round onto another port of the server.
  if (port < 1 || port > 65535) {
    platform::traceErr("bad port");
    errno = EINVAL;
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    const int saved = errno;
    platform::traceErr("socket error");
    errno = saved;
    return -1;
  }
  if (!watchSocket(watch, fd)) {
    close(fd);
    errno = ECANCELED;
    return -1;
  }

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = address_be;
  if (sockConnect(fd, address, timeout_s) != 0) {
    const int saved = errno;
    platform::traceErr("connect error");
    unwatchSocket(watch, fd);
    close(fd);
    errno = saved;
    return -1;
  }

  std::string authorization;
  if (!user.empty() || !password.empty()) {
    if (makeBasicAuth(user, password, "Authorization", kAuthLineCapacity, authorization) < 0) {
      closeWatched(fd, watch);
      return -1;
    }
  }

  std::string host;
  if (formatDotted(address_be, host, kHostTextCapacity) < 0) {
    closeWatched(fd, watch);
    return -1;
  }

  std::string request;
  request.reserve(path.size() + host.size() + authorization.size() + 64);
  request.append("GET ").append(path).append(" HTTP/1.1\r\n");
  request.append("Host: ").append(host).append("\r\n");
  request.append("Connection: Keep-Alive\r\n");
  request.append(authorization).append("\r\n");

  if (sockSendAll(fd, request.data(), request.size(), 0) < 0) {
    closeWatched(fd, watch);
    return -1;
  }
  return fd;
}

int readHeaderBlock(int fd, std::string& header, std::size_t capacity) {
  capacity = limitCapacity(capacity);
  header.clear();
  // End-of-header detector: 1 after CR, 2 after CR LF, 3 after CR LF CR, 4 after CR LF CR LF.
  int state = 0;
  while (header.size() < capacity && state != 4) {
    char byte = 0;
    if (sockRecvN(fd, &byte, 1, 0, kRequestTimeout_s) <= 0) return kQueryFailed;
    header += byte;
    if (byte == '\r') {
      state = (state == 0 || state == 2) ? state + 1 : 0;
    } else if (byte == '\n') {
      state = (state == 1 || state == 3) ? state + 1 : 0;
    } else {
      state = 0;
    }
  }
  return static_cast<int>(header.size());
}

int httpQuery(std::string_view path, std::string_view host, int port, std::string_view user,
              std::string_view password, std::string* response, std::size_t capacity,
              SocketWatch* watch) {
  if (response == nullptr) return kQueryNoBuffer;
  capacity = limitCapacity(capacity);
  const int fd = openQuery(path, host, port, user, password, watch);
  if (fd < 0) return kQueryFailed;

  int result = readHeaderBlock(fd, *response, capacity);
  if (result > 0) {
    const std::size_t header_length = static_cast<std::size_t>(result);
    if (const auto at = findBytes(*response, kContentLength)) {
      const long long announced =
          parseDecimal(std::string_view(*response).substr(*at + kContentLength.size()));
      if (announced < 0 || static_cast<unsigned long long>(announced) > capacity - header_length) {
        result = kQueryTooLarge;
      } else {
        const auto body_length = static_cast<std::size_t>(announced);
        response->resize(header_length + body_length);
        const int received =
            sockRecvN(fd, response->data() + header_length, body_length, 0, kRequestTimeout_s);
        if (received <= 0) {
          response->resize(header_length);
          result = kQueryFailed;
        } else {
          response->resize(header_length + static_cast<std::size_t>(received));
          result = static_cast<int>(response->size());
        }
      }
    }
  }
  closeWatched(fd, watch);
  return result < 0 ? kQueryFailed : result;
}

int httpQueryAll(std::string_view path, std::string_view host, int port, std::string_view user,
                 std::string_view password, std::string* response, std::size_t capacity) {
  if (response == nullptr) return kQueryNoBuffer;
  capacity = limitCapacity(capacity);
  const int fd = openQuery(path, host, port, user, password, nullptr);
  if (fd < 0) return kQueryFailed;

  response->resize(capacity);
  const int received = sockRecvN(fd, response->data(), capacity, 0, kRequestTimeout_s);
  response->resize(received > 0 ? static_cast<std::size_t>(received) : 0);
  sockClose(fd);
  return received < 0 ? kQueryFailed : received;
}

}  // namespace kv4r::stream
