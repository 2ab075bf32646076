// Runs the Google Benchmark cases of one program and prints the figures the project tracks, each as
// a ratio against a baseline measured in the same run (or against a fixed limit).
//
// A figure names a subject and a baseline benchmark (full names as Google Benchmark prints them)
// and what to compare: the real time per iteration, or a user counter of each. Lines look like
//   ratio pool_roundtrip: 0.62 (BM_Pool / BM_MutexDeque, time) goal <= 1.00 ok
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace kv4r::bench {

// None: a ratio printed for reference, without a goal.
enum class Goal { AtMost, AtLeast, None };

// The ratio subject/baseline of the real time per iteration.
void declareTimeRatio(std::string figure, std::string subject, std::string baseline, Goal goal,
                      double goal_value);

// The ratio subject/baseline of a counter both report (for example "fps").
void declareCounterRatio(std::string figure, std::string counter, std::string subject,
                         std::string baseline, Goal goal, double goal_value);

// The ratio of one benchmark's counter to a fixed limit (for example peak RSS against 40 MB).
void declareLimit(std::string figure, std::string counter, std::string subject, double limit);

// A counter that is itself a ratio, measured within one benchmark (for example in turns with its
// baseline), against a goal.
void declareMeasuredRatio(std::string figure, std::string counter, std::string subject, Goal goal,
                          double goal_value);

// Plain report of a counter without a goal (latencies, for example).
void declareReport(std::string figure, std::string counter, std::string subject);

// CPU time used so far by another thread of this process, or by the calling thread, in ns
// (0 when the clock cannot be read).
[[nodiscard]] std::int64_t threadCpuNs(std::thread& thread);
[[nodiscard]] std::int64_t ownCpuNs();

// Binds the calling thread, and every thread it starts afterwards, to one CPU (modulo the CPUs
// this process may use); false when that is not possible. Benchmarks that run the development
// server beside the client give the server its own CPU, as a real server has its own machine.
bool pinToCpu(int cpu);
// Lets the calling thread run on every CPU again.
void unpin();

// A 4:2:0 baseline JPEG of top-down BGR pixels (no row padding) at `quality`; empty on failure.
[[nodiscard]] std::vector<std::uint8_t> encodeBgrJpeg(const std::vector<std::uint8_t>& bgr,
                                                      int width, int height, int quality);

// Initialises Google Benchmark with the arguments, runs the selected cases and prints every
// declared figure whose benchmarks ran. Returns the process exit status.
int runBenchmarks(int argc, char** argv);

}  // namespace kv4r::bench

// A main() for a benchmark program: `declare` is a function that declares the program's figures.
#define KV4R_BENCH_MAIN(declare)                     \
  int main(int argc, char** argv) {                  \
    declare();                                       \
    return ::kv4r::bench::runBenchmarks(argc, argv); \
  }
