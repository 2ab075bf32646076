#include "platform/settings_store.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kv4r::platform {
namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string mapKey(const std::string& key_path, const std::string& name) {
  return lower(key_path) + "\n" + lower(name);
}

}  // namespace

SettingsStore SettingsStore::fromText(const std::string& text) {
  SettingsStore store;
  std::istringstream lines(text);
  std::string line;
  std::string section;
  while (std::getline(lines, line)) {
    line = trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos || section.empty()) continue;
    const std::string name = trim(line.substr(0, equals));
    const std::string raw = line.substr(equals + 1);
    Value value;
    if (raw.rfind("dword:", 0) == 0) {
      const std::string digits = raw.substr(6);
      char* end = nullptr;
      const unsigned long number = std::strtoul(digits.c_str(), &end, 16);
      if (digits.empty() || digits.size() > 8 || *end != '\0') continue;
      value.is_dword = true;
      value.dword = static_cast<std::uint32_t>(number);
    } else {
      value.text = raw;
    }
    store.values_[mapKey(section, name)] = value;
  }
  return store;
}

SettingsStore SettingsStore::fromFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return fromText(text.str());
}

SettingsStore SettingsStore::locate(const std::optional<std::filesystem::path>& explicit_file) {
  if (explicit_file) return fromFile(*explicit_file);
  if (const char* home = std::getenv("HOME")) {
    const std::filesystem::path user_file = std::filesystem::path(home) / ".config/kv4r/registry.ini";
    std::error_code ignored;
    if (std::filesystem::exists(user_file, ignored)) return fromFile(user_file);
  }
  return fromFile("/etc/kv4r/registry.ini");
}

const SettingsStore::Value* SettingsStore::find(const std::string& key_path,
                                                const std::string& name) const {
  auto it = values_.find(mapKey(key_path, name));
  return it == values_.end() ? nullptr : &it->second;
}

std::optional<std::string> SettingsStore::readString(const std::string& key_path,
                                                     const std::string& name) const {
  const Value* value = find(key_path, name);
  if (!value || value->is_dword) return std::nullopt;
  return value->text;
}

std::optional<std::uint32_t> SettingsStore::readDword(const std::string& key_path,
                                                      const std::string& name) const {
  const Value* value = find(key_path, name);
  if (!value || !value->is_dword) return std::nullopt;
  return value->dword;
}

}  // namespace kv4r::platform
