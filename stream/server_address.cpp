#include "stream/server_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include "stream/text_search.h"

namespace kv4r::stream {
namespace {

// The dotted text of the first IPv4 address of `name`, or false when it does not resolve.
bool resolveName(const std::string& name, std::string& dotted) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const bool ok = formatDotted(in->sin_addr.s_addr, dotted, 32) > 0;
  freeaddrinfo(found);
  return ok;
}

}  // namespace

int formatDotted(std::uint32_t address_be, std::string& text, std::size_t capacity) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address_be);
  char dotted[16];
  const int n = std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  if (n < 0 || static_cast<std::size_t>(n) >= capacity) {
    text.clear();
    return -1;
  }
  text.assign(dotted, static_cast<std::size_t>(n));
  return n;
}

std::string cleanServerAddress(std::string_view text) {
  constexpr std::string_view scheme = "http://";
  if (text.substr(0, scheme.size()) == scheme) text.remove_prefix(scheme.size());
  return std::string(text.substr(0, text.find('/')));
}

int parseServerAddress(std::string_view text, std::string& host, int& port, std::string* user,
                       std::string* password) {
  std::string_view host_text = text;
  std::string user_text;
  std::string password_text;
  if (const auto at = findText(text, "@")) {
    const auto colon = findText(text, ":");
    if (colon && *colon < *at) {
      user_text = text.substr(0, *colon);
      password_text = text.substr(*colon + 1, *at - *colon - 1);
    }
    host_text = text.substr(*at + 1);
  }
  if (user) *user = user_text;
  if (password) *password = password_text;

  const auto separator = host_text.find(':');
  port = kDefaultHttpPort;
  if (separator != std::string_view::npos) {
    // atoi: decimal only, so "0x50" is 0, as users' addresses were always read.
    const long long value = parseDecimal(host_text.substr(separator + 1));
    port = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
    host_text = host_text.substr(0, separator);
  }

  if (!host_text.empty() && std::isalpha(static_cast<unsigned char>(host_text[0]))) {
    return resolveName(std::string(host_text), host) ? 0 : -1;
  }
  if (host_text.size() > kMaxHostText) return -1;
  host = host_text;
  return 0;
}

}  // namespace kv4r::stream
