#include "formats/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kv4r::formats::io {

ssize_t preadFull(int fd, void* data, std::size_t size, std::int64_t offset) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

std::size_t writeFull(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool pwriteFull(int fd, const void* data, std::size_t size, std::int64_t offset) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WritebackPacer::advance(int fd, std::int64_t written_end) {
  if (fd < 0 || written_end - started_to < kStepBytes) return false;
  startRange(fd, started_to, written_end - started_to);
  started_to = written_end;
  return true;
}

void WritebackPacer::startRange(int fd, std::int64_t offset, std::int64_t length) {
  (void)::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
}

void WritebackPacer::finish(int fd) {
  if (fd >= 0) (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool closeChecked(int fd) {
  if (fd < 0) return true;
  // Linux releases the descriptor even when close reports EINTR; never retry.
  return ::close(fd) == 0;
}

bool isSameFile(int fd, const std::string& path) {
  struct stat open_file {};
  struct stat named {};
  return ::fstat(fd, &open_file) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

}  // namespace kv4r::formats::io
