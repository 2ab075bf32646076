// The subcommands of vrxtool. Each runs on the main thread, prints its results to standard output
// and its errors to standard error (prefixed "vrxtool <command>: "), and returns the process exit
// status: 0 on success, 1 when the work failed or found damage.
#pragma once

#include <optional>
#include <string>

namespace kv4r::tools {

int runInfo(const std::string& clip_path);
int runIndex(const std::string& clip_path);
// Times are "YYYY-MM-DD HH:MM:SS" as stamped; absent means the first / last record's second. An
// existing AVI file is replaced only with `replace`.
int runExport(const std::string& clip_path, const std::string& avi_path,
              const std::optional<std::string>& start, const std::optional<std::string>& end,
              bool replace);
int runExtract(const std::string& clip_path, const std::string& folder);
int runVerify(const std::string& clip_path);

}  // namespace kv4r::tools
