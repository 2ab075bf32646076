// Helpers of the server tests: an in-process server on a free loopback port, the client's HTTP
// queries against it, and a strict reader of the frame stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/simulator.h"

namespace kv4r::simtest {

// Starts a server on 127.0.0.1 with a free port. Null (and *error set) on failure.
sim::SimulatorPtr startSim(sim::SimOptions options, std::string* error);

// A scenario of `count` pattern cameras of one size and mode, fast enough for tests.
sim::Scenario testScenario(int count, int width = 176, int height = 112, int mode = 0,
                           double fps = 50);

// httpQuery / httpQueryAll of the stream client to the server, 64 KiB capacity.
int query(int port, const std::string& path, std::string* answer, const std::string& user = "",
          const std::string& password = "");
int queryAll(int port, const std::string& path, std::string* answer, const std::string& user = "",
             const std::string& password = "");

// The stream path as the client writes it.
std::string streamPath(std::uint32_t app_key, const std::string& cameras, int pause_time = 0);
std::string controlPath(std::uint32_t app_key, long long daemon_id, const std::string& action,
                        const std::string& argument);

struct Part {
  std::string part_header;           // the 62 bytes before the record
  std::vector<std::uint8_t> record;  // record_length bytes
  int camera = 0;                    // camera_number of the record
  std::uint16_t coding_flags = 0;
  std::uint32_t daemon_id = 0;  // read from the part header
};

// Reads a stream strictly: the header block, then parts of exactly 62 + record_length bytes.
class StreamClient {
 public:
  StreamClient() = default;
  ~StreamClient();
  StreamClient(const StreamClient&) = delete;
  StreamClient& operator=(const StreamClient&) = delete;

  // Sends the request and reads the header block. 1, or -1.
  int open(int port, const std::string& path, const std::string& user = "",
           const std::string& password = "");
  // Next part: 1, 0 when the server closed cleanly before a part began, -1 on a broken part or
  // time-out (the bytes of a broken part stay in `partial`).
  int readPart(Part* part);
  // Everything until the server closes (at most `limit` bytes).
  std::string readRest(std::size_t limit = 1 << 20);
  void close();

  std::string header;   // the header block
  std::string partial;  // bytes of a part that ended early
  int fd = -1;
};

// When the server sent a record: its time stamp in milliseconds (hundredths resolution).
std::int64_t sentMs(const std::vector<std::uint8_t>& record);

// The bytes of `text` after the header block (after the first CR LF CR LF), or "" without one.
std::string bodyOf(const std::string& answer);

}  // namespace kv4r::simtest
