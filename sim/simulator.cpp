#include "sim/simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/trace.h"
#include "sim/answers.h"
#include "sim/server_state.h"
#include "sim/sim_codes.h"

namespace kv4r::sim {
namespace {

// How long a connection may take to send its request.
constexpr int kRequestTimeout_ms = 10000;
// How long an answer ended by closing waits for the peer to close first.
constexpr int kLinger_ms = 1000;
// A stalled viewer is dropped when a send has not progressed for this long.
constexpr int kSendTimeout_s = 30;

int openListener(const SimOptions& options, int* port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(options.port);
  const int rc = ::getaddrinfo(options.host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0 || !found) {
    *error = "cannot resolve " + options.host + ": " + ::gai_strerror(rc);
    return kSimErrListen;
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return *error = std::string("socket: ") + std::strerror(errno), kSimErrListen;
  const int one = 1;
  (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 128) != 0) {
    *error = "cannot listen on " + options.host + ":" + service + ": " + std::strerror(errno);
    ::close(fd);
    return kSimErrListen;
  }
  socklen_t length = sizeof address;
  (void)::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

constexpr char kBusyAnswer[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 16\r\n"
    "Connection: close\r\n\r\nToo many users\r\n";

void prepareSocket(int fd) {
  const int one = 1;
  (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  timeval send_timeout{kSendTimeout_s, 0};
  (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
}

void answerAndClose(int fd, const std::string& answer) {
  if (sendAll(fd, answer) > 0) finishAnswer(fd, kLinger_ms);
}

// Serves the one request of a connection.
void handleConnection(Simulator* sim, Connection* connection) {
  const int fd = connection->fd;
  HttpRequest request;
  const int rc = readRequest(fd, kRequestTimeout_ms, &request);
  if (rc == kSimErrBadRequest) {
    answerAndClose(fd, pageAnswer("400 Bad Request", "Bad request"));
    return;
  }
  if (rc < 0) return;
  ++sim->request_count;
  std::string user;
  const bool authorized = authorize(request.authorization, sim->options.users, &user);
  requestLogWrite(&sim->log, connection->id, request, user, authorized);
  platform::traceOut("[%llu] %s\n", static_cast<unsigned long long>(connection->id),
                     request.lines[0].c_str());
  if (request.method != "GET") {
    answerAndClose(fd, pageAnswer("405 Method Not Allowed", "Only GET is served"));
    return;
  }
  if (!authorized) {
    ++sim->refused_count;
    answerAndClose(fd, unauthorizedAnswer());
    return;
  }
  const Scenario& scenario = sim->options.scenario;
  const std::string& path = request.path;
  if (path == "/cgi-bin/kxsysget.cgi") {
    const auto other = static_cast<std::uint64_t>(scenario.faults.other_model_on_connection);
    const int model =
        other != 0 && other == connection->id ? (scenario.model + 1) & 0xFFFF : scenario.model;
    answerAndClose(fd, systemInfoAnswer(scenario, model, scenario.faults.zero_content_length));
  } else if (path == "/asp-get/kxusrget.asp") {
    answerAndClose(fd, userRightsAnswer(scenario, user));
  } else if (path == "/asp-get/kxcamget.asp") {
    const auto port_id = parseInteger(queryValue(request.query, "PortId").value_or(""));
    answerAndClose(fd, cameraNameAnswer(scenario, port_id.value_or(-1)));
  } else if (path == "/cgi-bin/kxstream.cgi") {
    serveStream(sim, fd, request);
  } else if (path == "/cgi-bin/kxstctr.cgi") {
    answerAndClose(fd, serveControl(sim, request));
  } else if (path == "/mjpeg") {
    serveMjpeg(sim, fd, request);
  } else if (path == "/" || path == "/index.html") {
    answerAndClose(fd, indexPage(scenario));
  } else {
    answerAndClose(fd, pageAnswer("404 Not Found", "Not found"));
  }
}

void connectionMain(Simulator* sim, Connection* connection) {
  pthread_setname_np(pthread_self(), "sim-connection");
  handleConnection(sim, connection);
  {
    // Out of the list's reach before closing, so that simStop never shuts down a reused number.
    std::lock_guard<std::mutex> lock(sim->connections_mutex);
    ::close(connection->fd);
    connection->fd = -1;
  }
  connection->done.store(true);
}

// Joins and drops the connections whose threads have ended. Accept thread only.
void reapConnections(Simulator* sim) {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> lock(sim->connections_mutex);
    for (auto it = sim->connections.begin(); it != sim->connections.end();) {
      if ((*it)->done.load()) {
        finished.push_back(std::move(*it));
        it = sim->connections.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) c->thread.join();
}

void acceptMain(Simulator* sim) {
  while (!sim->stopping.load()) {
    pollfd p[2] = {{sim->listen_fd, POLLIN, 0}, {sim->wake_pipe[0], POLLIN, 0}};
    const int ready = ::poll(p, 2, 1000);
    reapConnections(sim);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (p[1].revents & POLLIN) || sim->stopping.load()) break;
    if (!(p[0].revents & POLLIN)) continue;
    const int fd = ::accept4(sim->listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: give the open connections a moment to end instead of spinning.
      if (errno == EMFILE || errno == ENFILE)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;  // or a connection that went away before we took it
    }
    prepareSocket(fd);
    bool full = false;
    {
      std::lock_guard<std::mutex> lock(sim->connections_mutex);
      full = static_cast<int>(sim->connections.size()) >= sim->options.max_connections;
    }
    if (full) {
      // Never blocks the accept loop: the short answer fits the new socket's send buffer.
      (void)::send(fd, kBusyAnswer, sizeof kBusyAnswer - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      ::close(fd);
      ++sim->turned_away_count;
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->id = ++sim->connection_count;
    connection->fd = fd;
    Connection* raw = connection.get();
    std::lock_guard<std::mutex> lock(sim->connections_mutex);
    try {
      connection->thread = std::thread(connectionMain, sim, raw);
    } catch (const std::system_error&) {
      ::close(fd);
      platform::traceErr("cannot start a connection thread\n");
      continue;
    }
    sim->connections.push_back(std::move(connection));
  }
}

}  // namespace

int simStart(const SimOptions& options, SimulatorPtr* out, std::string* error) {
  if (!out || !error) return kSimErrArgument;
  SimulatorPtr sim(new Simulator);
  sim->options = options;
  std::string why;
  int rc = validateScenario(&sim->options.scenario, &why);
  if (rc < 0) return *error = why, rc;
  if (!options.log_path.empty() && requestLogOpen(&sim->log, options.log_path) < 0) {
    *error = "cannot open log " + options.log_path;
    return kSimErrLog;
  }
  rc = feedsCreate(sim->options.scenario, &sim->feeds, error);
  if (rc < 0) return rc;
  rc = openListener(options, &sim->port, error);
  if (rc < 0) return rc;
  sim->listen_fd = rc;
  if (::pipe2(sim->wake_pipe, O_CLOEXEC) != 0) {
    *error = "cannot create a pipe";
    return kSimErrListen;
  }
  try {
    sim->accept_thread = std::thread(acceptMain, sim.get());
  } catch (const std::system_error&) {
    *error = "cannot start the accept thread";
    return kSimErrThread;
  }
  *out = std::move(sim);
  return 1;
}

int simPort(const Simulator* sim) {
  return sim ? sim->port : 0;
}

std::string simUrl(const Simulator* sim) {
  if (!sim) return {};
  return "http://" + sim->options.host + ":" + std::to_string(sim->port) + "/";
}

SimCounters simCounters(const Simulator* sim) {
  SimCounters c;
  if (!sim) return c;
  c.connections = sim->connection_count.load();
  c.requests = sim->request_count.load();
  c.refused = sim->refused_count.load();
  c.turned_away = sim->turned_away_count.load();
  c.streams = sim->served_streams.load();
  c.active_streams = sim->active_streams.load();
  c.frames = sim->frame_count.load();
  c.controls = sim->control_count.load();
  return c;
}

void simStop(Simulator* sim) {
  if (!sim) return;
  std::lock_guard<std::mutex> stop_lock(sim->stop_mutex);
  if (sim->stopped) return;
  sim->stopped = true;
  sim->stopping.store(true);
  if (sim->wake_pipe[1] >= 0) {
    const char c = 1;
    (void)!::write(sim->wake_pipe[1], &c, 1);
  }
  if (sim->accept_thread.joinable()) sim->accept_thread.join();
  // No new connection can arrive now. Wake every stream and every blocked receive or send.
  {
    std::lock_guard<std::mutex> lock(sim->streams_mutex);
    for (auto& [id, control] : sim->streams) {
      { std::lock_guard<std::mutex> control_lock(control->mutex); }
      control->wake.notify_all();
    }
  }
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard<std::mutex> lock(sim->connections_mutex);
    for (auto& c : sim->connections) {
      if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
    all.swap(sim->connections);
  }
  for (auto& c : all) c->thread.join();
  if (sim->feeds) feedsStop(sim->feeds.get());
  if (sim->listen_fd >= 0) ::close(sim->listen_fd);
  sim->listen_fd = -1;
  for (int& fd : sim->wake_pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  requestLogClose(&sim->log);
}

void SimulatorDeleter::operator()(Simulator* sim) const {
  simStop(sim);
  delete sim;
}

}  // namespace kv4r::sim
