#include "formats/avi_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "formats/file_io.h"
#include "formats/formats_codes.h"
#include "formats/frame_record.h"
#include "platform/trace.h"

namespace kv4r::formats {

namespace {

constexpr std::int64_t kMoviCodeOffset = 220;  // "movi"; index offsets count from here
constexpr std::int64_t kFirstChunkOffset = 224;
constexpr std::uint32_t kIndexKeyFrame = 0x10;
constexpr std::uint32_t kMainHasIndex = 0x10;
constexpr std::size_t kIndexEntriesPerWrite = 4096;  // 64 KiB of index entries per write
constexpr std::size_t kSizeProbeBytes = 65536;       // JPEG bytes searched for the frame header
constexpr std::uint64_t kMaxFileSize = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kStagingBytes = std::size_t{1} << 20;

void putLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void putLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
void putCode(std::uint8_t* at, const char* code) {
  std::memcpy(at, code, 4);
}
std::uint32_t getLe32(const std::uint8_t* at) {
  return std::uint32_t{at[0]} | (std::uint32_t{at[1]} << 8) | (std::uint32_t{at[2]} << 16) |
         (std::uint32_t{at[3]} << 24);
}

// Width and height from the first frame header (SOFn) of a JPEG; false when none is found in the
// bytes given.
bool jpegFrameSize(std::span<const std::uint8_t> jpeg, int* width, int* height) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    if (jpeg[pos] != 0xFF) {  // stray bytes between segments, which decoders pass over
      ++pos;
      continue;
    }
    const std::uint8_t marker = jpeg[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return false;
    const std::size_t length = (std::size_t{jpeg[pos + 2]} << 8) | jpeg[pos + 3];
    const bool sof =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (sof) {
      if (length < 7 || pos + 9 > jpeg.size()) return false;
      *height = (jpeg[pos + 5] << 8) | jpeg[pos + 6];
      *width = (jpeg[pos + 7] << 8) | jpeg[pos + 8];
      return *width > 0 && *height > 0;
    }
    if (length < 2) return false;
    pos += 2 + length;
  }
  return false;
}

}  // namespace

struct AviWriter {
  // Set at creation.
  int fd = -1;
  double frame_rate = kAviFrameRate;
  int width = 0;
  int height = 0;
  // The two counters of the recording, and where the chunks end.
  std::uint32_t largest_payload = 0;
  int chunks = 0;
  std::int64_t movi_end = kFirstChunkOffset;  // end of the last complete chunk
  bool write_failed = false;                  // a write came up short; later adds are refused
  // Chunks copied from a file are gathered here and written in large pieces (a fixed buffer, so
  // memory stays constant). The file holds everything before movi_end - staged_bytes.
  std::unique_ptr<std::uint8_t[]> staging;
  std::size_t staged_bytes = 0;
  int staged_chunks = 0;
  io::WritebackPacer writeback;
  bool has_headers = false;  // headers for some chunks replace the placeholder
};

AviWriter* AviWriterCreate(const std::string& path, int width, int height) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    platform::traceOut("Can't open %s\n", path.c_str());
    return nullptr;
  }
  auto* writer = new AviWriter;
  writer->fd = fd;
  writer->staging.reset(new std::uint8_t[kStagingBytes]);
  writer->width = width < 0 ? 0 : width;
  writer->height = height < 0 ? 0 : height;
  const std::array<std::uint8_t, kAviHeaderSize> placeholder{};
  if (io::writeFull(fd, placeholder.data(), placeholder.size()) != placeholder.size()) {
    writer->write_failed = true;
  }
  return writer;
}

