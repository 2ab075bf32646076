// Where the server address comes from when a control was given none: the user's HTTP proxy
// setting, else the address of the page that hosts the control (given by the host program, for
// example with --page-url). Any thread may call these functions; they only read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace kv4r::stream {

// The settings key of the user's Internet settings (ProxyEnable, ProxyServer).
inline constexpr const char* kInternetSettingsKey =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Capacity of the proxy text and of the fallback host text, NUL included.
inline constexpr std::size_t kFallbackHostCapacity = 128;

// The proxy server setting when ProxyEnable reads as the dword 1 and ProxyServer reads as a text
// that fits `capacity` bytes with its NUL. Returns 1 with the text in `proxy`, otherwise 0.
[[nodiscard]] int readProxyHttp(const platform::SettingsStore& settings, std::string& proxy,
                                std::size_t capacity = kFallbackHostCapacity);

// The fallback host text ("host", "host:port", possibly with "user:password@"):
// 1. a proxy setting containing "http=" gives what follows it up to the next ';' or the end;
//    (a proxy setting without "http=" is not used)
// 2. otherwise a page address beginning with "http://" gives what follows up to the first '/'
//    (the page address is taken as its first 128 UTF-16 units, the low byte of each).
// Returns 1 with the text in `host`, otherwise 0 (no page address given, or not "http://").
[[nodiscard]] int findServerHost(const platform::SettingsStore& settings,
                                 std::optional<std::string_view> page_url, std::string& host,
                                 std::size_t capacity = kFallbackHostCapacity);

}  // namespace kv4r::stream
