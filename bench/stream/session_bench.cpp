// Throughput, cost and latency of the live stream session against the development server, which
// pushes 704x480 frames of one camera as fast as the client reads. The server runs on one CPU and
// the client on the other, as if the server were its own machine.
//   BM_PlainReader       baseline: one thread reads the same stream with exact-length recv calls
//                        (part header and fixed part, then the rest of the record) and nothing else
//   BM_SessionDelivery   a session (receiving and delivering threads, pools, queue, owner
//                        callbacks that give every buffer back at once); no decoding
//   BM_DecodeFrame       baseline for the cost: decoding one of those frames into a BGR picture
// Figures (medians of five repetitions, run in shuffled order): the session's frames per second
// against the plain reader's; the CPU time of the session's two threads per frame against the time
// to decode a frame; the delay between the receiving thread queueing a frame and the delivering
// thread handing it over (p50, p99). For reference, without goals: the plain reader's CPU time per
// frame against a decode and the session's against the plain reader's.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/socket.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "sim/simulator.h"
#include "stream/frame_pools.h"
#include "stream/frame_receiver.h"
#include "stream/http_request.h"
#include "stream/rsp.h"
#include "stream/socket_io.h"

namespace kv4r::stream {
namespace {

constexpr int kFramesPerIteration = 50;
constexpr std::uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network byte order

sim::SimulatorPtr startServer() {
  sim::SimOptions options;
  options.port = 0;
  options.scenario = sim::defaultScenario();
  options.scenario.camera_count = 1;
  options.scenario.cameras.resize(1);
  options.scenario.cameras[0].width = 704;
  options.scenario.cameras[0].height = 480;
  options.scenario.cameras[0].fps = 0;
  sim::SimulatorPtr simulator;
  std::string error;
  // The server's threads get one CPU, the client (this thread and what it starts) the other.
  (void)bench::pinToCpu(1);
  if (sim::simStart(options, &simulator, &error) != 1) simulator.reset();
  (void)bench::pinToCpu(0);
  return simulator;
}

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The plain reader: opens the stream and reads whole parts with exact-length receives.
struct PlainReader {
  int fd = -1;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kReceiveBlockBytes);

  bool open(int port) {
    fd = httpOpen(kLoopback, port, "", "",
                  "/cgi-bin/kxstream.cgi?ServerId=0&AppKey=0x00000001"
                  "&CameraId=1&PauseTime=0&KxCgiVer=0x0001",
                  kRequestTimeout_s);
    std::string header;
    return fd >= 0 && readHeaderBlock(fd, header, 4096) > 0;
  }
  // One part: its record length, or 0 on failure.
  std::size_t readPart() {
    if (recv(fd, buffer.data(), 62 + 60, MSG_WAITALL) != 122) return 0;
    const std::size_t length = loadBe32(buffer.data() + 62 + 48);
    if (length < 60 || length > buffer.size() - 62) return 0;
    const auto rest = static_cast<ssize_t>(length - 60);
    if (recv(fd, buffer.data() + 122, static_cast<std::size_t>(rest), MSG_WAITALL) != rest) {
      return 0;
    }
    return length;
  }
  ~PlainReader() { sockClose(fd); }
};

void BM_PlainReader(benchmark::State& state) {
  auto server = startServer();
  PlainReader reader;
  if (!server || !reader.open(sim::simPort(server.get()))) {
    state.SkipWithError("no server");
    return;
  }
  std::int64_t frames = 0;
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t cpu_before = bench::ownCpuNs();
  for (auto _ : state) {
    for (int i = 0; i < kFramesPerIteration; ++i) {
      if (reader.readPart() == 0) {
        state.SkipWithError("stream ended");
        return;
      }
      ++frames;
    }
  }
  state.counters["fps"] =
      static_cast<double>(frames) / seconds(std::chrono::steady_clock::now() - start);
  state.counters["cpu_ns_per_frame"] =
      static_cast<double>(bench::ownCpuNs() - cpu_before) / static_cast<double>(frames);
}
BENCHMARK(BM_PlainReader)->Repetitions(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// The session's owner: gives every buffer back at once and counts.
struct BenchOwner {
  SBPOOL* pool = mkpool(kReceiveBlockBytes, 4);
  std::atomic<RSP*> session{nullptr};
  std::atomic<std::int64_t> frames{0};
  std::atomic<std::int64_t> bytes{0};
  std::atomic<std::int64_t> target{0};
  std::atomic<bool> measuring{false};
  std::vector<std::int64_t> latencies_ns;  // delivering thread; read after the stop
  std::mutex mutex;
  std::condition_variable reached;

  static void* getBuffer(void* owner) {
    auto* self = static_cast<BenchOwner*>(owner);
    void* buffer = poolGet(self->pool);
    if (buffer == nullptr) return nullptr;
    const std::uint32_t words[2] = {kReceiveBlockBytes, 1};
    std::memcpy(buffer, words, sizeof words);
    return buffer;
  }
  static void deliverFrame(void* owner, int kind, int, void* buffer, int length) {
    auto* self = static_cast<BenchOwner*>(owner);
    poolPut(buffer);
    if (kind != kDeliverFrame) return;
    self->bytes.fetch_add(length);
    RSP* session = self->session.load();
    if (self->measuring.load() && session != nullptr) {
      self->latencies_ns.push_back(session->delivery_latency_ns.load());
    }
    // Only the frame that reaches the target wakes the waiter: the waiter checks the count itself
    // before it sleeps, and the frames behind the target cost the session nothing extra.
    if (self->frames.fetch_add(1) + 1 == self->target.load()) {
      std::lock_guard lock(self->mutex);
      self->reached.notify_all();
    }
  }
  void waitFor(std::int64_t count) {
    target.store(count);
    std::unique_lock lock(mutex);
    reached.wait(lock, [&] { return frames.load() >= count; });
  }
  ~BenchOwner() { (void)freepool(pool); }
};

double percentile(std::vector<std::int64_t> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return static_cast<double>(
      values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))]);
}