namespace {

constexpr std::uint8_t kChunkTail[3] = {0xFF, 0xFF, 0x00};  // two payload bytes + pad

// Payload size and stored size (payload rounded up to even) of a chunk for a frame of `length`
// bytes; false when the chunk would carry the file past what its 32-bit sizes describe.
bool planChunk(const AviWriter& writer, std::uint64_t length, std::uint64_t* payload,
               std::uint64_t* stored) {
  *payload = length + 2;
  *stored = (*payload + 1) & ~std::uint64_t{1};
  // The file must stay within the 32-bit sizes of its headers, index included.
  const std::uint64_t file_after = static_cast<std::uint64_t>(writer.movi_end) + 8 + *stored + 8 +
                                   16 * (static_cast<std::uint64_t>(writer.chunks) + 1);
  return file_after <= kMaxFileSize;
}

void chunkHead(std::uint8_t* head, std::uint64_t payload) {
  putCode(head, "00db");
  putLe32(head + 4, static_cast<std::uint32_t>(payload));
}

// Cuts a partial chunk off again, so that the file always ends with whole chunks.
void dropPartialChunk(AviWriter* writer) {
  if (::ftruncate(writer->fd, static_cast<off_t>(writer->movi_end)) == 0) {
    (void)::lseek(writer->fd, static_cast<off_t>(writer->movi_end), SEEK_SET);
  }
}

int failWrite(AviWriter* writer) {
  writer->write_failed = true;
  dropPartialChunk(writer);
  return kFormatsErrWrite;
}

// The picture size for the headers: the writer's, or for a writer created before it was known the
// size in the frame header of the first chunk's JPEG (0 x 0 when there is none).
void pictureSize(const AviWriter& writer, int* width, int* height) {
  *width = writer.width;
  *height = writer.height;
  if ((*width != 0 && *height != 0) || writer.chunks == 0) return;
  std::uint8_t probe_head[8];
  if (io::preadFull(writer.fd, probe_head, 8, kFirstChunkOffset) != 8) return;
  const std::size_t want = std::min<std::size_t>(getLe32(probe_head + 4), kSizeProbeBytes);
  std::vector<std::uint8_t> jpeg(want);
  const ssize_t got = io::preadFull(writer.fd, jpeg.data(), want, kFirstChunkOffset + 8);
  int w = 0, h = 0;
  if (got > 0 && jpegFrameSize(std::span(jpeg.data(), static_cast<std::size_t>(got)), &w, &h)) {
    *width = w;
    *height = h;
  }
}

// What the headers describe: the first `frames` chunks, which end at `movi_end`, in a file of
// `file_size` bytes, with or without an index behind them.
struct HeaderCounts {
  int frames = 0;
  std::int64_t movi_end = 0;
  std::uint32_t file_size = 0;
  bool has_index = false;
};

// Writes the 224 bytes of headers over the start of the file. False when the write failed.
bool writeHeaders(const AviWriter* writer, const HeaderCounts& counts) {
  int width = 0;
  int height = 0;
  pictureSize(*writer, &width, &height);
  const std::uint32_t total_frames = static_cast<std::uint32_t>(counts.frames);
  const std::uint32_t suggested = ((writer->largest_payload + 1) & ~std::uint32_t{1}) + 8;
  const double rate = writer->frame_rate;

  std::array<std::uint8_t, kAviHeaderSize> h{};
  std::uint8_t* p = h.data();
  putCode(p + 0, "RIFF");
  putLe32(p + 4, counts.file_size - 8);
  putCode(p + 8, "AVI ");
  putCode(p + 12, "LIST");
  putLe32(p + 16, 192);
  putCode(p + 20, "hdrl");
  putCode(p + 24, "avih");
  putLe32(p + 28, 56);
  // Main header at 32.
  putLe32(p + 32, static_cast<std::uint32_t>(1000000.0 / rate + 0.5));
  putLe32(p + 36, static_cast<std::uint32_t>(suggested * rate + 0.5));
  putLe32(p + 40, 1);  // padding granularity
  putLe32(p + 44, counts.has_index ? kMainHasIndex : 0);
  putLe32(p + 48, total_frames);
  putLe32(p + 52, 0);  // initial frames
  putLe32(p + 56, 1);  // streams
  putLe32(p + 60, suggested);
  putLe32(p + 64, static_cast<std::uint32_t>(width));
  putLe32(p + 68, static_cast<std::uint32_t>(height));
  // 72..87: reserved.
  putCode(p + 88, "LIST");
  putLe32(p + 92, 116);
  putCode(p + 96, "strl");
  putCode(p + 100, "strh");
  putLe32(p + 104, 56);
  // Stream header at 108.
  putCode(p + 108, "vids");
  putCode(p + 112, "MJPG");
  putLe32(p + 116, 0);                                                    // flags
  putLe16(p + 120, 0);                                                    // priority
  putLe16(p + 122, 0);                                                    // language
  putLe32(p + 124, 0);                                                    // initial frames
  putLe32(p + 128, static_cast<std::uint32_t>(10000000.0 / rate + 0.5));  // scale
  putLe32(p + 132, 10000000);                                             // rate
  putLe32(p + 136, 0);                                                    // start
  putLe32(p + 140, total_frames);                                         // length
  putLe32(p + 144, suggested);
  putLe32(p + 148, 0);  // quality
  putLe32(p + 152, 0);  // sample size
  // 156..163: frame rectangle, four 16-bit zeros.
  putCode(p + 164, "strf");
  putLe32(p + 168, 40);
  // Bitmap information header at 172.
  putLe32(p + 172, 40);
  putLe32(p + 176, static_cast<std::uint32_t>(width));
  putLe32(p + 180, static_cast<std::uint32_t>(height));
  putLe16(p + 184, 1);   // planes
  putLe16(p + 186, 24);  // bits per pixel
  putCode(p + 188, "MJPG");
  const std::uint32_t row_bytes = ((static_cast<std::uint32_t>(width) * 24 + 31) / 8) & ~3u;
  putLe32(p + 192, row_bytes * static_cast<std::uint32_t>(height));
  // 196..211: pixels per metre, colours used, colours important: 0.
  putCode(p + 212, "LIST");
  putLe32(p + 216, static_cast<std::uint32_t>(counts.movi_end - kMoviCodeOffset));
  putCode(p + 220, "movi");
  return io::pwriteFull(writer->fd, h.data(), h.size(), 0);
}

// Each write-back step, and the first chunk in the file, also bring the headers up to date for the
// chunks written so far (without an index), so that the working file of a recording that never
// gets its finish (a crash, a power cut) is still an AVI file that players open, however short.
void stepWriteback(AviWriter* writer) {
  const std::int64_t written_end =
      writer->movi_end - static_cast<std::int64_t>(writer->staged_bytes);
  // The chunks in the file, not those still staged.
  const int chunks_in_file = writer->chunks - writer->staged_chunks;
  const bool stepped = writer->writeback.advance(writer->fd, written_end);
  if (!stepped && (writer->has_headers || chunks_in_file == 0)) return;
  const HeaderCounts counts{chunks_in_file, written_end, static_cast<std::uint32_t>(written_end),
                            false};
  if (writeHeaders(writer, counts)) {
    writer->has_headers = true;
    writer->writeback.startRange(writer->fd, 0, kAviHeaderSize);
  }
}

// Writes the staged chunks. On a short write the staged chunks that reached the file whole are
// kept; the file is cut back behind the last of them and the counters forget the rest.
bool flushStaged(AviWriter* writer) {
  if (writer->staged_bytes == 0) return true;
  const std::size_t size = writer->staged_bytes;
  writer->staged_bytes = 0;
  const std::size_t done = io::writeFull(writer->fd, writer->staging.get(), size);
  if (done == size) {
    writer->staged_chunks = 0;
    stepWriteback(writer);
    return true;
  }
  std::size_t kept = 0;
  int kept_chunks = 0;
  while (kept_chunks < writer->staged_chunks && kept + 8 <= done) {
    const std::uint32_t payload = getLe32(writer->staging.get() + kept + 4);
    const std::size_t chunk = 8 + ((static_cast<std::size_t>(payload) + 1) & ~std::size_t{1});
    if (kept + chunk > done) break;
    kept += chunk;
    ++kept_chunks;
  }
  writer->movi_end -= static_cast<std::int64_t>(size - kept);
  writer->chunks -= writer->staged_chunks - kept_chunks;
  writer->staged_chunks = 0;
  failWrite(writer);
  return false;
}

int commitChunk(AviWriter* writer, std::uint64_t payload, std::uint64_t stored) {
  writer->movi_end += static_cast<std::int64_t>(8 + stored);
  if (payload > writer->largest_payload) {
    writer->largest_payload = static_cast<std::uint32_t>(payload);
  }
  ++writer->chunks;
  stepWriteback(writer);
  return writer->chunks;
}

// Copies `length` bytes at `offset` of `from` to the writer's position by reading and writing.
// 1, kFormatsErrShortRead when the source ends or fails, kFormatsErrWrite when the output fails.
int copyByReading(int from, std::int64_t offset, std::uint64_t length, int to) {
  std::vector<std::uint8_t> buffer(std::min<std::uint64_t>(length, 1 << 16));
  while (length > 0) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
    const ssize_t got = io::preadFull(from, buffer.data(), want, offset);
    if (got != static_cast<ssize_t>(want)) return kFormatsErrShortRead;
    if (io::writeFull(to, buffer.data(), want) != want) return kFormatsErrWrite;
    offset += static_cast<std::int64_t>(want);
    length -= want;
  }
  return 1;
}

