// Internal to the formats library: whole-buffer reads and writes on POSIX file descriptors that
// retry on EINTR and partial transfers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv4r::formats::io {

// Reads up to `size` bytes at `offset`; returns the bytes read (fewer only at the end of the file)
// or -1 on an I/O error. Leaves the descriptor's file position alone.
[[nodiscard]] ssize_t preadFull(int fd, void* data, std::size_t size, std::int64_t offset);

// Writes all `size` bytes at the descriptor's position; returns the bytes written before an error
// (== size on success).
[[nodiscard]] std::size_t writeFull(int fd, const void* data, std::size_t size);

// Writes all `size` bytes at `offset`; true when all were written.
[[nodiscard]] bool pwriteFull(int fd, const void* data, std::size_t size, std::int64_t offset);

// Recordings hand their bytes to the disk as they go rather than when the kernel gets round to it
// (about 30 s later), so that a crash or a power cut loses seconds, not half a minute, and a
// finished file is on its way to the disk by the time it takes its final name. Starting the
// write-back does not wait for it; file systems that cannot do it are left to their own timing.
struct WritebackPacer {
  static constexpr std::int64_t kStepBytes = std::int64_t{4} << 20;
  std::int64_t started_to = 0;  // write-back has been started for the bytes before this offset

  // Starts write-back of the bytes before `written_end` once a step's worth has gathered; true when
  // it did.
  bool advance(int fd, std::int64_t written_end);
  // Starts write-back of `length` bytes at `offset` (headers rewritten at the start of the file).
  static void startRange(int fd, std::int64_t offset, std::int64_t length);
  // Starts write-back of the whole file, headers written at its start included.
  void finish(int fd);
};

// Closes a descriptor; true when the close reported no error.
bool closeChecked(int fd);

// Whether `path` names the file open on `fd` (following links); false when `path` does not exist.
[[nodiscard]] bool isSameFile(int fd, const std::string& path);

}  // namespace kv4r::formats::io
