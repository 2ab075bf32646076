// Player engine benchmarks. Cases:
//   BM_TurboJpegDecode   baseline: the clip's records decoded from memory by TurboJPEG into
//                        bottom-up BGR rows (frames per second).
//   BM_PlaybackX10       the worker playing the same 704 x 480 clip at x10 (no pacing), each record
//                        read from the clip file and decoded by DecodeJpegToDib in the frame
//                        callback (frames per second).
//   BM_PacingX1          300 records at irregular capture intervals played at x1.0 with the real
//                        clock: mean absolute error (ms) of the intervals between frame callbacks
//                        against the capture intervals.
// Figures: playback_x10_fps = BM_PlaybackX10 / BM_TurboJpegDecode (fps, goal >= 0.9);
//          pacing_x1_error  = mean absolute error against a limit of 2 ms.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "formats/frame_record.h"
#include "formats/record_builder.h"
#include "player/clip_player.h"
#include "player/jpeg_decoder.h"

namespace {

using namespace kv4r;

constexpr int kWidth = 704;
constexpr int kHeight = 480;
constexpr int kPlaybackRecords = 120;
constexpr int kPacingRecords = 300;
constexpr std::int64_t kFirstStamp = 1083827289;  // 2004-05-06 07:08:09 UTC

// A synthetic camera picture: gradients and a moving checkerboard, blue-green-red rows.
std::vector<std::uint8_t> pictureBgr(int seed) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t* px = &pixels[(static_cast<std::size_t>(y) * kWidth + x) * 3];
      px[0] = static_cast<std::uint8_t>((x + seed * 5) & 0xFF);
      px[1] = static_cast<std::uint8_t>((y * 2 + seed * 3) & 0xFF);
      px[2] = static_cast<std::uint8_t>((((x + seed * 4) / 32 + y / 32) % 2) ? 210 : 30);
    }
  }
  return pixels;
}

std::vector<std::uint8_t> encodeJpeg(const std::vector<std::uint8_t>& bgr) {
  return bench::encodeBgrJpeg(bgr, kWidth, kHeight, 80);
}

// A clip of `count` records with the given capture offsets (hundredths since the first stamp).
struct BenchClip {
  std::filesystem::path path;
  std::vector<std::vector<std::uint8_t>> records;
};

BenchClip makeClip(const std::string& name, const std::vector<std::int64_t>& offsets_cs) {
  BenchClip clip;
  clip.path = std::filesystem::temp_directory_path() / ("kv4r_player_bench_" + name + ".vrx");
  std::vector<std::vector<std::uint8_t>> pictures;
  for (int seed = 0; seed < 8; ++seed) pictures.push_back(encodeJpeg(pictureBgr(seed)));
  std::ofstream out(clip.path, std::ios::binary | std::ios::trunc);
  for (std::size_t i = 0; i < offsets_cs.size(); ++i) {
    formats::RecordSpec spec;
    spec.server_name = "Bench";
    spec.camera_name = "Cam";
    const std::int64_t cs = kFirstStamp * 100 + offsets_cs[i];
    formats::setRecordStamp(&spec, cs / 100, static_cast<int>(cs % 100));
    std::vector<std::uint8_t> record;
    if (formats::buildFrameRecord(spec, pictures[i % pictures.size()], &record) <= 0) {
      std::fprintf(stderr, "bench record cannot be built\n");
      std::abort();
    }
    out.write(reinterpret_cast<const char*>(record.data()),
              static_cast<std::streamsize>(record.size()));
    clip.records.push_back(std::move(record));
  }
  return clip;
}

const BenchClip& playbackClip() {
  static const BenchClip clip = [] {
    std::vector<std::int64_t> offsets;
    for (int i = 0; i < kPlaybackRecords; ++i) offsets.push_back(i * 4);
    return makeClip("x10", offsets);
  }();
  return clip;
}

// Counts the worker's idle reports so the benchmark can wait for the end of play.
struct IdleWaiter {
  std::mutex mutex;
  std::condition_variable changed;
  int idle = 0;

  player::StatusCallback callback() {
    return [this](int code, std::int64_t) {
      if (code == player::kStatusIdle) {
        std::lock_guard lock(mutex);
        ++idle;
        changed.notify_all();
      }
      return 1;
    };
  }
  void waitFor(int count) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return idle >= count; });
  }
};

void BM_TurboJpegDecode(benchmark::State& state) {
  const BenchClip& clip = playbackClip();
  std::vector<std::uint8_t> pixels(player::kPictureBufferBytes);
  tjhandle handle = tjInitDecompress();
  std::int64_t frames = 0;
  for (auto _ : state) {
    for (const auto& record : clip.records) {
      if (tjDecompress2(handle, record.data(), record.size(), pixels.data(), kWidth, 0, kHeight,
                        TJPF_BGR, TJFLAG_BOTTOMUP) != 0) {
        state.SkipWithError("TurboJPEG cannot decode a record");
        break;
      }
      ++frames;
    }
    benchmark::DoNotOptimize(pixels.data());
  }
  tjDestroy(handle);
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TurboJpegDecode)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

