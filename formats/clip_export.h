// Export of a time range of an indexed clip to a Motion-JPEG AVI file: the player's "Record" button
// and `vrxtool export` share this one implementation. Each exported record is added whole (its
// application segment included) as one AVI frame; the AVI's headers carry the first record's
// picture size and the writer's fixed 29.97 frames per second.
//
// The export opens its own handle on the clip and its own buffers, so it may run while a player's
// worker reads the same clip. It blocks until done; progress callbacks run on the calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "formats/clip_index.h"

namespace kv4r::formats {

// Learns a JPEG's picture size by decoding it (the player passes its own decoder; empty selects
// decodeJpegSize). 0 with *width and *height set, or a negative value when it does not decode.
using JpegSizeFn = std::function<int(std::span<const std::uint8_t> jpeg, int* width, int* height)>;

// Decodes `jpeg` completely with libjpeg-turbo into a scratch picture of at most 720 x 576 pixels
// (1,244,160 bytes) to learn its size. 0, or kFormatsErrBadJpeg when it does not decode or is
// larger.
[[nodiscard]] int decodeJpegSize(std::span<const std::uint8_t> jpeg, int* width, int* height);

struct ExportProgress {
  // Once, before the clip is opened: the bar's range is 0..total, step 1, and the text "0%".
  std::function<void(int total)> begin;
  // After each record added, only when percent = (j - start + 1) * 100 / total (truncated) is not
  // 0: show "%d%%" and step the bar once.
  std::function<void(int percent)> step;
};

struct ExportResult {
  int written = 0;  // records added to the AVI
  int total = 0;    // n = end entry - start entry + 1 (0 before the range was found)
  int first_entry = -1;
  int last_entry = -1;
  int width = 0;  // of the first record's picture
  int height = 0;
  bool read_failed = false;  // a record inside the loop could not be read; the loop ended there
};

// The range of entries for a start and an end time (seconds since 1970 as stamped, exact to the
// second): lastEntryOfSecond of start_s and of end_s. 1 with *first and *last set, or
// kFormatsErrInvalidTime when either time matches no entry or the end entry lies before the start
// entry.
[[nodiscard]] int findExportRange(std::span<const ClipIndexEntry> index, std::int64_t start_s,
                                  std::int64_t end_s, int* first, int* last);

// Exports the records from the start time's entry to the end time's entry into `avi_path`.
// Returns (with the message exportOutcome gives for it):
//   1                       the AVI was finished: "Complete. %d/%d frames is recorded". When a
//   record
//                           inside the loop could not be read, the loop ended there and
//                           result->written < result->total;
//   kFormatsErrInvalidTime  "Invalid start/end time": nothing was opened;
//   kFormatsErrOpen         "Invalid vrx file(%s)": the clip cannot be opened;
//   kFormatsErrShortRead    "Vrx read error": the first record of the range cannot be read;
//   kFormatsErrBadJpeg      "Failed to decord jpeg": the first record does not decode;
//   kFormatsErrCreate       "AVI file open error": the AVI cannot be created;
//   kFormatsErrWrite        "AVI file write error": the AVI could not be written completely (disk
//                           full, ...); it was finished as far as possible, result->written tells
//                           how many records were handed to it.
// `probe` may be empty (decodeJpegSize); `progress` members may be empty; `result` is optional.
[[nodiscard]] int ExportClipRange(const std::string& clip_path,
                                  std::span<const ClipIndexEntry> index, std::int64_t start_s,
                                  std::int64_t end_s, const std::string& avi_path,
                                  const ExportProgress& progress, const JpegSizeFn& probe,
                                  ExportResult* result);

// The last entry whose time_seconds equals time_s taken to 32 bits as the index stores it, or -1
// when none does.
[[nodiscard]] int lastEntryOfSecond(std::span<const ClipIndexEntry> index, std::int64_t time_s);

// The export of ExportClipRange for a range of entries given directly (0 and index.size() - 1 for
// the whole clip). kFormatsErrInvalidTime when the range lies outside the index or runs backwards;
// otherwise the results of ExportClipRange.
[[nodiscard]] int ExportClipEntries(const std::string& clip_path,
                                    std::span<const ClipIndexEntry> index, int first_entry,
                                    int last_entry, const std::string& avi_path,
                                    const ExportProgress& progress, const JpegSizeFn& probe,
                                    ExportResult* result);

// How a caller reports an export's outcome: the messages to show in order, each with whether it is
// an error (error icon) or plain (no icon). A read failure inside the loop gives two: "Vrx read
// error", then "Complete. %d/%d frames is recorded".
struct ExportMessage {
  std::string text;
  bool is_error = false;
};
[[nodiscard]] std::vector<ExportMessage> exportMessages(int code, const ExportResult& result,
                                                        const std::string& clip_path);

}  // namespace kv4r::formats
