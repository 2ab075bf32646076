// vrxtool export: a time range of a clip to a Motion-JPEG AVI file, with the player's algorithm and
// messages.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "formats/avi_writer.h"
#include "formats/clip_export.h"
#include "formats/clip_index.h"
#include "formats/clip_reader.h"
#include "formats/clip_scan.h"
#include "formats/formats_codes.h"
#include "formats/frame_record.h"
#include "platform/file_moves.h"
#include "tools/folder_problem.h"
#include "tools/vrxtool_commands.h"
#include "tools/vrxtool_progress.h"

namespace kv4r::tools {

namespace {

// Parses an optional time; *seconds keeps its default when the text is absent.
bool parseTime(const std::optional<std::string>& text, const char* name, std::int64_t* seconds) {
  if (!text) return true;  // *seconds is not used then
  if (formats::parseStampText(*text, seconds) == 1) return true;
  std::fprintf(stderr, "vrxtool export: %s \"%s\": expected \"YYYY-MM-DD HH:MM:SS\"\n", name,
               text->c_str());
  return false;
}

// The AVI is written under a working name beside OUT and takes OUT's name only once it is
// finished, so that an interrupted export leaves neither a file without headers under OUT nor a
// replaced OUT.
const char* volatile working_path = nullptr;

extern "C" void onInterrupt(int signal_number) {
  if (const char* path = working_path) (void)::unlink(path);
  std::signal(signal_number, SIG_DFL);
  (void)std::raise(signal_number);
}

// A name beside OUT that no file has yet ("OUT.part", else "OUT.1.part", ...), so that the export
// never empties or removes a file it did not create (the clip itself included).
std::string freeWorkingPath(const std::string& avi_path) {
  std::string path = avi_path + ".part";
  std::error_code ignored;
  for (int n = 1; n < 1000 && std::filesystem::symlink_status(path, ignored).type() !=
                                  std::filesystem::file_type::not_found;
       ++n) {
    path = avi_path + "." + std::to_string(n) + ".part";
  }
  return path;
}

// The stamp of an entry's record, from the record's own fields: the entry's 32-bit time wraps after
// 2038-01-19.
std::string entryStampText(const std::string& clip_path, const formats::ClipIndexEntry& entry) {
  std::int64_t seconds = entry.time_seconds;
  formats::ClipFilePtr clip(formats::ClipFileOpen(clip_path));
  std::uint8_t fixed[formats::kRecordFixedSize];
  formats::FrameHeader header;
  if (clip &&
      formats::readClipBytes(clip.get(), entry.record_offset, fixed) ==
          static_cast<std::int64_t>(sizeof fixed) &&
      formats::parseFrameHeader(fixed, &header) == 1) {
    seconds = formats::RecordTime(header);
  }
  return formats::formatStampSeconds(seconds);
}

void removeWorkingFileOnInterrupt(const std::string& path) {
  working_path = path.c_str();
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal_number, onInterrupt);
}

// Gives the finished working file OUT's name: 0, or 1 with the reason on standard error (the
// export stays under the working name).
int publish(const std::string& working, const std::string& avi_path, bool replace) {
  const bool moved = replace ? ::rename(working.c_str(), avi_path.c_str()) == 0
                             : platform::moveWithoutReplacing(working, avi_path);
  if (moved) return 0;
  const int error = errno;
  std::fprintf(
      stderr, "vrxtool export: the export stays in %s: it cannot be named %s: %s\n",
      working.c_str(), avi_path.c_str(),
      error == EEXIST ? "another program created that file meanwhile" : std::strerror(error));
  return 1;
}

}  // namespace

