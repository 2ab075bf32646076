// The development video server: an HTTP server on one TCP port that answers every request the
// clients make (system information, user rights, camera names, the multipart frame stream and its
// control requests) plus a browser view of the cameras (an MJPEG stream per camera and a front
// page).
//
// Threads: simStart creates an accept thread, the feeds' painter thread and one thread per open
// connection (a stream keeps its thread while it runs). simStop, from any thread but not from a
// connection of the same server, closes everything and joins every thread before it returns.
// All other functions may be called from any thread at any time while the Simulator exists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/http_io.h"
#include "sim/scenario.h"

namespace kv4r::sim {

struct SimOptions {
  std::string host = "127.0.0.1";  // listening address (IPv4 text or a name)
  int port = 8080;                 // 0 picks a free port
  std::vector<SimUser> users;      // none = every request is served without credentials
  Scenario scenario = defaultScenario();
  std::string log_path;       // request log (JSON lines); empty = none
  int max_connections = 256;  // open connections at most; more are answered 503 and closed
};

struct SimCounters {
  std::uint64_t connections = 0;     // connections accepted
  std::uint64_t requests = 0;        // requests read
  std::uint64_t refused = 0;         // requests answered with 401
  std::uint64_t turned_away = 0;     // connections answered 503 because too many were open
  std::uint64_t streams = 0;         // stream requests served with parts
  std::uint64_t active_streams = 0;  // streams running now
  std::uint64_t frames = 0;          // parts sent on all streams
  std::uint64_t controls = 0;        // control requests that changed a running stream
};

struct Simulator;
struct SimulatorDeleter {
  void operator()(Simulator* simulator) const;  // simStop, then frees
};
using SimulatorPtr = std::unique_ptr<Simulator, SimulatorDeleter>;

// Builds the cameras' pictures, binds and starts serving. Returns 1 with *simulator set, or
// kSimErrListen, kSimErrPicture, kSimErrClip, kSimErrLog, kSimErrThread with a one-line reason in
// *error. Blocks while the pictures are built (well under a second for the default cameras).
[[nodiscard]] int simStart(const SimOptions& options, SimulatorPtr* simulator, std::string* error);

// The TCP port the server listens on (the chosen one when options.port was 0).
[[nodiscard]] int simPort(const Simulator* simulator);

// "http://HOST:PORT/" of the server.
[[nodiscard]] std::string simUrl(const Simulator* simulator);

// A snapshot of the counters.
[[nodiscard]] SimCounters simCounters(const Simulator* simulator);

// Stops listening, ends every connection and stream, joins every thread. Idempotent; blocks until
// everything has ended (streams notice within a fraction of a second).
void simStop(Simulator* simulator);

}  // namespace kv4r::sim
