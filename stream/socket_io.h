// Plain TCP sockets with bounded waits: connect, receive and send on a POSIX socket descriptor.
//
// All functions are free functions without shared state; any thread may call them, on different
// sockets at once. The failure reason travels in the calling thread's errno: ETIMEDOUT after a
// time-out, the socket's pending error after a refused or failed connect, EINTR when a wait was
// interrupted (try again).
//
// Ownership: none of these functions closes a socket except sockClose. The code that created a
// socket owns it and closes it exactly once, also after a failed connect or a timed-out receive.
// A thread blocked in sockRecv/sockRecvN can be woken from another thread with
// `shutdown(fd, SHUT_RDWR)` (the receive then reports 0 bytes, the end of the connection); the
// owner closes the descriptor after the blocked thread has let go of it.
//
// Time-outs are whole seconds; a negative value waits without limit. Every caller in the suite
// passes kRequestTimeout_s (5).
#pragma once

#include <netinet/in.h>
#include <sys/uio.h>

#include <chrono>
#include <cstddef>
#include <mutex>

namespace kv4r::stream {

// The value "no socket".
inline constexpr int kNoSocket = -1;

// The time-out every caller passes for each connect and each receive step.
inline constexpr int kRequestTimeout_s = 5;

// Connects `fd` (a fresh TCP socket) to `address`, waiting at most `timeout_s` seconds. Returns 0
// when connected, -1 otherwise (errno: ETIMEDOUT, or the connect error). On success the socket is
// blocking again. The socket stays open either way: the caller closes it. Blocks.
[[nodiscard]] int sockConnect(int fd, const sockaddr_in& address, int timeout_s);

// Waits at most `timeout_s` seconds for `fd` to become readable, then makes one recv of up to
// `length` bytes into `buffer`. Returns what recv returns (0 = the peer closed), or -1 on a
// time-out (errno ETIMEDOUT) or failure. Never closes the socket. Blocks.
[[nodiscard]] int sockRecv(int fd, void* buffer, std::size_t length, int flags, int timeout_s);

// Repeats sockRecv until `length` bytes have arrived. Returns the number of bytes received (fewer
// than `length` only if the peer closed the connection), or -1 on the first time-out or failure
// (bytes already received are then not reported, but they are in `buffer`). An interrupted wait
// is retried. Never closes the socket. Blocks.
[[nodiscard]] int sockRecvN(int fd, void* buffer, std::size_t length, int flags, int timeout_s);

// Sets how long one blocking receive of sockRecvAll may wait on `fd` (SO_RCVTIMEO); a negative
// value waits without limit. Returns 0, or -1 on failure.
[[nodiscard]] int sockSetReceiveTimeout(int fd, int timeout_s);

// Receives exactly `length` bytes with blocking receives that the kernel completes (one wake-up
// per call instead of one per arriving segment): the stream's bulk path. Each call waits at most
// the socket's receive time-out (sockSetReceiveTimeout; none if never set). Same results as
// sockRecvN. Blocks.
[[nodiscard]] int sockRecvAll(int fd, void* buffer, std::size_t length);

// Receives at least `need` and at most `want` bytes (want >= need): one receive takes whatever has
// arrived, up to `want`; when that is less than `need`, the rest of `need` only is waited for as
// sockRecvAll waits. So bytes that follow `need` are taken when they are there already, never
// waited for. Returns the number of bytes received (fewer than `need` only if the peer closed the
// connection), or -1 on a time-out or failure, each receive bounded as for sockRecvAll. Blocks.
[[nodiscard]] int sockRecvAtLeast(int fd, void* buffer, std::size_t need, std::size_t want);

// sockRecvAtLeast over up to kMaxReceivePieces separate pieces, filled in order (one receive for
// bytes that belong in different places); `want` is the pieces' total size. Pieces of 0 bytes are
// allowed. More pieces, or pieces smaller than `need` in all, give -1 (errno EINVAL).
inline constexpr int kMaxReceivePieces = 4;
[[nodiscard]] int sockRecvPiecesAtLeast(int fd, const iovec* pieces, int count, std::size_t need);

// Sends all `length` bytes (no time-out). Returns `length`, or -1 on failure. A peer that has gone
// away gives -1 (errno EPIPE or ECONNRESET), never a SIGPIPE. Lengths above INT_MAX are refused
// with -1 (errno EINVAL). Blocks.
[[nodiscard]] int sockSendAll(int fd, const void* data, std::size_t length, int flags);

// Graceful close: ends the sending side, takes up to 256 waiting bytes without waiting, closes.
// kNoSocket is ignored. Call it exactly once per socket, from its owner.
void sockClose(int fd);

// Lets one thread stop another that works through a series of connections: the worker registers
// each socket while it uses it, and a cancel shuts the registered socket down (waking a connect or
// receive at once) and refuses every later registration. One socket at a time.
struct SocketWatch {
  std::mutex mutex;
  int fd = kNoSocket;      // under mutex
  bool cancelled = false;  // under mutex
};

// Registers `fd`; false when the watch was cancelled (the caller then gives the socket up). A null
// watch registers nothing and succeeds.
[[nodiscard]] bool watchSocket(SocketWatch* watch, int fd);
// Forgets `fd`; call it before closing the socket, so that a cancel never reaches a reused number.
void unwatchSocket(SocketWatch* watch, int fd);
// Shuts the registered socket down and refuses later registrations. Any thread.
void cancelSockets(SocketWatch* watch);

// Test hook: how long one time-out second lasts for every wait of this library (default 1 s).
// Tests shorten it so that a 5-second wait takes a fraction of a second; production code never
// calls it. Returns the previous value. Any thread may call it; waits already running keep theirs.
std::chrono::milliseconds setTimeoutSecondForTesting(std::chrono::milliseconds second);

}  // namespace kv4r::stream
