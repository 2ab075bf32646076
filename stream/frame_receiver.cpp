#include "stream/frame_receiver.h"

#include <sys/socket.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "stream/socket_io.h"
#include "stream/stream_codes.h"
#include "stream/text_search.h"

namespace kv4r::stream {
namespace {

std::string_view view(const std::uint8_t* bytes, std::size_t length) {
  return {reinterpret_cast<const char*>(bytes), length};
}

// Receives exactly `length` bytes, each receive bounded by the socket's receive time-out. 1, or
// kFrameLost when the socket fails, times out or closes first.
int receiveExact(int fd, std::uint8_t* dest, std::size_t length) {
  return sockRecvAll(fd, dest, length) == static_cast<int>(length) ? 1 : kFrameLost;
}

// The result of a receive of at least `need` bytes: 1 with `*surplus` the bytes behind them, or
// kFrameLost when the socket failed, timed out or closed first.
int checkAtLeast(int received, std::size_t need, std::size_t* surplus) {
  if (received < 0 || static_cast<std::size_t>(received) < need) return kFrameLost;
  if (surplus != nullptr) *surplus = static_cast<std::size_t>(received) - need;
  return 1;
}

// Hands out the bytes of the stream in wire order: first a copy of the bytes that arrived early
// (behind the fixed part of the first frame), then the socket.
struct ByteSource {
  int fd = kNoSocket;
  std::string early;
  std::size_t early_used = 0;

  // Fills [dest, dest + length) with the next `length` bytes: 1, or kFrameLost when the socket
  // fails, times out or closes first. A length of 0 takes nothing and succeeds. With `extra`, up
  // to that many more bytes are taken behind them if they have arrived; `*surplus` counts them.
  int take(std::uint8_t* dest, std::size_t length, std::size_t extra = 0,
           std::size_t* surplus = nullptr) {
    if (surplus != nullptr) *surplus = 0;
    const std::size_t from_early = std::min(length, early.size() - early_used);
    std::memcpy(dest, early.data() + early_used, from_early);
    early_used += from_early;
    const std::size_t rest = length - from_early;
    if (rest == 0) return 1;
    if (extra == 0) return receiveExact(fd, dest + from_early, rest);
    return checkAtLeast(sockRecvAtLeast(fd, dest + from_early, rest, rest + extra), rest, surplus);
  }

  // take(first, first_length) then take(second, second_length, extra, surplus), in one receive
  // once the early bytes are used up.
  int takeTwo(std::uint8_t* first, std::size_t first_length, std::uint8_t* second,
              std::size_t second_length, std::size_t extra, std::size_t* surplus) {
    if (early_used < early.size()) {
      if (take(first, first_length) != 1) return kFrameLost;
      return take(second, second_length, extra, surplus);
    }
    *surplus = 0;
    const iovec pieces[2] = {{first, first_length}, {second, second_length + extra}};
    const std::size_t need = first_length + second_length;
    return checkAtLeast(sockRecvPiecesAtLeast(fd, pieces, 2, need), need, surplus);
  }
};

bool isPartHeader(const std::uint8_t* bytes) {
  return view(bytes, kPartHeaderStart.size()) == kPartHeaderStart;
}

// The daemon id written as "0x%08x" (up to eight hexadecimal digits after "0x"); false when the
// text does not start with "0x" and a digit.
bool readDaemonId(const std::uint8_t* text, int* value) {
  const auto id = parseHexField(std::string_view(reinterpret_cast<const char*>(text), 10), 8);
  if (!id) return false;
  *value = static_cast<int>(*id);
  return true;
}

void storeBe16(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 8);
  p[1] = static_cast<std::uint8_t>(value);
}

void storeBe32(std::uint8_t* p, std::uint32_t value) {
  storeBe16(p, value >> 16);
  storeBe16(p + 2, value & 0xFFFF);
}

}  // namespace

