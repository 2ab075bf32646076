// kv4r_sim: the development video server. Prints the URL it serves as the first line of its
// standard output, serves until SIGINT or SIGTERM, then stops cleanly.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "sim/scenario.h"
#include "sim/sim_codes.h"
#include "sim/simulator.h"

namespace {

using kv4r::sim::SimOptions;

// "ADDR:PORT" into host and port. False for any other text.
bool parseListen(const std::string& text, std::string* host, int* port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  const std::string digits = text.substr(colon + 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 5) {
    return false;
  }
  const int value = std::stoi(digits);
  if (value > 65535) return false;
  *host = text.substr(0, colon);
  *port = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "kv4r_sim: a development video server. It answers the system information, user rights, "
      "camera name, stream and stream control requests of the kv4r clients, and shows its cameras "
      "to browsers at /mjpeg?camera=N and /. The first line of the output is the URL it serves."};
  std::string listen = "127.0.0.1:8080";
  std::vector<std::string> users;
  std::string scenario_path;
  std::string key;
  bool key_given = false;
  std::string log_path;
  bool verbose = false;
  app.add_option("--listen", listen, "address and port to listen on, ADDR:PORT (port 0 = any free)")
      ->capture_default_str();
  app.add_option(
      "--user", users,
      "NAME:PASSWORD accepted with Basic authorization (repeatable; none = open server)");
  app.add_option("--scenario", scenario_path, "scenario file (JSON, see sim/README.md)");
  app.add_option("--key", key, "key of coding modes 2 and 3 (1 to 8 characters)")
      ->each([&](const std::string&) { key_given = true; });
  app.add_option("--log", log_path, "append every request as a JSON line to this file");
  app.add_flag("--verbose", verbose, "print trace lines");
  CLI11_PARSE(app, argc, argv);

  SimOptions options;
  if (!parseListen(listen, &options.host, &options.port)) {
    std::fprintf(stderr, "kv4r_sim: --listen wants ADDR:PORT, not \"%s\"\n", listen.c_str());
    return 2;
  }
  for (const std::string& entry : users) {
    const std::size_t colon = entry.find(':');
    if (colon == std::string::npos || colon == 0) {
      std::fprintf(stderr,
                   "kv4r_sim: --user wants NAME:PASSWORD\n");  // the value may hold a password
      return 2;
    }
    options.users.push_back({entry.substr(0, colon), entry.substr(colon + 1)});
  }
  std::string error;
  if (!scenario_path.empty() &&
      kv4r::sim::loadScenario(scenario_path, &options.scenario, &error) < 0) {
    std::fprintf(stderr, "kv4r_sim: %s\n", error.c_str());
    return 2;
  }
  if (key_given) options.scenario.key = key;
  if (kv4r::sim::validateScenario(&options.scenario, &error) < 0) {
    std::fprintf(stderr, "kv4r_sim: %s\n", error.c_str());
    return 2;
  }
  options.log_path = log_path;
  kv4r::platform::setTraceEnabled(verbose);

  // Every thread inherits the blocked signals; the main thread alone takes them with sigwait.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  kv4r::sim::SimulatorPtr sim;
  const int rc = kv4r::sim::simStart(options, &sim, &error);
  if (rc < 0) {
    std::fprintf(stderr, "kv4r_sim: %s (%s)\n", error.c_str(), kv4r::sim::simCodeName(rc));
    return 1;
  }
  std::printf("%s\n", kv4r::sim::simUrl(sim.get()).c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "kv4r_sim: %d camera(s), %s; stop with Ctrl-C\n",
               options.scenario.camera_count,
               options.users.empty() ? "no login needed" : "login needed");

  int signal_number = 0;
  sigwait(&signals, &signal_number);
  std::fprintf(stderr, "kv4r_sim: stopping (signal %d)\n", signal_number);
  kv4r::sim::simStop(sim.get());
  const kv4r::sim::SimCounters counters = kv4r::sim::simCounters(sim.get());
  sim.reset();
  std::fprintf(stderr, "kv4r_sim: stopped after %llu connection(s), %llu frame(s)\n",
               static_cast<unsigned long long>(counters.connections),
               static_cast<unsigned long long>(counters.frames));
  return 0;
}
