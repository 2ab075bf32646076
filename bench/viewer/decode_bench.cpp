// The live view's decoding path against the development server with four cameras of 704 x 480.
// The server keeps to one CPU and the client to the other; the bench thread that only waits for
// the count moves to the server's CPU while the client is measured.
//   BM_LiveAgainstPlain  the server sends as fast as the client takes frames. In turns of 40 frames
//                        each: the whole client (stream session with both threads, coded-frame
//                        check, statistics, decoding into picture blocks and the picture swap) at
//                        its own CPU cost; then, with the live view held at the start of a frame,
//                        the baseline: the same frames (captured from the stream first) decoded
//                        from memory into one bottom-up BGR picture, nothing else; then for
//                        reference the same decoding into the blocks of a picture pool that four
//                        panes hold on to as the live view does (each picture lands in a block last
//                        written four frames earlier, which has left the CPU's cache). The turns
//                        are short, so that a slow spell of the shared machine falls on all alike.
//   BM_LiveDecodeAt30Fps the server sends 30 frames per second per camera (reported only: between
//                        frames the decoder's caches go cold, which back-to-back decoding never
//                        sees)
//   BM_RecPeakRss        kv4r_rec recording the four cameras to clips and AVI files for 3 seconds
// Figures (medians of five repetitions): frames per CPU second of the client against the
// baseline; kv4r_rec's peak resident size against 40 MB. For reference, the live view and the
// baseline each against the decoding into pane pictures: what the pictures' cache misses cost,
// and what the client adds beside them.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <turbojpeg.h>

#include <fcntl.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
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

// Decodes the captured frames on the calling thread, as a baseline needs them.
struct PlainDecoding {
  std::vector<std::vector<std::uint8_t>> frames;
  tjhandle decoder = tjInitDecompress();
  std::size_t next = 0;
  std::vector<unsigned char> hot_pixels = std::vector<unsigned char>(704 * 480 * 3);
  // Pictures as four panes hold them: each picture goes to the pane whose turn it is, whose
  // previous picture goes back to the pool, so every picture lands in a block last written four
  // frames earlier instead of one that stays in the CPU's cache.
  stream::UniquePool pool{stream::makePicturePool(kPaneCount + 1)};
  std::array<stream::PictureBuffer*, kPaneCount> shown{};
  std::size_t turn = 0;

  PlainDecoding(const PlainDecoding&) = delete;
  PlainDecoding& operator=(const PlainDecoding&) = delete;
  explicit PlainDecoding(std::vector<std::vector<std::uint8_t>> captured)
      : frames(std::move(captured)) {}
  ~PlainDecoding() {
    for (stream::PictureBuffer* picture : shown)
      if (picture != nullptr) (void)stream::poolPut(picture);
    tjDestroy(decoder);
  }

  void decodeInto(unsigned char* pixels) {
    const std::vector<std::uint8_t>& f = frames[next++ % frames.size()];
    const int result = tjDecompress2(decoder, f.data(), static_cast<unsigned long>(f.size()),
                                     pixels, 704, 704 * 3, 480, TJPF_BGR, TJFLAG_BOTTOMUP);
    benchmark::DoNotOptimize(result);
  }
  // CPU time in ns of decoding `count` frames into one buffer that stays in the cache.
  std::int64_t decodeHot(int count) {
    const std::int64_t before = bench::ownCpuNs();
    for (int i = 0; i < count; ++i) decodeInto(hot_pixels.data());
    return bench::ownCpuNs() - before;
  }
  // The same into pane pictures.
  std::int64_t decodeIntoPanePictures(int count) {
    const std::int64_t before = bench::ownCpuNs();
    for (int i = 0; i < count; ++i) {
      stream::PictureBuffer* picture = stream::takePictureBlock(pool.get());
      decodeInto(stream::pictureBufferPixels(picture));
      stream::PictureBuffer*& pane_picture = shown[turn++ % shown.size()];
      if (pane_picture != nullptr) (void)stream::poolPut(pane_picture);
      pane_picture = picture;
    }
    return bench::ownCpuNs() - before;
  }
};

