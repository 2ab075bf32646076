// Read-only settings in the form of registry keys, kept in a `registry.ini` file:
//
//   [HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings]
//   ProxyEnable=dword:00000001
//   ProxyServer=http=127.0.0.1:3128;https=127.0.0.1:3128
//
// Sections are full key paths; values are `Name=text` or `Name=dword:XXXXXXXX` (hex). Lines starting
// with `#` or `;` are comments. Key paths and value names compare case-insensitively, as the
// registry does. A missing file, key or value reads as "cannot be read".
// Thread safety: a loaded store is immutable; any thread may read it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace kv4r::platform {

class SettingsStore {
 public:
  // An empty store: every read fails.
  SettingsStore() = default;

  // Loads the file; a file that cannot be read gives an empty store.
  static SettingsStore fromFile(const std::filesystem::path& path);

  // The lookup order of the programs: `explicit_file` when given (even if missing), else
  // ~/.config/kv4r/registry.ini, else /etc/kv4r/registry.ini.
  static SettingsStore locate(const std::optional<std::filesystem::path>& explicit_file);

  // A text value. A dword value is not text and fails.
  [[nodiscard]] std::optional<std::string> readString(const std::string& key_path,
                                                      const std::string& name) const;
  // A dword value. A text value fails.
  [[nodiscard]] std::optional<std::uint32_t> readDword(const std::string& key_path,
                                                       const std::string& name) const;

  // Parses the text of a settings file (for tests and fromFile).
  static SettingsStore fromText(const std::string& text);

 private:
  struct Value {
    bool is_dword = false;
    std::uint32_t dword = 0;
    std::string text;
  };
  const Value* find(const std::string& key_path, const std::string& name) const;
  std::map<std::string, Value> values_;  // key "lower(key path)\nlower(name)"
};

}  // namespace kv4r::platform
