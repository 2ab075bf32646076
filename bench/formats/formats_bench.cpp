// Clip format benchmarks on one generated clip (default 1 GiB of 704 x 480 records; a smaller clip
// for quick runs with --clip_mib=N). The clip lives in the benchmark's own temporary folder, is
// read once before the cases so that every case finds it in the page cache, and is removed at the
// end. Cases:
//   BM_ReadSequential  baseline: the clip read sequentially in 1 MiB pieces and written to
//   /dev/null. BM_BuildIndex      BuildClipIndex of the clip (one positioned read per record).
//   BM_CopyClip        baseline: `cp CLIP OUT`.
//   BM_FfmpegRemux     baseline: `ffmpeg -f mjpeg -i FRAMES.mjpeg -c copy OUT.avi` on the same
//                      JPEG records (FRAMES.mjpeg is a second name of the clip).
//   BM_VrxtoolExport   `vrxtool export CLIP OUT.avi` of the whole clip.
// Figures: index_vs_read  = BM_BuildIndex / BM_ReadSequential (time, goal <= 0.3);
//          export_vs_cp   = BM_VrxtoolExport / BM_CopyClip (time, goal <= 1.5);
//          export_vs_ffmpeg = BM_VrxtoolExport / BM_FfmpegRemux (time, goal <= 0.5).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "formats/clip_index.h"
#include "formats/clip_writer.h"
#include "formats/record_builder.h"

extern char** environ;

namespace {

using namespace kv4r;
namespace fs = std::filesystem;

constexpr int kWidth = 704;
constexpr int kHeight = 480;
constexpr int kPictures = 16;
constexpr std::int64_t kFirstStamp = 1083827289;  // 2004-05-06 07:08:09

std::int64_t g_clip_bytes = std::int64_t{1} << 30;

std::vector<std::uint8_t> encodePicture(int seed) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t* px = &pixels[(static_cast<std::size_t>(y) * kWidth + x) * 3];
      px[0] = static_cast<std::uint8_t>((x * 3 + seed * 17) & 0xFF);
      px[1] = static_cast<std::uint8_t>((y * 2 + x / 7 + seed * 5) & 0xFF);
      px[2] = static_cast<std::uint8_t>((((x + seed * 8) / 24 + y / 24) % 2) ? 220 : 25);
    }
  }
  return bench::encodeBgrJpeg(pixels, kWidth, kHeight, 80);
}

// The generated clip and the folder it lives in; made on first use, removed at exit.
class BenchClip {
 public:
  static BenchClip& get() {
    static BenchClip clip;
    return clip;
  }
  const fs::path& clip() const { return clip_; }
  const fs::path& frames() const { return frames_; }
  fs::path out(const char* name) const { return dir_ / name; }
  bool ok() const { return ok_; }
  std::int64_t bytes() const { return bytes_; }

  ~BenchClip() {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

 private:
  BenchClip() {
    std::string pattern = (fs::temp_directory_path() / "kv4r-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    dir_ = pattern;
    clip_ = dir_ / "bench.vrx";
    frames_ = dir_ / "frames.mjpeg";
    std::vector<std::vector<std::uint8_t>> jpegs;
    for (int i = 0; i < kPictures; ++i) jpegs.push_back(encodePicture(i));
    formats::ClipWriter* writer = formats::ClipWriterCreate(clip_.string());
    if (!writer) return;
    std::vector<std::uint8_t> record;
    for (int i = 0; bytes_ < g_clip_bytes; ++i) {
      formats::RecordSpec spec;
      spec.camera_number = 1;
      spec.server_name = "Bench";
      spec.camera_name = "Camera 1";
      formats::setRecordStamp(&spec, kFirstStamp + i / 10, (i % 10) * 10);
      if (formats::buildFrameRecord(spec, jpegs[i % kPictures], &record) <= 0 ||
          formats::ClipWriterAppend(writer, record) <= 0) {
        (void)formats::ClipWriterClose(writer);
        return;
      }
      bytes_ += static_cast<std::int64_t>(record.size());
    }
    if (formats::ClipWriterClose(writer) != 1) return;
    std::error_code error;
    fs::create_hard_link(clip_, frames_, error);
    if (error) return;
    warm();
    ok_ = true;
  }

  // Reads the clip once so that every case finds it in the page cache.
  void warm() const {
    const int fd = ::open(clip_.c_str(), O_RDONLY);
    std::vector<char> buffer(1 << 20);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
  }

  fs::path dir_, clip_, frames_;
  std::int64_t bytes_ = 0;
  bool ok_ = false;
};

fs::path binDir() {
  if (const char* dir = std::getenv("KV4R_BIN_DIR")) return dir;
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin";
}

// Runs a program (argv[0] searched in PATH when it has no slash) with output discarded; true when
// it exited with status 0.
bool run(const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> storage = args;
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int status = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  return status == 0;
}

bool prepare(benchmark::State& state) {
  if (!BenchClip::get().ok()) {
    state.SkipWithError("the benchmark clip could not be generated");
    return false;
  }
  return true;
}

void setBytes(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() * BenchClip::get().bytes());
}

void BM_ReadSequential(benchmark::State& state) {
  if (!prepare(state)) return;
  std::vector<char> buffer(1 << 20);
  const int sink = ::open("/dev/null", O_WRONLY);
  for (auto _ : state) {
    const int fd = ::open(BenchClip::get().clip().c_str(), O_RDONLY);
    ssize_t n;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
      if (::write(sink, buffer.data(), static_cast<std::size_t>(n)) != n) break;
    }
    ::close(fd);
  }
  ::close(sink);
  setBytes(state);
}