double perCpuSecond(long long frames, std::int64_t cpu_ns) {
  return static_cast<double>(frames) / (static_cast<double>(cpu_ns) / 1e9);
}

// Waits until the live view has decoded `count` frames in all; false when it has not within 10 s.
bool waitForDecoded(const LiveDecoding& decoding, long long count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (decoding.decoded.load() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// Holds the delivering thread at the start of a frame while closed, so that the baseline can be
// decoded on the client's CPU with the live view at rest.
class DeliveryGate {
 public:
  void pass() {
    std::unique_lock lock(mutex_);
    while (!open_) {
      holding_ = true;
      changed_.notify_all();
      changed_.wait(lock);
    }
    holding_ = false;
  }
  // Closes the gate and waits until the delivering thread stands at it; false after 5 s without.
  bool close() {
    std::unique_lock lock(mutex_);
    open_ = false;
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return holding_; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  bool holding_ = false;
};

// The live view with its decoding, as the control runs it without a window.
struct LiveView {
  platform::RecordingMessageBoxes boxes;
  ViewerWindow window;
  ControlConnection control;
  LiveDecoding decoding;

  // Attaches the decoding, every frame passing `gate` first when there is one, and connects to
  // the server; false when that fails.
  bool connect(const sim::SimulatorPtr& server, DeliveryGate* gate = nullptr) {
    window.boxes = &boxes;
    attachDecoding(window, decoding);
    if (gate != nullptr) {
      for (CameraPane& pane : window.panes) {
        pane.on_frame = [gate, decode = pane.on_frame](CameraPane& p, void* buffer, int length) {
          gate->pass();
          decode(p, buffer, length);
        };
      }
    }
    return setIpAddress(window, control, serverUrl(server)) == 1;
  }
};

// The live view and its baselines in turns of kFramesPerIteration frames each, so that a slow
// spell of the shared machine falls on all three alike: the whole client (both session threads,
// coded-frame check, statistics, decoding into picture blocks, the picture swap) at its own CPU
// cost, then the plain decoding of the same frames, then the decoding into pane pictures.
void BM_LiveAgainstPlain(benchmark::State& state) {
  PlainDecoding plain(captureFrames());
  if (plain.frames.empty() || !plain.pool) {
    state.SkipWithError("no server");
    return;
  }
  auto server = startServer(0);
  if (!server) {
    state.SkipWithError("no server");
    return;
  }
  DeliveryGate gate;
  LiveView live;
  if (!live.connect(server, &gate)) {
    state.SkipWithError("no connection");
    return;
  }
  LiveDecoding& decoding = live.decoding;
  ViewerWindow& window = live.window;
  stream::RSP* session = window.session;
  std::int64_t receive_cpu = 0;
  std::int64_t deliver_cpu = 0;
  std::int64_t plain_cpu = 0;
  std::int64_t pane_cpu = 0;
  long long live_frames = 0;
  long long baseline_frames = 0;
  bool held = waitForDecoded(decoding, 8) && gate.close();
  for (auto _ : state) {
    if (!held) break;
    // The bench thread only polls the count meanwhile; it keeps off the client's CPU.
    (void)bench::pinToCpu(1);
    const long long first = decoding.decoded.load();
    const std::int64_t receive_before = bench::threadCpuNs(session->stream_thread);
    const std::int64_t deliver_before = bench::threadCpuNs(session->dispatch_thread);
    gate.open();
    held = waitForDecoded(decoding, first + kFramesPerIteration) && gate.close();
    receive_cpu += bench::threadCpuNs(session->stream_thread) - receive_before;
    deliver_cpu += bench::threadCpuNs(session->dispatch_thread) - deliver_before;
    live_frames += decoding.decoded.load() - first;

    (void)bench::pinToCpu(0);
    plain_cpu += plain.decodeHot(kFramesPerIteration);
    pane_cpu += plain.decodeIntoPanePictures(kFramesPerIteration);
    baseline_frames += kFramesPerIteration;
  }
  gate.open();
  stopConnection(window);
  (void)bench::pinToCpu(0);
  if (!held) {
    state.SkipWithError("the live view stopped delivering");
    return;
  }
  const double whole = perCpuSecond(live_frames, receive_cpu + deliver_cpu);
  const double hot = perCpuSecond(baseline_frames, plain_cpu);
  const double pane = perCpuSecond(baseline_frames, pane_cpu);
  state.counters["live_per_cpu_s"] = whole;
  state.counters["plain_per_cpu_s"] = hot;
  state.counters["live_against_plain"] = whole / hot;
  state.counters["live_against_pane_pictures"] = whole / pane;
  state.counters["pane_pictures_against_plain"] = pane / hot;
  state.counters["dropped"] = static_cast<double>(decoding.dropped.load());
  state.counters["receive_ns_per_frame"] =
      static_cast<double>(receive_cpu) / static_cast<double>(live_frames);
  state.counters["deliver_ns_per_frame"] =
      static_cast<double>(deliver_cpu) / static_cast<double>(live_frames);
}
BENCHMARK(BM_LiveAgainstPlain)
    ->Repetitions(5)
    ->MinTime(3.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The live view against a server that sends 30 frames per second per camera: between frames the
// decoder's caches go cold, which back-to-back decoding never sees. Reported only.
void BM_LiveDecodeAt30Fps(benchmark::State& state) {
  auto server = startServer(30);
  if (!server) {
    state.SkipWithError("no server");
    return;
  }
  LiveView live;
  if (!live.connect(server)) {
    state.SkipWithError("no connection");
    return;
  }
  LiveDecoding& decoding = live.decoding;
  ViewerWindow& window = live.window;
  if (!waitForDecoded(decoding, 8)) {
    state.SkipWithError("no pictures");
    return;
  }
  (void)bench::pinToCpu(1);
  stream::RSP* session = window.session;
  const long long first = decoding.decoded.load();
  const std::int64_t stream_before = bench::threadCpuNs(session->stream_thread);
  const std::int64_t dispatch_before = bench::threadCpuNs(session->dispatch_thread);
  bool flowing = true;
  for (auto _ : state) {
    flowing = flowing && waitForDecoded(decoding, decoding.decoded.load() + kFramesPerIteration);
  }
  const std::int64_t cpu = bench::threadCpuNs(session->stream_thread) - stream_before +
                           bench::threadCpuNs(session->dispatch_thread) - dispatch_before;
  const long long frames = decoding.decoded.load() - first;
  stopConnection(window);
  (void)bench::pinToCpu(0);
  if (!flowing) {
    state.SkipWithError("the live view stopped delivering");
    return;
  }
  state.counters["frames_per_cpu_s"] = perCpuSecond(frames, cpu);
}
BENCHMARK(BM_LiveDecodeAt30Fps)
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
  const std::string live = "BM_LiveAgainstPlain/min_time:3.000/repeats:5/real_time";
  bench::declareMeasuredRatio("live_decode_frames_per_cpu_s", "live_against_plain", live,
                              Goal::AtLeast, 0.95);
  bench::declareMeasuredRatio("live_decode_against_pane_pictures", "live_against_pane_pictures",
                              live, Goal::None, 0);
  bench::declareMeasuredRatio("pane_pictures_against_plain_decode", "pane_pictures_against_plain",
                              live, Goal::None, 0);
  bench::declareReport("live_decode_30fps_frames_per_cpu_s", "frames_per_cpu_s",
                       "BM_LiveDecodeAt30Fps/min_time:2.000/repeats:5/real_time");
  bench::declareLimit("kv4r_rec_peak_rss", "peak_rss_mb", "BM_RecPeakRss/iterations:1/real_time",
                      40);
}

}  // namespace
}  // namespace kv4r::viewer

KV4R_BENCH_MAIN(kv4r::viewer::declareFigures)
