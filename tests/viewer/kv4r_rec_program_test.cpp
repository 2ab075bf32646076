#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <filesystem>
#include <string>
#include <vector>

#include "formats/frame_record.h"
#include "sim/simulator.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_env.h"

namespace kv4r::viewer {
namespace {

using kv4r::testing::programPath;
using kv4r::testing::runProgram;
using kv4r::testing::TempDir;

sim::SimulatorPtr startSim(sim::Scenario scenario, std::vector<sim::SimUser> users = {}) {
  sim::SimOptions options;
  options.port = 0;
  options.users = std::move(users);
  options.scenario = std::move(scenario);
  sim::SimulatorPtr simulator;
  std::string error;
  EXPECT_EQ(sim::simStart(options, &simulator, &error), 1) << error;
  return simulator;
}

std::string address(const sim::Simulator* simulator, const std::string& credentials = "") {
  return "http://" + credentials + "127.0.0.1:" + std::to_string(sim::simPort(simulator)) +
         "/some/page.html";
}

TEST(Kv4rRec, InfoPrintsServerRightsAndNames) {
  sim::Scenario scenario = sim::defaultScenario();
  scenario.camera_count = 2;
  scenario.cameras.resize(2);
  scenario.cameras[1].name.reset();                              // camera 2 has no CAMNAME
  scenario.rights = std::vector<std::int64_t>{0x0001, 0, 0, 0};  // view camera 1 only
  auto simulator = startSim(scenario, {{"ann", "secret"}});
  const auto result =
      runProgram(programPath("kv4r_rec"), {address(simulator.get(), "ann:secret@"), "--info"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("model: 0x1234\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("os type: LINUX\n"), std::string::npos);
  EXPECT_NE(result.out.find("cameras: 2\n"), std::string::npos);
  EXPECT_NE(result.out.find("serial number: 00-1A-2B-3C-4D-5E\n"), std::string::npos);
  EXPECT_NE(result.out.find("rights: view 0x00000001, 0x00000000, 0x00000000, 0x00000000\n"),
            std::string::npos);
  EXPECT_NE(result.out.find("camera 1: Camera 1\n"), std::string::npos);
  EXPECT_NE(result.out.find("camera 2: Cam 2 (not allowed)\n"), std::string::npos);
  EXPECT_EQ(result.out.find("secret"), std::string::npos);
  EXPECT_EQ(result.err.find("secret"), std::string::npos);
}

TEST(Kv4rRec, AServerThatCannotBeReachedIsExplained) {
  const testing::RefusingPort refusing;
  const std::string closed_port = std::to_string(refusing.port());
  auto result = runProgram(programPath("kv4r_rec"), {"127.0.0.1:" + closed_port, "--info"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("Module 0 of 127.0.0.1 is not ready,\n\nor network is bad.\n"
                            "kv4r_rec: cannot connect to 127.0.0.1 port " +
                            closed_port + ": " + std::strerror(ECONNREFUSED) + "\n"),
            std::string::npos)
      << result.err;

  // Something listens there, but it is no video server: it closes every connection at once.
  testing::LoopbackServer closing(testing::LoopbackReply::closing({}));
  TempDir dir;
  result =
      runProgram(programPath("kv4r_rec"), {"127.0.0.1:" + std::to_string(closing.port()), "--vrx",
                                           (dir / "c%c.vrx").string(), "--seconds", "1"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("kv4r_rec: 127.0.0.1 port " + std::to_string(closing.port()) +
                            " takes connections but gave no server information; is it a video "
                            "server, and is that its port?\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("cannot connect"), std::string::npos);
}

TEST(Kv4rRec, InfoWithWrongCredentialsPrintsTheMessagesAndFails) {
  auto simulator = startSim(sim::defaultScenario(), {{"ann", "secret"}});
  const auto result =
      runProgram(programPath("kv4r_rec"), {address(simulator.get(), "ann:wrong@"), "--info"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("CGI failed"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Unauthorized"), std::string::npos);
  EXPECT_NE(result.err.find("Module 0 of 127.0.0.1 is not ready,\n\nor network is bad."),
            std::string::npos);
  EXPECT_NE(result.err.find("did not accept the user name and password"), std::string::npos);
  EXPECT_EQ(result.err.find("wrong"), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
  // Without credentials (recording as well as --info) the hint says where they go.
  for (const char* mode : {"--info", "--jpg"}) {
    std::vector<std::string> args = {address(simulator.get()), mode};
    if (std::string(mode) == "--jpg")
      args.insert(args.end(), {"/nonexistent/x.jpg", "--seconds", "5"});
    const auto anonymous = runProgram(programPath("kv4r_rec"), args);
    EXPECT_EQ(anonymous.exit_status, 1) << mode;
    EXPECT_NE(anonymous.err.find("give it in the URL as user:password@host"), std::string::npos)
        << mode << anonymous.err;
  }
}

TEST(Kv4rRec, RawDirGetsEveryRecordOfTheWantedCamerasAsDelivered) {
  sim::Scenario scenario = sim::defaultScenario();
  scenario.cameras.resize(4);
  for (auto& camera : scenario.cameras) camera.fps = 40;
  scenario.cameras[2].mode = 1;  // camera 3 sends its frames without tables
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto result =
      runProgram(programPath("kv4r_rec"), {address(simulator.get()), "--cameras", "2,3", "--frames",
                                           "12", "--raw-dir", (dir / "raw").string()});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("link: established\n"), std::string::npos) << result.out;
  // The stop's own closing of the stream is no news about the server.
  EXPECT_EQ(result.out.find("link: broken"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("total: 12 frames\n"), std::string::npos);
  EXPECT_NE(result.out.find("camera 1: 0 frames\n"), std::string::npos);
  EXPECT_NE(result.out.find("camera 4: 0 frames\n"), std::string::npos);

  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "raw")) {
    ++files;
    const std::string name = entry.path().filename().string();
    const std::string bytes = kv4r::testing::readFile(entry.path());
    std::span<const std::uint8_t> record(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                         bytes.size());
    formats::FrameHeader header;
    ASSERT_EQ(formats::parseFrameHeader(record, &header), 1) << name;
    EXPECT_EQ(header.record_length, bytes.size()) << name;
    if (name.find("_cam2.") != std::string::npos) {
      EXPECT_EQ(header.camera_number, 2);
      std::string why;
      EXPECT_EQ(formats::checkFrameRecord(record, &why), 1) << name << ": " << why;
    } else {
      ASSERT_NE(name.find("_cam3."), std::string::npos) << name;
      EXPECT_EQ(header.camera_number, 3);
      EXPECT_EQ(header.app_length, 56) << name;  // rewritten around the table gap
      EXPECT_EQ(header.coding_flags & 3, 1) << name;
    }
  }
  EXPECT_EQ(files, 12);

  // A second run into that folder would overwrite those records by number: refused.
  const auto again = runProgram(programPath("kv4r_rec"), {address(simulator.get()), "--frames", "3",
                                                          "--raw-dir", (dir / "raw").string()});
  EXPECT_EQ(again.exit_status, 1);
  EXPECT_NE(again.err.find("already holds 12 frame records of an earlier run"), std::string::npos)
      << again.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "raw"),
                          std::filesystem::directory_iterator()),
            12);
}

// A stream that never delivers leaves the folder empty: that is no success.
TEST(Kv4rRec, RawDirThatGotNoRecordFails) {
  sim::Scenario scenario = sim::defaultScenario();
  scenario.faults.page_without_boundary = true;
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto result =
      runProgram(programPath("kv4r_rec"), {address(simulator.get()), "--cameras", "1", "--seconds",
                                           "1", "--raw-dir", (dir / "raw").string()});
  EXPECT_EQ(result.exit_status, 1) << result.out << result.err;
  EXPECT_NE(result.out.find("total: 0 frames\n"), std::string::npos) << result.out;
  EXPECT_NE(result.err.find("no frames came"), std::string::npos) << result.err;
}

TEST(Kv4rRec, CamerasTheServerLacksAreNamedAndAloneEndTheRunAtOnce) {
  sim::Scenario scenario = sim::defaultScenario();
  scenario.camera_count = 2;
  scenario.cameras.resize(2);
  auto simulator = startSim(scenario);
  TempDir dir;
  const auto rec = programPath("kv4r_rec");
  const std::string lacks3 = "camera 3 is not on the server, which shows 2 cameras";
  const auto some = runProgram(rec, {address(simulator.get()), "--cameras", "2,3", "--frames", "3",
                                     "--raw-dir", (dir / "raw").string()});
  EXPECT_EQ(some.exit_status, 0) << some.err;
  EXPECT_NE(some.err.find(lacks3), std::string::npos) << some.err;
  EXPECT_NE(some.out.find("total: 3 frames"), std::string::npos) << some.out;
  for (const std::vector<std::string>& only_missing :
       {std::vector<std::string>{"--raw-dir", (dir / "raw2").string()},
        {"--jpg", (dir / "cam%c.jpg").string()}}) {
    std::vector<std::string> args = {address(simulator.get()), "--cameras", "3,4", "--seconds",
                                     "30"};
    args.insert(args.end(), only_missing.begin(), only_missing.end());
    const auto start = std::chrono::steady_clock::now();
    const auto none = runProgram(rec, args);
    EXPECT_EQ(none.exit_status, 1) << only_missing[0];
    EXPECT_NE(none.err.find(lacks3), std::string::npos) << none.err;
    EXPECT_NE(none.err.find("camera 4 is not on the server"), std::string::npos) << none.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "cam3.jpg"));
}

TEST(Kv4rRec, SecondsLimitEndsTheRun) {
  auto simulator = startSim(sim::defaultScenario());
  TempDir dir;
  const auto result =
      runProgram(programPath("kv4r_rec"),
                 {address(simulator.get()), "--seconds", "0.5", "--raw-dir", dir.path().string()});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("total: "), std::string::npos);
}

TEST(Kv4rRec, InterruptStopsTheStreamAndReportsTheCounts) {
  auto simulator = startSim(sim::defaultScenario());
  TempDir dir;
  const std::string out_path = (dir / "out.txt").string();
  const std::string rec = programPath("kv4r_rec").string();
  const std::string url = address(simulator.get());
  const std::string raw = (dir / "raw").string();
  std::vector<char*> argv = {const_cast<char*>(rec.c_str()), const_cast<char*>(url.c_str()),
                             const_cast<char*>("--raw-dir"), const_cast<char*>(raw.c_str()),
                             nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, rec.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Frames arrive in the folder; then Ctrl-C.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::size_t files = 0;
  while (files < 3 && std::chrono::steady_clock::now() < until) {
    std::error_code error;
    files = 0;
    for (auto it = std::filesystem::directory_iterator(raw, error);
         !error && it != std::filesystem::directory_iterator(); ++it) {
      ++files;
    }
    std::this_thread::yield();
  }
  ASSERT_GE(files, 3u);
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string out = kv4r::testing::readFile(out_path);
  EXPECT_NE(out.find("total: "), std::string::npos) << out;
  EXPECT_NE(out.find("camera 4: "), std::string::npos) << out;
}

TEST(Kv4rRec, BadArgumentsAreRefused) {
  const auto rec = programPath("kv4r_rec");
  EXPECT_NE(runProgram(rec, {}).exit_status, 0);
  EXPECT_EQ(runProgram(rec, {"127.0.0.1"}).exit_status, 2);
  // Out-of-range numbers are named plainly (not as a range up to the largest double).
  const auto zero_frames = runProgram(rec, {"127.0.0.1", "--raw-dir", "x", "--frames", "0"});
  EXPECT_NE(zero_frames.exit_status, 0);
  EXPECT_NE(zero_frames.err.find("--frames: must be above 0, not 0"), std::string::npos)
      << zero_frames.err;
  const auto negative_id = runProgram(rec, {"127.0.0.1", "--info", "--server-id", "-2"});
  EXPECT_NE(negative_id.exit_status, 0);
  EXPECT_NE(negative_id.err.find("--server-id: must be 0 or more, not -2"), std::string::npos)
      << negative_id.err;
  EXPECT_NE(runProgram(rec, {"127.0.0.1", "--raw-dir", "x", "--cameras", "5"}).exit_status, 0);
  EXPECT_NE(runProgram(rec, {"127.0.0.1", "--info", "--raw-dir", "x"}).exit_status, 0);
  // Files asked for beside --info or --raw-dir would not be made: refused, not ignored.
  const auto info_and_clip = runProgram(rec, {"127.0.0.1", "--info", "--vrx", "c%c.vrx"});
  EXPECT_GT(info_and_clip.exit_status, 1);
  EXPECT_NE(info_and_clip.err.find("--info excludes --vrx"), std::string::npos)
      << info_and_clip.err;
  const auto raw_and_snapshot = runProgram(rec, {"127.0.0.1", "--raw-dir", "x", "--jpg", "s.jpg"});
  EXPECT_GT(raw_and_snapshot.exit_status, 1);
  EXPECT_NE(raw_and_snapshot.err.find("--raw-dir excludes --jpg"), std::string::npos)
      << raw_and_snapshot.err;
  EXPECT_NE(runProgram(rec, {"127.0.0.1", "--raw-dir", "x", "--frames", "3", "--seconds", "1"})
                .exit_status,
            0);
  // Addresses the control would take for a disconnect or a wrapped port are refused up front,
  // without repeating a password.
  const std::pair<const char*, const char*> bad_urls[] = {
      {"", "names no server"},
      {"http://user:secret@/cams", "names no server"},
      {"127.0.0.1:99999", "not \"99999\""},
      {"127.0.0.1:0x50", "not \"0x50\""},
      {"user:secret@127.0.0.1:", "not \"\""},
      // The address ends at the first '/', so the port would be read from inside the password.
      {"http://user:sec/secret@127.0.0.1:80", "with a '/' cannot be given"},
  };
  for (const auto& [url, why] : bad_urls) {
    const auto refused = runProgram(rec, {url, "--info"});
    // A usage error, not the failed connect (status 1) of an address that was tried.
    EXPECT_GT(refused.exit_status, 1) << url;
    EXPECT_NE(refused.err.find(why), std::string::npos) << url << ": " << refused.err;
    EXPECT_EQ(refused.err.find("secret"), std::string::npos) << refused.err;
  }
  // A file where the record folder should be is named before any connect.
  TempDir dir;
  kv4r::testing::writeFile(dir / "taken", "");
  const auto taken = runProgram(rec, {"127.0.0.1", "--raw-dir", (dir / "taken").string()});
  EXPECT_EQ(taken.exit_status, 1);
  EXPECT_NE(taken.err.find("taken: a file of that name is in the way"), std::string::npos)
      << taken.err;
  const auto help = runProgram(rec, {"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("--raw-dir"), std::string::npos);
}

TEST(Kv4rRec, BadUrlIsReported) {
  const auto result =
      runProgram(programPath("kv4r_rec"), {"http://1234567890123456:80/", "--info"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("Bad URL format"), std::string::npos);
}

}  // namespace
}  // namespace kv4r::viewer
