// Writing a .vrx clip: whole records appended back to back, nothing before, between or after them.
// The live-view control writes into a working file (".tmp") and renames it when the recording ends,
// so a clip never appears under its final name while it grows; the renaming is the caller's.
// A ClipWriter belongs to one thread at a time (the thread that delivers the camera's frames).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kv4r::formats {

struct ClipWriter;

// Opens `path` for writing, created or truncated. The writer, or nullptr when the file cannot be
// opened. The caller owns it until ClipWriterClose.
[[nodiscard]] ClipWriter* ClipWriterCreate(const std::string& path);

// Appends one whole record at the end of the file: the record's own record_length bytes (which must
// be at least 60 and not more than record.size()). Returns the record length written, or
// kFormatsErrArgument (no writer), kFormatsErrTooShort / kFormatsErrBadRecord (a record whose
// length field does not fit the span), kFormatsErrTooLarge (the record would start beyond the last
// offset a clip's index can hold, kLastIndexedRecordOffset: the clip is full and nothing is
// written; no reader could reach the record), kFormatsErrWrite (a short or failed write; the writer
// then refuses every later append with the same code, so a clip never gets a hole in the middle).
// Blocks on the file.
[[nodiscard]] int ClipWriterAppend(ClipWriter* writer, std::span<const std::uint8_t> record);

// The clip's size after the last append (for free-space checks and tests); 0 for nullptr.
[[nodiscard]] std::uint64_t ClipWriterBytes(const ClipWriter* writer);

// Flushes, closes and frees the writer. 1, or kFormatsErrWrite when an earlier append failed or the
// flush or close failed. nullptr gives kFormatsErrArgument. The writer is freed in every case.
int ClipWriterClose(ClipWriter* writer);

// `path` with its extension (the text from its last dot, when that dot lies in the last path
// element) replaced by `extension` (which includes its dot), or `extension` appended when the last
// element has no dot: ("/rec/a.avi", ".tmp") -> "/rec/a.tmp".
[[nodiscard]] std::string replaceExtension(const std::string& path, const std::string& extension);

}  // namespace kv4r::formats
