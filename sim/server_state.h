// Inside the server: the Simulator record shared by the accept loop, the connection handlers and
// the stream writers. Only simulator.cpp and stream_writer.cpp include this.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/camera_feed.h"
#include "sim/request_log.h"
#include "sim/simulator.h"

namespace kv4r::sim {

// What the control requests may change in a running stream.
struct StreamControl {
  // Set at registration.
  std::uint32_t app_key = 0;
  std::uint32_t daemon_id = 0;
  // Under mutex; `changed` tells the writer to take the camera list again.
  std::mutex mutex;
  std::condition_variable wake;
  std::vector<int> cameras;  // ascending camera numbers
  int pause_ms = 0;
  bool changed = false;
};

struct Connection {
  std::uint64_t id = 0;
  int fd = -1;                    // closed by its own thread, after it left `connections_mutex`
  std::atomic<bool> done{false};  // set by its thread at the very end
  std::thread thread;
};

struct Simulator {
  // Set at creation, read-only afterwards.
  SimOptions options;
  FeedsPtr feeds;
  int listen_fd = -1;
  int port = 0;
  int wake_pipe[2] = {-1, -1};  // written by simStop to wake the accept loop
  RequestLog log;

  std::atomic<bool> stopping{false};
  std::mutex stop_mutex;  // serialises simStop
  bool stopped = false;   // under stop_mutex
  std::thread accept_thread;

  // Open connections; the accept thread adds and reaps, simStop shuts them down.
  std::mutex connections_mutex;
  std::list<std::unique_ptr<Connection>> connections;

  // Running streams by daemon id.
  std::mutex streams_mutex;
  std::map<std::uint32_t, std::shared_ptr<StreamControl>> streams;
  std::uint32_t next_daemon_id = 0x1001;  // under streams_mutex

  // Counters and fault bookkeeping.
  std::atomic<std::uint64_t> connection_count{0};
  std::atomic<std::uint64_t> request_count{0};
  std::atomic<std::uint64_t> refused_count{0};
  std::atomic<std::uint64_t> turned_away_count{0};
  std::atomic<std::uint64_t> stream_count{0};  // stream requests seen (numbers them for faults)
  std::atomic<std::uint64_t> served_streams{0};
  std::atomic<std::uint64_t> active_streams{0};
  std::atomic<std::uint64_t> frame_count{0};
  std::atomic<std::uint64_t> control_count{0};
};

// The stream request on connection `fd` (after authorization). Returns when the stream ends.
void serveStream(Simulator* sim, int fd, const HttpRequest& request);

// The MJPEG view of one camera. Returns when the viewer goes away or the server stops.
void serveMjpeg(Simulator* sim, int fd, const HttpRequest& request);

// A control request (Add, Remove, Set); returns the answer to send.
[[nodiscard]] std::string serveControl(Simulator* sim, const HttpRequest& request);

}  // namespace kv4r::sim