// As copyByReading, in the kernel where the file systems allow it.
int copyFileRange(int from, std::int64_t offset, std::uint64_t length, int to) {
  loff_t from_offset = offset;
  while (length > 0) {
    const ssize_t n =
        ::copy_file_range(from, &from_offset, to, nullptr, static_cast<std::size_t>(length), 0);
    if (n > 0) {
      length -= static_cast<std::uint64_t>(n);
      continue;
    }
    if (n == 0) return kFormatsErrShortRead;  // the source ended
    if (errno == EINTR) continue;
    if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO) {
      return kFormatsErrWrite;
    }
    // Not supported between these files (other file system, special file, old kernel).
    return copyByReading(from, from_offset, length, to);
  }
  return 1;
}

}  // namespace

int AviWriterAddFrame(AviWriter* writer, std::span<const std::uint8_t> frame) {
  if (!writer) return kFormatsErrArgument;
  if (writer->write_failed) return kFormatsErrWrite;
  std::uint64_t payload = 0, stored = 0;
  if (!planChunk(*writer, frame.size(), &payload, &stored)) return kFormatsErrTooLarge;
  if (!flushStaged(writer)) return kFormatsErrWrite;

  std::uint8_t head[8];
  chunkHead(head, payload);
  iovec parts[3] = {
      {head, sizeof head},
      {const_cast<std::uint8_t*>(frame.data()), frame.size()},
      {const_cast<std::uint8_t*>(kChunkTail), static_cast<std::size_t>(stored - payload + 2)}};
  const std::uint64_t total = 8 + stored;
  std::uint64_t done = 0;
  int first = 0;
  while (done < total) {
    const ssize_t n = ::writev(writer->fd, parts + first, 3 - first);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::uint64_t>(n);
    std::size_t left = static_cast<std::size_t>(n);
    while (first < 3 && left >= parts[first].iov_len) {
      left -= parts[first].iov_len;
      ++first;
    }
    if (first < 3) {
      parts[first].iov_base = static_cast<std::uint8_t*>(parts[first].iov_base) + left;
      parts[first].iov_len -= left;
    }
  }
  if (done != total) return failWrite(writer);
  return commitChunk(writer, payload, stored);
}

