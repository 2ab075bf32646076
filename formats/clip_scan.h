// A sequential walk over every record of a clip, for tools that inspect clips without an index
// (information, verification, extraction). Unlike the index build it applies no first-record test.
// Blocks on the file; one thread per ClipFile at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "formats/clip_reader.h"
#include "formats/frame_record.h"

namespace kv4r::formats {

struct ClipRecordInfo {
  int position = 0;         // 0-based number of the record in the clip
  std::int64_t offset = 0;  // of the record's first byte
  FrameHeader header;       // its fixed part
  bool complete = false;    // all record_length bytes lie inside the file
  // Whether its bytes 0-1 are the JPEG start marker FF D8, and whether bytes 0-3 are FF D8 FF
  // E0..EF as every record begins. Bytes that are not are no record: the walk has left the records
  // there (bytes written between them, a record length that lies).
  bool start_marker = false;
  bool starts_like_record = false;
};

// How a walk ended.
struct ClipScanEnd {
  int records = 0;              // records visited
  std::int64_t clip_size = 0;   // bytes in the file
  std::int64_t end_offset = 0;  // where the walk stopped
  // 0 at the end of the file (or when the visitor stopped it); kFormatsErrShortRead when the file
  // ends inside a fixed part; kFormatsErrTooShort when a record_length below 60 stopped the walk.
  int stop_code = 0;
};

// Calls `visit` with each record's fixed part, in file order, until the file ends, the walk cannot
// go on, or `visit` returns 0. A record whose body runs past the end of the file is visited (with
// complete = false) and ends the walk. Returns 1 with *end filled, or kFormatsErrArgument /
// kFormatsErrSeek when the walk could not start.
[[nodiscard]] int scanClip(ClipFile* clip, const std::function<int(const ClipRecordInfo&)>& visit,
                           ClipScanEnd* end);

// Positioned read of up to bytes.size() bytes at `offset`. The bytes read (fewer at the end of the
// file), or kFormatsErrArgument / kFormatsErrShortRead on an I/O error.
[[nodiscard]] std::int64_t readClipBytes(ClipFile* clip, std::int64_t offset,
                                         std::span<std::uint8_t> bytes);

}  // namespace kv4r::formats
