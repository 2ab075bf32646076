// Reading records of an indexed clip. Each reader (the player's worker, an export, a tool) opens
// its own ClipFile; reads use positioned reads, so several ClipFiles on one clip never disturb each
// other. A ClipFile and its ClipStamps belong to one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "formats/clip_index.h"
#include "formats/frame_record.h"

namespace kv4r::formats {

// An open clip, read-only.
struct ClipFile {
  int fd = -1;
};

// Opens a clip read-only. The handle, or nullptr when the file cannot be opened or is a folder
// (errno says why). Blocks on the file system. The caller owns the handle and closes it with
// ClipFileClose (or holds it in a ClipFilePtr).
[[nodiscard]] ClipFile* ClipFileOpen(const std::string& path);
// Closes and frees; nullptr is allowed.
void ClipFileClose(ClipFile* clip);

struct ClipFileCloser {
  void operator()(ClipFile* clip) const { ClipFileClose(clip); }
};
using ClipFilePtr = std::unique_ptr<ClipFile, ClipFileCloser>;

// The two time stamps the player paces with: the record read last (current) and the one before it
// (previous). Both start at zero. Kept by the reader's owner (the player's ClipPlayer embeds one);
// written only by ReadClipRecord on the reading thread.
struct ClipStamps {
  RecordStamp previous;
  RecordStamp current;
};

// The capture gap between previous and current in milliseconds (stampDifferenceMs(previous,
// current)); negative while playing backwards.
[[nodiscard]] std::int64_t clipStampsGapMs(const ClipStamps& stamps);

// Reads record `entry` of the index into `buffer`: positioned read of the 60-byte fixed part at the
// entry's record_offset, then record_length - 60 further bytes behind it. Returns record_length
// (> 60), or:
//   kFormatsErrArgument   no clip, an entry outside 0..index.size() - 1;
//   kFormatsErrShortRead  fewer bytes than the fixed part or the record's length;
//   kFormatsErrTooShort   a record_length below 60;
//   kFormatsErrTooLong    a record_length above buffer.size() (kRecordBufferSize for the player).
// On success, and only then, `stamps` (optional) moves current to previous and takes the new
// record's (RecordTime, hundredths) as current. On failure the buffer's content is undefined.
// Blocks on the file; one thread per ClipFile at a time.
[[nodiscard]] int ReadClipRecord(ClipFile* clip, std::span<const ClipIndexEntry> index, int entry,
                                 ClipStamps* stamps, std::span<std::uint8_t> buffer);

}  // namespace kv4r::formats
