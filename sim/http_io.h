// The HTTP side of the server's connections: reading one request's header block with a bound on
// size and time, parsing its request line and query, checking Basic authorization, and sending
// with all the ways a stream may be written (whole, scattered, in pieces).
//
// Free functions; each call works on the one socket it is given and may run on any thread. All
// sends use MSG_NOSIGNAL: a vanished peer is a result, never a signal.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kv4r::sim {

// Longest header block a request may have.
inline constexpr std::size_t kMaxRequestBytes = 8192;

struct HttpRequest {
  std::string raw;                           // the header block as received, up to the empty line
  std::vector<std::string> lines;            // its lines without CR LF (request line first)
  std::string method;                        // "GET"
  std::string target;                        // "/cgi-bin/kxstream.cgi?ServerId=0&..."
  std::string path;                          // target up to '?'
  std::string query;                         // target after '?', or empty
  std::optional<std::string> authorization;  // value of the Authorization header, if any
};

// Reads one header block from `fd`, waiting at most `timeout_ms` in all. Returns 1 with *request
// filled, kSimErrClosed when the peer closed (or the socket was shut down) before the empty line,
// kSimErrTimeout, or kSimErrBadRequest for a block above kMaxRequestBytes or a malformed request
// line. Blocks.
[[nodiscard]] int readRequest(int fd, int timeout_ms, HttpRequest* request);

// Parses a request's header block (see HttpRequest); 1 or kSimErrBadRequest.
[[nodiscard]] int parseRequest(std::string raw, HttpRequest* request);

// The value of `key` in a query text "a=1&b=2" (first occurrence, exact, no decoding).
[[nodiscard]] std::optional<std::string> queryValue(std::string_view query, std::string_view key);

// An integer in decimal (optional sign) or "0x" hexadecimal, the whole text. Nothing when the text
// is empty, has other characters or lies outside int64.
[[nodiscard]] std::optional<long long> parseInteger(std::string_view text);

// A camera list "1,3" as camera numbers 1..max_camera, ascending, without repeats. Unknown or
// malformed entries are skipped.
[[nodiscard]] std::vector<int> parseCameraList(std::string_view text, int max_camera);

// Standard Base64 decoding (RFC 4648, '=' padding). Nothing for a malformed text.
[[nodiscard]] std::optional<std::string> base64Decode(std::string_view text);

struct SimUser {
  std::string name;
  std::string password;
};

// Checks an Authorization header value ("Basic <base64 of name:password>") against `users`. With
// no users every request passes. Returns true when allowed; *user (optional) receives the name the
// request gave, or stays empty.
[[nodiscard]] bool authorize(const std::optional<std::string>& authorization,
                             const std::vector<SimUser>& users, std::string* user);

// Sends all bytes. 1, or kSimErrClosed. Blocks.
[[nodiscard]] int sendAll(int fd, const void* data, std::size_t length);
[[nodiscard]] int sendAll(int fd, std::string_view text);

// Sends all bytes of the `count` buffers (they are not changed). 1, or kSimErrClosed. Blocks.
[[nodiscard]] int sendScattered(int fd, const iovec* buffers, int count);

// Sends all bytes in pieces of 1..max_piece bytes, each with its own send. 1, or kSimErrClosed.
[[nodiscard]] int sendInPieces(int fd, std::string_view bytes, int max_piece, std::mt19937* random);

// Ends an answer that the peer reads until the connection closes: shuts the sending side, then
// waits at most `linger_ms` for the peer to close its side (discarding what it sends) so that no
// reset destroys the answer's end. Does not close `fd`.
void finishAnswer(int fd, int linger_ms);

// True when the peer has closed its side or the socket failed (checked without waiting).
[[nodiscard]] bool peerGone(int fd);

}  // namespace kv4r::sim
