#include "platform/file_moves.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace kv4r::platform {

bool moveWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  (void)::unlink(from.c_str());
  return true;
}

}  // namespace kv4r::platform
