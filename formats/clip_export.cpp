#include "formats/clip_export.h"

#include <cstdio>
#include <vector>

#include "formats/avi_writer.h"
#include "formats/clip_reader.h"
#include "formats/clip_scan.h"
#include "formats/file_io.h"
#include "formats/formats_codes.h"
#include "formats/frame_record.h"

namespace kv4r::formats {

int lastEntryOfSecond(std::span<const ClipIndexEntry> index, std::int64_t time_s) {
  // Wrapped as the entries' times are, so that stamps after 2038-01-19 still match.
  const auto wanted = static_cast<std::int32_t>(time_s);
  int found = -1;
  for (std::size_t j = 0; j < index.size(); ++j) {
    if (index[j].time_seconds == wanted) found = static_cast<int>(j);
  }
  return found;
}

int findExportRange(std::span<const ClipIndexEntry> index, std::int64_t start_s, std::int64_t end_s,
                    int* first, int* last) {
  const int start_entry = lastEntryOfSecond(index, start_s);
  const int end_entry = lastEntryOfSecond(index, end_s);
  if (start_entry < 0 || end_entry < 0 || end_entry < start_entry) return kFormatsErrInvalidTime;
  *first = start_entry;
  *last = end_entry;
  return 1;
}

int ExportClipRange(const std::string& clip_path, std::span<const ClipIndexEntry> index,
                    std::int64_t start_s, std::int64_t end_s, const std::string& avi_path,
                    const ExportProgress& progress, const JpegSizeFn& probe, ExportResult* result) {
  int first = 0, last = 0;
  if (findExportRange(index, start_s, end_s, &first, &last) != 1) {
    if (result) *result = ExportResult{};
    return kFormatsErrInvalidTime;
  }
  return ExportClipEntries(clip_path, index, first, last, avi_path, progress, probe, result);
}

int ExportClipEntries(const std::string& clip_path, std::span<const ClipIndexEntry> index,
                      int first, int last, const std::string& avi_path,
                      const ExportProgress& progress, const JpegSizeFn& probe,
                      ExportResult* result) {
  ExportResult local;
  ExportResult& r = result ? *result : local;
  r = ExportResult{};
  if (first < 0 || last < first || static_cast<std::size_t>(last) >= index.size()) {
    return kFormatsErrInvalidTime;
  }
  r.first_entry = first;
  r.last_entry = last;
  r.total = last - first + 1;
  if (progress.begin) progress.begin(r.total);

  ClipFilePtr clip(ClipFileOpen(clip_path));
  if (!clip) return kFormatsErrOpen;
  std::vector<std::uint8_t> buffer(kRecordBufferSize);
  const int first_length = ReadClipRecord(clip.get(), index, first, nullptr, buffer);
  if (first_length <= 0) return kFormatsErrShortRead;

  const std::span<const std::uint8_t> first_record(buffer.data(),
                                                   static_cast<std::size_t>(first_length));
  const int decoded = probe ? probe(first_record, &r.width, &r.height)
                            : decodeJpegSize(first_record, &r.width, &r.height);
  if (decoded < 0) return kFormatsErrBadJpeg;

  // An AVI created over the clip itself (the same name, a link to it) would empty the records it is
  // to be made of.
  if (io::isSameFile(clip->fd, avi_path)) return kFormatsErrCreate;
  AviWriter* avi = AviWriterCreate(avi_path, r.width, r.height);
  if (!avi) return kFormatsErrCreate;
  int code = 1;
  for (int j = first; j <= last; ++j) {
    // The first record is still in the buffer; the others go from the clip to the AVI without
    // passing through it, after the same length checks as a read into the record buffer.
    int added = 0;
    if (j == first) {
      added = AviWriterAddFrame(avi, first_record);
    } else {
      const std::int64_t offset = index[static_cast<std::size_t>(j)].record_offset;
      std::uint8_t fixed[kRecordFixedSize];
      FrameHeader header;
      if (readClipBytes(clip.get(), offset, fixed) != static_cast<std::int64_t>(kRecordFixedSize) ||
          parseFrameHeader(fixed, &header) != 1 || header.record_length < kRecordFixedSize ||
          header.record_length > kRecordBufferSize) {
        added = kFormatsErrShortRead;
      } else {
        added = AviWriterAddFrameFromFile(avi, clip->fd, offset, header.record_length);
      }
    }
    if (added == kFormatsErrShortRead) {  // the AVI is finished with what was written so far
      r.read_failed = true;
      break;
    }
    if (added < 0) {
      code = kFormatsErrWrite;
      break;
    }
    ++r.written;
    const int percent = static_cast<int>(static_cast<std::int64_t>(j - first + 1) * 100 / r.total);
    if (percent != 0 && progress.step) progress.step(percent);
  }
  if (AviWriterFinish(avi) < 0) code = kFormatsErrWrite;
  // Frames staged by the writer and lost to a write error are not in the file.
  if (code == kFormatsErrWrite) r.written = AviWriterFrames(avi);
  if (AviWriterClose(avi) < 0) code = kFormatsErrWrite;
  return code;
}

std::vector<ExportMessage> exportMessages(int code, const ExportResult& result,
                                          const std::string& clip_path) {
  char text[512];
  switch (code) {
    case kFormatsErrInvalidTime:
      return {{"Invalid start/end time", false}};
    case kFormatsErrOpen:
      std::snprintf(text, sizeof text, "Invalid vrx file(%s)", clip_path.c_str());
      return {{text, true}};
    case kFormatsErrShortRead:
      return {{"Vrx read error", true}};
    case kFormatsErrBadJpeg:
      return {{"Failed to decord jpeg", true}};
    case kFormatsErrCreate:
      return {{"AVI file open error", true}};
    case kFormatsErrWrite:
      return {{"AVI file write error", true}};
    default:
      break;
  }
  if (code < 0) return {{formatsCodeName(code), true}};
  std::vector<ExportMessage> messages;
  if (result.read_failed) messages.push_back({"Vrx read error", true});
  std::snprintf(text, sizeof text, "Complete. %d/%d frames is recorded", result.written,
                result.total);
  messages.push_back({text, false});
  return messages;
}

}  // namespace kv4r::formats
