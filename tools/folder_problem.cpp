#include "tools/folder_problem.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kv4r::tools {

std::string folderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

std::string folderProblem(const std::string& path) {
  const std::string folder = folderOf(path);
  if (::access(folder.c_str(), W_OK | X_OK) == 0) return {};
  return std::strerror(errno);
}

}  // namespace kv4r::tools