int AviWriterAddFrameFromFile(AviWriter* writer, int fd, std::int64_t offset,
                              std::uint32_t length) {
  if (!writer || fd < 0 || offset < 0) return kFormatsErrArgument;
  if (writer->write_failed) return kFormatsErrWrite;
  std::uint64_t payload = 0, stored = 0;
  if (!planChunk(*writer, length, &payload, &stored)) return kFormatsErrTooLarge;
  const std::size_t total = static_cast<std::size_t>(8 + stored);
  const std::size_t tail = static_cast<std::size_t>(stored - payload + 2);

  if (total <= kStagingBytes) {
    // Read the frame straight into the staging buffer behind its chunk header.
    if (writer->staged_bytes + total > kStagingBytes && !flushStaged(writer)) {
      return kFormatsErrWrite;
    }
    std::uint8_t* at = writer->staging.get() + writer->staged_bytes;
    chunkHead(at, payload);
    if (io::preadFull(fd, at + 8, length, offset) != static_cast<ssize_t>(length)) {
      return kFormatsErrShortRead;  // nothing was staged
    }
    std::memcpy(at + 8 + length, kChunkTail, tail);
    writer->staged_bytes += total;
    ++writer->staged_chunks;
    return commitChunk(writer, payload, stored);
  }

  // Larger than the staging buffer: header, a copy in the kernel, tail.
  if (!flushStaged(writer)) return kFormatsErrWrite;
  std::uint8_t head[8];
  chunkHead(head, payload);
  if (io::writeFull(writer->fd, head, sizeof head) != sizeof head) return failWrite(writer);
  const int copied = copyFileRange(fd, offset, length, writer->fd);
  if (copied == kFormatsErrShortRead) {
    dropPartialChunk(writer);  // the output is fine; only this frame is missing
    return kFormatsErrShortRead;
  }
  if (copied != 1) return failWrite(writer);
  if (io::writeFull(writer->fd, kChunkTail, tail) != tail) return failWrite(writer);
  return commitChunk(writer, payload, stored);
}

