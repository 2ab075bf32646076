// printf-style formatting into a std::string, for request paths and messages whose texts are
// given as printf formats. Any thread.
#pragma once

#include <string>

namespace kv4r::stream {

// The formatted text, whatever its length; empty if the format is invalid.
[[nodiscard]] std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kv4r::stream