int recvNextFrame(int fd, std::uint8_t* buffer, std::size_t capacity, std::size_t pending,
                  int* daemon_id, std::size_t* read_ahead) {
  if (read_ahead != nullptr) *read_ahead = 0;
  if (pending > capacity || capacity < kRecordFixedBytes + kPartHeaderBytes) return kFrameTooLarge;
  ByteSource source;
  source.fd = fd;
  if (pending > kRecordFixedBytes) {
    source.early.assign(reinterpret_cast<const char*>(buffer) + kRecordFixedBytes,
                        pending - kRecordFixedBytes);
  } else if (pending < kRecordFixedBytes) {
    const std::size_t missing = kRecordFixedBytes - pending;
    if (receiveExact(fd, buffer + pending, missing) != 1) return kFrameLost;
  }

  const std::uint32_t app_length = loadBe16(buffer + 4);
  const std::uint32_t record_length = loadBe32(buffer + 48);
  const bool tables_omitted = (loadBe16(buffer + 58) & 1) != 0;
  if (app_length < 56) return kFrameLost;
  const std::size_t extension = app_length - 56;
  const std::int64_t data = static_cast<std::int64_t>(record_length) -
                            static_cast<std::int64_t>(kRecordFixedBytes + extension) -
                            (tables_omitted ? 0 : static_cast<std::int64_t>(kTableGapBytes));
  if (data <= 0) return kFrameLost;

  // Where each piece goes: the extension behind the fixed part, the tables (or the gap) behind
  // it, the data behind the tables, the next part header behind the record.
  const std::size_t data_at = kRecordFixedBytes + kTableGapBytes + (tables_omitted ? 0 : extension);
  const std::uint64_t record_end = data_at + static_cast<std::uint64_t>(data);
  if (record_end + kPartHeaderBytes > capacity || kRecordFixedBytes + extension > capacity) {
    return kFrameTooLarge;
  }

  // One receive brings the rest of the frame: with tables the whole rest of the record and the next
  // part header, which lie back to back; without tables the extension and, scattered behind the
  // gap, the data with the part header.
  std::uint8_t* part = buffer + record_end;
  const std::size_t room_behind = capacity - (record_end + kPartHeaderBytes);
  const std::size_t extra = read_ahead != nullptr ? std::min(kRecordFixedBytes, room_behind) : 0;
  std::size_t surplus = 0;
  if (tables_omitted) {
    if (extension < kTableGapBytes) {
      // The rest of the gap is emptied: the first frame after a connect leaves answer bytes there.
      std::memset(buffer + kRecordFixedBytes + extension, 0, kTableGapBytes - extension);
    }
    if (source.takeTwo(buffer + kRecordFixedBytes, extension, buffer + data_at,
                       static_cast<std::size_t>(data) + kPartHeaderBytes, extra, &surplus) != 1) {
      return kFrameLost;
    }
    storeBe32(buffer + 48, static_cast<std::uint32_t>(record_end));
    storeBe16(buffer + 4, 56);
  } else if (source.take(buffer + kRecordFixedBytes,
                         record_end + kPartHeaderBytes - kRecordFixedBytes, extra, &surplus) != 1) {
    return kFrameLost;
  }
  if (!isPartHeader(part)) return kFrameBadPartHeader;
  (void)readDaemonId(part + kPartHeaderStart.size(), daemon_id);
  if (read_ahead != nullptr) *read_ahead = surplus;
  return 1;
}

int recvFirstFrame(int fd, std::uint8_t* buffer, std::size_t capacity, int* daemon_id,
                   std::size_t* read_ahead) {
  if (read_ahead != nullptr) *read_ahead = 0;
  if (capacity < kRecordFixedBytes + kPartHeaderBytes) return kFrameTooLarge;
  // Once per connection: the bound of every bulk receive of the frames that follow.
  if (sockSetReceiveTimeout(fd, kRequestTimeout_s) != 0) return kFrameLost;
  std::size_t received = 0;
  std::size_t boundary_at = capacity;  // not found yet
  while (received < capacity) {
    const std::size_t want = std::min(kBoundaryChunkBytes, capacity - received);
    const int n = sockRecv(fd, buffer + received, want, 0, kRequestTimeout_s);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const std::size_t chunk_at = received;
    received += static_cast<std::size_t>(n);
    // Start a little before the new chunk, so that a boundary split between two chunks is found.
    const std::size_t from = chunk_at >= kBoundary.size() ? chunk_at - kBoundary.size() : 0;
    if (const auto at = findBytes(view(buffer + from, received - from), kBoundary)) {
      boundary_at = from + *at;
      break;
    }
  }
  if (boundary_at == capacity) {
    return findBytes(view(buffer, received), "Unauthorized") ? kFrameUnauthorized
                                                             : kFrameNoBoundary;
  }

  const std::size_t n = received - boundary_at;
  std::memmove(buffer, buffer + boundary_at, n);
  std::size_t pending = 0;
  if (n < kPartHeaderBytes) {
    const std::size_t missing = kPartHeaderBytes - n;
    if (sockRecvN(fd, buffer + n, missing, 0, kRequestTimeout_s) != static_cast<int>(missing)) {
      return kFrameLost;
    }
    if (!isPartHeader(buffer)) return kFrameBadPartHeader;
  } else {
    if (!isPartHeader(buffer)) return kFrameBadPartHeader;
    pending = n - kPartHeaderBytes;
    std::memmove(buffer, buffer + kPartHeaderBytes, pending);
  }
  return recvNextFrame(fd, buffer, capacity, pending, daemon_id, read_ahead);
}

int receiveFrame(int fd, std::uint8_t* buffer, std::size_t capacity, int* in_step, int* daemon_id,
                 ReadAhead* ahead) {
  std::size_t surplus = 0;
  std::size_t* read_ahead = ahead != nullptr ? &surplus : nullptr;
  int result = 0;
  if (*in_step == 1) {
    const std::size_t pending = ahead != nullptr ? std::min(ahead->count, capacity) : 0;
    if (pending > 0) std::memcpy(buffer, ahead->bytes.data(), pending);
    result = recvNextFrame(fd, buffer, capacity, pending, daemon_id, read_ahead);
  } else {
    result = recvFirstFrame(fd, buffer, capacity, daemon_id, read_ahead);
  }
  *in_step = result == 1 ? 1 : 0;
  if (ahead != nullptr) {
    // On success the surplus sits right behind the part header that ends the buffer's record.
    ahead->count = surplus;
    if (surplus > 0) {
      std::memcpy(ahead->bytes.data(), buffer + loadBe32(buffer + 48) + kPartHeaderBytes, surplus);
    }
  }
  return result;
}

}  // namespace kv4r::stream
