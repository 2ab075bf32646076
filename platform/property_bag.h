// A stored property set: the values a host keeps for a control between sessions.
//
// On disk a bag is UTF-8 text, one `name=value` line per property, in the order the control wrote
// them. Truth values are 0 or 1, integers decimal, floating values in their shortest round-trip
// form, strings with backslash, line feed and carriage return written as `\\`, `\n` and `\r`.
// Reading splits each line at its first '='; lines without one, and names the control does not
// ask for, are ignored; a property the bag lacks (or whose text does not convert to the
// property's type) takes the control's default.
// Thread safety: a bag is a plain value; share it only with outside locking.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/variant.h"

namespace kv4r::platform {

// Result codes of bag files.
enum : int {
  kBagOk = 0,
  kBagReadFailed = -30,   // the file cannot be opened or read
  kBagWriteFailed = -31,  // the file cannot be written; an earlier file is left as it was
};

// A short English name of a bag code; "ok" for values of 0 and above.
[[nodiscard]] const char* bagCodeName(int code);

class PropertyBag {
 public:
  // Stores a value under a name (replacing an earlier one in place, else at the end), formatted
  // as described above. A byte array is written as hexadecimal digits.
  void write(std::string_view name, const Variant& value);

  // The text stored under a name (unescaped), compared without regard to case.
  [[nodiscard]] std::optional<std::string> readText(std::string_view name) const;
  // The value stored under a name converted to `type`; nothing when it is missing or does not
  // convert.
  [[nodiscard]] std::optional<Variant> read(std::string_view name, VarType type) const;

  // Names and (unescaped) texts in order.
  [[nodiscard]] const std::vector<std::pair<std::string, std::string>>& entries() const {
    return entries_;
  }

  [[nodiscard]] std::string toText() const;
  [[nodiscard]] static PropertyBag fromText(std::string_view text);

  // Writes the bag through a temporary file beside `path` that replaces it at the end.
  [[nodiscard]] int saveFile(const std::filesystem::path& path) const;
  // Reads a bag file into `bag` (replacing its content). kBagOk or kBagReadFailed.
  [[nodiscard]] static int loadFile(const std::filesystem::path& path, PropertyBag& bag);

 private:
  void writeText(std::string_view name, std::string text);
  std::vector<std::pair<std::string, std::string>> entries_;
};

// The escaped form of a string value and back. Unescaping keeps an unknown escape as it is.
[[nodiscard]] std::string escapeBagText(std::string_view text);
[[nodiscard]] std::string unescapeBagText(std::string_view text);

}  // namespace kv4r::platform
