#include "stream/text_search.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace kv4r::stream {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::uint32_t> parseHexField(std::string_view text, int max_digits) {
  if (text.size() < 3 || text[0] != '0' || text[1] != 'x') return std::nullopt;
  std::uint32_t value = 0;
  int digits = 0;
  for (; digits < max_digits && 2u + digits < text.size(); ++digits) {
    const int v = hexDigit(text[2 + digits]);
    if (v < 0) break;
    value = value << 4 | static_cast<std::uint32_t>(v);
  }
  if (digits == 0) return std::nullopt;
  return value;
}

std::optional<std::size_t> findBytes(std::string_view buffer, std::string_view needle) {
  if (buffer.size() < needle.size()) return std::nullopt;
  if (needle.empty()) return buffer.empty() ? std::nullopt : std::optional<std::size_t>(0);
  const std::size_t last = buffer.size() - needle.size();
  for (std::size_t at = 0; at <= last; ++at) {
    if (std::memcmp(buffer.data() + at, needle.data(), needle.size()) == 0) return at;
  }
  return std::nullopt;
}

std::optional<std::size_t> findText(std::string_view buffer, const char* needle) {
  if (needle == nullptr) return std::nullopt;
  return findBytes(buffer, needle);
}

long long parseDecimal(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && isBlank(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  long long value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const int digit = text[at] - '0';
    if (value > (LLONG_MAX - digit) / 10) return negative ? LLONG_MIN : LLONG_MAX;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

int parseNumber(std::optional<std::string_view> text) {
  if (!text) return -1;
  const std::string_view t = *text;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    std::uint32_t value = 0;
    for (std::size_t at = 2; at < t.size() && hexDigit(t[at]) >= 0; ++at) {
      value = value * 16 + static_cast<std::uint32_t>(hexDigit(t[at]));
    }
    return static_cast<int>(value);
  }
  const long long value = parseDecimal(t);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace kv4r::stream
