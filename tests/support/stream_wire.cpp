#include "tests/support/stream_wire.h"

#include <cstdio>

namespace kv4r::testing {
namespace {

void putBe16(std::string& bytes, std::size_t offset, std::uint32_t value) {
  bytes[offset] = static_cast<char>(value >> 8 & 0xFF);
  bytes[offset + 1] = static_cast<char>(value & 0xFF);
}

void putBe32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  putBe16(bytes, offset, value >> 16);
  putBe16(bytes, offset + 2, value & 0xFFFF);
}

}  // namespace

std::string partHeader(std::uint32_t daemon_id) {
  char id[16];
  std::snprintf(id, sizeof id, "0x%08x", daemon_id);
  return std::string("--myboundary\r\nContent-type:image/jpeg\r\nDaemonId:") + id + "\r\n\r\n";
}

std::string wireRecord(const WireRecord& spec) {
  const bool omitted = (spec.coding_flags & 1) != 0;
  const std::size_t length = 60 + static_cast<std::size_t>(spec.extension_bytes) +
                             (omitted ? 0 : 603) + static_cast<std::size_t>(spec.data_bytes);
  std::string bytes(length, '\0');
  bytes[0] = '\xFF';
  bytes[1] = '\xD8';
  bytes[2] = '\xFF';
  bytes[3] = '\xE2';
  putBe16(bytes, 4, 56 + static_cast<std::uint32_t>(spec.extension_bytes));
  for (std::size_t i = 6; i < 30; ++i) bytes[i] = static_cast<char>('a' + (i + spec.seed) % 26);
  putBe16(bytes, 30, static_cast<std::uint32_t>(spec.camera_number));
  putBe32(bytes, 48, static_cast<std::uint32_t>(length));
  putBe16(bytes, 58, static_cast<std::uint32_t>(spec.coding_flags));
  std::size_t at = 60;
  for (int i = 0; i < spec.extension_bytes; ++i) bytes[at++] = static_cast<char>(0xE0 + i % 16);
  if (!omitted) {
    for (int i = 0; i < 603; ++i) bytes[at++] = static_cast<char>('T');
  }
  for (int i = 0; i < spec.data_bytes; ++i) {
    bytes[at++] = static_cast<char>((i * 7 + spec.seed) % 251);
  }
  return bytes;
}

std::uint32_t recordBe16(const std::string& record, std::size_t offset) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(record.at(offset))) << 8 |
         static_cast<unsigned char>(record.at(offset + 1));
}

std::uint32_t recordBe32(const std::string& record, std::size_t offset) {
  return recordBe16(record, offset) << 16 | recordBe16(record, offset + 2);
}

std::string streamAnswerHead() {
  return "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=myboundary\r\n\r\n";
}

std::string httpAnswer(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string unauthorizedAnswer() {
  const std::string body = "<html><body><h1>401 Unauthorized</h1></body></html>";
  return "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"kv4r\"\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace kv4r::testing
