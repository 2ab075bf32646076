#include "stream/rsp.h"

#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "platform/trace.h"
#include "stream/camera_list.h"
#include "stream/frame_receiver.h"
#include "stream/http_request.h"
#include "stream/server_address.h"
#include "stream/socket_io.h"
#include "stream/stream_codes.h"
#include "stream/text_format.h"
#include "stream/text_search.h"

namespace kv4r::stream {
namespace {

constexpr int kCgiVersion = 1;
constexpr std::size_t kModelQueryBytes = 10240;
constexpr std::size_t kControlQueryBytes = 1024;
constexpr std::size_t kPauseQueryBytes = 512;

// Names the calling session thread and makes it a batch thread. The two session threads hand every
// frame to each other; as batch threads, waking one does not preempt the other, so under load a
// pair of frames costs one switch each way instead of one per frame, and the receiving thread no
// longer cuts into a decode. Other threads (the window's included) still preempt them as before.
void prepareSessionThread(const char* name) {
  pthread_setname_np(pthread_self(), name);
  const sched_param no_priority{};
  (void)pthread_setschedparam(pthread_self(), SCHED_BATCH, &no_priority);
}

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The two words getBuffer writes at the start of a receive buffer.
std::uint32_t bufferWord(const void* buffer, int index) {
  std::uint32_t word = 0;
  std::memcpy(&word, static_cast<const std::uint8_t*>(buffer) + 4 * index, sizeof word);
  return word;
}

std::string dottedAddress(const RSP& session) {
  std::string host;
  (void)formatDotted(session.address_be, host, 20);
  return host;
}

// Takes the stream socket out of the session and closes it. Stream thread only.
void closeStreamSocket(RSP* session) {
  int fd = kNoSocket;
  {
    std::lock_guard guard(session->socket_mutex);
    fd = session->socket;
    session->socket = kNoSocket;
  }
  sockClose(fd);
  session->connected.store(0);
}

// Stores a freshly opened stream socket; false (and the socket closed) when a stop has begun, so
// that a stop never misses a socket opened while it ran. Stream thread only.
bool adoptStreamSocket(RSP* session, int fd) {
  {
    std::lock_guard guard(session->socket_mutex);
    session->socket = fd;
  }
  if (session->run.load() != 0) return true;
  closeStreamSocket(session);
  return false;
}

// Gives a buffer that holds no frame back to the owner.
void giveBack(RSP* session, void* buffer) {
  session->deliverFrame(session->owner, kDeliverReturn, -1, buffer,
                        static_cast<int>(bufferWord(buffer, 0)));
}

void reportLink(RSP* session, int state) {
  session->link_state.store(state);
  if (session->linkEvent != nullptr) session->linkEvent(session->owner, kLinkFailure, state);
}

// Waits until the session is stopped (the stand-in for suspending the thread). Returns true when
// the thread shall go on (the run flag is still 1).
bool suspendStream(RSP* session) {
  session->stream_state.store(kStreamSuspended);
  std::unique_lock lock(session->wake_mutex);
  session->wake_cv.wait(lock, [session] { return session->wake; });
  return session->run.load() != 0;
}

// Sleeps `delay_ms`, or less when the session is stopped. True when the thread shall go on.
bool pauseStream(RSP* session, int delay_ms) {
  std::unique_lock lock(session->wake_mutex);
  session->wake_cv.wait_for(lock, std::chrono::milliseconds(delay_ms),
                            [session] { return session->wake; });
  return session->run.load() != 0;
}

// After an attempt that brought no frame (the connect failed, or the stream broke before its first
// frame): waits before the next one, longer with each such attempt in a row. Such failures come
// at once (a refused connect, a server that closes or answers with a page); without the pause the
// thread would knock on that server thousands of times a second. False when the session stops.
bool pauseAfterFailedAttempt(RSP* session) {
  const int doublings = std::clamp(session->failed_attempts, 0, 4);
  ++session->failed_attempts;
  return pauseStream(session, std::min(kConnectRetryFirst_ms << doublings, kConnectRetryMax_ms));
}

// Opens the stream for `mask` and checks login and model. True when connected.
bool connectStream(RSP* session, int mask, bool* stop) {
  // A new stream gets a new daemon id; the old one names a stream the server has dropped.
  session->daemon_id.store(kNoDaemonId);
  const std::string path = streamRequestPath(*session, mask);
  const int fd = httpOpen(session->address_be, session->port, session->user, session->password,
                          path, kRequestTimeout_s, &session->query_watch);
  if (fd < 0) {
    if (session->run.load() == 0) {
      *stop = true;
      return false;
    }
    reportLink(session, kLinkBroken);
    *stop = !pauseAfterFailedAttempt(session);
    return false;
  }
  unwatchSocket(&session->query_watch, fd);  // from here on the stop shuts the stream socket down
  if (!adoptStreamSocket(session, fd)) {
    *stop = true;
    return false;
  }
  if (checkServerModel(session) != 1) {
    closeStreamSocket(session);
    *stop = !pauseStream(session, kModelRetryDelay_ms);
    return false;
  }
  if (session->linkEvent != nullptr) session->linkEvent(session->owner, kLinkStarted, 0);
  session->connected.store(1);
  session->link_state.store(kLinkEstablished);
  return true;
}

void streamThread(RSP* session) {
  prepareSessionThread("kv4r-receive");
  int current_mask = 0;
  for (;;) {
    if (session->connected.load() == 0) {
      void* buffer = session->getBuffer(session->owner);
      if (buffer == nullptr) break;
      current_mask = static_cast<int>(bufferWord(buffer, 1));
      giveBack(session, buffer);
      if (session->run.load() == 0) break;
      if (current_mask == 0) {
        if (!suspendStream(session)) break;
        continue;
      }
      bool stop = false;
      if (!connectStream(session, current_mask, &stop)) {
        if (stop) break;
        continue;
      }
    }

    session->stream_state.store(kStreamWaitingDescriptor);
    auto* descriptor = static_cast<FrameDescriptor*>(poolGet(session->descriptors));
    if (descriptor == nullptr) break;
    session->stream_state.store(kStreamReceiving);
    void* buffer = session->getBuffer(session->owner);
    if (buffer == nullptr) {
      poolPut(descriptor);
      break;
    }
    const int wanted = static_cast<int>(bufferWord(buffer, 1));
    if (wanted == 0) {
      closeStreamSocket(session);
      giveBack(session, buffer);
      poolPut(descriptor);
      if (!suspendStream(session)) break;
      continue;
    }
    if (wanted != current_mask && session->daemon_id.load() != kNoDaemonId) {
      platform::traceOut("\tupdate reqlist\n");
      if (updateRequestList(session, current_mask, wanted) != 1) {
        closeStreamSocket(session);
        giveBack(session, buffer);
        poolPut(descriptor);
        session->part_header_flag = 0;
        continue;
      }
      current_mask = wanted;
    }

    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const std::size_t capacity = bufferWord(buffer, 0);
    int daemon_id = session->daemon_id.load();
    const bool had_frame = session->part_header_flag != 0;  // on this connection
    const int result = receiveFrame(session->socket, bytes, capacity, &session->part_header_flag,
                                    &daemon_id, &session->read_ahead);
    session->daemon_id.store(daemon_id);
    if (result != 1) {
      closeStreamSocket(session);
      giveBack(session, buffer);
      poolPut(descriptor);
      session->part_header_flag = 0;
      reportLink(session, result == kFrameUnauthorized ? kLinkRefused : kLinkBroken);
      if (!had_frame && !pauseAfterFailedAttempt(session)) break;
      continue;
    }
    session->failed_attempts = 0;
    const int camera_number = static_cast<int>(loadBe16(bytes + 30));
    *descriptor = FrameDescriptor{};
    descriptor->buffer = buffer;
    descriptor->camera_index = camera_number == 0 ? -1 : camera_number - 1;
    descriptor->record_length = static_cast<int>(loadBe32(bytes + 48));
    descriptor->queued_ns = nowNs();
    if (QPut(session->queue, descriptor) != 1) {  // cannot happen with the queue's 128 slots
      giveBack(session, buffer);
      poolPut(descriptor);
    }
  }
  session->stream_state.store(kStreamEnded);
  closeStreamSocket(session);
}

void dispatchThread(RSP* session) {
  prepareSessionThread("kv4r-deliver");
  for (;;) {
    session->dispatch_state.store(kDispatchWaiting);
    auto* descriptor = static_cast<FrameDescriptor*>(QGet(session->queue));
    if (descriptor == nullptr) break;
    if (session->deliverFrame != nullptr) {
      session->dispatch_state.store(kDispatchDelivering);
      session->delivery_latency_ns.store(nowNs() - descriptor->queued_ns);
      session->deliverFrame(session->owner, kDeliverFrame,
                            static_cast<std::int16_t>(descriptor->camera_index), descriptor->buffer,
                            descriptor->record_length);
    }
    poolPut(descriptor);
  }
  session->dispatch_state.store(kDispatchEnded);
}

void freeSession(RSP* session) {
  QDestroy(session->queue);
  (void)freepool(session->descriptors);
  delete session;
}

}  // namespace

std::string streamRequestPath(const RSP& session, int mask) {
  return formatText(
      "/cgi-bin/kxstream.cgi?ServerId=%d&AppKey=0x%08x&CameraId=%s&PauseTime=%d&KxCgiVer=0x%04x",
      session.server_number, session.app_key, formatCameraList(mask).c_str(),
      session.pause_time.load(), kCgiVersion);
}

std::string controlRequestPath(const RSP& session, std::string_view action,
                               std::string_view cameras) {
  return formatText(
      "/cgi-bin/kxstctr.cgi?ServerId=%d&AppKey=0x%08x&DaemonId=%d&Action=%.*s&CameraId=%.*s"
      "&KxCgiVer=0x%04x",
      session.server_number, session.app_key, session.daemon_id.load(),
      static_cast<int>(action.size()), action.data(), static_cast<int>(cameras.size()),
      cameras.data(), kCgiVersion);
}

std::string pauseRequestPath(const RSP& session, int pause_time) {
  return formatText(
      "/cgi-bin/kxstctr.cgi?ServerId=%d&AppKey=0x%08x&DaemonId=%d&Action=%s&PauseTime=%d"
      "&KxCgiVer=0x%04x",
      session.server_number, session.app_key, session.daemon_id.load(), "Set", pause_time,
      kCgiVersion);
}

int checkServerModel(RSP* session) {
  const std::string path = formatText("/cgi-bin/kxsysget.cgi?KxModId=%d&KxCgiVer=0x%04x",
                                      session->server_number, kCgiVersion);
  std::string response;
  const int n = httpQuery(path, dottedAddress(*session), session->port, session->user,
                          session->password, &response, kModelQueryBytes, &session->query_watch);
  if (n <= 0) {
    if (session->run.load() != 0) reportLink(session, kLinkBroken);  // not for a stop's cancel
    return 0;
  }
  if (findText(response, "Unauthorized")) {
    reportLink(session, kLinkRefused);
    return 0;
  }
  const auto at = findText(response, "Model");
  if (!at) {
    reportLink(session, kLinkWrongModel);
    return 0;
  }
  // "0x%04x" behind "Model=": up to four hexadecimal digits after a literal "0x".
  const std::string_view text =
      std::string_view(response).substr(std::min(*at + 6, response.size()));
  const auto model_field = parseHexField(text, 4);
  const int model = model_field ? static_cast<int>(*model_field) : -1;
  if (model < 0 || model != session->expected_model) {
    reportLink(session, kLinkWrongModel);
    return 0;
  }
  return 1;
}

int updateRequestList(RSP* session, int old_mask, int new_mask) {
  const int removed = old_mask & ~new_mask;
  const int added = new_mask & ~old_mask;
  const std::string host = dottedAddress(*session);
  std::string response;
  if (added != 0) {
    const std::string path = controlRequestPath(*session, "Add", formatCameraList(added));
    if (httpQuery(path, host, session->port, session->user, session->password, &response,
                  kControlQueryBytes, &session->query_watch) <= 0) {
      return 0;
    }
  }
  if (removed != 0) {
    const std::string path = controlRequestPath(*session, "Remove", formatCameraList(removed));
    if (httpQuery(path, host, session->port, session->user, session->password, &response,
                  kControlQueryBytes, &session->query_watch) <= 0) {
      return 0;
    }
  }
  return 1;
}

RSP* RSPCreate(int server_number, std::uint32_t address_be, int port, std::string_view user,
               std::string_view password, int expected_model, int pause_time, int descriptor_count,
               void* owner, GetBufferFn getBuffer, DeliverFrameFn deliverFrame,
               LinkEventFn linkEvent) {
  if (descriptor_count < 0 || getBuffer == nullptr || deliverFrame == nullptr) return nullptr;
  auto* session = new (std::nothrow) RSP;
  if (session == nullptr) {
    platform::traceErr("memory is not enough\n");
    return nullptr;
  }
  session->descriptors = mkpool(kDescriptorBlockBytes, descriptor_count);
  if (session->descriptors == nullptr) {
    delete session;
    platform::traceErr("mkpool has error");
    return nullptr;
  }
  session->queue = QCreate();
  if (session->queue == nullptr) {
    (void)freepool(session->descriptors);
    delete session;
    platform::traceErr("QCreate has error");
    return nullptr;
  }
  session->owner = owner;
  session->getBuffer = getBuffer;
  session->deliverFrame = deliverFrame;
  session->linkEvent = linkEvent;
  try {
    session->dispatch_thread = std::thread(dispatchThread, session);
  } catch (const std::system_error&) {
    freeSession(session);
    return nullptr;
  }

  // The generator is never seeded; keys stay in 0..32767, as servers have always seen them.
  session->app_key = static_cast<unsigned>(std::rand()) & 0x7FFF;
  session->server_number = server_number;
  session->address_be = address_be;
  session->port = port;
  session->user.assign(user);
  session->password.assign(password);
  session->expected_model = expected_model;
  session->pause_time.store(pause_time);
  try {
    session->stream_thread = std::thread(streamThread, session);
  } catch (const std::system_error&) {
    (void)QPut(session->queue, nullptr);
    session->dispatch_thread.join();
    freeSession(session);
    return nullptr;
  }
  return session;
}

void socketCloseConnection(RSP* session) {
  if (session == nullptr) return;
  session->run.store(0);
  cancelSockets(&session->query_watch);
  {
    std::lock_guard guard(session->socket_mutex);
    if (session->socket != kNoSocket) shutdown(session->socket, SHUT_RDWR);
  }
  session->connected.store(0);
  (void)termpool(session->descriptors);
  {
    std::lock_guard guard(session->wake_mutex);
    session->wake = true;
  }
  session->wake_cv.notify_all();
  if (session->stream_thread.joinable()) session->stream_thread.join();
}

void RSPDestroy(RSP* session) {
  if (session == nullptr) return;
  socketCloseConnection(session);
  (void)QPut(session->queue, nullptr);
  if (session->dispatch_thread.joinable()) session->dispatch_thread.join();
  freeSession(session);
}

int setPauseTime(RSP* session, int pause_time, std::string_view host) {
  if (session == nullptr) return -1;
  session->pause_time.store(pause_time);
  std::string response;
  const int n = httpQuery(pauseRequestPath(*session, pause_time), host, session->port,
                          session->user, session->password, &response, kPauseQueryBytes);
  return n > 0 ? n : -1;
}

}  // namespace kv4r::stream
