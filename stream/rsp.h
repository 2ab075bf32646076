// The live stream session (RSP): one stream request to the server that asks for every wanted
// camera at once, a receiving thread (streamThread) that reads the multipart answer frame by frame
// into the owner's receive buffers, and a delivering thread (dispatchThread) that hands each frame
// to the owner. The session re-checks login and server model on every (re)connection, tells the
// server when the wanted cameras change, and reconnects after every failure until it is stopped.
//
// A frame is never copied: the receive buffer travels from the socket through the frame queue to
// the owner's deliverFrame, which owns it from then on. At most `descriptor_count` frames are
// between the two threads (the descriptor pool bounds them).
//
// Threads: RSPCreate, RSPDestroy, socketCloseConnection and setPauseTime are called by the owner's
// thread (the window thread); streamThread and dispatchThread call the owner's callbacks. The
// stream socket belongs to streamThread: it alone closes it. Stopping wakes a blocked receive with
// shutdown() and lets the thread close the descriptor when it lets go of it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "stream/frame_queue.h"
#include "stream/frame_receiver.h"
#include "stream/sbpool.h"
#include "stream/socket_io.h"

namespace kv4r::stream {

// State of streamThread (polled by the stopping thread).
enum ThreadState : int {
  kStreamStarting = 0,
  kStreamWaitingDescriptor = 1,
  kStreamReceiving = 2,
  kStreamSuspended = 3,
  kStreamEnded = 17,
};

// State of dispatchThread.
enum DispatchState : int {
  kDispatchStarting = 1,
  kDispatchWaiting = 2,
  kDispatchDelivering = 3,
  kDispatchEnded = 7,
};

// The stream connection as the owner sees it.
enum LinkState : int {
  kLinkNone = 0,
  kLinkEstablished = 1,
  kLinkBroken = 2,
  kLinkRefused = 3,  // the server refused the login
  kLinkWrongModel = 4,
};

// Kinds of deliverFrame and linkEvent.
inline constexpr int kDeliverFrame = 0;   // a received frame
inline constexpr int kDeliverReturn = 1;  // a buffer without frame, given back
inline constexpr int kLinkFailure = 1;    // linkEvent(kLinkFailure, LinkState 2, 3 or 4)
inline constexpr int kLinkStarted = 2;    // linkEvent(kLinkStarted, 0): a new connection

inline constexpr int kDescriptorBlockBytes = 140;
inline constexpr int kViewerDescriptorCount = 2;
inline constexpr int kMaxPauseTime = 490;
inline constexpr int kModelRetryDelay_ms = 5000;
// An attempt that brings no frame (a failed connect, a stream that breaks before its first frame)
// is followed by a pause that starts here and doubles with each such attempt in a row up to the
// maximum. After a stream that delivered frames the next attempt still goes at once.
inline constexpr int kConnectRetryFirst_ms = 100;
inline constexpr int kConnectRetryMax_ms = 1000;

// Owner callbacks; `owner` is the pointer given to RSPCreate. Called on the session's threads.
// getBuffer: a cleared receive buffer whose first 32-bit word holds its capacity and whose second
// holds the wanted-camera mask (bit i = camera i + 1), or null to make streamThread end. May block.
using GetBufferFn = void* (*)(void* owner);
// deliverFrame(owner, kind, camera index, buffer, length): kind kDeliverFrame hands a frame over
// (camera index -1 to 5, length = record_length); kind kDeliverReturn gives back a buffer without
// frame (camera index -1, length = its capacity). Either way the buffer now belongs to the owner.
using DeliverFrameFn = void (*)(void* owner, int kind, int camera_index, void* buffer, int length);
// linkEvent(owner, kind, code): see kLinkFailure / kLinkStarted.
using LinkEventFn = void (*)(void* owner, int kind, int code);

// The first words of a descriptor-pool block.
struct FrameDescriptor {
  void* buffer = nullptr;      // the receive buffer holding the record
  int camera_index = -1;       // camera_number - 1, or -1 for camera_number 0
  int record_length = 0;       // record_length as delivered (after the table-gap rewrite)
  std::int64_t queued_ns = 0;  // steady clock when the frame was queued
};
static_assert(sizeof(FrameDescriptor) <= kDescriptorBlockBytes);

struct RSP {
  // Set by RSPCreate, then only read.
  int server_number = 0;  // sent as ServerId and KxModId
  std::uint32_t address_be = 0;
  int port = 80;
  std::string user;  // kept whole: the stream logs in exactly as the queries did
  std::string password;
  int expected_model = 0;
  unsigned app_key = 0;  // rand() at creation, 0..32767 (the generator is never seeded)
  void* owner = nullptr;
  GetBufferFn getBuffer = nullptr;
  DeliverFrameFn deliverFrame = nullptr;
  LinkEventFn linkEvent = nullptr;
  SBPOOL* descriptors = nullptr;
  FrameQueue* queue = nullptr;

