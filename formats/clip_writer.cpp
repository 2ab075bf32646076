#include "formats/clip_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include "formats/clip_index.h"
#include "formats/file_io.h"
#include "formats/formats_codes.h"
#include "formats/frame_record.h"

namespace kv4r::formats {

struct ClipWriter {
  int fd = -1;
  std::uint64_t bytes = 0;  // the clip's size after the last append
  bool failed = false;      // a write came up short; the clip ends before the failed record
  io::WritebackPacer writeback;
};

ClipWriter* ClipWriterCreate(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  auto* writer = new ClipWriter;
  writer->fd = fd;
  return writer;
}

int ClipWriterAppend(ClipWriter* writer, std::span<const std::uint8_t> record) {
  if (!writer) return kFormatsErrArgument;
  if (writer->failed) return kFormatsErrWrite;
  std::uint32_t length = 0;
  if (record.size() < kRecordFixedSize) return kFormatsErrTooShort;
  (void)readBe32(record, kOffRecordLength, &length);
  if (length < kRecordFixedSize || length > record.size()) return kFormatsErrBadRecord;
  // Records go at the file's end, and the index's limit is on the offset they start at.
  const off_t start = ::lseek(writer->fd, 0, SEEK_END);
  if (start < 0) {
    writer->failed = true;
    return kFormatsErrWrite;
  }
  if (static_cast<std::uint64_t>(start) > kLastIndexedRecordOffset) return kFormatsErrTooLarge;
  const std::size_t done = io::writeFull(writer->fd, record.data(), length);
  if (done != length) {
    // Cut the partial record off so that the clip stays a sequence of whole records.
    writer->failed = true;
    if (::ftruncate(writer->fd, start) == 0) (void)::lseek(writer->fd, start, SEEK_SET);
    return kFormatsErrWrite;
  }
  writer->bytes = static_cast<std::uint64_t>(start) + length;
  writer->writeback.advance(writer->fd, static_cast<std::int64_t>(writer->bytes));
  return static_cast<int>(length);
}

std::uint64_t ClipWriterBytes(const ClipWriter* writer) {
  return writer ? writer->bytes : 0;
}

int ClipWriterClose(ClipWriter* writer) {
  if (!writer) return kFormatsErrArgument;
  writer->writeback.finish(writer->fd);
  const bool closed = io::closeChecked(writer->fd);
  const bool failed = writer->failed;
  delete writer;
  return closed && !failed ? 1 : kFormatsErrWrite;
}

std::string replaceExtension(const std::string& path, const std::string& extension) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return path + extension;
  }
  return path.substr(0, dot) + extension;
}

}  // namespace kv4r::formats
