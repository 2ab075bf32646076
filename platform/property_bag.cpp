#include "platform/property_bag.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/dispatch.h"

namespace kv4r::platform {

const char* bagCodeName(int code) {
  if (code >= 0) return "ok";
  switch (code) {
    case kBagReadFailed:
      return "property bag cannot be read";
    case kBagWriteFailed:
      return "property bag cannot be written";
    default:
      return "unknown code";
  }
}

std::string escapeBagText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string unescapeBagText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[i + 1];
    if (next == '\\') {
      out += '\\';
    } else if (next == 'n') {
      out += '\n';
    } else if (next == 'r') {
      out += '\r';
    } else {
      out += '\\';
      continue;  // keep the unknown escape; the next character is copied on its own
    }
    ++i;
  }
  return out;
}

void PropertyBag::writeText(std::string_view name, std::string text) {
  for (auto& entry : entries_) {
    if (memberNamesEqual(entry.first, name)) {
      entry.second = std::move(text);
      return;
    }
  }
  entries_.emplace_back(std::string(name), std::move(text));
}

void PropertyBag::write(std::string_view name, const Variant& value) {
  if (value.type() == VarType::Bytes) {
    static const char* kHex = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : value.bytesValue()) {
      text += kHex[b >> 4];
      text += kHex[b & 15];
    }
    writeText(name, std::move(text));
    return;
  }
  Variant text;
  if (convertVariant(value, VarType::String, text) != kVariantOk) return;
  writeText(name, text.stringValue());
}

std::optional<std::string> PropertyBag::readText(std::string_view name) const {
  // The last line with a name counts, as it would after reading the lines one by one.
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (memberNamesEqual(it->first, name)) return it->second;
  }
  return std::nullopt;
}

std::optional<Variant> PropertyBag::read(std::string_view name, VarType type) const {
  const std::optional<std::string> text = readText(name);
  if (!text) return std::nullopt;
  Variant out;
  if (convertVariant(Variant::fromString(*text), type, out) != kVariantOk) return std::nullopt;
  return out;
}

std::string PropertyBag::toText() const {
  std::string out;
  for (const auto& [name, text] : entries_) {
    out += name;
    out += '=';
    out += escapeBagText(text);
    out += '\n';
  }
  return out;
}

PropertyBag PropertyBag::fromText(std::string_view text) {
  PropertyBag bag;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // written on another system
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    bag.entries_.emplace_back(std::string(line.substr(0, eq)),
                              unescapeBagText(line.substr(eq + 1)));
  }
  return bag;
}

int PropertyBag::saveFile(const std::filesystem::path& path) const {
  std::filesystem::path temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return kBagWriteFailed;
    const std::string text = toText();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      std::filesystem::remove(temp, ignored);
      return kBagWriteFailed;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return kBagWriteFailed;
  }
  return kBagOk;
}

int PropertyBag::loadFile(const std::filesystem::path& path, PropertyBag& bag) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return kBagReadFailed;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return kBagReadFailed;
  bag = fromText(text.str());
  return kBagOk;
}

}  // namespace kv4r::platform