  // Shared words: written by one thread, polled by others.
  std::atomic<int> run{1};                             // 0 asks streamThread to end (owner thread)
  std::atomic<int> stream_state{kStreamStarting};      // streamThread
  std::atomic<int> dispatch_state{kDispatchStarting};  // dispatchThread
  std::atomic<int> link_state{kLinkNone};              // streamThread
  std::atomic<int> connected{0};                       // streamThread
  std::atomic<int> daemon_id{-1};                      // streamThread; read by setPauseTime
  std::atomic<int> pause_time{0};                      // setPauseTime; read at reconnection
  std::atomic<std::int64_t> delivery_latency_ns{0};    // dispatchThread, before each delivery

  // The stream socket: streamThread stores and closes it; the stopping thread only shuts it down.
  // The short connections of the stream thread (model check, camera list changes, opening the
  // stream); a stop cancels it so that none of them holds the stop up for its time-out.
  SocketWatch query_watch;
  // Both under socket_mutex, so that a shutdown never reaches a reused descriptor number.
  std::mutex socket_mutex;
  int socket = -1;

  // Wakes streamThread from its suspension and from the pause after a failed model check.
  std::mutex wake_mutex;
  std::condition_variable wake_cv;
  bool wake = false;

  // streamThread only.
  int part_header_flag = 0;  // 0: next receive is the first after connecting
  int failed_attempts = 0;   // attempts in a row that brought no frame
  ReadAhead read_ahead;      // the next record's first bytes, received with the frame before

  std::thread stream_thread;
  std::thread dispatch_thread;
};

// Creates a session and starts both threads. Returns the running session, or null for a negative
// descriptor count or when the descriptor pool, the queue or a thread cannot be made (traced on
// the standard error: "memory is not enough\n", "mkpool has error", "QCreate has error").
// Window thread. `address_be` is IPv4 in network byte order.
[[nodiscard]] RSP* RSPCreate(int server_number, std::uint32_t address_be, int port,
                             std::string_view user, std::string_view password, int expected_model,
                             int pause_time, int descriptor_count, void* owner,
                             GetBufferFn getBuffer, DeliverFrameFn deliverFrame,
                             LinkEventFn linkEvent);

// Stops both threads (socketCloseConnection, then an empty queue entry for dispatchThread), joins
// them, frees the queue, the descriptor pool and the session. The owner terminates its receive
// pool first, so that a getBuffer that waits returns null. Blocks until both threads have ended.
// Null is ignored. Window thread.
void RSPDestroy(RSP* session);

// Stops the receiving side: run flag 0, a blocked receive woken (shutdown of the stream socket),
// the descriptor pool terminated, a suspended or pausing streamThread woken; returns when
// streamThread has ended (it closes the socket itself on its way out). Window thread.
void socketCloseConnection(RSP* session);

// Stores the pause time for later stream requests and sends it to the running stream (action
// "Set") at `host` (dotted text) with the session's port and credentials. Returns the query's
// result when above 0, else -1 (also for no session; nothing is sent then). Blocks up to the
// request time-outs. Window thread.
[[nodiscard]] int setPauseTime(RSP* session, int pause_time, std::string_view host);

// Checks login and server model with a system information query; sets the link state and reports
// a failure through linkEvent. Returns 1 when the model matches, else 0. Stream thread.
[[nodiscard]] int checkServerModel(RSP* session);

// Tells the server which cameras were added ("Add" first) and removed ("Remove") between
// `old_mask` and `new_mask`. Returns 1, or 0 when a request failed. Stream thread.
[[nodiscard]] int updateRequestList(RSP* session, int old_mask, int new_mask);

// The request paths the session sends (for tests and traces).
[[nodiscard]] std::string streamRequestPath(const RSP& session, int mask);
[[nodiscard]] std::string controlRequestPath(const RSP& session, std::string_view action,
                                             std::string_view cameras);
[[nodiscard]] std::string pauseRequestPath(const RSP& session, int pause_time);

}  // namespace kv4r::stream
