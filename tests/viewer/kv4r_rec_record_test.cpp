// kv4r_rec recording against the development server: clips that vrxtool accepts, AVI files that
// ffprobe accepts with about seconds x fps frames, snapshots, no working file left; coded cameras
// with the key given, a wrong key; the frame limit and Ctrl-C; a link that breaks mid-record;
// output into a closed pipe; failures that must not pass as success (a taken file name, an
// unwritable snapshot, a server that refuses, a silent camera, a camera that stalls after its first
// picture).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/test_env.h"

namespace kv4r::viewer {
namespace {

namespace fs = std::filesystem;
using kv4r::testing::programPath;
using kv4r::testing::readFile;
using kv4r::testing::runProgram;
using kv4r::testing::spawnProgram;
using kv4r::testing::TempDir;

sim::SimulatorPtr startSim(const sim::Scenario& scenario, std::vector<sim::SimUser> users = {}) {
  sim::SimOptions options;
  options.port = 0;
  options.users = std::move(users);
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

pid_t spawnRec(const std::vector<std::string>& args, const posix_spawn_file_actions_t* actions) {
  return spawnProgram(programPath("kv4r_rec"), args, actions);
}

// The default scenario with every camera at `fps` frames per second.
sim::Scenario scenarioAt(double fps) {
  sim::Scenario scenario = sim::defaultScenario();
  for (auto& camera : scenario.cameras) camera.fps = fps;
  return scenario;
}

// Whether vrxtool verify accepts the clip; its report when it does not.
::testing::AssertionResult clipVerifies(const fs::path& clip) {
  const auto verify = runProgram(programPath("vrxtool"), {"verify", clip.string()});
  if (verify.exit_status == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << clip << ": " << verify.out << verify.err;
}

// Waits until one of the named working files in `dir` holds more than 20,000 bytes: the run is
// recording. (The 20 s bound is a safety net against a hanging test.)
void waitUntilRecording(const fs::path& dir, std::initializer_list<const char*> names) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto growing = [&] {
    std::error_code error;
    for (const char* name : names) {
      if (fs::exists(dir / name, error) && fs::file_size(dir / name, error) > 20000) return true;
    }
    return false;
  };
  while (!growing() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

// Stops a run with the signal; how it ended (waitpid's status), or -1.
int stopRun(pid_t pid, int signal_number) {
  kill(pid, signal_number);
  int status = 0;
  return waitpid(pid, &status, 0) == pid ? status : -1;
}

TEST(Kv4rRecRecording, TwoCamerasToClipsAndAviFilesWithSnapshots) {
  sim::Scenario scenario = scenarioAt(10);
  auto simulator = startSim(scenario);
  TempDir dir;
  unsetenv("XDG_RUNTIME_DIR");  // as for a recorder run by a service: no notice about it
  const auto result =
      runProgram(programPath("kv4r_rec"),
                 {url(simulator), "--cameras", "1,2", "--vrx", (dir / "cam%c.vrx").string(),
                  "--avi", (dir / "cam%c.avi").string(), "--jpg", (dir / "cam%c.jpg").string(),
                  "--bmp", (dir / "cam%c.bmp").string(), "--seconds", "5"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.err.find("XDG_RUNTIME_DIR"), std::string::npos) << result.err;
  // stderr is a pipe here, as into a log: no frame count every second.
  EXPECT_EQ(result.err.find(" frames ("), std::string::npos) << result.err;
  for (int camera : {1, 2}) {
    const std::string base = "cam" + std::to_string(camera);
    EXPECT_TRUE(clipVerifies(dir / (base + ".vrx")));
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

// A JPEG snapshot waits for the camera's next picture; with a slow camera the other cameras'
// recordings must not wait with it.
TEST(Kv4rRecRecording, ASlowCamerasSnapshotDoesNotDelayTheOtherRecordings) {
  sim::Scenario scenario = sim::defaultScenario();
  scenario.camera_count = 2;
  scenario.cameras.resize(2);
  scenario.cameras[0].fps = 0.4;  // a picture every 2.5 s
  scenario.cameras[1].fps = 25;
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto result =
      runProgram(programPath("kv4r_rec"), {url(simulator), "--jpg", (dir / "s%c.jpg").string(),
                                           "--vrx", (dir / "c%c.vrx").string(), "--seconds", "4"});
  const std::size_t at = result.out.find("camera 2: ");
  ASSERT_NE(at, std::string::npos) << result.out << result.err;
  const long long delivered = std::atoll(result.out.c_str() + at + 10);
  const auto info = runProgram(programPath("vrxtool"), {"info", (dir / "c2.vrx").string()});
  const std::size_t records_at = info.out.find("records:");
  ASSERT_NE(records_at, std::string::npos) << info.out << info.err;
  const long long recorded = std::atoll(info.out.c_str() + records_at + 8);
  EXPECT_GT(delivered, 50);
  EXPECT_GE(recorded * 10, delivered * 8) << recorded << " of " << delivered << " frames recorded";
  EXPECT_TRUE(fs::exists(dir / "s1.jpg"));
  EXPECT_TRUE(fs::exists(dir / "s2.jpg"));
}

// Nor does a snapshot wait for a camera that will never send: one the user may not view.
TEST(Kv4rRecRecording, SnapshotsOfAShortRunDoNotWaitForACameraTheUserMayNotView) {
  sim::Scenario scenario = scenarioAt(10);
  scenario.camera_count = 2;
  scenario.cameras.resize(2);
  scenario.rights = std::vector<std::int64_t>{0x0001, 0, 0, 0};  // camera 1 only
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto result =
      runProgram(programPath("kv4r_rec"),
                 {url(simulator), "--jpg", (dir / "s%c.jpg").string(), "--seconds", "2"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_TRUE(fs::exists(dir / "s1.jpg"));
  EXPECT_FALSE(fs::exists(dir / "s2.jpg"));
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
      EXPECT_TRUE(clipVerifies(dir / (base + ".vrx")));
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

TEST(Kv4rRecRecording, FrameLimitEndsTheRunWithFinishedClips) {
  sim::Scenario scenario = scenarioAt(25);
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto result = runProgram(
      programPath("kv4r_rec"),
      {url(simulator), "--cameras", "2", "--frames", "30", "--vrx", (dir / "f%c.vrx").string()});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("camera 2: "), std::string::npos) << result.out;
  EXPECT_TRUE(clipVerifies(dir / "f2.vrx"));
  EXPECT_FALSE(fs::exists(dir / "f1.vrx"));
  EXPECT_TRUE(noWorkingFiles(dir.path()));
}

// The first stream breaks in the middle of a record: the half record is not recorded, the control
// reconnects, and the same files go on with the frames of the new stream.
TEST(Kv4rRecRecording, RecordingsGoOnWholeAcrossABrokenLink) {
  sim::Scenario scenario = scenarioAt(25);
  scenario.faults.only_stream = 1;
  scenario.faults.close_after_frames = 10;
  scenario.faults.close_mid_record = true;
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto result = runProgram(programPath("kv4r_rec"),
                                 {url(simulator), "--cameras", "1", "--frames", "40", "--vrx",
                                  (dir / "b%c.vrx").string(), "--avi", (dir / "b%c.avi").string()});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const std::string broke = "the link to the server broke; reconnecting";
  const std::size_t at = result.err.find(broke);
  ASSERT_NE(at, std::string::npos) << result.err;
  EXPECT_EQ(result.err.find(broke, at + 1), std::string::npos) << "told once per break";
  EXPECT_NE(result.err.find("the link to the server is back", at), std::string::npos) << result.err;

  EXPECT_TRUE(clipVerifies(dir / "b1.vrx"));
  const auto info = runProgram(programPath("vrxtool"), {"info", (dir / "b1.vrx").string()});
  const std::size_t records_at = info.out.find("records:");
  ASSERT_NE(records_at, std::string::npos) << info.out;
  const int records = std::atoi(info.out.c_str() + records_at + 8);
  EXPECT_GE(records, 30) << "frames after the break are recorded";
  EXPECT_NEAR(aviFrames(dir / "b1.avi"), records, 1);
  EXPECT_TRUE(noWorkingFiles(dir.path()));
}

// Ctrl-C, and a closed terminal (SIGHUP), stop the run and finish its files.
TEST(Kv4rRecRecording, InterruptFinishesTheRecordingsAndSucceeds) {
  sim::Scenario scenario = scenarioAt(20);
  auto simulator = startSim(scenario);
  for (const int stop_signal : {SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(stop_signal));
    TempDir dir;
    const std::string out_path = (dir / "out.txt").string();
    const std::string err_path = (dir / "err.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const pid_t pid = spawnRec({url(simulator), "--cameras", "1", "--vrx",
                                (dir / "i%c.vrx").string(), "--avi", (dir / "i%c.avi").string()},
                               &actions);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_GT(pid, 0);
    waitUntilRecording(dir.path(), {"i1.tmp", "i1.avi.tmp"});
    const int status = stopRun(pid, stop_signal);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(err_path);
    EXPECT_TRUE(clipVerifies(dir / "i1.vrx"));
    EXPECT_GT(aviFrames(dir / "i1.avi"), 0);
    EXPECT_TRUE(noWorkingFiles(dir.path()));
    EXPECT_NE(readFile(out_path).find("file: " + (dir / "i1.avi").string()), std::string::npos);
  }
}

// Two runs given the same names (a scheduled run that overlaps the last one): the second is
// refused, and the first records on into its own files.
TEST(Kv4rRecRecording, ASecondRunIntoTheSameFilesIsRefusedAndTheFirstGoesOn) {
  sim::Scenario scenario = scenarioAt(20);
  auto simulator = startSim(scenario);
  TempDir dir;
  const std::string err_path = (dir / "err.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  const std::vector<std::string> names = {"--cameras", "1", "--vrx", (dir / "s%c.vrx").string()};
  std::vector<std::string> first_args = {url(simulator)};
  first_args.insert(first_args.end(), names.begin(), names.end());
  const pid_t first = spawnRec(first_args, &actions);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_GT(first, 0);
  waitUntilRecording(dir.path(), {"s1.tmp"});

  std::vector<std::string> second_args = {url(simulator)};
  second_args.insert(second_args.end(), names.begin(), names.end());
  second_args.insert(second_args.end(), {"--seconds", "1"});
  const auto second = runProgram(programPath("kv4r_rec"), second_args);
  EXPECT_EQ(second.exit_status, 1);
  EXPECT_NE(
      second.err.find("kv4r_rec: cannot record camera 1 to " + (dir / "s1.vrx").string() +
                      " (another program is recording into " + (dir / "s1.tmp").string() + ")"),
      std::string::npos)
      << second.err;

  const int status = stopRun(first, SIGINT);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(err_path);
  EXPECT_TRUE(clipVerifies(dir / "s1.vrx"));
  EXPECT_FALSE(fs::exists(dir / "s1.tmp.1"));
  EXPECT_TRUE(noWorkingFiles(dir.path()));
}

// Messages into a pipe that nobody reads any more ("2>&1 | head -1") fail quietly; the run still
// ends as asked, with its files finished.
TEST(Kv4rRecRecording, AClosedOutputPipeDoesNotEndTheRun) {
  sim::Scenario scenario = scenarioAt(20);
  auto simulator = startSim(scenario);
  TempDir dir;
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  close(pipe_ends[0]);  // the reader is gone before the first message
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 2);
  const pid_t pid = spawnRec({url(simulator), "--cameras", "1", "--vrx", (dir / "p%c.vrx").string(),
                              "--avi", (dir / "p%c.avi").string(), "--seconds", "2.5"},
                             &actions);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(clipVerifies(dir / "p1.vrx"));
  EXPECT_GT(aviFrames(dir / "p1.avi"), 0);
  EXPECT_TRUE(noWorkingFiles(dir.path()));
}

TEST(Kv4rRecRecording, ATakenFileNameFailsAndKeepsBothFiles) {
  sim::Scenario scenario = scenarioAt(10);
  auto simulator = startSim(scenario);
  TempDir dir;
  {
    std::FILE* f = std::fopen((dir / "t1.vrx").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("older clip", f);
    std::fclose(f);
  }
  // The AVI of that name works in another file (t1.avi.tmp) and gets its name.
  const auto result =
      runProgram(programPath("kv4r_rec"),
                 {url(simulator), "--cameras", "1", "--vrx", (dir / "t%c.vrx").string(), "--avi",
                  (dir / "t%c.avi").string(), "--seconds", "1"});
  EXPECT_EQ(result.exit_status, 1);
  // Said when the recording starts, and at the end where the frames are.
  EXPECT_NE(result.err.find((dir / "t1.vrx").string() + " exists already"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("did not end as " + (dir / "t1.vrx").string() + "; its frames are in " +
                            (dir / "t1.tmp").string()),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.out.find("file: " + (dir / "t1.vrx").string()), std::string::npos);
  EXPECT_EQ(readFile(dir / "t1.vrx"), "older clip");
  ASSERT_TRUE(fs::exists(dir / "t1.tmp"));
  const std::string left = readFile(dir / "t1.tmp");
  EXPECT_GT(left.size(), 0u);
  EXPECT_EQ(result.err.find("did not end as " + (dir / "t1.avi").string()), std::string::npos)
      << result.err;
  EXPECT_NE(result.out.find("file: " + (dir / "t1.avi").string()), std::string::npos) << result.out;
  EXPECT_GT(aviFrames(dir / "t1.avi"), 0);
  fs::remove(dir / "t1.avi");  // the next run records an AVI of that name again

  // The next run of those names keeps that working file aside, and says where.
  const auto next =
      runProgram(programPath("kv4r_rec"),
                 {url(simulator), "--cameras", "1", "--vrx", (dir / "u%c.vrx").string(), "--avi",
                  (dir / "t%c.avi").string(), "--seconds", "1"});
  EXPECT_EQ(next.exit_status, 0) << next.err;
  EXPECT_NE(next.err.find("kv4r_rec: an earlier recording left " + (dir / "t1.tmp").string() +
                          " (" + std::to_string(left.size()) + " bytes); it is kept as " +
                          (dir / "t1.tmp.1").string() + "\n"),
            std::string::npos)
      << next.err;
  EXPECT_EQ(readFile(dir / "t1.tmp.1"), left);
  EXPECT_TRUE(fs::exists(dir / "t1.avi"));
}

// The camera's first picture starts the recordings and no frame follows before the run ends: the
// files hold nothing, so they are not made and do not keep their names from the next run.
TEST(Kv4rRecRecording, RecordingsThatGotNoFrameFailAndLeaveNoEmptyFiles) {
  sim::Scenario scenario = scenarioAt(10);
  scenario.camera_count = 1;
  scenario.cameras.resize(1);
  scenario.faults.stall_after_frames = 2;
  scenario.faults.stall_ms = 10000;
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto result =
      runProgram(programPath("kv4r_rec"),
                 {url(simulator), "--cameras", "1", "--vrx", (dir / "e%c.vrx").string(), "--avi",
                  (dir / "e%c.avi").string(), "--seconds", "1.5"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("camera 1: 1 frames"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("file: "), std::string::npos) << result.out;
  for (const char* name : {"e1.vrx", "e1.avi"}) {
    EXPECT_NE(result.err.find("kv4r_rec: no frame of camera 1 was recorded into " +
                              (dir / name).string() + "\n"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(dir / name)) << name;
  }
  EXPECT_TRUE(noWorkingFiles(dir.path()));
}

TEST(Kv4rRecRecording, FailuresEndWithExitStatusOne) {
  sim::Scenario scenario = sim::defaultScenario();
  scenario.camera_count = 2;
  scenario.cameras.resize(2);
  for (auto& camera : scenario.cameras) camera.fps = 10;
  auto simulator = startSim(scenario, {{"ann", "secret"}});
  const std::string good = "ann:secret@" + url(simulator);
  TempDir dir;
  {
    SCOPED_TRACE("snapshot and recording into a missing folder");
    const auto result =
        runProgram(programPath("kv4r_rec"),
                   {good, "--jpg", (dir / "no/s%c.jpg").string(), "--vrx",
                    (dir / "no/r%c.vrx").string(), "--cameras", "1", "--seconds", "3"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("cannot write " + (dir / "no/s1.jpg").string()), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("cannot record camera 1 to " + (dir / "no/r1.vrx").string() +
                              " (its folder " + (dir / "no").string() + ": " +
                              std::strerror(ENOENT) + ")"),
              std::string::npos)
        << result.err;
  }
  {
    SCOPED_TRACE("wrong password");
    const auto result = runProgram(
        programPath("kv4r_rec"),
        {"ann:wrong@" + url(simulator), "--vrx", (dir / "w%c.vrx").string(), "--seconds", "1"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("is not ready"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("wrong"), std::string::npos);
  }
  {
    SCOPED_TRACE("a named camera the server does not have");
    const auto result = runProgram(
        programPath("kv4r_rec"),
        {good, "--cameras", "1,3", "--vrx", (dir / "n%c.vrx").string(), "--seconds", "1"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("no pictures from camera 3"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(dir / "n1.vrx"));
    EXPECT_FALSE(fs::exists(dir / "n3.vrx"));
    // Not asked for, the cameras the server lacks are no failure and not listed.
    const auto all = runProgram(programPath("kv4r_rec"),
                                {good, "--vrx", (dir / "a%c.vrx").string(), "--seconds", "1"});
    EXPECT_EQ(all.exit_status, 0) << all.err;
    EXPECT_NE(all.out.find("camera 2: "), std::string::npos) << all.out;
    EXPECT_EQ(all.out.find("camera 3: "), std::string::npos) << all.out;
  }
  {
    SCOPED_TRACE("a frame limit reached before the first picture");
    const auto result =
        runProgram(programPath("kv4r_rec"),
                   {good, "--cameras", "1", "--frames", "1", "--vrx", (dir / "l%c.vrx").string()});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("the frame limit (--frames) came before the first picture of "
                              "camera 1"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("no pictures"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(dir / "l1.vrx"));
  }
  {
    SCOPED_TRACE("two outputs of one name");
    // Named before anything is streamed: nothing is written.
    const std::string clip = (dir / "both.vrx").string();
    const auto result = runProgram(programPath("kv4r_rec"),
                                   {good, "--cameras", "1,2", "--vrx", clip, "--seconds", "2"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("the clip of camera 1 and the clip of camera 2 would both be written "
                              "to " +
                              clip + " (put %c in the path)"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(clip));
    const std::string snapshot = (dir / "s%c.pic").string();
    const auto snapshots =
        runProgram(programPath("kv4r_rec"), {good, "--cameras", "2", "--jpg", snapshot, "--bmp",
                                             (dir / "." / "s%c.pic").string(), "--seconds", "2"});
    EXPECT_EQ(snapshots.exit_status, 1);
    EXPECT_NE(
        snapshots.err.find("the JPEG snapshot of camera 2 and the bitmap snapshot of camera 2 "
                           "would both be written to"),
        std::string::npos)
        << snapshots.err;
    EXPECT_FALSE(fs::exists(dir / "s2.pic"));
  }
  {
    SCOPED_TRACE("a file that fills up");
    // The recorder inherits a limit of 40,000 bytes a file, with the signal that goes with it at
    // its default, which would kill it. The clip stops early but keeps what fitted; the user hears
    // of it at once, and as nothing is left to record, the run ends long before its minute.
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit small = old_limit;
    small.rlim_cur = 40000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string clip = (dir / "full.vrx").string();
    const auto result = runProgram(programPath("kv4r_rec"),
                                   {good, "--cameras", "1", "--vrx", clip, "--seconds", "60"});
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err.find("kv4r_rec: the recording of camera 1 into " + clip +
                              " stopped: File too large; what it recorded is kept\n"
                              "kv4r_rec: no recording is left running; the run ends\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("ended early"), std::string::npos) << "said once";
    EXPECT_NE(result.out.find("file: " + clip), std::string::npos);
    EXPECT_TRUE(clipVerifies(clip));
  }
  EXPECT_TRUE(noWorkingFiles(dir.path()));
}

}  // namespace
}  // namespace kv4r::viewer
