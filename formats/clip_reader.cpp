#include "formats/clip_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "formats/file_io.h"
#include "formats/formats_codes.h"

namespace kv4r::formats {

ClipFile* ClipFileOpen(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // A folder opens for reading but every read fails; it would pass for an empty clip.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    errno = error;
    return nullptr;
  }
  auto* clip = new ClipFile;
  clip->fd = fd;
  return clip;
}

void ClipFileClose(ClipFile* clip) {
  if (!clip) return;
  io::closeChecked(clip->fd);
  delete clip;
}

std::int64_t clipStampsGapMs(const ClipStamps& stamps) {
  return stampDifferenceMs(stamps.previous, stamps.current);
}

int ReadClipRecord(ClipFile* clip, std::span<const ClipIndexEntry> index, int entry,
                   ClipStamps* stamps, std::span<std::uint8_t> buffer) {
  if (!clip || clip->fd < 0 || entry < 0 || static_cast<std::size_t>(entry) >= index.size() ||
      buffer.size() < kRecordFixedSize) {
    return kFormatsErrArgument;
  }
  const std::int64_t offset = index[static_cast<std::size_t>(entry)].record_offset;
  if (io::preadFull(clip->fd, buffer.data(), kRecordFixedSize, offset) !=
      static_cast<ssize_t>(kRecordFixedSize)) {
    return kFormatsErrShortRead;
  }
  FrameHeader header;
  (void)parseFrameHeader(buffer, &header);
  if (header.record_length < kRecordFixedSize) return kFormatsErrTooShort;
  if (header.record_length > buffer.size()) return kFormatsErrTooLong;
  const std::size_t rest = header.record_length - kRecordFixedSize;
  if (io::preadFull(clip->fd, buffer.data() + kRecordFixedSize, rest,
                    offset + static_cast<std::int64_t>(kRecordFixedSize)) !=
      static_cast<ssize_t>(rest)) {
    return kFormatsErrShortRead;
  }
  if (stamps) {
    stamps->previous = stamps->current;
    stamps->current.time_seconds = static_cast<std::int32_t>(RecordTime(header));
    stamps->current.hundredths = header.hundredths;
  }
  return static_cast<int>(header.record_length);
}

}  // namespace kv4r::formats
