// Records and clips for the formats tests: real JPEG records from the record builder, and synthetic
// records of exact lengths (a valid fixed part, filler behind it) for the index and reader tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/record_builder.h"

namespace kv4r::testing {

using Bytes = std::vector<std::uint8_t>;

// 2004-05-06 07:08:09 as seconds since 1970, the stamp taken as UTC.
inline constexpr std::int64_t kStamp2004 = 1083827289;

// A record of exactly `length` bytes (>= 62): SOI, APP2 with app_length 56, the fields given,
// zero filler, EOI. Not a decodable picture.
Bytes syntheticRecord(std::uint32_t length, std::uint16_t camera = 1,
                      std::int64_t time_s = kStamp2004, int hundredths = 0,
                      std::uint16_t source = 0);

// A real picture record (64 x 48 colour, 2x2 sampling unless `picture_seed` asks otherwise) stamped
// at time_s + hundredths. Throws when the builder fails.
Bytes pictureRecord(std::int64_t time_s, int hundredths, int picture_seed = 0, int width = 64,
                    int height = 48, std::uint16_t camera = 1);

Bytes concat(const std::vector<Bytes>& records);
void writeBytes(const std::filesystem::path& path, const Bytes& bytes);
Bytes readBytes(const std::filesystem::path& path);

}  // namespace kv4r::testing
