#include "tests/sim/sim_test_support.h"

#include <arpa/inet.h>

#include <cstdio>

#include "formats/frame_record.h"
#include "stream/http_request.h"
#include "stream/socket_io.h"

namespace kv4r::simtest {

sim::SimulatorPtr startSim(sim::SimOptions options, std::string* error) {
  options.host = "127.0.0.1";
  options.port = 0;
  sim::SimulatorPtr server;
  if (sim::simStart(options, &server, error) < 0) return nullptr;
  return server;
}

sim::Scenario testScenario(int count, int width, int height, int mode, double fps) {
  sim::Scenario s;
  s.camera_count = count;
  s.key = "abc";
  s.clock_refresh_ms = 0;
  s.cameras.clear();
  for (int i = 0; i < count; ++i) {
    sim::CameraScenario c;
    c.name = "Cam" + std::to_string(i + 1);
    c.width = width;
    c.height = height;
    c.mode = mode;
    c.fps = fps;
    c.ring_size = 2;
    s.cameras.push_back(c);
  }
  return s;
}

int query(int port, const std::string& path, std::string* answer, const std::string& user,
          const std::string& password) {
  return stream::httpQuery(path, "127.0.0.1", port, user, password, answer, 65536);
}

int queryAll(int port, const std::string& path, std::string* answer, const std::string& user,
             const std::string& password) {
  return stream::httpQueryAll(path, "127.0.0.1", port, user, password, answer, 65536);
}

std::string streamPath(std::uint32_t app_key, const std::string& cameras, int pause_time) {
  char path[256];
  std::snprintf(path, sizeof path,
                "/cgi-bin/kxstream.cgi?ServerId=%d&AppKey=0x%08x&CameraId=%s&PauseTime=%d"
                "&KxCgiVer=0x%04x",
                0, app_key, cameras.c_str(), pause_time, 1);
  return path;
}

std::string controlPath(std::uint32_t app_key, long long daemon_id, const std::string& action,
                        const std::string& argument) {
  char path[256];
  std::snprintf(path, sizeof path,
                "/cgi-bin/kxstctr.cgi?ServerId=%d&AppKey=0x%08x&DaemonId=%lld&Action=%s&%s"
                "&KxCgiVer=0x%04x",
                0, app_key, daemon_id, action.c_str(), argument.c_str(), 1);
  return path;
}

StreamClient::~StreamClient() {
  close();
}

void StreamClient::close() {
  if (fd >= 0) stream::sockClose(fd);
  fd = -1;
}

int StreamClient::open(int port, const std::string& path, const std::string& user,
                       const std::string& password) {
  close();
  fd = stream::httpOpen(inet_addr("127.0.0.1"), port, user, password, path, 5);
  if (fd < 0) return -1;
  return stream::readHeaderBlock(fd, header, 4096) > 0 ? 1 : -1;
}

int StreamClient::readPart(Part* part) {
  partial.clear();
  std::string head(62, '\0');
  const int n = stream::sockRecvN(fd, head.data(), head.size(), 0, 5);
  if (n == 0) return 0;
  if (n != 62) {
    if (n > 0) partial = head.substr(0, static_cast<std::size_t>(n));
    return -1;
  }
  std::vector<std::uint8_t> record(formats::kRecordFixedSize);
  if (stream::sockRecvN(fd, record.data(), record.size(), 0, 5) != 60) {
    partial = head;
    return -1;
  }
  formats::FrameHeader h;
  if (formats::parseFrameHeader(record, &h) < 0 || h.record_length < 60 ||
      h.record_length > (1u << 24)) {
    return -1;
  }
  record.resize(h.record_length);
  const int rest = static_cast<int>(h.record_length - 60);
  const int got = rest == 0 ? 0 : stream::sockRecvN(fd, record.data() + 60, rest, 0, 5);
  if (got != rest) {
    partial = head + std::string(record.begin(), record.begin() + 60 + std::max(got, 0));
    return -1;
  }
  part->part_header = head;
  part->record = std::move(record);
  part->camera = h.camera_number;
  part->coding_flags = h.coding_flags;
  unsigned id = 0;
  part->daemon_id = std::sscanf(head.c_str() + 48, "0x%08x", &id) == 1 ? id : 0;
  return 1;
}

std::string StreamClient::readRest(std::size_t limit) {
  std::string out;
  char chunk[4096];
  while (out.size() < limit) {
    const int n = stream::sockRecv(fd, chunk, sizeof chunk, 0, 5);
    if (n <= 0) break;
    out.append(chunk, static_cast<std::size_t>(n));
  }
  return out;
}

std::int64_t sentMs(const std::vector<std::uint8_t>& record) {
  formats::FrameHeader h;
  if (formats::parseFrameHeader(record, &h) < 0) return 0;
  return formats::RecordTime(h) * 1000 + h.hundredths * 10;
}

std::string bodyOf(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

}  // namespace kv4r::simtest
