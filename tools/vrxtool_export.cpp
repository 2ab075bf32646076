// vrxtool export: a time range of a clip to a Motion-JPEG AVI file, with the player's algorithm and
// messages.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "formats/clip_export.h"
#include "formats/clip_index.h"
#include "formats/formats_codes.h"
#include "formats/frame_record.h"
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
  const bool out_taken = out_type != std::filesystem::file_type::not_found &&
                         out_type != std::filesystem::file_type::none;  // none: the writer says why
  if (out_taken && !replace) {
    std::fprintf(stderr,
                 "vrxtool export: %s exists already; give another name, or --force to replace "
                 "it\n",
                 avi_path.c_str());
    return 2;
  }
  std::vector<formats::ClipIndexEntry> index;
  const int count = formats::IndexClipInMemory(clip_path, {}, &index);
  if (count < 0) {
    std::fprintf(stderr, "vrxtool export: %s: %s\n", clip_path.c_str(),
                 formats::formatsCodeName(count));
    return 1;
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

  TerminalProgress bar("Exporting");
  formats::ExportProgress progress;
  progress.begin = [&bar](int) { bar.show(0); };
  progress.step = [&bar](int percent) { bar.show(percent); };
  formats::ExportResult result;
  const int code =
      formats::ExportClipEntries(clip_path, index, first, last, avi_path, progress, {}, &result);
  bar.finish();
  for (const formats::ExportMessage& message : formats::exportMessages(code, result, clip_path)) {
    std::fprintf(message.is_error ? stderr : stdout, "%s\n", message.text.c_str());
  }
  // The messages above are the player's; a command line can say more.
  if (code == formats::kFormatsErrInvalidTime) {
    std::fprintf(
        stderr,
        "vrxtool export: give times within the clip, from %s to %s, with --start not after --end\n",
        formats::formatStampSeconds(index.front().time_seconds).c_str(),
        formats::formatStampSeconds(index.back().time_seconds).c_str());
  } else if (code == formats::kFormatsErrCreate) {
    if (const std::string problem = folderProblem(avi_path); !problem.empty()) {
      std::fprintf(stderr, "vrxtool export: cannot create %s: its folder %s: %s\n",
                   avi_path.c_str(), folderOf(avi_path).c_str(), problem.c_str());
    }
  }
  return code == 1 && !result.read_failed ? 0 : 1;
}

}  // namespace kv4r::tools
