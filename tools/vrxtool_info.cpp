// vrxtool info and vrxtool index.
#include <cstdio>
#include <set>
#include <vector>

#include "formats/clip_export.h"
#include "formats/clip_index.h"
#include "formats/clip_scan.h"
#include "formats/formats_codes.h"
#include "formats/frame_record.h"
#include "tools/vrxtool_commands.h"
#include "tools/vrxtool_progress.h"

namespace kv4r::tools {

namespace {

// A record's stamp from its own fields: the 32-bit time the index and the player keep wraps after
// 2038-01-19.
struct Stamp {
  std::int64_t seconds = 0;
  int hundredths = 0;
};

std::string stampText(const Stamp& stamp) {
  char hundredths[8];
  std::snprintf(hundredths, sizeof hundredths, ".%02d", stamp.hundredths);
  return formats::formatStampSeconds(stamp.seconds) + hundredths;
}

Stamp stampOf(const formats::FrameHeader& header) {
  return {formats::RecordTime(header), header.hundredths};
}

// The picture size of the record at `offset`, decoded; false when it cannot be read or decoded.
bool pictureSize(formats::ClipFile* clip, const formats::ClipRecordInfo& record, int* width,
                 int* height) {
  if (!record.complete || record.header.record_length > formats::kRecordBufferSize) return false;
  std::vector<std::uint8_t> bytes(record.header.record_length);
  if (formats::readClipBytes(clip, record.offset, bytes) !=
      static_cast<std::int64_t>(bytes.size())) {
    return false;
  }
  return formats::decodeJpegSize(bytes, width, height) == 0;
}

}  // namespace

int runInfo(const std::string& clip_path) {
  formats::ClipFilePtr clip(formats::ClipFileOpen(clip_path));
  if (!clip) {
    std::fprintf(stderr, "vrxtool info: cannot open %s\n", clip_path.c_str());
    return 1;
  }
  std::set<int> cameras;
  Stamp first, last;
  formats::ClipRecordInfo first_record;
  bool have_first = false;
  bool cut_short = false;
  int records = 0;
  std::int64_t no_record_at = -1;
  formats::ClipScanEnd end;
  const int scanned = formats::scanClip(
      clip.get(),
      [&](const formats::ClipRecordInfo& record) {
        // Bytes behind the first record that do not start with the JPEG start marker are no
        // record: the walk has left the records, and what it would read on is nonsense.
        if (record.position > 0 && !record.start_marker) {
          no_record_at = record.offset;
          return 0;
        }
        ++records;
        if (!have_first) {
          first = stampOf(record.header);
          first_record = record;
          have_first = true;
        }
        last = stampOf(record.header);
        cameras.insert(record.header.camera_number);
        cut_short = !record.complete;
        return 1;
      },
      &end);
  if (scanned < 0) {
    std::fprintf(stderr, "vrxtool info: %s: %s\n", clip_path.c_str(),
                 formats::formatsCodeName(scanned));
    return 1;
  }

  std::printf("records:  %d\n", records);
  std::string camera_list;
  for (int camera : cameras) {
    camera_list += (camera_list.empty() ? "" : ", ") + std::to_string(camera);
  }
  std::printf("cameras:  %s\n", camera_list.empty() ? "none" : camera_list.c_str());
  if (have_first) {
    std::printf("first:    %s\n", stampText(first).c_str());
    std::printf("last:     %s\n", stampText(last).c_str());
    const std::int64_t hundredths =
        (last.seconds - first.seconds) * 100 + last.hundredths - first.hundredths;
    std::printf("duration: %.2f s\n", static_cast<double>(hundredths) / 100.0);
    int width = 0, height = 0;
    if (pictureSize(clip.get(), first_record, &width, &height)) {
      std::printf("picture:  %d x %d\n", width, height);
    } else {
      std::printf("picture:  unknown (the first record does not decode)\n");
    }
  }
  std::printf("bytes:    %lld\n", static_cast<long long>(end.clip_size));

  if (end.stop_code == formats::kFormatsErrShortRead) {
    std::fprintf(stderr,
                 "vrxtool info: warning: the clip ends inside a record header at offset %lld\n",
                 static_cast<long long>(end.end_offset));
  } else if (end.stop_code == formats::kFormatsErrTooShort) {
    std::fprintf(stderr,
                 "vrxtool info: warning: the record at offset %lld claims fewer than 60 bytes; "
                 "the clip is read as ending there\n",
                 static_cast<long long>(end.end_offset));
  } else if (no_record_at >= 0) {
    std::fprintf(stderr,
                 "vrxtool info: warning: the bytes at offset %lld are not a frame record; the clip "
                 "is damaged there and is read as ending there\n",
                 static_cast<long long>(no_record_at));
  } else if (cut_short) {
    std::fprintf(stderr,
                 "vrxtool info: warning: the last record is cut short by the end of the clip\n");
  }
  return 0;
}

int runIndex(const std::string& clip_path) {
  TerminalProgress bar("Indexing");
  std::int64_t clip_size = 0;
  auto progress = [&bar, &clip_size](int code, std::int64_t value) {
    if (code == formats::kIndexProgressStart) clip_size = value;
    if (code == formats::kIndexProgressRecord && clip_size > 0) {
      bar.show(static_cast<int>(value * 100 / clip_size));
    }
    if (code == formats::kIndexProgressDone) bar.show(100);
    return 1;
  };
  std::string index_path;
  const int count = formats::BuildClipIndex(clip_path, &index_path, progress);
  bar.finish();
  if (count < 0) {
    std::fprintf(stderr, "vrxtool index: %s: %s\n", clip_path.c_str(),
                 formats::formatsCodeName(count));
    return 1;
  }
  if (count == 0) {
    std::fprintf(stderr, "vrxtool index: %s: no valid record (no index written)\n",
                 clip_path.c_str());
    return 1;
  }
  std::printf("%d records indexed in %s\n", count, index_path.c_str());
  return 0;
}

}  // namespace kv4r::tools
