// The multipart receiver of the live stream: finds the first boundary of a stream answer and then
// reads one frame record after another, each together with the part header that follows it, into a
// receive buffer. Nothing is copied: the record lands where the decoder reads it.
//
// Wire layout of one part (after the answer's header block):
//   62-byte part header: "--myboundary\r\nContent-type:image/jpeg\r\nDaemonId:" (48 bytes), the
//   daemon id as "0x%08x" (10 bytes), 4 bytes nobody reads;
//   the frame record: 60 fixed bytes, app_length - 56 extension bytes, the 603-byte table block
//   unless coding_flags bit 0 is set, then the rest of the JPEG data; record_length bytes in all.
//
// A record whose coding_flags bit 0 is set arrives without its table block. The receiver leaves a
// 603-byte gap at offset 60 (the extension bytes sit at its start, where the table rebuild reads
// its parameters, the rest of the gap is zero), and rewrites the header so that the buffer holds a
// well-formed record with an empty table block: app_length 56 and record_length + 603 - extension
// bytes.
//
// These functions run on the session's stream thread; they block on the socket (at most
// kRequestTimeout_s per receive step) and never close it. Every write stays inside the buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kv4r::stream {

inline constexpr std::string_view kBoundary = "--myboundary";
inline constexpr std::string_view kPartHeaderStart =
    "--myboundary\r\nContent-type:image/jpeg\r\nDaemonId:";
inline constexpr std::size_t kPartHeaderBytes = 62;
inline constexpr std::size_t kBoundaryChunkBytes = 122;
inline constexpr std::size_t kRecordFixedBytes = 60;
inline constexpr std::size_t kTableGapBytes = 603;
inline constexpr int kNoDaemonId = -1;

// Reads the first frame after a connection was opened: searches the answer for the first boundary
// in receives of at most 122 bytes (a boundary split between receives is found), checks the first
// part header and goes on with recvNextFrame. First sets the socket's receive time-out
// (kRequestTimeout_s), which bounds every receive of recvNextFrame on it. Returns 1, or kFrameLost,
// kFrameBadPartHeader, kFrameTooLarge, kFrameUnauthorized, kFrameNoBoundary. `daemon_id` receives
// the id of the part header behind the frame.
[[nodiscard]] int recvFirstFrame(int fd, std::uint8_t* buffer, std::size_t capacity, int* daemon_id,
                                 std::size_t* read_ahead = nullptr);

// Reads one frame record and the part header behind it. `pending` bytes of the stream are already
// at the start of `buffer` (answer bytes behind the first part header after connecting, or what the
// frame before read ahead); each is put where the receives would have put it. Returns 1 (the
// buffer starts with the record, possibly rewritten as described above, followed by the 62-byte
// part header) or kFrameLost, kFrameBadPartHeader, kFrameTooLarge. Each receive waits at most the
// socket's receive time-out (recvFirstFrame sets it; without one it waits for ever). A record
// that, with the part header behind it, would not fit `capacity` fails with kFrameTooLarge before
// anything is written past its fixed part. A record whose lengths contradict each other
// (app_length below 56, record_length not covering its fixed part, extension and tables) fails
// with kFrameLost like a record without data.
// With `read_ahead`, the receive that ends with the part header also takes up to
// kRecordFixedBytes bytes of the next record when they have arrived already and the buffer has
// room (it never waits for them): they follow the part header in the buffer, and `*read_ahead`
// tells how many (0 on failure). A frame then costs one receive instead of two.
[[nodiscard]] int recvNextFrame(int fd, std::uint8_t* buffer, std::size_t capacity,
                                std::size_t pending, int* daemon_id,
                                std::size_t* read_ahead = nullptr);

// The start of the next record, received together with the frame before it; the stream thread
// carries it from one receive buffer to the next.
struct ReadAhead {
  std::array<std::uint8_t, kRecordFixedBytes> bytes{};
  std::size_t count = 0;
};

// One frame of a running stream: recvFirstFrame while `*in_step` is 0, recvNextFrame while it is
// 1, with the bytes `ahead` carries (if any) as the pending ones. A success sets `*in_step` to 1, a
// failure to 0. With `ahead`, what arrived of the next record is kept there for the next call.
[[nodiscard]] int receiveFrame(int fd, std::uint8_t* buffer, std::size_t capacity, int* in_step,
                               int* daemon_id, ReadAhead* ahead = nullptr);

// Big-endian fields of the record at the start of a receive buffer (the caller checks the length).
[[nodiscard]] inline std::uint32_t loadBe16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 8 | p[1];
}
[[nodiscard]] inline std::uint32_t loadBe32(const std::uint8_t* p) {
  return loadBe16(p) << 16 | loadBe16(p + 2);
}

}  // namespace kv4r::stream
