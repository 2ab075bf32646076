// vrxtool: inspects, indexes, verifies, extracts and exports .vrx clips.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "formats/frame_record.h"
#include "platform/trace.h"
#include "tools/vrxtool_commands.h"

namespace {

// Whether a non-empty file starts as every clip does: with a frame record, that is a JPEG start
// marker and an application segment. Anything else (another kind of file) would be read as records
// of nonsense lengths, cameras and times. An empty clip holds no records, which is no damage; a
// read error is left to the command, which reports it as such.
bool startsLikeClip(int fd) {
  std::uint8_t start[4] = {};
  const ssize_t got = ::pread(fd, start, sizeof start, 0);
  if (got <= 0) return true;
  return got == sizeof start && kv4r::formats::startsLikeRecord(start);
}

// Whether the clip can be read and, with `need_clip_start`, starts like a clip; says why not (exit
// status 1, as for any failed work).
bool clipUsable(const std::string& command, const std::string& path, bool need_clip_start) {
  struct stat st {};
  const char* reason = nullptr;
  if (::stat(path.c_str(), &st) != 0) {
    reason = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    reason = "it is a folder";
  } else if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd < 0) {
    reason = std::strerror(errno);
  } else {
    const bool clip_start = !need_clip_start || startsLikeClip(fd);
    ::close(fd);
    if (!clip_start) {
      std::fprintf(stderr,
                   "vrxtool %s: %s does not start with a frame record: it is not a clip, or its "
                   "first record is damaged (vrxtool verify shows which records are)\n",
                   command.c_str(), path.c_str());
      return false;
    }
  }
  if (reason == nullptr) return true;
  std::fprintf(stderr, "vrxtool %s: cannot open %s: %s\n", command.c_str(), path.c_str(), reason);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vrxtool: inspect, index, verify, extract and export .vrx clips"};
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("--verbose", verbose, "print diagnostic traces");

  std::string clip, out, folder;
  std::optional<std::string> start, end;

  CLI::App* info = app.add_subcommand("info",
                                      "records, cameras, first and last stamp, duration, "
                                      "picture size and bytes of a clip");
  info->add_option("CLIP", clip, "the .vrx clip")->required();

  CLI::App* index = app.add_subcommand("index", "build the .lst index beside a clip");
  index->add_option("CLIP", clip, "the .vrx clip (its path must contain \".vrx\")")->required();

  CLI::App* export_cmd =
      app.add_subcommand("export", "export a time range of a clip to a Motion-JPEG AVI file");
  export_cmd->footer(
      "OUT appears only once the AVI is finished; until then it is written as OUT.part.\n"
      "A clip whose last record is cut short (an interrupted recording) exports its whole "
      "records.");
  export_cmd->add_option("CLIP", clip, "the .vrx clip")->required();
  export_cmd->add_option("OUT", out, "the AVI file to write")->required();
  export_cmd->add_option(
      "--start", start, "first second, \"YYYY-MM-DD HH:MM:SS\" as stamped (default: first record)");
  export_cmd->add_option("--end", end,
                         "last second, \"YYYY-MM-DD HH:MM:SS\" as stamped (default: last record)");
  bool replace = false;
  export_cmd->add_flag("-f,--force", replace, "replace OUT if it exists");

  CLI::App* extract = app.add_subcommand("extract", "write every record as a .jpg file");
  extract->add_option("CLIP", clip, "the .vrx clip")->required();
  extract->add_option("DIR", folder, "folder for the pictures (created when missing)")->required();

  CLI::App* verify = app.add_subcommand(
      "verify", "check every record's markers, lengths and coding bits and decode it");
  verify->add_option("CLIP", clip, "the .vrx clip")->required();

  CLI11_PARSE(app, argc, argv);
  kv4r::platform::setTraceEnabled(verbose);
  // Under a file-size limit (ulimit -f) a write that would pass it fails and is reported like a
  // full disk, instead of the signal killing the program in the middle of a file.
  std::signal(SIGXFSZ, SIG_IGN);
  // verify walks even a clip whose first record is damaged, to count and place all the damage.
  if (!clipUsable(app.get_subcommands().front()->get_name(), clip, !*verify)) return 1;

  if (*info) return kv4r::tools::runInfo(clip);
  if (*index) return kv4r::tools::runIndex(clip);
  if (*export_cmd) return kv4r::tools::runExport(clip, out, start, end, replace);
  if (*extract) return kv4r::tools::runExtract(clip, folder);
  if (*verify) return kv4r::tools::runVerify(clip);
  return 2;
}
