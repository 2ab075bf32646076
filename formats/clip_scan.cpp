#include "formats/clip_scan.h"

#include <sys/stat.h>

#include "formats/file_io.h"
#include "formats/formats_codes.h"

namespace kv4r::formats {

int scanClip(ClipFile* clip, const std::function<int(const ClipRecordInfo&)>& visit,
             ClipScanEnd* end) {
  if (!clip || clip->fd < 0 || !end) return kFormatsErrArgument;
  struct stat st {};
  if (::fstat(clip->fd, &st) != 0) return kFormatsErrSeek;
  *end = ClipScanEnd{};
  end->clip_size = st.st_size;
  std::int64_t offset = 0;
  std::uint8_t fixed[kRecordFixedSize];
  while (offset < end->clip_size) {
    end->end_offset = offset;
    if (io::preadFull(clip->fd, fixed, sizeof fixed, offset) !=
        static_cast<ssize_t>(sizeof fixed)) {
      end->stop_code = kFormatsErrShortRead;
      return 1;
    }
    ClipRecordInfo info;
    info.position = end->records;
    info.offset = offset;
    (void)parseFrameHeader(fixed, &info.header);
    if (info.header.record_length < kRecordFixedSize) {
      end->stop_code = kFormatsErrTooShort;
      return 1;
    }
    info.complete = offset + info.header.record_length <= end->clip_size;
    info.start_marker = fixed[0] == 0xFF && fixed[1] == 0xD8;
    info.starts_like_record = startsLikeRecord(std::span(fixed, 4));
    ++end->records;
    offset += info.header.record_length;
    end->end_offset = offset;
    if (visit && visit(info) == 0) return 1;
  }
  return 1;
}

std::int64_t readClipBytes(ClipFile* clip, std::int64_t offset, std::span<std::uint8_t> bytes) {
  if (!clip || clip->fd < 0 || offset < 0) return kFormatsErrArgument;
  const ssize_t got = io::preadFull(clip->fd, bytes.data(), bytes.size(), offset);
  if (got < 0) return kFormatsErrShortRead;
  return got;
}

}  // namespace kv4r::formats
