// The vidlet host program against the development server: stop signals close it as its window's
// close button does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/property_bag.h"
#include "sim/simulator.h"
#include "tests/support/test_env.h"

namespace kv4r::viewer {
namespace {

using kv4r::testing::programPath;
using kv4r::testing::readFile;
using kv4r::testing::TempDir;

// Waits until the file holds `text`; false after 20 s.
bool waitForText(const std::filesystem::path& file, const std::string& text) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (readFile(file).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Ctrl-C, SIGTERM or a closed terminal while the live view streams: the program stops its session
// and saves its property set, as when its window is closed, instead of dying on the spot.
TEST(VidletProgram, AStopSignalClosesTheWindowAndSavesThePropertySet) {
  sim::SimOptions options;
  options.port = 0;
  options.scenario = sim::defaultScenario();
  for (auto& camera : options.scenario.cameras) camera.fps = 10;
  sim::SimulatorPtr simulator;
  std::string error;
  ASSERT_EQ(sim::simStart(options, &simulator, &error), 1) << error;
  const std::string port = std::to_string(sim::simPort(simulator.get()));

  for (const int stop_signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(stop_signal));
    TempDir dir;
    const auto out = dir / "out.txt";
    const auto bag = dir / "saved.bag";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = kv4r::testing::spawnProgram(
        programPath("vidlet"),
        {"--param", "strIpAddr=127.0.0.1", "--param", "iHttpPort=" + port, "--param",
         "strTxt1=Gate", "--save-bag", bag.string(), "--settings", (dir / "none.ini").string(),
         "--verbose"},
        &actions);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_GT(pid, 0);
    // Frames are coming: the session's receiving thread has taken a buffer.
    const bool streaming = waitForText(out, "get buf");
    kill(pid, stop_signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(streaming) << readFile(out);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(dir / "err.txt");
    EXPECT_NE(readFile(out).find("termpool"), std::string::npos) << "the session was stopped";
    const auto text =
        platform::PropertyBag::fromText(readFile(bag)).read("strTxt1", platform::VarType::String);
    ASSERT_TRUE(text.has_value()) << "the property set was saved";
    EXPECT_EQ(text->stringValue(), "Gate");
  }
}

}  // namespace
}  // namespace kv4r::viewer