int runExport(const std::string& clip_path, const std::string& avi_path,
              const std::optional<std::string>& start, const std::optional<std::string>& end,
              bool replace) {
  std::error_code ignored;
  if (std::filesystem::equivalent(clip_path, avi_path, ignored)) {
    std::fprintf(stderr, "vrxtool export: %s is the clip itself; give another name\n",
                 avi_path.c_str());
    return 2;
  }
  // The name may well be a recording's own AVI file beside the clip (cam1.vrx, cam1.avi): an
  // export of part of the clip must not take its place unasked.
  const std::filesystem::file_type out_type =
      std::filesystem::symlink_status(avi_path, ignored).type();
  // A folder cannot take the finished file's name, with --force or without: refused before the
  // whole export is written for nothing.
  if (out_type == std::filesystem::file_type::directory) {
    std::fprintf(stderr, "vrxtool export: %s is a folder; give the name of the AVI file to write\n",
                 avi_path.c_str());
    return 1;
  }
  const bool out_taken = out_type != std::filesystem::file_type::not_found &&
                         out_type != std::filesystem::file_type::none;  // none: the writer says why
  if (out_taken && !replace) {
    std::fprintf(stderr,
                 "vrxtool export: %s exists already; give another name, or --force to replace "
                 "it\n",
                 avi_path.c_str());
    return 2;
  }
  // A recording that was interrupted (a crash, a power cut, a full disk) ends in a cut record; the
  // whole records before it are exported.
  std::vector<formats::ClipIndexEntry> index;
  std::int64_t cut_at = -1;
  formats::IndexScanStop stop;
  const int count = formats::IndexClipInMemory(clip_path, {}, &index, &cut_at, &stop);
  if (count < 0) {
    std::fprintf(stderr, "vrxtool export: %s: %s\n", clip_path.c_str(),
                 formats::formatsCodeName(count));
    return 1;
  }
  if (cut_at >= 0) {
    std::fprintf(stderr,
                 "vrxtool export: warning: the record at offset %lld is cut short by the end of "
                 "the clip and is left out\n",
                 static_cast<long long>(cut_at));
  }
  // A damaged record, unlike a cut one, hides the records behind it: the frames before it are
  // exported, and the exit status says that the clip was not exported whole.
  if (stop.code == formats::kFormatsErrTooShort) {
    std::fprintf(stderr,
                 "vrxtool export: warning: the record at offset %lld claims fewer than 60 bytes; "
                 "it and the records behind it are left out\n",
                 static_cast<long long>(stop.offset));
  } else if (stop.code == formats::kFormatsErrBadRecord) {
    std::fprintf(stderr,
                 "vrxtool export: warning: the bytes at offset %lld are not a frame record; the "
                 "clip is damaged there, and the records behind it are left out\n",
                 static_cast<long long>(stop.offset));
  } else if (stop.code == formats::kFormatsErrTooLarge) {
    std::fprintf(
        stderr,
        "vrxtool export: warning: the record at offset %lld starts at or beyond 4 GiB, which "
        "the clip index cannot reach; it and the records behind it are left out\n",
        static_cast<long long>(stop.offset));
  }
  if (count == 0) {
    std::fprintf(stderr, "vrxtool export: %s: no valid record\n", clip_path.c_str());
    return 1;
  }
  // Without times the whole clip; a time given selects the last record of its second, as in the
  // player.
  std::int64_t start_s = 0, end_s = 0;
  if (!parseTime(start, "--start", &start_s) || !parseTime(end, "--end", &end_s)) return 2;
  const int first = start ? formats::lastEntryOfSecond(index, start_s) : 0;
  const int last = end ? formats::lastEntryOfSecond(index, end_s) : count - 1;

  const std::string working = freeWorkingPath(avi_path);
  removeWorkingFileOnInterrupt(working);
  TerminalProgress bar("Exporting");
  formats::ExportProgress progress;
  progress.begin = [&bar](int) { bar.show(0); };
  progress.step = [&bar](int percent) { bar.show(percent); };
  formats::ExportResult result;
  const int code =
      formats::ExportClipEntries(clip_path, index, first, last, working, progress, {}, &result);
  bar.finish();
  for (const formats::ExportMessage& message : formats::exportMessages(code, result, clip_path)) {
    std::fprintf(message.is_error ? stderr : stdout, "%s\n", message.text.c_str());
  }
  // The messages above are the player's; a command line can say more.
  if (code == formats::kFormatsErrInvalidTime) {
    std::fprintf(
        stderr,
        "vrxtool export: give times within the clip, from %s to %s, with --start not after --end\n",
        entryStampText(clip_path, index.front()).c_str(),
        entryStampText(clip_path, index.back()).c_str());
  } else if (code == formats::kFormatsErrCreate) {
    if (const std::string problem = folderProblem(avi_path); !problem.empty()) {
      std::fprintf(stderr, "vrxtool export: cannot create %s: its folder %s: %s\n",
                   avi_path.c_str(), folderOf(avi_path).c_str(), problem.c_str());
    }
  } else if (code == formats::kFormatsErrWrite) {
    std::fprintf(stderr, "vrxtool export: %s holds the first %lld of the %d frames\n",
                 avi_path.c_str(),
                 static_cast<long long>(std::max<std::int64_t>(0, formats::AviFileFrames(working))),
                 result.total);
  }
  // A finished AVI keeps its frames even when the loop ended early or the disk filled up: the
  // messages above say so.
  int published = 1;
  if (code == 1 || code == formats::kFormatsErrWrite) {
    published = publish(working, avi_path, replace);
  } else {
    (void)::unlink(working.c_str());
  }
  working_path = nullptr;
  return code == 1 && !result.read_failed && stop.code == 0 && published == 0 ? 0 : 1;
}

}  // namespace kv4r::tools
