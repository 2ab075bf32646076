#include "stream/fallback_host.h"

#include <algorithm>
#include <cstdint>

#include "stream/text_search.h"

namespace kv4r::stream {
namespace {

constexpr std::size_t kPageUnits = 128;

// Bytes of a UTF-8 sequence by its lead byte; 0 for a byte that cannot lead one.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead < 0xE0) return 2;
  if (lead >= 0xE0 && lead < 0xF0) return 3;
  if (lead >= 0xF0 && lead < 0xF5) return 4;
  return 0;
}

// The low byte of each of the first `limit` UTF-16 units of a UTF-8 text, as the page address
// was taken from the browser. A byte that does not start a valid sequence stands for itself.
std::string lowBytesOfUtf16(std::string_view utf8, std::size_t limit) {
  std::string out;
  std::size_t at = 0;
  while (at < utf8.size() && out.size() < limit) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    const std::size_t length = sequenceLength(lead);
    std::uint32_t code = lead;
    std::size_t used = 1;
    if (length > 1 && at + length <= utf8.size()) {
      std::uint32_t decoded = lead & (0xFFu >> (length + 1));
      bool valid = true;
      for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(utf8[at + i]);
        valid = valid && (next & 0xC0) == 0x80;
        decoded = (decoded << 6) | (next & 0x3F);
      }
      if (valid) {
        code = decoded;
        used = length;
      }
    }
    at += used;
    if (code >= 0x10000) {
      // A surrogate pair; the low bytes of 0xD800 and 0xDC00 are zero.
      code -= 0x10000;
      out += static_cast<char>((code >> 10) & 0xFF);
      if (out.size() < limit) out += static_cast<char>(code & 0xFF);
    } else {
      out += static_cast<char>(code & 0xFF);
    }
  }
  return out;
}

}  // namespace

int readProxyHttp(const platform::SettingsStore& settings, std::string& proxy,
                  std::size_t capacity) {
  const auto enabled = settings.readDword(kInternetSettingsKey, "ProxyEnable");
  if (!enabled || *enabled != 1) return 0;
  const auto server = settings.readString(kInternetSettingsKey, "ProxyServer");
  if (!server || server->size() + 1 > capacity) return 0;
  proxy = *server;
  return 1;
}

int findServerHost(const platform::SettingsStore& settings,
                   std::optional<std::string_view> page_url, std::string& host,
                   std::size_t capacity) {
  std::string proxy;
  if (readProxyHttp(settings, proxy, capacity) == 1) {
    constexpr std::string_view kHttpEntry = "http=";
    if (const auto at = findBytes(proxy, kHttpEntry)) {
      const std::string_view rest = std::string_view(proxy).substr(*at + kHttpEntry.size());
      host = rest.substr(0, rest.find(';'));
      return 1;
    }
  }

  if (!page_url) return 0;
  const std::string page = lowBytesOfUtf16(*page_url, kPageUnits);
  constexpr std::string_view kScheme = "http://";
  if (page.compare(0, kScheme.size(), kScheme) != 0) return 0;
  const std::string_view rest = std::string_view(page).substr(kScheme.size());
  host = rest.substr(0, std::min(rest.find('/'), capacity - 1));
  return 1;
}

}  // namespace kv4r::stream