void BM_SessionDelivery(benchmark::State& state) {
  auto server = startServer();
  if (!server) {
    state.SkipWithError("no server");
    return;
  }
  BenchOwner owner;
  RSP* session =
      RSPCreate(0, kLoopback, sim::simPort(server.get()), "", "", 0x1234, 0, kViewerDescriptorCount,
                &owner, &BenchOwner::getBuffer, &BenchOwner::deliverFrame, nullptr);
  owner.session.store(session);
  owner.waitFor(5);  // connected and streaming
  // This thread only waits; it keeps off the client's CPU so that its wake-ups do not land on the
  // threads being measured.
  (void)bench::pinToCpu(1);
  owner.latencies_ns.reserve(std::size_t{1} << 20);
  owner.measuring.store(true);
  const std::int64_t first = owner.frames.load();
  const std::int64_t stream_before = bench::threadCpuNs(session->stream_thread);
  const std::int64_t dispatch_before = bench::threadCpuNs(session->dispatch_thread);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) owner.waitFor(owner.frames.load() + kFramesPerIteration);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const std::int64_t stream_cpu = bench::threadCpuNs(session->stream_thread) - stream_before;
  const std::int64_t dispatch_cpu = bench::threadCpuNs(session->dispatch_thread) - dispatch_before;
  const std::int64_t cpu = stream_cpu + dispatch_cpu;
  const auto frames = static_cast<double>(owner.frames.load() - first);
  owner.measuring.store(false);
  (void)termpool(owner.pool);
  RSPDestroy(session);
  (void)bench::pinToCpu(0);
  state.counters["fps"] = frames / seconds(elapsed);
  state.counters["cpu_ns_per_frame"] = static_cast<double>(cpu) / frames;
  state.counters["receive_ns_per_frame"] = static_cast<double>(stream_cpu) / frames;
  state.counters["bytes_per_frame"] =
      static_cast<double>(owner.bytes.load()) / static_cast<double>(owner.frames.load());
  state.counters["latency_p50_us"] = percentile(owner.latencies_ns, 0.50) / 1000;
  state.counters["latency_p99_us"] = percentile(owner.latencies_ns, 0.99) / 1000;
}
BENCHMARK(BM_SessionDelivery)->Repetitions(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_DecodeFrame(benchmark::State& state) {
  std::string frame;
  {
    auto server = startServer();
    PlainReader reader;
    if (!server || !reader.open(sim::simPort(server.get()))) {
      state.SkipWithError("no server");
      return;
    }
    const std::size_t length = reader.readPart();
    frame.assign(reinterpret_cast<const char*>(reader.buffer.data()) + 62, length);
  }
  tjhandle decoder = tjInitDecompress();
  std::vector<unsigned char> pixels(704 * 480 * 3);
  std::int64_t frames = 0;
  const std::int64_t cpu_before = bench::ownCpuNs();
  for (auto _ : state) {
    const int result = tjDecompress2(decoder, reinterpret_cast<const unsigned char*>(frame.data()),
                                     static_cast<unsigned long>(frame.size()), pixels.data(), 704,
                                     0, 480, TJPF_BGR, TJFLAG_BOTTOMUP);
    benchmark::DoNotOptimize(result);
    ++frames;
  }
  state.counters["cpu_ns_per_frame"] =
      static_cast<double>(bench::ownCpuNs() - cpu_before) / static_cast<double>(frames);
  tjDestroy(decoder);
}
BENCHMARK(BM_DecodeFrame)->Repetitions(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void declareFigures() {
  using bench::Goal;
  bench::declareCounterRatio("session_fps", "fps", "BM_SessionDelivery/repeats:5/real_time",
                             "BM_PlainReader/repeats:5/real_time", Goal::AtLeast, 0.5);
  bench::declareCounterRatio("session_cpu_per_frame", "cpu_ns_per_frame",
                             "BM_SessionDelivery/repeats:5/real_time",
                             "BM_DecodeFrame/repeats:5/real_time", Goal::AtMost, 0.02);
  // For reference: what the bare reading of the same stream costs against a decode, and the session
  // against it. Over loopback both include the server's sending, which the client's
  // acknowledgements set off on the client's CPU.
  bench::declareCounterRatio("plain_reader_cpu_per_frame", "cpu_ns_per_frame",
                             "BM_PlainReader/repeats:5/real_time",
                             "BM_DecodeFrame/repeats:5/real_time", Goal::None, 0);
  bench::declareCounterRatio("session_cpu_vs_plain_reader", "cpu_ns_per_frame",
                             "BM_SessionDelivery/repeats:5/real_time",
                             "BM_PlainReader/repeats:5/real_time", Goal::None, 0);
  bench::declareReport("session_latency_p50_us", "latency_p50_us",
                       "BM_SessionDelivery/repeats:5/real_time");
  bench::declareReport("session_latency_p99_us", "latency_p99_us",
                       "BM_SessionDelivery/repeats:5/real_time");
}

}  // namespace
}  // namespace kv4r::stream

KV4R_BENCH_MAIN(kv4r::stream::declareFigures)
