#include "formats/clip_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "formats/file_io.h"
#include "formats/formats_codes.h"
#include "formats/frame_record.h"

namespace kv4r::formats {

namespace {

constexpr std::size_t kEntriesPerWrite = 1024;  // index bytes are written in batches of 24 KiB

// The index file being written: entries are batched, and a short write ends the scan with the
// entries that reached the file.
struct IndexOut {
  int fd = -1;
  std::array<ClipIndexEntry, kEntriesPerWrite> pending{};
  std::size_t pending_count = 0;
  int written = 0;      // entries wholly in the file
  bool failed = false;  // a write came up short

  bool flush() {
    if (pending_count == 0 || failed) return !failed;
    const std::size_t bytes = pending_count * kIndexEntrySize;
    const std::size_t done = io::writeFull(fd, pending.data(), bytes);
    written += static_cast<int>(done / kIndexEntrySize);
    pending_count = 0;
    failed = done != bytes;
    return !failed;
  }
  bool add(const ClipIndexEntry& entry) {
    pending[pending_count++] = entry;
    return pending_count < kEntriesPerWrite || flush();
  }
};

}  // namespace

int clipIndexPath(const std::string& clip_path, std::string* index_path) {
  // Only the file name counts: a ".vrx" in a folder name would put the index outside the clip's
  // folder, shared by every clip in it, over whatever file has that name.
  const std::size_t slash = clip_path.rfind('/');
  const std::size_t at = clip_path.find(".vrx", slash == std::string::npos ? 0 : slash + 1);
  if (at == std::string::npos) return kFormatsErrIndexPath;
  *index_path = clip_path.substr(0, at) + ".lst";
  return 1;
}

namespace {

// Entries kept in memory.
struct MemoryOut {
  std::vector<ClipIndexEntry>* entries = nullptr;
  int start(const std::string&, std::string*) { return 1; }
  bool add(const ClipIndexEntry& entry) {
    entries->push_back(entry);
    return true;
  }
  int finish(int result) { return result < 0 ? result : static_cast<int>(entries->size()); }
};

// Entries written to the index file beside the clip.
struct FileOut {
  IndexOut out;
  int start(const std::string& clip_path, std::string* index_path) {
    std::string path;
    if (clipIndexPath(clip_path, &path) != 1) return kFormatsErrIndexPath;
    if (index_path) *index_path = path;
    out.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return out.fd < 0 ? kFormatsErrCreate : 1;
  }
  bool add(const ClipIndexEntry& entry) { return out.add(entry); }
  int finish(int result) {
    if (out.fd >= 0) {
      (void)out.flush();
      if (!io::closeChecked(out.fd) && result >= 0) result = kFormatsErrWrite;
    }
    return result < 0 ? result : out.written;
  }
};

// The scan shared by both sinks: see BuildClipIndex.
// With `cut_at`, a record cut short by the end of the clip ends the scan there; `stop` says which
// record ended it early (see IndexClipInMemory).
template <typename Sink>
int scanIntoIndex(const std::string& clip_path, std::string* index_path,
                  const IndexProgressFn& progress, Sink& sink, std::int64_t* cut_at = nullptr,
                  IndexScanStop* stop = nullptr) {
  if (cut_at != nullptr) *cut_at = -1;
  if (stop != nullptr) *stop = IndexScanStop{};
  const int clip = ::open(clip_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (clip < 0) return kFormatsErrOpen;
  struct stat st {};
  if (::fstat(clip, &st) != 0) {
    io::closeChecked(clip);
    return kFormatsErrSeek;
  }
  const std::int64_t clip_size = st.st_size;
  if (progress && progress(kIndexProgressStart, clip_size) == 0) {
    io::closeChecked(clip);
    return kFormatsErrAborted;
  }

  bool started = false;
  int result = 0;
  std::int64_t position = 0;
  std::uint8_t fixed[kRecordFixedSize];
  // Every record starts with the JPEG start marker. For the tools (which ask where the scan
  // stopped), bytes behind the first record that do not are damage: bytes written between records,
  // or a length that lies and leaves the walk inside the next record. The scan ends there rather
  // than reading on through lengths of nonsense or taking them for the cut end of an interrupted
  // recording. The player's index reads on as it always has.
  auto no_record_at = [&](std::int64_t offset, ssize_t got) {
    if (stop == nullptr || offset == 0 || got <= 0) return false;
    const std::size_t marker_bytes = std::min<std::size_t>(static_cast<std::size_t>(got), 2);
    if (startsLikeRecord(std::span(fixed, marker_bytes))) return false;
    *stop = {offset, kFormatsErrBadRecord};
    return true;
  };
  while (position < clip_size) {
    const ssize_t got = io::preadFull(clip, fixed, sizeof fixed, position);
    if (got != static_cast<ssize_t>(sizeof fixed)) {
      if (no_record_at(position, got)) break;
      if (cut_at != nullptr && got >= 0) {
        *cut_at = position;
      } else {
        result = kFormatsErrShortRead;
      }
      break;
    }
    FrameHeader header;
    (void)parseFrameHeader(fixed, &header);
    const std::int64_t record_offset = position;
    // A record starting beyond the index's 32-bit offsets cannot be entered: the clip ends here
    // as far as the index is concerned.
    if (static_cast<std::uint64_t>(record_offset) > kLastIndexedRecordOffset) {
      if (stop != nullptr) *stop = {record_offset, kFormatsErrTooLarge};
      break;
    }
    if (no_record_at(record_offset, got)) break;
    // A length below the fixed part cannot move the scan forward: the clip ends here, and the
    // record that claims it is not entered (it could never be read).
    if (header.record_length < kRecordFixedSize) {
      if (stop != nullptr) *stop = {record_offset, kFormatsErrTooShort};
      break;
    }
    if (cut_at != nullptr && record_offset + header.record_length > clip_size) {
      *cut_at = record_offset;
      break;
    }

    bool accepted = true;
    if (!started) {
      accepted =
          header.source_number < 256 && header.camera_number >= 1 && header.camera_number <= 6;
      if (accepted) {
        result = sink.start(clip_path, index_path);
        if (result < 0) break;
        result = 0;
        started = true;
      }
    }
    if (accepted) {
      ClipIndexEntry entry;
      std::memcpy(&entry.source_word, fixed + kOffSourceNumber, 2);
      entry.camera_byte = fixed[kOffCameraNumber];
      entry.time_seconds = static_cast<std::int32_t>(RecordTime(header));
      entry.record_offset = static_cast<std::uint32_t>(record_offset);
      if (!sink.add(entry)) break;
    }
    if (progress && progress(kIndexProgressRecord, record_offset) == 0) {
      result = kFormatsErrAborted;
      break;
    }
    position += header.record_length;
  }

  io::closeChecked(clip);
  result = sink.finish(result);
  if (result >= 0 && progress) (void)progress(kIndexProgressDone, 0);
  return result;
}

}  // namespace

int BuildClipIndex(const std::string& clip_path, std::string* index_path,
                   const IndexProgressFn& progress) {
  FileOut sink;
  return scanIntoIndex(clip_path, index_path, progress, sink);
}

int IndexClipInMemory(const std::string& clip_path, const IndexProgressFn& progress,
                      std::vector<ClipIndexEntry>* entries, std::int64_t* cut_at,
                      IndexScanStop* stop) {
  entries->clear();
  MemoryOut sink;
  sink.entries = entries;
  const int result = scanIntoIndex(clip_path, nullptr, progress, sink, cut_at, stop);
  if (result < 0) entries->clear();
  return result;
}

int LoadClipIndex(const std::string& index_path, int count, std::vector<ClipIndexEntry>* entries) {
  entries->clear();
  if (count <= 0) return kFormatsErrNoEntries;
  const int fd = ::open(index_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kFormatsErrOpen;
  std::vector<ClipIndexEntry> loaded(static_cast<std::size_t>(count));
  const std::size_t bytes = loaded.size() * kIndexEntrySize;
  const ssize_t got = io::preadFull(fd, loaded.data(), bytes, 0);
  io::closeChecked(fd);
  if (got != static_cast<ssize_t>(bytes)) return kFormatsErrShortRead;
  *entries = std::move(loaded);
  return count;
}

}  // namespace kv4r::formats
