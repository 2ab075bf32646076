// kv4r_rec recording against the development server: clips that vrxtool accepts, AVI files that
// ffprobe accepts with about seconds x fps frames, snapshots, no working file left; coded cameras
// with the key given, a wrong key.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/test_env.h"

namespace kv4r::viewer {
namespace {

namespace fs = std::filesystem;
using kv4r::testing::programPath;
using kv4r::testing::readFile;
using kv4r::testing::runProgram;
using kv4r::testing::TempDir;

sim::SimulatorPtr startSim(const sim::Scenario& scenario) {
  sim::SimOptions options;
  options.port = 0;
  options.scenario = scenario;
  sim::SimulatorPtr simulator;
  std::string error;
  EXPECT_EQ(sim::simStart(options, &simulator, &error), 1) << error;
  return simulator;
}

std::string url(const sim::SimulatorPtr& simulator) {
  return "127.0.0.1:" + std::to_string(sim::simPort(simulator.get()));
}

// Frames of the AVI's video stream as ffprobe counts them by reading it; -1 when it refuses it.
int aviFrames(const fs::path& path) {
  const auto probe =
      runProgram("/usr/bin/ffprobe",
                 {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                  "stream=nb_read_frames", "-of", "csv=p=0", path.string()});
  if (probe.exit_status != 0 || !probe.err.empty()) return -1;
  return std::atoi(probe.out.c_str());
}

bool noWorkingFiles(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.size() >= 4 && name.substr(name.size() - 4) == ".tmp") return false;
  }
  return true;
}

TEST(Kv4rRecRecording, TwoCamerasToClipsAndAviFilesWithSnapshots) {
  sim::Scenario scenario = sim::defaultScenario();
  for (auto& camera : scenario.cameras) camera.fps = 10;
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto result =
      runProgram(programPath("kv4r_rec"),
                 {url(simulator), "--cameras", "1,2", "--vrx", (dir / "cam%c.vrx").string(),
                  "--avi", (dir / "cam%c.avi").string(), "--jpg", (dir / "cam%c.jpg").string(),
                  "--bmp", (dir / "cam%c.bmp").string(), "--seconds", "5"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  for (int camera : {1, 2}) {
    const std::string base = "cam" + std::to_string(camera);
    const auto verify =
        runProgram(programPath("vrxtool"), {"verify", (dir / (base + ".vrx")).string()});
    EXPECT_EQ(verify.exit_status, 0) << verify.out << verify.err;
    const int frames = aviFrames(dir / (base + ".avi"));
    EXPECT_GE(frames, 35) << base;
    EXPECT_LE(frames, 60) << base;
    const std::string jpg = readFile(dir / (base + ".jpg"));
    ASSERT_GT(jpg.size(), 60u);
    EXPECT_EQ(static_cast<unsigned char>(jpg[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(jpg[1]), 0xD8);
    const std::string bmp = readFile(dir / (base + ".bmp"));
    EXPECT_EQ(bmp.size(), 54u + 352 * 240 * 3);
    EXPECT_NE(result.out.find("file: " + (dir / (base + ".vrx")).string()), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(dir / "cam3.vrx"));
  EXPECT_TRUE(noWorkingFiles(dir.path()));
}

TEST(Kv4rRecRecording, CodedCamerasWithTheKeyInBothRebuildVariants) {
  for (const char* os_type : {"LINUX", "VXWORKS"}) {
    SCOPED_TRACE(os_type);
    sim::Scenario scenario = sim::defaultScenario();
    scenario.os_type = os_type;
    scenario.key = "opensesa";
    scenario.camera_count = 3;
    scenario.cameras.resize(3);
    for (int i = 0; i < 3; ++i) {
      scenario.cameras[i].mode = i + 1;
      scenario.cameras[i].fps = 10;
    }
    auto simulator = startSim(scenario);
    TempDir dir;
    const auto result =
        runProgram(programPath("kv4r_rec"),
                   {url(simulator), "--key", "opensesa", "--vrx", (dir / "c%c").string(), "--avi",
                    (dir / "c%c.avi").string(), "--seconds", "2"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err.find("Key is not correct."), std::string::npos);
    for (int camera = 1; camera <= 3; ++camera) {
      const std::string base = "c" + std::to_string(camera);
      const auto verify =
          runProgram(programPath("vrxtool"), {"verify", (dir / (base + ".vrx")).string()});
      EXPECT_EQ(verify.exit_status, 0) << base << verify.out << verify.err;
      EXPECT_GT(aviFrames(dir / (base + ".avi")), 5) << base;
    }
    EXPECT_TRUE(noWorkingFiles(dir.path()));
  }
}

TEST(Kv4rRecRecording, WrongKeyShowsTheMessageOnceAndFails) {
  sim::Scenario scenario = sim::defaultScenario();
  scenario.key = "right";
  for (auto& camera : scenario.cameras) {
    camera.mode = 2;
    camera.fps = 10;
  }
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto result = runProgram(
      programPath("kv4r_rec"),
      {url(simulator), "--key", "wrong", "--vrx", (dir / "k%c.vrx").string(), "--seconds", "5"});
  EXPECT_EQ(result.exit_status, 1);
  const std::string message =
      "Key is not correct.\n\nPlease ask your administrator\n\nthe correct key that he has set.";
  const auto first = result.err.find(message);
  ASSERT_NE(first, std::string::npos) << result.err;
  EXPECT_EQ(result.err.find(message, first + 1), std::string::npos);
  EXPECT_TRUE(noWorkingFiles(dir.path()));
}

}  // namespace
}  // namespace kv4r::viewer
