// Byte and text search and number parsing shared by every answer parser of the stream client.
// Pure functions; any thread may call them. Every search is bounded by the view it is given, so
// answers need no NUL terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kv4r::stream {

// Position of the first occurrence of `needle` in `buffer` (exact, case-sensitive), or nothing
// when `buffer` is shorter than `needle`. An empty needle matches at 0 of a non-empty buffer.
[[nodiscard]] std::optional<std::size_t> findBytes(std::string_view buffer,
                                                   std::string_view needle);

// findBytes with a NUL-terminated needle; a null needle finds nothing.
[[nodiscard]] std::optional<std::size_t> findText(std::string_view buffer, const char* needle);

// An integer from the start of `text`: nothing gives -1; "0x"/"0X" followed by hexadecimal digits
// (either case, up to the first other character, none gives 0) is read modulo 2^32 as a 32-bit
// value; anything else is read like atoi (leading white space, an optional sign, decimal digits),
// limited to the int range. Reads no further than the end of `text`.
[[nodiscard]] int parseNumber(std::optional<std::string_view> text);

// A "0x%0Nx"-style field at the start of `text`: "0x" (lower-case x) and then 1 to `max_digits`
// hexadecimal digits of either case, read up to the first other character. The value, or nothing
// when the prefix or the first digit is missing. Reads no further than the end of `text`.
[[nodiscard]] std::optional<std::uint32_t> parseHexField(std::string_view text, int max_digits);

// The decimal reading of parseNumber, with its full 64-bit value limited to the int64 range, for
// callers that must tell an absurd value from a plausible one (Content-Length).
[[nodiscard]] long long parseDecimal(std::string_view text);

}  // namespace kv4r::stream
