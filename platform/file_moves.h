// Renames that never replace a file that is already there: finished recordings and exports take
// their final names this way, so that nothing written earlier under that name is lost.
#pragma once

#include <string>

namespace kv4r::platform {

// Gives the file `from` the name `to` unless `to` exists. True when moved; false with errno set
// (EEXIST when `to` is taken) otherwise. Where the file system cannot refuse to replace in the
// rename itself, a second link and the removal of the first name do the same.
[[nodiscard]] bool moveWithoutReplacing(const std::string& from, const std::string& to);

}  // namespace kv4r::platform
