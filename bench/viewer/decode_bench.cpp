// The live view's decoding path against the development server with four cameras of 704 x 480
// that send as fast as the client takes frames (argument 0) or at 30 frames per second each
// (argument 30, reported only: between frames the decoder's caches go cold, which back-to-back
// decoding never sees). The server keeps to one CPU and the client to the other; the bench thread
// that only waits for the count moves to the server's CPU while the client is measured.
//   BM_PlainDecode   baseline: the same frames (captured from the stream first) decoded from memory
//                    into bottom-up BGR pictures, nothing else
//   BM_PlainDecodeIntoPanePictures
//                    for reference: the same decoding into blocks of a picture pool that four panes
//                    hold on to as the live view does, so that every picture lands in a block last
//                    written four frames earlier instead of one that stays in the CPU's cache
//   BM_LiveDecode    the whole client: stream session (both threads), coded-frame check,
//                    statistics, decoding into picture blocks and the picture swap
//   BM_RecPeakRss    kv4r_rec recording the four cameras to clips and AVI files for 3 seconds
// Figures (medians of five repetitions, run in shuffled order): frames per CPU second of the
// client against the baseline; kv4r_rec's peak resident size against 40 MB. For reference, the
// live view and the baseline each against the decoding into pane pictures: what the pictures'
// cache misses cost, and what the client adds beside them.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <turbojpeg.h>

#include <fcntl.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "platform/message_boxes.h"
#include "sim/simulator.h"
#include "stream/frame_pools.h"
#include "stream/sbpool.h"
#include "viewer/live_decoding.h"

extern char** environ;