std::int64_t AviFileFrames(const std::string& path) {
  std::array<std::uint8_t, 52> head{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
  ::close(fd);
  if (got != static_cast<ssize_t>(head.size())) return -1;
  const auto tag = [&head](std::size_t at, const char* name) {
    return std::memcmp(head.data() + at, name, 4) == 0;
  };
  if (!tag(0, "RIFF") || !tag(8, "AVI ") || !tag(24, "avih")) return -1;
  return head[48] | head[49] << 8 | head[50] << 16 | static_cast<std::int64_t>(head[51]) << 24;
}

int AviWriterFrames(const AviWriter* writer) {
  return writer ? writer->chunks : 0;
}

int AviWriterFinish(AviWriter* writer) {
  if (!writer) return kFormatsErrArgument;
  (void)flushStaged(writer);
  int result = writer->write_failed ? kFormatsErrWrite : 0;
  const int fd = writer->fd;
  // Index: "idx1", its size (patched below), then one entry per chunk read back from the file.
  bool index_written = true;
  std::int64_t index_at = writer->movi_end;
  std::uint8_t index_head[8];
  putCode(index_head, "idx1");
  putLe32(index_head + 4, 0);
  if (!io::pwriteFull(fd, index_head, sizeof index_head, index_at)) index_written = false;
  std::int64_t append_at = index_at + 8;

  std::array<std::uint8_t, 16 * kIndexEntriesPerWrite> batch;
  std::size_t batched = 0;
  std::uint32_t entries = 0;
  std::int64_t chunk_at = kFirstChunkOffset;
  std::uint32_t relative = 4;
  while (index_written && chunk_at < writer->movi_end) {
    std::uint8_t chunk_head[8];
    if (io::preadFull(fd, chunk_head, sizeof chunk_head, chunk_at) != 8) {
      result = kFormatsErrShortRead;
      break;
    }
    if (chunk_head[0] != '0') break;
    const std::uint32_t payload = getLe32(chunk_head + 4);
    std::uint8_t* entry = batch.data() + 16 * batched;
    std::memcpy(entry, chunk_head, 4);
    putLe32(entry + 4, kIndexKeyFrame);
    putLe32(entry + 8, relative);
    putLe32(entry + 12, payload);
    ++entries;
    if (++batched == kIndexEntriesPerWrite) {
      if (!io::pwriteFull(fd, batch.data(), 16 * batched, append_at)) index_written = false;
      append_at += static_cast<std::int64_t>(16 * batched);
      batched = 0;
    }
    const std::uint32_t step = ((payload + 1) & ~std::uint32_t{1}) + 8;
    chunk_at += step;
    relative += step;
  }
  if (index_written && batched > 0) {
    if (!io::pwriteFull(fd, batch.data(), 16 * batched, append_at)) index_written = false;
    append_at += static_cast<std::int64_t>(16 * batched);
  }
  if (index_written) {
    std::uint8_t size_field[4];
    putLe32(size_field, 16 * entries);
    if (!io::pwriteFull(fd, size_field, 4, index_at + 4)) index_written = false;
  }
  if (!index_written) {
    // No room for the index: keep the chunks, drop the partial index, and say so in the flags.
    result = kFormatsErrWrite;
    if (::ftruncate(fd, static_cast<off_t>(writer->movi_end)) != 0) result = kFormatsErrWrite;
  }

  struct stat st {};
  if (::fstat(fd, &st) != 0) return kFormatsErrSeek;
  const HeaderCounts counts{writer->chunks, writer->movi_end,
                            static_cast<std::uint32_t>(st.st_size), index_written};
  if (!writeHeaders(writer, counts)) {
    result = kFormatsErrWrite;
  }
  return result;
}

int AviWriterClose(AviWriter* writer) {
  if (!writer) return 0;
  const bool flushed = flushStaged(writer);  // only when the finish was skipped
  writer->writeback.finish(writer->fd);
  const bool closed = io::closeChecked(writer->fd);
  delete writer;
  return closed && flushed ? 0 : kFormatsErrWrite;
}

}  // namespace kv4r::formats
