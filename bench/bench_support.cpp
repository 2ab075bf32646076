#include "bench/bench_support.h"

#include <benchmark/benchmark.h>

#include <pthread.h>
#include <sched.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <vector>

namespace kv4r::bench {
namespace {

enum class Kind { Time, Counter, MeasuredRatio, Limit, Report };

struct Figure {
  Kind kind;
  std::string name;
  std::string counter;
  std::string subject;
  std::string baseline;
  Goal goal = Goal::AtMost;
  double goal_value = 0;
};

std::vector<Figure>& figures() {
  static std::vector<Figure> all;
  return all;
}

struct Measured {
  double real_time = 0;
  std::map<std::string, double> counters;
};

// Keeps what each iteration run measured (every repetition), and still prints the usual console
// table.
class CapturingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      Measured m;
      m.real_time = run.GetAdjustedRealTime();
      for (const auto& [key, counter] : run.counters) m.counters[key] = counter.value;
      measured[run.benchmark_name()].push_back(std::move(m));
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::vector<Measured>> measured;
};

// The median over the repetitions of a benchmark's real time (empty counter) or counter.
std::optional<double> valueOf(const std::map<std::string, std::vector<Measured>>& measured,
                              const std::string& bench, const std::string& counter) {
  auto it = measured.find(bench);
  if (it == measured.end()) return std::nullopt;
  std::vector<double> values;
  for (const Measured& m : it->second) {
    if (counter.empty()) {
      values.push_back(m.real_time);
    } else if (auto c = m.counters.find(counter); c != m.counters.end()) {
      values.push_back(c->second);
    }
  }
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void printGoal(const Figure& f, double ratio) {
  if (f.goal == Goal::None) {
    std::printf("\n");
    return;
  }
  const bool ok = f.goal == Goal::AtMost ? ratio <= f.goal_value : ratio >= f.goal_value;
  std::printf(" goal %s %.3g %s\n", f.goal == Goal::AtMost ? "<=" : ">=", f.goal_value,
              ok ? "ok" : "MISSED");
}

}  // namespace

void declareTimeRatio(std::string figure, std::string subject, std::string baseline, Goal goal,
                      double goal_value) {
  figures().push_back({Kind::Time, std::move(figure), "", std::move(subject), std::move(baseline),
                       goal, goal_value});
}

void declareCounterRatio(std::string figure, std::string counter, std::string subject,
                         std::string baseline, Goal goal, double goal_value) {
  figures().push_back({Kind::Counter, std::move(figure), std::move(counter), std::move(subject),
                       std::move(baseline), goal, goal_value});
}

void declareLimit(std::string figure, std::string counter, std::string subject, double limit) {
  figures().push_back({Kind::Limit, std::move(figure), std::move(counter), std::move(subject), "",
                       Goal::AtMost, limit});
}

void declareMeasuredRatio(std::string figure, std::string counter, std::string subject, Goal goal,
                          double goal_value) {
  figures().push_back({Kind::MeasuredRatio, std::move(figure), std::move(counter),
                       std::move(subject), "", goal, goal_value});
}

void declareReport(std::string figure, std::string counter, std::string subject) {
  figures().push_back({Kind::Report, std::move(figure), std::move(counter), std::move(subject), "",
                       Goal::AtMost, 0});
}

namespace {
std::int64_t nanoseconds(const timespec& ts) {
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
}  // namespace

std::int64_t threadCpuNs(std::thread& thread) {
  clockid_t clock{};
  timespec ts{};
  if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0) return 0;
  if (clock_gettime(clock, &ts) != 0) return 0;
  return nanoseconds(ts);
}

// The CPUs this process may use, as they were before any pinning.
const cpu_set_t& allowedCpus() {
  static const cpu_set_t allowed = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) CPU_SET(0, &set);
    return set;
  }();
  return allowed;
}

bool pinToCpu(int cpu) {
  const cpu_set_t& allowed = allowedCpus();
  const int count = CPU_COUNT(&allowed);
  if (count < 2) return false;
  int seen = 0;
  for (int i = 0; i < CPU_SETSIZE; ++i) {
    if (!CPU_ISSET(i, &allowed) || seen++ != cpu % count) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(i, &one);
    return pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
  }
  return false;
}

void unpin() {
  (void)pthread_setaffinity_np(pthread_self(), sizeof(cpu_set_t), &allowedCpus());
}

std::int64_t ownCpuNs() {
  timespec ts{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
  return nanoseconds(ts);
}

std::vector<std::uint8_t> encodeBgrJpeg(const std::vector<std::uint8_t>& bgr, int width, int height,
                                        int quality) {
  std::vector<std::uint8_t> bytes;
  tjhandle handle = tjInitCompress();
  if (!handle) return bytes;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompress2(handle, bgr.data(), width, 0, height, TJPF_BGR, &jpeg, &size, TJSAMP_420, quality,
                  0) == 0) {
    bytes.assign(jpeg, jpeg + size);
  }
  tjFree(jpeg);
  tjDestroy(handle);
  return bytes;
}

int runBenchmarks(int argc, char** argv) {
  // Repetitions of different cases run in a shuffled order, so that a slow spell of a shared
  // machine does not fall on one side of a ratio only (a later argument may turn it off).
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + (argc > 0 ? 1 : 0), interleave.data());
  argc = static_cast<int>(args.size());
  args.push_back(nullptr);
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CapturingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::fflush(stdout);
  for (const Figure& f : figures()) {
    auto subject = valueOf(reporter.measured, f.subject, f.counter);
    if (!subject) continue;
    switch (f.kind) {
      case Kind::Time:
      case Kind::Counter: {
        auto base = valueOf(reporter.measured, f.baseline, f.counter);
        if (!base || *base == 0) continue;
        std::printf("ratio %s: %.3f (%s / %s, %s)", f.name.c_str(), *subject / *base,
                    f.subject.c_str(), f.baseline.c_str(),
                    f.counter.empty() ? "time" : f.counter.c_str());
        printGoal(f, *subject / *base);
        break;
      }
      case Kind::MeasuredRatio:
        std::printf("ratio %s: %.3f (%s %s)", f.name.c_str(), *subject, f.subject.c_str(),
                    f.counter.c_str());
        printGoal(f, *subject);
        break;
      case Kind::Limit:
        std::printf("ratio %s: %.3f (%s %s = %.4g against limit %.4g)", f.name.c_str(),
                    *subject / f.goal_value, f.subject.c_str(), f.counter.c_str(), *subject,
                    f.goal_value);
        printGoal({f.kind, f.name, f.counter, f.subject, "", Goal::AtMost, 1.0},
                  *subject / f.goal_value);
        break;
      case Kind::Report:
        std::printf("figure %s: %.4g (%s %s)\n", f.name.c_str(), *subject, f.subject.c_str(),
                    f.counter.c_str());
        break;
    }
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace kv4r::bench