void BM_DecodeJpegToDib(benchmark::State& state) {
  const BenchClip& clip = playbackClip();
  std::vector<std::uint8_t> pixels(player::kPictureBufferBytes);
  std::int64_t frames = 0;
  for (auto _ : state) {
    for (const auto& record : clip.records) {
      int width = 0;
      int height = 0;
      if (player::DecodeJpegToDib(record.data(), static_cast<int>(record.size()), pixels.data(),
                                  player::kPictureBufferBytes, &width, &height) != 0) {
        state.SkipWithError("a record did not decode");
        break;
      }
      ++frames;
    }
    benchmark::DoNotOptimize(pixels.data());
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeJpegToDib)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

void BM_PlaybackX10(benchmark::State& state) {
  const BenchClip& clip = playbackClip();
  std::vector<std::uint8_t> pixels(player::kPictureBufferBytes);
  std::int64_t frames = 0;
  bool decode_failed = false;
  auto frame = [&](const std::uint8_t* record, int length, int) {
    int width = 0;
    int height = 0;
    if (player::DecodeJpegToDib(record, length, pixels.data(), player::kPictureBufferBytes, &width,
                                &height) != 0) {
      decode_failed = true;
    }
    ++frames;
  };
  IdleWaiter waiter;
  player::ClipPlayerPtr clip_player(
      player::ClipPlayerOpen(clip.path.string(), frame, waiter.callback()));
  if (!clip_player) {
    state.SkipWithError("clip cannot be opened");
    return;
  }
  waiter.waitFor(1);
  (void)player::ClipPlayerSetSpeed(clip_player.get(), 10.0);
  int idle = 1;
  std::int64_t played = 0;
  for (auto _ : state) {
    const std::int64_t before = frames;
    (void)player::ClipPlayerCommand(clip_player.get(), player::kModeForward, -1);
    waiter.waitFor(++idle);
    played += frames - before;
    state.PauseTiming();
    (void)player::ClipPlayerCommand(clip_player.get(), player::kModePause, 0);
    waiter.waitFor(++idle);
    state.ResumeTiming();
  }
  if (decode_failed) state.SkipWithError("a record did not decode");
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(played), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlaybackX10)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

void BM_PacingX1(benchmark::State& state) {
  // Irregular capture intervals of 20 to 60 ms (the stamps count hundredths).
  std::vector<std::int64_t> offsets_cs;
  std::int64_t cs = 0;
  for (int i = 0; i < kPacingRecords; ++i) {
    offsets_cs.push_back(cs);
    cs += 2 + (i * 7) % 5;
  }
  static const BenchClip clip = makeClip("x1", offsets_cs);

  std::vector<std::uint8_t> pixels(player::kPictureBufferBytes);
  std::vector<std::chrono::steady_clock::time_point> shown;
  shown.reserve(kPacingRecords + 2);
  auto frame = [&](const std::uint8_t* record, int length, int) {
    shown.push_back(std::chrono::steady_clock::now());
    int width = 0;
    int height = 0;
    (void)player::DecodeJpegToDib(record, length, pixels.data(), player::kPictureBufferBytes,
                                  &width, &height);
  };
  double error_sum_ms = 0;
  std::int64_t intervals = 0;
  for (auto _ : state) {
    IdleWaiter waiter;
    shown.clear();
    player::ClipPlayerPtr clip_player(
        player::ClipPlayerOpen(clip.path.string(), frame, waiter.callback()));
    if (!clip_player) {
      state.SkipWithError("clip cannot be opened");
      return;
    }
    waiter.waitFor(1);
    (void)player::ClipPlayerCommand(clip_player.get(), player::kModeForward, -1);
    waiter.waitFor(2);
    clip_player.reset();
    // shown[0] is the paused first picture; from shown[1] on, picture k shows record k - 1.
    for (int k = 2; k + 0 < static_cast<int>(shown.size()) && k <= kPacingRecords; ++k) {
      const double actual_ms =
          std::chrono::duration<double, std::milli>(shown[k] - shown[k - 1]).count();
      const double capture_ms = static_cast<double>(offsets_cs[k - 1] - offsets_cs[k - 2]) * 10.0;
      error_sum_ms += std::fabs(actual_ms - capture_ms);
      ++intervals;
    }
  }
  state.counters["mean_abs_error_ms"] = intervals ? error_sum_ms / intervals : 0.0;
}
BENCHMARK(BM_PacingX1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void declareFigures() {
  bench::declareCounterRatio("playback_x10_fps", "fps", "BM_PlaybackX10/min_time:1.000/real_time",
                             "BM_TurboJpegDecode/min_time:1.000/real_time", bench::Goal::AtLeast,
                             0.9);
  bench::declareLimit("pacing_x1_error", "mean_abs_error_ms", "BM_PacingX1/iterations:1/real_time",
                      2.0);
}

}  // namespace

KV4R_BENCH_MAIN(declareFigures)
