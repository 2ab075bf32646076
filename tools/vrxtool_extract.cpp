// vrxtool extract: every record of a clip as a .jpg file (a record is a complete JPEG file).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "formats/clip_scan.h"
#include "formats/formats_codes.h"
#include "tools/vrxtool_commands.h"
#include "tools/vrxtool_progress.h"

namespace kv4r::tools {

namespace {

// "000012_2004-05-06_07-08-09.10.jpg": position in the clip, then the stamp as written.
std::string pictureName(const formats::ClipRecordInfo& record) {
  const formats::FrameHeader& h = record.header;
  char name[96];
  std::snprintf(name, sizeof name, "%06d_%04d-%02d-%02d_%02d-%02d-%02d.%02d.jpg", record.position,
                h.year, h.month, h.day, h.hour, h.minute, h.second, h.hundredths);
  return name;
}

// A record cut short by the end of the clip is what an interrupted recording leaves: the records
// before it are all there is to extract, and that is no failure.
void warnCutRecord(std::int64_t offset) {
  std::fprintf(stderr,
               "vrxtool extract: warning: the record at offset %lld is cut short by the end of the "
               "clip and is left out\n",
               static_cast<long long>(offset));
}

// Bytes where a record should start that do not start like one: bytes written between records, or
// a record length that lies and leaves the walk inside the next record. They are no picture, and
// a cut "record" that is none is no interrupted recording either.
void reportNoRecord(std::int64_t offset) {
  std::fprintf(stderr,
               "vrxtool extract: the clip is damaged at offset %lld: the bytes there are not a "
               "frame record and are left out\n",
               static_cast<long long>(offset));
}

// Whether the bytes at `offset`, where the clip ends inside what would be a record's fixed part,
// start like a record.
bool cutStartsLikeRecord(formats::ClipFile* clip, std::int64_t offset) {
  std::uint8_t lead[4] = {};
  const std::int64_t got = formats::readClipBytes(clip, offset, lead);
  return got > 0 && formats::startsLikeRecord(std::span(lead, static_cast<std::size_t>(got)));
}

// Writes one picture; false when it cannot be written whole, and then no part of it stays under its
// name (a cut picture would pass for a whole one by its name).
bool writePicture(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out.fail()) return true;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return false;
}

}  // namespace

int runExtract(const std::string& clip_path, const std::string& folder) {
  formats::ClipFilePtr clip(formats::ClipFileOpen(clip_path));
  if (!clip) {
    std::fprintf(stderr, "vrxtool extract: cannot open %s\n", clip_path.c_str());
    return 1;
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder)) {
    std::fprintf(stderr, "vrxtool extract: cannot create folder %s\n", folder.c_str());
    return 1;
  }
  TerminalProgress bar("Extracting");
  int written = 0;
  int failed = 0;
  std::vector<std::uint8_t> bytes;
  formats::ClipScanEnd end;
  const std::int64_t clip_size =
      static_cast<std::int64_t>(std::filesystem::file_size(clip_path, error));
  const int scanned = formats::scanClip(
      clip.get(),
      [&](const formats::ClipRecordInfo& record) {
        const std::uint32_t length = record.header.record_length;
        if (!record.start_marker || (!record.complete && !record.starts_like_record)) {
          reportNoRecord(record.offset);
          ++failed;
          return 1;
        }
        if (!record.complete) {
          warnCutRecord(record.offset);
          return 1;
        }
        if (length > formats::kRecordBufferSize) {
          std::fprintf(stderr,
                       "vrxtool extract: record %d at offset %lld: longer than 102400 bytes, "
                       "skipped\n",
                       record.position, static_cast<long long>(record.offset));
          ++failed;
          return 1;
        }
        bytes.resize(length);
        if (formats::readClipBytes(clip.get(), record.offset, bytes) != length) {
          std::fprintf(stderr, "vrxtool extract: record %d at offset %lld: cannot be read\n",
                       record.position, static_cast<long long>(record.offset));
          ++failed;
          return 0;
        }
        const std::filesystem::path path = std::filesystem::path(folder) / pictureName(record);
        if (!writePicture(path, bytes)) {
          std::fprintf(stderr, "vrxtool extract: cannot write %s\n", path.c_str());
          ++failed;
          return 0;
        }
        ++written;
        if (clip_size > 0) bar.show(static_cast<int>((record.offset + length) * 100 / clip_size));
        return 1;
      },
      &end);
  bar.finish();
  if (scanned < 0) {
    std::fprintf(stderr, "vrxtool extract: %s: %s\n", clip_path.c_str(),
                 formats::formatsCodeName(scanned));
    return 1;
  }
  if (end.stop_code == formats::kFormatsErrShortRead &&
      cutStartsLikeRecord(clip.get(), end.end_offset)) {
    warnCutRecord(end.end_offset);
  } else if (end.stop_code == formats::kFormatsErrShortRead) {
    reportNoRecord(end.end_offset);
    ++failed;
  } else if (end.stop_code != 0) {
    std::fprintf(stderr, "vrxtool extract: the clip is damaged at offset %lld (%s)\n",
                 static_cast<long long>(end.end_offset), formats::formatsCodeName(end.stop_code));
    ++failed;
  }
  std::printf("%d pictures written to %s\n", written, folder.c_str());
  return failed == 0 ? 0 : 1;
}

}  // namespace kv4r::tools
