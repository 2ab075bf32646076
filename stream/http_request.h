// HTTP/1.1 GET requests to the video server: one request per connection, optional Basic
// authorization, and the two ways of reading an answer.
//
// Every request looks like this on the wire, byte for byte:
//
//   GET <path> HTTP/1.1\r\n
//   Host: <dotted address>\r\n          (never a name, never a port)
//   Connection: Keep-Alive\r\n
//   Authorization: Basic <base64>\r\n  (only when the user name or the password is not empty)
//   \r\n
//
// The path is sent unchanged (no encoding). All functions are free functions without shared
// state; any thread may call them. They block, at most kRequestTimeout_s per connect and per
// receive step (sends are not bounded). Traces ("socket error", "connect error") go through
// platform/trace.h; passwords and authorization lines are never traced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stream/socket_io.h"

namespace kv4r::stream {

// Capacity of the authorization line httpOpen builds, NUL included: "user:password" may be 57
// bytes at most (76 Base64 characters).
inline constexpr std::size_t kAuthLineCapacity = 100;

// Base64 of RFC 4648 with the standard alphabet, padded with '=', no line breaks.
[[nodiscard]] std::string base64Encode(const void* data, std::size_t length);

// Writes the header line "<header_name>: Basic <base64 of user:password>\r\n" into `line` and
// returns its length. The line, counted with a terminating NUL, must fit `capacity` bytes;
// otherwise `line` is emptied and the result is -1. With the name "Authorization" and a capacity
// of 100, user name, colon and password may be 57 bytes at most.
[[nodiscard]] int makeBasicAuth(std::string_view user, std::string_view password,
                                std::string_view header_name, std::size_t capacity,
                                std::string& line);

// Opens a TCP connection to `address_be` (IPv4, network byte order) and `port`, and sends one GET
// of `path` (see the top of this file). Returns the connected socket, which the caller owns and
// closes with sockClose, or -1 (nothing stays open then). Credentials too long for the
// authorization line fail after the connect and before anything is sent. With a `watch`, the
// socket is registered there from its creation (a cancelled watch fails at once); a returned
// socket stays registered, and the caller unwatches it before closing it.
[[nodiscard]] int httpOpen(std::uint32_t address_be, int port, std::string_view user,
                           std::string_view password, std::string_view path, int timeout_s,
                           SocketWatch* watch = nullptr);

// Reads an answer's header block from `fd` one byte per receive, so that no body byte is taken,
// until the empty line (CR LF CR LF) or `capacity` bytes. Each receive waits kRequestTimeout_s.
// `header` receives the bytes read; the result is their number, or -2 (kQueryFailed) when a
// receive fails, times out or the peer closes before the empty line. The status line is not
// examined. Does not close `fd`.
[[nodiscard]] int readHeaderBlock(int fd, std::string& header, std::size_t capacity);

// One request with a header block and an optional Content-Length body (the ".cgi" requests).
// `host` is the dotted server address. `response` receives header and body (at most `capacity`
// bytes; it is not NUL-terminated beyond std::string's own). Returns the number of bytes in
// `response`, or a QueryResult code: -6 (kQueryNoBuffer) when `response` is null, -2
// (kQueryFailed) when the connection failed, a receive failed or timed out, the announced body
// was empty or did not arrive, or header plus body would not fit `capacity` (also for a negative
// or absurd Content-Length). A header block without Content-Length is the whole answer; one that
// never ends is cut at `capacity` and returned as all header. The connection is closed in every
// case. With a `watch`, cancelling it ends the query at once with -2.
[[nodiscard]] int httpQuery(std::string_view path, std::string_view host, int port,
                            std::string_view user, std::string_view password, std::string* response,
                            std::size_t capacity, SocketWatch* watch = nullptr);

// As httpQuery, but reads everything until the server closes the connection or `capacity` bytes
// have arrived (the ".asp" requests). A server that keeps the connection open and sends fewer than
// `capacity` bytes makes the query fail with -2 after the receive time-out.
[[nodiscard]] int httpQueryAll(std::string_view path, std::string_view host, int port,
                               std::string_view user, std::string_view password,
                               std::string* response, std::size_t capacity);

}  // namespace kv4r::stream
