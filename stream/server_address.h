// Server addresses as users write them: "host", "host:port", "user:password@host" and
// "user:password@host:port", where host is a dotted IPv4 address or a name. Any thread may call
// these functions; name resolution blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv4r::stream {

// Longest host text parseServerAddress copies unchanged (a dotted address has at most 15).
inline constexpr std::size_t kMaxHostText = 15;

// The port used when an address names none.
inline constexpr int kDefaultHttpPort = 80;

// The four bytes of `address_be` (network byte order) as "a.b.c.d" into `text`. Returns the text
// length, or -1 (and an empty `text`) when the text and its terminating NUL would not fit
// `capacity` bytes.
[[nodiscard]] int formatDotted(std::uint32_t address_be, std::string& text, std::size_t capacity);

// An address as typed into a property or a page: a leading "http://" (exact, lower case) is
// removed and everything from the first '/' on is cut.
[[nodiscard]] std::string cleanServerAddress(std::string_view text);

// Splits a cleaned address into host, port, user name and password.
// - With '@': when a ':' comes before the first '@', the user name is the text before it and the
//   password the text between it and the first '@'; otherwise both are empty. The host text
//   starts after the first '@'.
// - Without '@': user name and password are empty and the host text is the whole input.
// - The port is the atoi value after the host text's first ':', or 80 without one.
// - A host text starting with a letter is a name: it is resolved (IPv4) and `host` receives the
//   dotted text of its first address; a name that does not resolve gives -1. Any other host text
//   is copied unchanged (up to the ':'); longer than 15 characters gives -1.
// Returns 0 on success, -1 on failure (the outputs are then unspecified). `user` and `password`
// may be null when the caller does not want them.
[[nodiscard]] int parseServerAddress(std::string_view text, std::string& host, int& port,
                                     std::string* user, std::string* password);

}  // namespace kv4r::stream
