// The clip index: one 24-byte entry per record of a .vrx clip, kept in a .lst file beside the clip
// and rebuilt from scratch each time a clip is opened (a cache, never a source of truth). Layouts
// in formats/README.md.
//
// BuildClipIndex and LoadClipIndex block on file I/O; call them from the thread that opens clips
// (the player's window thread, a tool's main thread). They keep no state between calls.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kv4r::formats {

// The index stores a record's offset in 32 bits: a record starting beyond this offset cannot be
// entered, so writers stop a clip before it and readers end their scan there.
inline constexpr std::uint64_t kLastIndexedRecordOffset = 0xFFFFFFFFu;

// One entry as stored (machine byte order, little-endian here). Only time_seconds and record_offset
// are read back.
struct ClipIndexEntry {
  std::uint16_t source_word = 0;  // record bytes 28-29, copied as they stand
  std::uint8_t camera_byte = 0;   // record byte 30, copied
  std::uint8_t zero0 = 0;
  std::int32_t time_seconds = 0;  // RecordTime of the record
  std::uint32_t zero1 = 0;
  std::uint32_t one0 = 1;
  std::uint32_t one1 = 1;
  std::uint32_t record_offset = 0;  // offset of the record's first byte in the clip
};
static_assert(sizeof(ClipIndexEntry) == 24, "index entries are 24 bytes on disk");

inline constexpr std::size_t kIndexEntrySize = 24;

// Progress codes of BuildClipIndex.
inline constexpr int kIndexProgressStart = 5;   // value: clip size in bytes
inline constexpr int kIndexProgressRecord = 6;  // value: offset of the record just handled
inline constexpr int kIndexProgressDone = 7;    // value: 0

// Called on the building thread. For codes 5 and 6 a return of 0 aborts the build; the answer to 7
// is ignored.
using IndexProgressFn = std::function<int(int code, std::int64_t value)>;

// The index path of a clip: the clip path with the first ".vrx" of its file name replaced by ".lst"
// and everything after that occurrence dropped ("/rec/cam1.vrx.bak" -> "/rec/cam1.lst"), so the
// index lies beside the clip. 1, or kFormatsErrIndexPath when the file name holds no ".vrx"
// (case-sensitive; a ".vrx" in a folder name does not count).
[[nodiscard]] int clipIndexPath(const std::string& clip_path, std::string* index_path);

// Scans the clip and writes its index file. Returns the number of entries written (>= 0), or a
// negative code:
//   kFormatsErrOpen       the clip cannot be opened;
//   kFormatsErrCreate     the index file cannot be created;
//   kFormatsErrShortRead  the clip ends inside a record's 60-byte fixed part;
//   kFormatsErrAborted    the progress callback answered 0 to code 5 or 6;
//   kFormatsErrIndexPath  a record passed the first-record test but the file name holds no ".vrx";
//   kFormatsErrSeek       the clip's size cannot be learned.
// Leading records that fail the first-record test (source_number < 256, camera_number 1..6) are
// skipped; the index file is created (or truncated) only when the first record passes, so a clip
// without such a record yields 0 and no index file. A record whose body is cut short by the end of
// the clip is still indexed. A record_length below 60 cannot advance the scan and is taken as the
// end of the clip (entries so far are kept), as is a record that would start beyond 4 GiB - 1 (the
// index's 32-bit offset). A short write to the index ends the scan with the entries written so far.
// On a failure the bytes already written to the index file stay there.
// `index_path` (optional) receives the derived index path when one was derived. `progress` may be
// empty.
[[nodiscard]] int BuildClipIndex(const std::string& clip_path, std::string* index_path,
                                 const IndexProgressFn& progress);

// The same scan as BuildClipIndex into memory: no index file is derived or written, so any clip
// path works (tools use it on clips they may not write beside). Returns the number of entries with
// *entries replaced, or the codes of BuildClipIndex except kFormatsErrIndexPath and
// kFormatsErrCreate (on failure *entries is left empty).
// With `cut_at`, only whole records are entered: a record that the end of the clip cuts short, in
// its fixed part or in its body (what an interrupted recording leaves), ends the scan without an
// entry and without a failure, and *cut_at receives its offset (-1 when every record is whole).
// `stop` (optional) receives the record at which a record_length below 60, the 32-bit offset
// limit or bytes that are no record ended the scan before the end of the clip (the records behind
// it are not entered). With `stop`, a "record" after the first whose bytes 0-1 are not the JPEG
// start marker FF D8 ends the scan as damage, also when the end of the clip cuts it short (it is
// then not reported through `cut_at`); without `stop` such bytes are scanned as BuildClipIndex
// scans them.
struct IndexScanStop {
  std::int64_t offset = -1;  // of that record; -1 when nothing ended the scan early
  // kFormatsErrTooShort: its record_length is below 60; kFormatsErrTooLarge: it starts beyond
  // 4 GiB - 1; kFormatsErrBadRecord: its bytes 0-1 are not FF D8, so the clip is damaged there;
  // 0 when offset is -1.
  int code = 0;
};
[[nodiscard]] int IndexClipInMemory(const std::string& clip_path, const IndexProgressFn& progress,
                                    std::vector<ClipIndexEntry>* entries,
                                    std::int64_t* cut_at = nullptr, IndexScanStop* stop = nullptr);

// Loads exactly `count` entries from the start of the index file into *entries (replaced).
// Returns `count`, or kFormatsErrNoEntries when count <= 0 (a clip without a valid record is not
// opened), kFormatsErrOpen, or kFormatsErrShortRead when the file holds fewer than count × 24
// bytes. On failure *entries is left empty.
[[nodiscard]] int LoadClipIndex(const std::string& index_path, int count,
                                std::vector<ClipIndexEntry>* entries);

}  // namespace kv4r::formats
