// Why files cannot be made in a folder, for messages of the command-line programs: the libraries
// report only that a file could not be created.
#pragma once

#include <string>

namespace kv4r::tools {

// The reason no file can be created at `path` because of its folder (missing, not a folder, not
// writable), as strerror text; empty when the folder looks writable. The folder of a bare name is
// the current one.
[[nodiscard]] std::string folderProblem(const std::string& path);

// The folder a file at `path` goes into ("." for a bare name).
[[nodiscard]] std::string folderOf(const std::string& path);

}  // namespace kv4r::tools