namespace kv4r::viewer {
namespace {

constexpr int kFramesPerIteration = 40;

sim::SimulatorPtr startServer(double fps) {
  sim::SimOptions options;
  options.port = 0;
  options.scenario = sim::defaultScenario();
  options.scenario.os_type = "VXWORKS";
  for (sim::CameraScenario& camera : options.scenario.cameras) {
    camera.width = 704;
    camera.height = 480;
    camera.fps = fps;
  }
  sim::SimulatorPtr simulator;
  std::string error;
  // The server's threads get one CPU, the client (this thread and what it starts) the other.
  (void)bench::pinToCpu(1);
  if (sim::simStart(options, &simulator, &error) != 1) simulator.reset();
  (void)bench::pinToCpu(0);
  return simulator;
}

std::string serverUrl(const sim::SimulatorPtr& server) {
  return "127.0.0.1:" + std::to_string(sim::simPort(server.get()));
}

// Records as the session delivers them, 8 per camera.
std::vector<std::vector<std::uint8_t>> captureFrames() {
  auto server = startServer(0);
  if (!server) return {};
  platform::RecordingMessageBoxes boxes;
  ViewerWindow window;
  window.boxes = &boxes;
  ControlConnection control;
  std::mutex mutex;
  std::vector<std::vector<std::uint8_t>> frames;
  std::atomic<int> count{0};
  for (CameraPane& pane : window.panes) {
    pane.on_frame = [&](CameraPane&, void* buffer, int length) {
      {
        std::lock_guard lock(mutex);
        if (frames.size() < 32) {
          const auto* bytes = static_cast<const std::uint8_t*>(buffer);
          frames.emplace_back(bytes, bytes + length);
          count.store(static_cast<int>(frames.size()));
        }
      }
      stream::poolPut(buffer);
    };
  }
  if (setIpAddress(window, control, serverUrl(server)) != 1) return {};
  while (count.load() < 32) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  stopConnection(window);
  return frames;
}

// Decodes the captured frames back to back, each into the pixels that `take_pixels` gives for it
// (`shown` follows each decode), and counts the frames per CPU second.
template <typename TakePixels, typename Shown>
void decodeCapturedFrames(benchmark::State& state, TakePixels take_pixels, Shown shown) {
  const std::vector<std::vector<std::uint8_t>> frames = captureFrames();
  if (frames.empty()) {
    state.SkipWithError("no server");
    return;
  }
  tjhandle decoder = tjInitDecompress();
  std::int64_t decoded = 0;
  std::size_t next = 0;
  const std::int64_t cpu_before = bench::ownCpuNs();
  for (auto _ : state) {
    for (int i = 0; i < kFramesPerIteration; ++i) {
      const std::vector<std::uint8_t>& f = frames[next++ % frames.size()];
      const int result = tjDecompress2(decoder, f.data(), static_cast<unsigned long>(f.size()),
                                       take_pixels(), 704, 704 * 3, 480, TJPF_BGR, TJFLAG_BOTTOMUP);
      benchmark::DoNotOptimize(result);
      shown(decoded++);
    }
  }
  const double cpu_s = static_cast<double>(bench::ownCpuNs() - cpu_before) / 1e9;
  state.counters["frames_per_cpu_s"] = static_cast<double>(decoded) / cpu_s;
  tjDestroy(decoder);
}

void BM_PlainDecode(benchmark::State& state) {
  std::vector<unsigned char> pixels(704 * 480 * 3);
  decodeCapturedFrames(
      state, [&] { return pixels.data(); }, [](std::int64_t) {});
}
BENCHMARK(BM_PlainDecode)
    ->Repetitions(5)
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Each picture goes to the pane whose turn it is, whose previous picture goes back to the pool.
void BM_PlainDecodeIntoPanePictures(benchmark::State& state) {
  constexpr int kPanes = 4;
  stream::UniquePool pool(stream::mkpool(stream::kPictureBlockBytes, kPanes + 1));
  std::vector<stream::PictureBuffer*> shown(kPanes, nullptr);
  stream::PictureBuffer* decoding = nullptr;
  decodeCapturedFrames(
      state,
      [&] {
        decoding = stream::takePictureBlock(pool.get());
        return stream::pictureBufferPixels(decoding);
      },
      [&](std::int64_t decoded) {
        stream::PictureBuffer*& pane_picture = shown[static_cast<std::size_t>(decoded % kPanes)];
        if (pane_picture != nullptr) (void)stream::poolPut(pane_picture);
        pane_picture = decoding;
      });
  for (stream::PictureBuffer* picture : shown)
    if (picture != nullptr) (void)stream::poolPut(picture);
}
BENCHMARK(BM_PlainDecodeIntoPanePictures)
    ->Repetitions(5)
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_LiveDecode(benchmark::State& state) {
  auto server = startServer(static_cast<double>(state.range(0)));
  if (!server) {
    state.SkipWithError("no server");
    return;
  }
  platform::RecordingMessageBoxes boxes;
  ViewerWindow window;
  window.boxes = &boxes;
  ControlConnection control;
  LiveDecoding decoding;
  attachDecoding(window, decoding);
  if (setIpAddress(window, control, serverUrl(server)) != 1) {
    state.SkipWithError("no connection");
    return;
  }
  auto waitFor = [&](long long count) {
    while (decoding.decoded.load() < count)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  waitFor(8);
  // This thread only polls the count; it keeps off the client's CPU so that its wake-ups do not
  // land on the threads being measured.
  (void)bench::pinToCpu(1);
  stream::RSP* session = window.session;
  const long long first = decoding.decoded.load();
  const std::int64_t stream_before = bench::threadCpuNs(session->stream_thread);
  const std::int64_t dispatch_before = bench::threadCpuNs(session->dispatch_thread);
  for (auto _ : state) waitFor(decoding.decoded.load() + kFramesPerIteration);
  const std::int64_t stream_cpu = bench::threadCpuNs(session->stream_thread) - stream_before;
  const std::int64_t dispatch_cpu = bench::threadCpuNs(session->dispatch_thread) - dispatch_before;
  const std::int64_t cpu = stream_cpu + dispatch_cpu;
  const long long frames = decoding.decoded.load() - first;
  stopConnection(window);
  (void)bench::pinToCpu(0);
  state.counters["frames_per_cpu_s"] =
      static_cast<double>(frames) / (static_cast<double>(cpu) / 1e9);
  state.counters["dropped"] = static_cast<double>(decoding.dropped.load());
  state.counters["receive_ns_per_frame"] =
      static_cast<double>(stream_cpu) / static_cast<double>(frames);
  state.counters["deliver_ns_per_frame"] =
      static_cast<double>(dispatch_cpu) / static_cast<double>(frames);
}
BENCHMARK(BM_LiveDecode)
    ->Arg(0)
    ->Arg(30)
    ->Repetitions(5)
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The peak resident size in MB that a child running `name` has reached, followed until the child
// ends (its status in `*status`). Not wait4's ru_maxrss: a child started with posix_spawn shares
// this process's memory until its exec, and Linux carries that high-water mark into the child's
// figure, so it would report this benchmark's own size whenever that is the larger. The child's
// VmHWM counts its own memory only, once /proc names it `name`; it is read every millisecond, and
// as it only grows, the last reading before the end is the peak up to then.
double watchPeakRssUntilExit(pid_t pid, const std::string& name, int* status) {
  const std::string status_path = "/proc/" + std::to_string(pid) + "/status";
  long peak_kb = 0;
  while (waitpid(pid, status, WNOHANG) == 0) {
    std::ifstream in(status_path);
    std::string line;
    bool named = false;
    while (std::getline(in, line)) {
      if (line.rfind("Name:", 0) == 0) named = line.find(name) != std::string::npos;
      if (named && line.rfind("VmHWM:", 0) == 0)
        peak_kb = std::max(peak_kb, std::strtol(line.c_str() + 6, nullptr, 10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return static_cast<double>(peak_kb) / 1024.0;
}

void BM_RecPeakRss(benchmark::State& state) {
  auto server = startServer(25);
  if (!server) {
    state.SkipWithError("no server");
    return;
  }
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kv4r_rec_rss_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string program = std::string(KV4R_PROGRAM_DIR) + "/kv4r_rec";
  double peak_mb = 0;
  for (auto _ : state) {
    std::vector<std::string> args = {program,     serverUrl(server),
                                     "--vrx",     (dir / "cam%c.vrx").string(),
                                     "--avi",     (dir / "cam%c.avi").string(),
                                     "--seconds", "3"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      state.SkipWithError("cannot start kv4r_rec");
      break;
    }
    int status = 0;
    peak_mb = watchPeakRssUntilExit(pid, "kv4r_rec", &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("kv4r_rec failed");
      break;
    }
  }
  std::filesystem::remove_all(dir);
  state.counters["peak_rss_mb"] = peak_mb;
}
BENCHMARK(BM_RecPeakRss)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void declareFigures() {
  using bench::Goal;
  bench::declareCounterRatio("live_decode_frames_per_cpu_s", "frames_per_cpu_s",
                             "BM_LiveDecode/0/min_time:2.000/repeats:5/real_time",
                             "BM_PlainDecode/min_time:2.000/repeats:5/real_time", Goal::AtLeast,
                             0.95);
  bench::declareCounterRatio("live_decode_against_pane_pictures", "frames_per_cpu_s",
                             "BM_LiveDecode/0/min_time:2.000/repeats:5/real_time",
                             "BM_PlainDecodeIntoPanePictures/min_time:2.000/repeats:5/real_time",
                             Goal::None, 0);
  bench::declareCounterRatio("pane_pictures_against_plain_decode", "frames_per_cpu_s",
                             "BM_PlainDecodeIntoPanePictures/min_time:2.000/repeats:5/real_time",
                             "BM_PlainDecode/min_time:2.000/repeats:5/real_time", Goal::None, 0);
  bench::declareReport("live_decode_30fps_frames_per_cpu_s", "frames_per_cpu_s",
                       "BM_LiveDecode/30/min_time:2.000/repeats:5/real_time");
  bench::declareLimit("kv4r_rec_peak_rss", "peak_rss_mb", "BM_RecPeakRss/iterations:1/real_time",
                      40);
}

}  // namespace
}  // namespace kv4r::viewer

KV4R_BENCH_MAIN(kv4r::viewer::declareFigures)
