// Bytes of the live stream as a video server sends them, for tests of the stream session: part
// headers, frame records with recognisable contents (not decodable pictures) and HTTP answers.
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace kv4r::testing {

// The 62-byte part header in front of every record: boundary text, "0x%08x" daemon id, CR LF CR LF.
std::string partHeader(std::uint32_t daemon_id);

struct WireRecord {
  int camera_number = 1;
  int coding_flags = 0;     // bit 0 set: the 603 table bytes are left out
  int extension_bytes = 0;  // app_length = 56 + extension_bytes
  int data_bytes = 200;     // bytes behind the tables (or behind the extension when left out)
  std::uint8_t seed = 1;    // varies the contents
};

// A record as it travels: 60 fixed bytes (SOI, APP2, app_length, camera number at 30,
// record_length at 48, coding flags at 58), the extension, the table block unless left out, data.
std::string wireRecord(const WireRecord& spec);

// Reads a big-endian field of a record.
std::uint32_t recordBe16(const std::string& record, std::size_t offset);
std::uint32_t recordBe32(const std::string& record, std::size_t offset);

// The header block of a stream answer.
std::string streamAnswerHead();

// "HTTP/1.0 200 OK" with Content-Length and `body`.
std::string httpAnswer(const std::string& body);

// A 401 page with "Unauthorized" in it and no boundary.
std::string unauthorizedAnswer();

}  // namespace kv4r::testing