void BM_BuildIndex(benchmark::State& state) {
  if (!prepare(state)) return;
  int count = 0;
  for (auto _ : state) {
    count = formats::BuildClipIndex(BenchClip::get().clip().string(), nullptr, {});
    if (count <= 0) state.SkipWithError("BuildClipIndex failed");
  }
  state.counters["records"] = count;
  setBytes(state);
}

// One timed run of a program writing `out`, which is removed untimed afterwards.
void runProgramCase(benchmark::State& state, const std::vector<std::string>& args,
                    const fs::path& out) {
  if (!prepare(state)) return;
  for (auto _ : state) {
    if (!run(args)) state.SkipWithError((args[0] + " failed").c_str());
    state.PauseTiming();
    std::error_code ignored;
    fs::remove(out, ignored);
    state.ResumeTiming();
  }
  setBytes(state);
}

void BM_CopyClip(benchmark::State& state) {
  const fs::path out = BenchClip::get().out("copy.vrx");
  runProgramCase(state, {"cp", BenchClip::get().clip().string(), out.string()}, out);
}

void BM_FfmpegRemux(benchmark::State& state) {
  const fs::path out = BenchClip::get().out("ffmpeg.avi");
  runProgramCase(state,
                 {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "mjpeg", "-i",
                  BenchClip::get().frames().string(), "-c", "copy", out.string()},
                 out);
}

void BM_VrxtoolExport(benchmark::State& state) {
  const fs::path out = BenchClip::get().out("export.avi");
  runProgramCase(
      state,
      {(binDir() / "vrxtool").string(), "export", BenchClip::get().clip().string(), out.string()},
      out);
}

BENCHMARK(BM_ReadSequential)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CopyClip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FfmpegRemux)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_VrxtoolExport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void declareFigures() {
  using bench::Goal;
  bench::declareTimeRatio("index_vs_read", "BM_BuildIndex/iterations:5/real_time",
                          "BM_ReadSequential/iterations:5/real_time", Goal::AtMost, 0.3);
  bench::declareTimeRatio("export_vs_cp", "BM_VrxtoolExport/iterations:3/real_time",
                          "BM_CopyClip/iterations:3/real_time", Goal::AtMost, 1.5);
  bench::declareTimeRatio("export_vs_ffmpeg", "BM_VrxtoolExport/iterations:3/real_time",
                          "BM_FfmpegRemux/iterations:3/real_time", Goal::AtMost, 0.5);
}

// Takes --clip_mib=N (a smaller clip for quick runs) out of the arguments before Google Benchmark
// sees them.
void takeClipSize(int* argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    const char* prefix = "--clip_mib=";
    if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) {
      const long mib = std::strtol(argv[i] + std::strlen(prefix), nullptr, 10);
      if (mib > 0) g_clip_bytes = static_cast<std::int64_t>(mib) << 20;
      continue;
    }
    argv[kept++] = argv[i];
  }
  *argc = kept;
}

}  // namespace

// As KV4R_BENCH_MAIN, with the clip size taken from the arguments first.
int main(int argc, char** argv) {
  takeClipSize(&argc, argv);
  declareFigures();
  return kv4r::bench::runBenchmarks(argc, argv);
}
